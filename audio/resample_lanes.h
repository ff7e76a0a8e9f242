#pragma once
// The resampler's inner loop, written once over a lane type (dsp/lanes.h): W outputs of one phase
// from W consecutive blocks side by side, one per lane. Read it first with L = Lanes<1>: output
// after output, the sum of the phase's products in ascending tap order. A wider L performs those
// very operations in each lane, so every width gives the same floats.
#include <cstdint>

#include "audio/resampler.h"
#include "dsp/lanes.h"

// Blocks jBegin.. of one phase, whole groups of W only; returns the first block not done (the
// rest goes through the one-lane instance). scratch holds W * maxTaps floats for the windows
// that reach past either end of the input, where the signal is zero.
template <class L>
int64_t resamplePhase(const ResampleKernel& kernel, const float* in, int64_t count, float* out,
                      int32_t phase, int64_t jBegin, int64_t jEnd, float* scratch)
{
    constexpr int W = L::width;
    const int64_t first = kernel.firstTap[phase];
    const int32_t taps = kernel.tapCount[phase];
    const double* h = kernel.coefficients + kernel.tapStart[phase];
    int64_t j = jBegin;
    for (; j + W <= jEnd; j += W) {
        const float* windows[W];
        for (int f = 0; f < W; ++f) {
            const int64_t start = (j + f) * kernel.inputStep + first;
            if (start >= 0 && start + taps <= count) {
                windows[f] = in + start;
                continue;
            }
            float* window = scratch + static_cast<int64_t>(f) * kernel.maxTaps;
            for (int32_t t = 0; t < taps; ++t)
                window[t] = start + t >= 0 && start + t < count ? in[start + t] : 0.0f;
            windows[f] = window;
        }
        typename L::V sum = L::all(0.0);
        int32_t t = 0;
        for (; t + W <= taps; t += W) {
            typename L::V column[W];
            L::transpose(windows, t, column);
            for (int k = 0; k < W; ++k)
                sum = sum + L::all(h[t + k]) * column[k];
        }
        for (; t < taps; ++t) {
            typename L::V column;
            if constexpr (W == 1) {
                column = windows[0][t];
            } else {
                for (int f = 0; f < W; ++f)
                    column[f] = windows[f][t];
            }
            sum = sum + L::all(h[t]) * column;
        }
        for (int f = 0; f < W; ++f)
            out[(j + f) * kernel.outputStep + phase] = static_cast<float>(L::lane(sum, f));
    }
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
