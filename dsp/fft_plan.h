#pragma once
#include <cstdint>

// The forward transform of fft_float with everything that does not depend on the data worked out
// once: the bit-reversed order and, for every stage, the twiddles its blocks use. fft_float
// restarts the twiddle recurrence from the same seeds in every block of a stage, so one table per
// stage, filled by that very recurrence, holds the identical doubles; the butterflies then run in
// the same order of operations over several points at a time.
struct FftPlan {
    uint32_t pointCount;      // a power of two, at least 2
    uint32_t* bitReversed;    // pointCount indices
    double* cosines;          // stage with half-block h at [h - 1, 2h - 1): pointCount - 1 values
    double* sines;
    int vectorLevel;          // 0 plain code, 1 AVX2, 2 AVX-512 (from the processor; tests lower it)
};

// The widest butterfly code the processor runs: 2 with AVX-512, 1 with AVX2, else 0.
int fftVectorLevel();

// Lowers what fftVectorLevel reports from now on (2 lifts the cap): lets tests run the plain
// and AVX2 paths of the whole analysis on a processor with AVX-512.
void capFftVectorLevel(int level);

// Builds the plan of the forward transform of pointCount points. Returns 0, or 1 when memory runs
// out (nothing is left allocated). pointCount must be a valid fft_float length.
int makeFftPlan(FftPlan* plan, uint32_t pointCount);
void releaseFftPlan(FftPlan* plan);

// fft_float(plan->pointCount, 0, realIn, nullptr, realOut, imagOut), bit for bit, for the outputs
// realOut[k], imagOut[k] with k < keptBins; with keptBins <= pointCount / 2 the upper half of the
// last stage, which nothing reads, is not written.
void fftForwardReal(const FftPlan* plan, const float* realIn, float* realOut, float* imagOut,
                    uint32_t keptBins);
