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
//
// Vector lanes hold W consecutive blocks: the inputs of those blocks are first laid out as rows
// (row n holds x[(j + f) * inputStep + n] in lane f), so every tap of every phase reads the W
// inputs it needs with one load, which serves neighbouring phases too, and each lane sums
// exactly its own output's products.
struct ResampleKernel {
    int32_t inputStep;    // the input rate over the common divisor
    int32_t outputStep;   // the output rate over the common divisor: the number of phases
    int64_t* firstTap;    // per phase: offset of its first input sample from j * inputStep
    int32_t* tapCount;    // per phase
    int64_t* tapStart;    // per phase: index of its first coefficient in coefficients
    double* coefficients;
    int64_t rowFirst;     // the offsets from j * inputStep that a block's phases read:
    int64_t rowCount;     // rowFirst .. rowFirst + rowCount - 1
};

constexpr int32_t RESAMPLE_ZERO_CROSSINGS = 6;
constexpr double RESAMPLE_ROLLOFF = 0.99;
// Rates whose kernel would need more coefficients than this (about 2 GB) are refused.
constexpr int64_t RESAMPLE_MAX_COEFFICIENTS = int64_t(1) << 28;

// Builds the kernel from one positive rate to another. Returns 0, or 1 (rates not positive,
// kernel too large, memory exhausted) with the kernel empty.
int makeResampleKernel(int32_t fromRate, int32_t toRate, ResampleKernel* kernel);
void releaseResampleKernel(ResampleKernel* kernel);

// ceil(count * outputStep / inputStep): the output keeps the input's duration, rounded up.
int64_t resampledLength(const ResampleKernel& kernel, int64_t count);

// Resamples count input samples into out (resampledLength of them) with lanes outputs side by
// side (1, 2 or 4; 8 runs as 4; usableLanes picks what this processor runs). Identical for every
// width. Returns 0, or 1 when its scratch memory cannot be had.
int resampleWithLanes(const ResampleKernel& kernel, const float* in, int64_t count, float* out,
                      int32_t lanes);

// A resampling fed block by block, e.g. as a file is decoded, so that the input never needs to
// be held whole: only the inputs of the blocks not yet done stay in its buffer.
struct ResampleStream {
    ResampleKernel kernel;
    int32_t lanes;
    float* pending;        // input samples from pendingFirst on
    int64_t pendingFirst;
    int64_t pendingCount;
    int64_t pendingCapacity;
    int64_t received;      // input samples fed so far
    int64_t nextBlock;     // the first block not yet computed
    double* rows;          // scratch: the rows of the blocks in hand
    float* out;            // the outputs so far (realloc'd), outCount of them valid
    int64_t outCount;
    int64_t outCapacity;
};
// Returns 0, or 1 (rates, memory). expectedInputs (may be 0) sizes the output array ahead.
int beginResampleStream(ResampleStream* stream, int32_t fromRate, int32_t toRate,
                        int64_t expectedInputs);
// Room for count more input samples, written there by the caller (e.g. straight from a
// decoder); null when memory ran out.
float* resampleStreamRoom(ResampleStream* stream, int64_t count);
// Takes the count samples written into the room; the blocks whose inputs are all known are
// computed. Returns 0, or 1 (memory).
int takeResampleInputs(ResampleStream* stream, int64_t count);
// The rest (zeros beyond the end): *out (free it) receives resampledLength(received) samples.
int finishResampleStream(ResampleStream* stream, float** out, int64_t* outCount);
void releaseResampleStream(ResampleStream* stream);

// The whole step: a new array (released with free) of *outCount samples at toRate, at the
// processor's widest vector level; the same rate gives a copy. Returns 0, or 1 with a reason
// in error.
int resampleSignal(const float* in, int64_t count, int32_t fromRate, int32_t toRate, float** out,
                   int64_t* outCount, char* error, size_t errorSize);
