#pragma once
#include <cstddef>
#include <cstdint>

// A windowed-sinc resampler: the band-limited interpolation of the signal (Hann window over six
// zero crossings of the sinc, cut-off at 0.99 of the lower Nyquist frequency, the signal taken as
// zero beyond its ends), evaluated in double with one fixed order of operations, so the same
// samples come out at every vector level and on every machine.
//
// With the rates reduced by their greatest common divisor to inputStep : outputStep, output
// m = j * outputStep + i (phase i, block j) is
//     float( sum over t = 0 .. tapCount[i]-1 of taps[i][t] * x[j * inputStep + firstTap[i] + t] )
// summed from 0.0 in ascending t, each product and sum rounded by itself.
struct ResampleKernel {
    int32_t inputStep;    // the input rate over the common divisor
    int32_t outputStep;   // the output rate over the common divisor: the number of phases
    int32_t maxTaps;
    int64_t* firstTap;    // per phase: offset of its first input sample from j * inputStep
    int32_t* tapCount;    // per phase
    int64_t* tapStart;    // per phase: index of its first coefficient in coefficients
    double* coefficients;
};

constexpr int32_t RESAMPLE_ZERO_CROSSINGS = 6;
constexpr double RESAMPLE_ROLLOFF = 0.99;
// A kernel holds one filter per output phase: rates whose reduced output step would need more
// coefficients than this (about 2 GB) are refused.
constexpr int64_t RESAMPLE_MAX_COEFFICIENTS = int64_t(1) << 28;

// Builds the kernel from one positive rate to another. Returns 0, or 1 (rates not positive,
// kernel too large, memory exhausted) with the kernel empty.
int makeResampleKernel(int32_t fromRate, int32_t toRate, ResampleKernel* kernel);
void releaseResampleKernel(ResampleKernel* kernel);

// ceil(count * outputStep / inputStep): the output keeps the input's duration, rounded up.
int64_t resampledLength(const ResampleKernel& kernel, int64_t count);

// Resamples count input samples into out (resampledLength of them) with lanes outputs side by
// side (1, 2, 4 or 8; usableLanes picks what this processor runs). Identical for every width.
// Returns 0, or 1 when its scratch memory cannot be had.
int resampleWithLanes(const ResampleKernel& kernel, const float* in, int64_t count, float* out,
                       int32_t lanes);

// The whole step: a new array (released with free) of *outCount samples at toRate, at the
// processor's widest vector level; the same rate gives a copy. Returns 0, or 1 with a reason
// in error.
int resampleSignal(const float* in, int64_t count, int32_t fromRate, int32_t toRate, float** out,
                   int64_t* outCount, char* error, size_t errorSize);
