#pragma once
#include <cstdint>

// One triangular filter over FFT bins firstBin..lastBin (inclusive); weights[k - firstBin] is
// the weight of bin k. The peak bin lives only in the shape of the weights.
struct MelFilter {
    int32_t firstBin;
    int32_t lastBin;
    float* weights;
};

// Filters in ascending frequency, addressed 1..filterCount through filterAt.
struct MelFilterbank {
    int32_t filterCount;
    MelFilter* filters;
};

// 2595 * log10(1 + hz / 700), in double.
double hzToMel(float hz);

// Frequency of mel edge n of filterCount (edges equally spaced from 0 to melTop mel), as a float.
float melEdgeFrequency(int32_t n, int32_t filterCount, float melTop);

// The FFT bin of a frequency, or -1 when it falls at or above half the FFT length in bins.
int32_t frequencyToBin(float hz, int32_t sampleRate, int32_t fftLength);

// ceil(3 ln(sampleRate)); the rate must be positive.
int32_t automaticFilterCount(int32_t sampleRate);

// Builds filterCount (>= 1) filters spaced evenly on the mel scale from 0 Hz to half the rate.
// Every edge is a valid bin: an edge at or above half the rate takes the top bin fftLength/2 - 1.
// Returns 0, or 1 when memory runs out (after a message on standard error; nothing is left
// allocated and *bank is empty).
int buildMelFilterbank(MelFilterbank* bank, int32_t filterCount, int32_t fftLength,
                       int32_t sampleRate);

// end - first + 1 weights of a triangle rising from first to peak and falling to 0 at end;
// null when memory runs out. Release with free().
float* triangleWeights(int32_t first, int32_t peak, int32_t end);

const MelFilter* filterAt(const MelFilterbank* bank, int32_t j);

// Releases every filter's weights and the filter array; safe on an empty or partly built bank.
void releaseMelFilterbank(MelFilterbank* bank);
