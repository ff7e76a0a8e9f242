#pragma once
#include <cstddef>
#include <cstdint>

// The samples of a wave stream or of raw 16-bit PCM, read from a file descriptor as they arrive
// (a pipe is never waited on for more than one read's worth).
struct SampleInput {
    int fd;
    int32_t sampleRate;
    int32_t channels;       // 1 or 2
    int32_t bitsPerSample;  // 8 (unsigned, 0..255) or 16 (signed little-endian)
    uint64_t bytesLeft;     // of the data chunk; UINT64_MAX: up to the end of the input
    unsigned char pending[4];  // the start of a frame split between two reads
    int32_t pendingCount;
};

// Raw 16-bit little-endian PCM of `channels` interleaved channels at sampleRate.
void openRawInput(SampleInput* input, int fd, int32_t sampleRate, int32_t channels);

// Reads the wave header up to the first sample. A data size of 0 or 0xFFFFFFFF, as recorders
// write when they cannot know it, means "up to the end of the input". Returns 0, or 1 with the
// reason in error.
int openWaveInput(SampleInput* input, int fd, char* error, size_t size);

// Reads what is there (waiting only when nothing is) and converts whole frames to the program's
// 16-bit slots, `channels` per frame, at most capacity frames. Returns the frame count, 0 at the
// end of the data, -1 on a read error (errno set).
int64_t readFrames(SampleInput* input, int16_t* slots, int64_t capacity);
