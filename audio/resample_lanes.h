#pragma once
// The resampler's inner loop, written once over a lane type (dsp/lanes.h): W outputs of one phase
// from W consecutive blocks side by side, one per lane. Read it first with L = Lanes<1>: output
// after output, the sum of the phase's products in ascending tap order. A wider L performs those
// very operations in each lane, so every width gives the same floats.
#include <cstdint>

#include "audio/resampler.h"
#include "dsp/lanes.h"

// G groups of W consecutive blocks from block j, each group's sums a chain of its own: the
// groups' additions overlap in the processor instead of each waiting for the one before.
template <class L, int G>
void resampleGroups(const ResampleKernel& kernel, const float* in, int64_t count, float* out,
                    int32_t phase, int64_t j, float* scratch)
{
    constexpr int W = L::width;
    const int64_t first = kernel.firstTap[phase];
    const int32_t taps = kernel.tapCount[phase];
    const double* h = kernel.coefficients + kernel.tapStart[phase];
    const float* windows[G][W];
    for (int g = 0; g < G; ++g)
        for (int f = 0; f < W; ++f) {
            const int64_t start = (j + g * W + f) * kernel.inputStep + first;
            if (start >= 0 && start + taps <= count) {
                windows[g][f] = in + start;
                continue;
            }
            float* window = scratch + static_cast<int64_t>(g * W + f) * kernel.maxTaps;
            for (int32_t t = 0; t < taps; ++t)
                window[t] = start + t >= 0 && start + t < count ? in[start + t] : 0.0f;
            windows[g][f] = window;
        }
    typename L::V sums[G];
    for (int g = 0; g < G; ++g)
        sums[g] = L::all(0.0);
    int32_t t = 0;
    for (; t + W <= taps; t += W) {
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g) {
            typename L::V column[W];
            L::transpose(windows[g], t, column);
#pragma GCC unroll 8
            for (int k = 0; k < W; ++k)
                sums[g] = sums[g] + L::all(h[t + k]) * column[k];
        }
    }
    for (; t < taps; ++t) {
#pragma GCC unroll 8
        for (int g = 0; g < G; ++g) {
            typename L::V column;
            if constexpr (W == 1) {
                column = windows[g][0][t];
            } else {
                for (int f = 0; f < W; ++f)
                    column[f] = windows[g][f][t];
            }
            sums[g] = sums[g] + L::all(h[t]) * column;
        }
    }
    for (int g = 0; g < G; ++g)
        for (int f = 0; f < W; ++f)
            out[(j + g * W + f) * kernel.outputStep + phase] = static_cast<float>(L::lane(sums[g], f));
}

// Groups of four chains whose windows the scratch holds (RESAMPLE_CHAINS * MAX_LANES of them).
constexpr int RESAMPLE_CHAINS = 4;

// Blocks jBegin.. of one phase, whole groups of W only; returns the first block not done (the
// rest goes through the one-lane instance). scratch holds RESAMPLE_CHAINS * W * maxTaps floats
// for the windows that reach past either end of the input, where the signal is zero.
template <class L>
int64_t resamplePhase(const ResampleKernel& kernel, const float* in, int64_t count, float* out,
                      int32_t phase, int64_t jBegin, int64_t jEnd, float* scratch)
{
    constexpr int W = L::width;
    int64_t j = jBegin;
    for (; j + RESAMPLE_CHAINS * W <= jEnd; j += RESAMPLE_CHAINS * W)
        resampleGroups<L, RESAMPLE_CHAINS>(kernel, in, count, out, phase, j, scratch);
    for (; j + W <= jEnd; j += W)
        resampleGroups<L, 1>(kernel, in, count, out, phase, j, scratch);
    return j;
}

// One instance per vector unit, each in its own file (audio/resample_lanes{1,2,4,8}.cpp).
int64_t resamplePhaseOf1(const ResampleKernel& kernel, const float* in, int64_t count, float* out,
                         int32_t phase, int64_t jBegin, int64_t jEnd, float* scratch);
int64_t resamplePhaseOf2(const ResampleKernel& kernel, const float* in, int64_t count, float* out,
                         int32_t phase, int64_t jBegin, int64_t jEnd, float* scratch);
int64_t resamplePhaseOf4(const ResampleKernel& kernel, const float* in, int64_t count, float* out,
                         int32_t phase, int64_t jBegin, int64_t jEnd, float* scratch);
int64_t resamplePhaseOf8(const ResampleKernel& kernel, const float* in, int64_t count, float* out,
                         int32_t phase, int64_t jBegin, int64_t jEnd, float* scratch);
