#pragma once
#include <cstdint>
#include "modules/console.h"
#include "wave/result_codes.h"

// What loading a wave file reports. samplesRead is the signal length for all analysis.
struct SignalInfo {
    int32_t totalSamples;   // samples announced by the file (frames for a mixed stereo file)
    int32_t channels;
    int32_t sampleRate;
    int32_t bitsPerSample;
    int32_t samplesRead;
};

// Loads the whole file as floats (16-bit: -32768..32767, 8-bit: 0..255, a two-channel file as
// its mono mix), printing the file report on standard output. On failure the message is printed
// on standard error, *signal is null and the code is returned. The caller frees the signal.
RFXRET loadWaveFile(const char* name, float** signal, SignalInfo* info);

RFXRET queryWaveSize(const char* name, int32_t* total);
// The frames the data header announces (the frames present when it announces none, as
// streaming writers leave it); unlike queryWaveSize, never limited to what the file holds.
RFXRET queryAnnouncedSamples(const char* name, int64_t* count);
RFXRET readWaveSamples(const char* name, int16_t* slots, int32_t capacity, int32_t* channels,
                       int32_t* sampleRate, int32_t* bitsPerSample, int32_t* count);
int samplesToFloats(const int16_t* slots, float* floats, int32_t n);

// Allocation helpers; both return null when memory runs out. Release with free().
float* allocFloats(int64_t n);
int16_t* allocSampleBuffer(int64_t n);
