#pragma once
// The resampler's inner loop, written once over a lane type (dsp/lanes.h): the outputs of
// consecutive blocks side by side, one block per lane. Read it first with L = Lanes<1>: output
// after output, the sum of its phase's products in ascending tap order. A wider L performs those
// very operations in each lane, so every width gives the same floats.
#include <cstdint>
#include <cstring>

#include "audio/resampler.h"
#include "dsp/lanes.h"

// Blocks go through in units of RESAMPLE_ROW_VECTORS * W: each coefficient, loaded once, serves
// that many vectors of inputs.
constexpr int RESAMPLE_ROW_VECTORS = 4;

// Phases side by side, each its own chains of sums, so that their additions overlap in the
// processor instead of each waiting for the one before.
constexpr int resampleChains(int width)
{
    return width >= 2 ? 2 : 3;
}

// Lays out the inputs of the unit's blocks j .. j + U - 1 (U = RESAMPLE_ROW_VECTORS * W) as rows:
// rows[(n * RESAMPLE_ROW_VECTORS + v) * W + f] holds x[(j + v * W + f) * inputStep + rowFirst + n]
// as a double, from src (input sample srcFirst on), zero outside 0 .. signalEnd - 1 and for the
// blocks from jEnd on. Inside the signal, W rows at a time by the lanes' transpose.
template <class L>
void layOutRows(const ResampleKernel& kernel, const float* src, int64_t srcFirst, int64_t signalEnd,
                int64_t j, int64_t jEnd, double* rows)
{
    constexpr int W = L::width;
    constexpr int R = RESAMPLE_ROW_VECTORS;
    for (int v = 0; v < R; ++v) {
        const int64_t first = (j + v * W) * kernel.inputStep + kernel.rowFirst;
        const int64_t last = (j + v * W + W - 1) * kernel.inputStep + kernel.rowFirst + kernel.rowCount;
        int64_t n = 0;
        if (first >= 0 && last <= signalEnd && j + v * W + W <= jEnd) {
            const float* blocks[W];
            for (int f = 0; f < W; ++f)
                blocks[f] = src + (first + f * kernel.inputStep - srcFirst);
            for (; n + W <= kernel.rowCount; n += W) {
                typename L::V row[W];
                L::transpose(blocks, n, row);
                for (int k = 0; k < W; ++k)
                    memcpy(rows + ((n + k) * R + v) * W, &row[k], sizeof row[k]);
            }
        }
        for (; n < kernel.rowCount; ++n)
            for (int f = 0; f < W; ++f) {
                const int64_t at = first + f * kernel.inputStep + n;
                const bool inside = at >= 0 && at < signalEnd && j + v * W + f < jEnd;
                rows[(n * R + v) * W + f] = inside ? static_cast<double>(src[at - srcFirst]) : 0.0;
            }
    }
}

// Phases phase .. phase + C - 1 of the unit whose rows are laid out; outputs of blocks from jEnd
// on, or at outCount and beyond, are not stored.
template <class L, int C>
void resamplePhases(const ResampleKernel& kernel, const double* rows, int64_t j, int64_t jEnd,
                    int32_t phase, float* out, int64_t outCount)
{
    constexpr int W = L::width;
    constexpr int R = RESAMPLE_ROW_VECTORS;
    typedef typename L::V V;
    const double* taps[C];
    const double* inputs[C];
    int32_t counts[C];
    int32_t fewest = INT32_MAX;
    for (int i = 0; i < C; ++i) {
        taps[i] = kernel.coefficients + kernel.tapStart[phase + i];
        inputs[i] = rows + (kernel.firstTap[phase + i] - kernel.rowFirst) * R * W;
        counts[i] = kernel.tapCount[phase + i];
        if (counts[i] < fewest)
            fewest = counts[i];
    }
    V sums[C][R];
    for (int i = 0; i < C; ++i)
        for (int v = 0; v < R; ++v)
            sums[i][v] = L::all(0.0);
    auto step = [&](int i, int32_t t) {
        const V tap = L::all(taps[i][t]);
        for (int v = 0; v < R; ++v) {
            V x;
            memcpy(&x, inputs[i] + (static_cast<int64_t>(t) * R + v) * W, sizeof x);
            sums[i][v] = sums[i][v] + tap * x;
        }
    };
    int32_t t = 0;
    for (; t < fewest; ++t) {
#pragma GCC unroll 8
        for (int i = 0; i < C; ++i)
            step(i, t);
    }
    for (int i = 0; i < C; ++i)
        for (int32_t rest = t; rest < counts[i]; ++rest)
            step(i, rest);
    for (int i = 0; i < C; ++i)
        for (int v = 0; v < R; ++v)
            for (int f = 0; f < W; ++f) {
                const int64_t block = j + v * W + f;
                const int64_t m = block * kernel.outputStep + phase + i;
                if (block < jEnd && m < outCount)
                    out[m] = static_cast<float>(L::lane(sums[i][v], f));
            }
}

// Blocks jBegin .. jEnd - 1, a unit at a time (the last one may be partial); rows is scratch of
// RESAMPLE_ROW_VECTORS * W * rowCount doubles.
template <class L>
void resampleBlocks(const ResampleKernel& kernel, const float* src, int64_t srcFirst,
                    int64_t signalEnd, int64_t jBegin, int64_t jEnd, double* rows, float* out,
                    int64_t outCount)
{
    constexpr int U = RESAMPLE_ROW_VECTORS * L::width;
    constexpr int C = resampleChains(L::width);
    for (int64_t j = jBegin; j < jEnd; j += U) {
        layOutRows<L>(kernel, src, srcFirst, signalEnd, j, jEnd, rows);
        int32_t phase = 0;
        for (; phase + C <= kernel.outputStep; phase += C)
            resamplePhases<L, C>(kernel, rows, j, jEnd, phase, out, outCount);
        for (; phase < kernel.outputStep; ++phase)
            resamplePhases<L, 1>(kernel, rows, j, jEnd, phase, out, outCount);
    }
}

// One instance per vector unit, each in its own file (audio/resample_lanes{1,2,4,8}.cpp).
#define ORVALIX_RESAMPLE_BLOCKS(W)                                                                 \
    void resampleBlocksOf##W(const ResampleKernel& kernel, const float* src, int64_t srcFirst,     \
                             int64_t signalEnd, int64_t jBegin, int64_t jEnd, double* rows,       \
                             float* out, int64_t outCount)
ORVALIX_RESAMPLE_BLOCKS(1);
ORVALIX_RESAMPLE_BLOCKS(2);
ORVALIX_RESAMPLE_BLOCKS(4);
ORVALIX_RESAMPLE_BLOCKS(8);
