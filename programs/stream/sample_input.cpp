#include "programs/stream/sample_input.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "wave/riff_chunk_file.h"
#include "wave/wav_audio_file.h"

namespace {

// Reads exactly n bytes; false at the end of the input or on an error.
bool readExactly(int fd, unsigned char* out, size_t n) {
    while (n > 0) {
        const ssize_t got = read(fd, out, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool skipBytes(int fd, uint64_t n) {
    unsigned char scrap[4096];
    while (n > 0) {
        const size_t step = n < sizeof scrap ? static_cast<size_t>(n) : sizeof scrap;
        if (!readExactly(fd, scrap, step)) return false;
        n -= step;
    }
    return true;
}

uint32_t little32(const unsigned char* b) {
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

int fail(char* error, size_t size, const char* text) {
    snprintf(error, size, "%s", text);
    return 1;
}

// The format chunk's body (size bytes, padded to even): the program's checks, then whether its
// samples are integer PCM of 8 or 16 bits, the only ones the program reads.
int readFormat(SampleInput* input, uint32_t size, char* error, size_t errorSize) {
    unsigned char image[RIFF_CHUNK_HEADER_BYTES + EXTENSIBLE_FORMAT_BODY_BYTES] = {'f', 'm', 't', ' '};
    const uint32_t kept = size < EXTENSIBLE_FORMAT_BODY_BYTES ? size : EXTENSIBLE_FORMAT_BODY_BYTES;
    memcpy(image + 4, &size, 4);
    if (!readExactly(input->fd, image + RIFF_CHUNK_HEADER_BYTES, kept) ||
        !skipBytes(input->fd, size - kept + (size & 1u)))
        return fail(error, errorSize, "ERROR: The wave stream ends in its format chunk.");
    const WavFormatRecord format = decodeFormatRecord(image);
    if (!isValidFormat(format) || format.bitsPerSample < 8)
        return fail(error, errorSize, "ERROR: The wave stream's format chunk is damaged.");
    const unsigned char* guid = image + RIFF_CHUNK_HEADER_BYTES + 24;
    const bool integerPcm = format.formatTag == WAVE_FORMAT_PCM ||
                            (format.formatTag == WAVE_FORMAT_EXTENSIBLE &&
                             size >= EXTENSIBLE_FORMAT_BODY_BYTES && guid[0] == 1 && guid[1] == 0);
    if (!integerPcm || (format.bitsPerSample != 8 && format.bitsPerSample != 16))
        return fail(error, errorSize,
                    "ERROR: Only 8- and 16-bit integer PCM wave streams are read.");
    input->sampleRate = static_cast<int32_t>(format.sampleRate);
    input->channels = format.channels;
    input->bitsPerSample = format.bitsPerSample;
    return 0;
}

}  // namespace

void openRawInput(SampleInput* input, int fd, int32_t sampleRate, int32_t channels) {
    *input = SampleInput{fd, sampleRate, channels, 16, UINT64_MAX, {}, 0};
}

// The chunks as the program walks them: the first data chunk after a usable format chunk.
int openWaveInput(SampleInput* input, int fd, char* error, size_t size) {
    *input = SampleInput{fd, 0, 0, 0, 0, {}, 0};
    unsigned char header[12];
    if (!readExactly(fd, header, 12) || memcmp(header, "RIFF", 4) || memcmp(header + 8, "WAVE", 4))
        return fail(error, size, "ERROR: The input is not a RIFF wave stream.");
    bool haveFormat = false;
    for (;;) {
        unsigned char chunk[RIFF_CHUNK_HEADER_BYTES];
        if (!readExactly(fd, chunk, sizeof chunk))
            return fail(error, size, "ERROR: The wave stream ends before its data chunk.");
        const uint32_t chunkSize = little32(chunk + 4);
        if (haveFormat && !memcmp(chunk, "data", 4)) {
            const bool unknown = chunkSize == 0 || chunkSize == 0xFFFFFFFFu;
            input->bytesLeft = unknown ? UINT64_MAX : chunkSize;
            return 0;
        }
        if (!haveFormat && !memcmp(chunk, "fmt ", 4) && chunkSize >= 16) {
            if (readFormat(input, chunkSize, error, size)) return 1;
            haveFormat = true;
        } else if (!skipBytes(fd, static_cast<uint64_t>(chunkSize) + (chunkSize & 1u))) {
            return fail(error, size, "ERROR: The wave stream ends before its data chunk.");
        }
    }
}

int64_t readFrames(SampleInput* input, int16_t* slots, int64_t capacity) {
    const int32_t sampleBytes = input->bitsPerSample / 8;
    const int32_t frameBytes = sampleBytes * input->channels;
    // The raw bytes land at the end of the slots' memory and are widened from the front.
    unsigned char* bytes = reinterpret_cast<unsigned char*>(slots) +
                           capacity * input->channels * (2 - sampleBytes);
    memcpy(bytes, input->pending, static_cast<size_t>(input->pendingCount));
    uint64_t have = static_cast<uint64_t>(input->pendingCount);
    while (have < static_cast<uint64_t>(frameBytes)) {
        uint64_t want = static_cast<uint64_t>(capacity * frameBytes) - have;
        if (want > input->bytesLeft) want = input->bytesLeft;
        if (want == 0) return 0;
        const ssize_t got = read(input->fd, bytes + have, static_cast<size_t>(want));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) return 0;  // a frame cut short at the end is not a sample
        have += static_cast<uint64_t>(got);
        input->bytesLeft -= static_cast<uint64_t>(got);
    }
    const int64_t frames = static_cast<int64_t>(have / frameBytes);
    input->pendingCount = static_cast<int32_t>(have - frames * frameBytes);
    memcpy(input->pending, bytes + frames * frameBytes, static_cast<size_t>(input->pendingCount));
    const int64_t count = frames * input->channels;
    for (int64_t i = 0; i < count; ++i)
        slots[i] = sampleBytes == 1 ? static_cast<int16_t>(bytes[i])
                                    : static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return frames;
}
