// The bytes of one utterance's features in each output format; every value is the float the
// analysis (or the front end after it) computed, stored as it is.
#include <cstring>

#include "programs/batch/batch.h"

namespace {

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
void appendText(const OrvalixFeatures& features, std::string* out) {
    char number[64];
    for (int32_t row = 0; row < features.frameCount; row++) {
        const float* values = rowOf(features, row);
        for (int32_t j = 0; j < features.columnCount; j++) {
            out->append(number, orvalix_format_coefficient(values[j], number));
            out->push_back(' ');
        }
        out->push_back('\n');
    }
}

// A Kaldi archive entry: key, space, binary marker, float matrix token, sizes, row-major floats.
void appendKaldiEntry(const std::string& key, const OrvalixFeatures& features, std::string* out) {
    out->append(key);
    out->append(" \0BFM ", 6);
    out->push_back('\4');
    appendLittle32(static_cast<uint32_t>(features.frameCount), out);
    out->push_back('\4');
    appendLittle32(static_cast<uint32_t>(features.columnCount), out);
    for (int32_t row = 0; row < features.frameCount; row++) {
        const float* values = rowOf(features, row);
        for (int32_t j = 0; j < features.columnCount; j++) appendLittle32(bitsOf(values[j]), out);
    }
}

// A Kaldi archive entry of a float vector (compute-vad's output): key, space, binary marker,
// "FV ", the size, then 1 or 0 per frame.
void appendKaldiVector(const std::string& key, const std::vector<uint8_t>& labels, std::string* out) {
    out->append(key);
    out->append(" \0BFV ", 6);
    out->push_back('\4');
    appendLittle32(static_cast<uint32_t>(labels.size()), out);
    for (uint8_t label : labels) appendLittle32(bitsOf(label ? 1.0f : 0.0f), out);
}

// One label per line, frame after frame: "1" voiced, "0" not.
void appendLabelText(const std::vector<uint8_t>& labels, std::string* out) {
    for (uint8_t label : labels) out->append(label ? "1\n" : "0\n");
}

// An HTK parameter file: frame count, period in 100 ns, bytes per frame, parameter kind, then
// the rows big-endian (front_end.cpp puts c0 last when the kind has _0).
void appendHtk(const OrvalixFeatures& features, uint16_t kind, int32_t shiftMs, std::string* out) {
    appendBig32(static_cast<uint32_t>(features.frameCount), out);
    appendBig32(static_cast<uint32_t>(shiftMs) * 10000u, out);
    appendBig16(static_cast<uint16_t>(features.columnCount * 4), out);
    appendBig16(kind, out);
    for (int32_t row = 0; row < features.frameCount; row++) {
        const float* values = rowOf(features, row);
        for (int32_t j = 0; j < features.columnCount; j++) appendBig32(bitsOf(values[j]), out);
    }
}

// NumPy's format 1.0: magic, version, header length, a dictionary padded with spaces and ended by
// a line feed so the data starts at a multiple of 64 bytes; then little-endian float32, C order.
void appendNpy(const OrvalixFeatures& features, std::string* out) {
    std::string header = "{'descr': '<f4', 'fortran_order': False, 'shape': (" +
                         std::to_string(features.frameCount) + ", " + std::to_string(features.columnCount) + "), }";
    const size_t preamble = 10;
    header.append(63 - (preamble + header.size()) % 64, ' ');
    header.push_back('\n');
    out->append("\x93NUMPY\x01\x00", 8);
    out->push_back(static_cast<char>(header.size() & 0xff));
    out->push_back(static_cast<char>(header.size() >> 8));
    out->append(header);
    for (int32_t row = 0; row < features.frameCount; row++) {
        const float* values = rowOf(features, row);
        for (int32_t j = 0; j < features.columnCount; j++) appendLittle32(bitsOf(values[j]), out);
    }
}
