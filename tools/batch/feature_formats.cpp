// The bytes of one utterance's features in each output format; every value is the float the
// analysis computed, stored as it is.
#include <cstring>

#include "tools/batch/batch.h"

namespace {

// Column order of a row: c0..cM with c0, c1..cM without it; HTK puts c0 last instead.
struct Columns {
    int32_t first;
    int32_t count;
};

Columns columnsOf(const OrvalixFeatures& features, bool includeC0) {
    return includeC0 ? Columns{0, features.columnCount} : Columns{1, features.columnCount - 1};
}

const float* rowOf(const OrvalixFeatures& features, int32_t row) {
    return features.values + static_cast<size_t>(row) * static_cast<size_t>(features.columnCount);
}

void appendLittle32(uint32_t value, std::string* out) {
    for (int i = 0; i < 4; i++) out->push_back(static_cast<char>(value >> (8 * i)));
}

void appendBig32(uint32_t value, std::string* out) {
    for (int i = 3; i >= 0; i--) out->push_back(static_cast<char>(value >> (8 * i)));
}

void appendBig16(uint16_t value, std::string* out) {
    out->push_back(static_cast<char>(value >> 8));
    out->push_back(static_cast<char>(value));
}

uint32_t bitsOf(float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

}  // namespace

const char* formatExtension(OutputFormat format) {
    switch (format) {
        case OutputFormat::Text: return ".txt";
        case OutputFormat::Htk: return ".htk";
        case OutputFormat::Npy: return ".npy";
        case OutputFormat::Kaldi: return ".ark";
    }
    return "";
}

// The program's output file: "%f " per coefficient, one line per frame.
void appendText(const OrvalixFeatures& features, bool includeC0, std::string* out) {
    const Columns columns = columnsOf(features, includeC0);
    char number[64];
    for (int32_t row = 0; row < features.frameCount; row++) {
        const float* values = rowOf(features, row);
        for (int32_t j = 0; j < columns.count; j++) {
            out->append(number, orvalixFormatCoefficient(values[columns.first + j], number));
            out->push_back(' ');
        }
        out->push_back('\n');
    }
}

// A Kaldi archive entry: key, space, binary marker, float matrix token, sizes, row-major floats.
void appendKaldiEntry(const std::string& key, const OrvalixFeatures& features, bool includeC0,
                      std::string* out) {
    const Columns columns = columnsOf(features, includeC0);
    out->append(key);
    out->append(" \0BFM ", 6);
    out->push_back('\4');
    appendLittle32(static_cast<uint32_t>(features.frameCount), out);
    out->push_back('\4');
    appendLittle32(static_cast<uint32_t>(columns.count), out);
    for (int32_t row = 0; row < features.frameCount; row++) {
        const float* values = rowOf(features, row);
        for (int32_t j = 0; j < columns.count; j++) appendLittle32(bitsOf(values[columns.first + j]), out);
    }
}

// An HTK parameter file: frame count, period in 100 ns, bytes per frame, kind MFCC (6), with the
// _0 qualifier (0x2000) and c0 as the last column when c0 is included.
void appendHtk(const OrvalixFeatures& features, bool includeC0, int32_t shiftMs, std::string* out) {
    const int32_t count = includeC0 ? features.columnCount : features.columnCount - 1;
    appendBig32(static_cast<uint32_t>(features.frameCount), out);
    appendBig32(static_cast<uint32_t>(shiftMs) * 10000u, out);
    appendBig16(static_cast<uint16_t>(count * 4), out);
    appendBig16(includeC0 ? 6 | 0x2000 : 6, out);
    for (int32_t row = 0; row < features.frameCount; row++) {
        const float* values = rowOf(features, row);
        for (int32_t j = 1; j < features.columnCount; j++) appendBig32(bitsOf(values[j]), out);
        if (includeC0) appendBig32(bitsOf(values[0]), out);
    }
}

// NumPy's format 1.0: magic, version, header length, a dictionary padded with spaces and ended by
// a line feed so the data starts at a multiple of 64 bytes; then little-endian float32, C order.
void appendNpy(const OrvalixFeatures& features, bool includeC0, std::string* out) {
    const Columns columns = columnsOf(features, includeC0);
    std::string header = "{'descr': '<f4', 'fortran_order': False, 'shape': (" +
                         std::to_string(features.frameCount) + ", " + std::to_string(columns.count) + "), }";
    const size_t preamble = 10;
    header.append(63 - (preamble + header.size()) % 64, ' ');
    header.push_back('\n');
    out->append("\x93NUMPY\x01\x00", 8);
    out->push_back(static_cast<char>(header.size() & 0xff));
    out->push_back(static_cast<char>(header.size() >> 8));
    out->append(header);
    for (int32_t row = 0; row < features.frameCount; row++) {
        const float* values = rowOf(features, row);
        for (int32_t j = 0; j < columns.count; j++) appendLittle32(bitsOf(values[columns.first + j]), out);
    }
}
