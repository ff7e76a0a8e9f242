#pragma once
// The resampler's inner loop, written once over a lane type (dsp/lanes.h): the outputs of
// consecutive blocks side by side, one block per lane. Read it first with L = Lanes<1>: output
// after output, the sum of its phase's products in ascending tap order. A wider L performs those
// very operations in each lane, so every width gives the same floats.
#include <cstdint>
#include <cstring>
#include <utility>

#include "audio/resampler.h"
#include "dsp/lanes.h"

// Blocks go through in units of RESAMPLE_ROW_VECTORS * W: each coefficient, loaded once, serves
// that many vectors of inputs.
constexpr int RESAMPLE_ROW_VECTORS = 4;

// Phases side by side, each its own chains of sums, so that their additions overlap in the
// processor instead of each waiting for the one before, and each row loaded serves them all.
// (Three vector phases would need more registers than AVX2 and SSE2 have.)
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
#pragma GCC unroll 8
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

// The running sums of C phases over the unit's R vectors of blocks.
template <class L, int C>
struct PhaseSums {
    typename L::V sums[C][RESAMPLE_ROW_VECTORS];
};

// Rows lo .. hi - 1 into the sums of phases A .. B - 1, each row's vectors loaded once for all
// of them: phase i takes row n with its tap n - firstRow[i], so each sum still runs in
// ascending tap order.
template <class L, int C, int A, int B>
inline void addRows(PhaseSums<L, C>& to, const double* rows, const double* const* taps,
                    const int64_t* firstRow, int64_t lo, int64_t hi)
{
    constexpr int W = L::width;
    constexpr int R = RESAMPLE_ROW_VECTORS;
    typedef typename L::V V;
    V sums[B - A][R];  // held in registers through the loop
#pragma GCC unroll 8
    for (int i = A; i < B; ++i)
#pragma GCC unroll 8
        for (int v = 0; v < R; ++v)
            sums[i - A][v] = to.sums[i][v];
    for (int64_t n = lo; n < hi; ++n) {
        V x[R];
#pragma GCC unroll 8
        for (int v = 0; v < R; ++v)
            memcpy(&x[v], rows + (n * R + v) * W, sizeof x[v]);
#if defined(__x86_64__)  // kept in registers: else each phase's product loads the row again
#pragma GCC unroll 8
        for (int v = 0; v < R; ++v)
            asm("" : "+x"(x[v]));
#endif
#pragma GCC unroll 8
        for (int i = A; i < B; ++i) {
            const V tap = L::all(taps[i][n - firstRow[i]]);
#pragma GCC unroll 8
            for (int v = 0; v < R; ++v)
                sums[i - A][v] = sums[i - A][v] + tap * x[v];
        }
    }
#pragma GCC unroll 8
    for (int i = A; i < B; ++i)
#pragma GCC unroll 8
        for (int v = 0; v < R; ++v)
            to.sums[i][v] = sums[i - A][v];
}

// The rows of C phases whose spans overlap, in 2C - 1 stretches: phases 0 .. k from phase k's
// first row to phase k + 1's; all C from phase C - 1's first row to phase 0's end; phases
// k + 1 .. C - 1 from phase k's end to phase k + 1's. Starts and ends rise with the phase.
template <class L, int C, size_t... K>
inline void addAllRows(PhaseSums<L, C>& to, const double* rows, const double* const* taps,
                       const int64_t* firstRow, const int64_t* endRow, std::index_sequence<K...>)
{
    (addRows<L, C, 0, int(K) + 1>(to, rows, taps, firstRow, firstRow[K], firstRow[K + 1]), ...);
    addRows<L, C, 0, C>(to, rows, taps, firstRow, firstRow[C - 1], endRow[0]);
    (addRows<L, C, int(K) + 1, C>(to, rows, taps, firstRow, endRow[K], endRow[K + 1]), ...);
}

// Phases phase .. phase + C - 1 of the unit whose rows are laid out; outputs of blocks from jEnd
// on, or at outCount and beyond, are not stored. Phases whose spans do not all overlap go one
// by one.
template <class L, int C>
void resamplePhases(const ResampleKernel& kernel, const double* rows, int64_t j, int64_t jEnd,
                    int32_t phase, float* out, int64_t outCount)
{
    constexpr int W = L::width;
    constexpr int R = RESAMPLE_ROW_VECTORS;
    const double* taps[C];
    int64_t firstRow[C];
    int64_t endRow[C];
    for (int i = 0; i < C; ++i) {
        taps[i] = kernel.coefficients + kernel.tapStart[phase + i];
        firstRow[i] = kernel.firstTap[phase + i] - kernel.rowFirst;
        endRow[i] = firstRow[i] + kernel.tapCount[phase + i];
    }
    if constexpr (C > 1) {
        if (firstRow[C - 1] > endRow[0]) {
            for (int i = 0; i < C; ++i)
                resamplePhases<L, 1>(kernel, rows, j, jEnd, phase + i, out, outCount);
            return;
        }
    }
    PhaseSums<L, C> sums;
    for (int i = 0; i < C; ++i)
        for (int v = 0; v < R; ++v)
            sums.sums[i][v] = L::all(0.0);
    if constexpr (C == 1)
        addRows<L, 1, 0, 1>(sums, rows, taps, firstRow, firstRow[0], endRow[0]);
    else
        addAllRows<L, C>(sums, rows, taps, firstRow, endRow, std::make_index_sequence<C - 1>());
    for (int i = 0; i < C; ++i)
        for (int v = 0; v < R; ++v)
            for (int f = 0; f < W; ++f) {
                const int64_t block = j + v * W + f;
                const int64_t m = block * kernel.outputStep + phase + i;
                if (block < jEnd && m < outCount)
                    out[m] = static_cast<float>(L::lane(sums.sums[i][v], f));
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
