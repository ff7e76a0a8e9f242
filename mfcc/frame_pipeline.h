#pragma once
// The analysis of a batch of W frames, one frame per lane, written once over a lane type L
// (dsp/lanes.h): windowing into the transform's order, the transform and magnitudes
// (dsp/fft_lanes.h), the filter sums and their logarithms, the cosine transform and the lifter.
// With Lanes<1> this is the plain frame-by-frame analysis; mfcc/frame_lanes*.cpp compile it for
// each vector unit. In an anonymous namespace for the reason given in dsp/lanes.h.
#include <cmath>
#include <cstring>

#include "dsp/fft_lanes.h"
#include "dsp/float_log10.h"
#include "dsp/lanes.h"
#include "mfcc/frame_analysis.h"
#include "mfcc/frame_steps.h"

namespace {

// Filter sums of W frames side by side advanced together, so that their additions overlap.
constexpr int32_t FILTERS_TOGETHER = 8;

// Every stage stays a function of its own (noinline): inlined into one loop, the compiler's
// register allocation of the whole costs about a sixth of the time.

// Sample i of every frame times window value i, rounded to float, at the transform position
// that takes input i; the padding positions are zeroed. W samples of each frame at a time (a
// shorter last run is redone as the last W samples placed, storing the same values again).
template <class L>
__attribute__((noinline)) void placeFrames(FrameAnalyser* a, const float* signal) {
    constexpr int32_t W = L::width;
    const float* frames[W];
    for (int32_t f = 0; f < W; ++f)
        frames[f] = signal + static_cast<int64_t>(f) * a->geometry.shiftSamples;
    typename L::V samples[W];
    for (int32_t run = 0; run < a->placedSamples; run += W) {
        const int32_t first = run + W <= a->placedSamples ? run : a->placedSamples - W;
        L::transpose(frames, first, samples);
        for (int32_t i = first; i < first + W; ++i)
            L::narrow(a->re + static_cast<int64_t>(a->positionOf[i]) * W,
                      L::all(a->window[i]) * samples[i - first]);
    }
    for (int32_t z = 0; z < a->paddingCount; ++z)
        L::narrow(a->re + static_cast<int64_t>(a->padding[z]) * W, L::all(0.0));
}

// One frame's filters: each filter's float running sum of magnitude times weight over its bins
// in order, from the step tables (STEP_FILTERS sums in registers, no test per product: a filter
// past its end adds 0 times 0, which leaves its sum as it is, since sums are never -0); divided
// by the bin count; then log10 of it (filterDomain 1) or of its square by pow, rounded to float,
// the logarithms of LogLanes::width consecutive filters at once.
template <class LogLanes>
__attribute__((noinline)) void logFilterEnergiesBySteps(FrameAnalyser* a) {
    constexpr int32_t T = STEP_FILTERS;
    static_assert(T % LogLanes::width == 0);
    for (int32_t first = 0, group = 0; first < a->filterCount; first += T, ++group) {
        double sums[T] = {};
        const int32_t* bins = a->stepBins + T * a->stepStart[group];
        const double* weights = a->stepWeights + T * a->stepStart[group];
        for (int32_t k = a->stepStart[group]; k < a->stepStart[group + 1]; ++k, bins += T, weights += T)
            for (int32_t g = 0; g < T; ++g)
                sums[g] = static_cast<float>(sums[g] + static_cast<double>(a->re[bins[g]]) * weights[g]);
        const int32_t count = a->filterCount - first < T ? a->filterCount - first : T;
        double energy[T];
        for (int32_t g = 0; g < T; ++g) {
            const int32_t j = first + (g < count ? g : 0);  // past the filters: written, unread
            energy[g] = sums[g] / (a->filterWeightStart[j + 1] - a->filterWeightStart[j]);
            if (a->filterDomain != 1) energy[g] = squareByPow(energy[g]);
        }
        for (int32_t g = 0; g < count; g += LogLanes::width) {
            typename LogLanes::V energies;
            memcpy(&energies, energy + g, sizeof energies);
            floatLog10<LogLanes>(energies, a->energies + first + g);
        }
    }
}

// The same for W frames side by side: each filter's sums, FILTERS_TOGETHER filters advancing
// together so that their additions overlap. One frame (W = 1) goes by the step tables, its
// logarithms LogLanes at a time.
template <class L, class LogLanes = L>
__attribute__((noinline)) void logFilterEnergies(FrameAnalyser* a) {
    typedef typename L::V V;
    constexpr int32_t W = L::width;
    if constexpr (W == 1) {
        logFilterEnergiesBySteps<LogLanes>(a);
    } else {
        static_assert(LogLanes::width == W);
        for (int32_t first = 0; first < a->filterCount; first += FILTERS_TOGETHER) {
            const int32_t count = a->filterCount - first < FILTERS_TOGETHER ? a->filterCount - first
                                                                            : FILTERS_TOGETHER;
            V sums[FILTERS_TOGETHER];
            int32_t lengths[FILTERS_TOGETHER];
            const double* weights[FILTERS_TOGETHER];
            const float* bins[FILTERS_TOGETHER];
            int32_t longest = 0;
            for (int32_t g = 0; g < FILTERS_TOGETHER; ++g) {  // a fixed count keeps sums in registers
                const int32_t start = a->filterWeightStart[first + (g < count ? g : 0)];
                sums[g] = L::all(0.0);
                lengths[g] = g < count ? a->filterWeightStart[first + g + 1] - start : 0;
                weights[g] = a->filterWeights + start;
                bins[g] = a->re + static_cast<int64_t>(a->filterFirstBin[first + (g < count ? g : 0)]) * W;
                if (lengths[g] > longest) longest = lengths[g];
            }
            for (int32_t k = 0; k < longest; ++k)
                for (int32_t g = 0; g < FILTERS_TOGETHER; ++g)
                    if (k < lengths[g])
                        sums[g] = L::toFloat(sums[g] + L::widen(bins[g] + k * W) * L::all(weights[g][k]));
            for (int32_t g = 0; g < count; ++g) {
                V energy = sums[g] / L::all(lengths[g]);
                if (a->filterDomain != 1) {
                    double squares[W];
                    for (int32_t f = 0; f < W; ++f) squares[f] = squareByPow(L::lane(energy, f));
                    memcpy(&energy, squares, sizeof energy);
                }
                floatLog10<L>(energy, a->energies + (first + g) * W);
            }
        }
    }
}

// The unnormalised cosine transform (each coefficient a float running sum in filter order) and
// the lifter of coefficients 1..M, then the rows frame by frame; or the log energies themselves.
template <class L>
__attribute__((noinline)) void writeRows(FrameAnalyser* a, float* rows) {
    constexpr int32_t W = L::width;
    const int32_t n = a->filterCount;
    if (a->rowKind == ROWS_LOG_ENERGIES) {
        for (int32_t f = 0; f < W; ++f)
            for (int32_t j = 0; j < n; ++j) rows[f * n + j] = a->energies[j * W + f];
        return;
    }
    const int32_t columns = a->cepstralCount + 1;
    float* c = a->coefficients;
    for (int32_t i = 0; i < columns; ++i) L::narrow(c + i * W, L::all(0.0));
    for (int32_t j = 0; j < n; ++j) {
        const typename L::V energy = L::widen(a->energies + j * W);
        for (int32_t i = 0; i < columns; ++i)
            L::narrow(c + i * W, L::widen(c + i * W) + L::all(a->cosines[i * n + j]) * energy);
    }
    if (a->lifterType != 1)
        for (int32_t i = 1; i < columns; ++i)
            L::narrow(c + i * W, L::widen(c + i * W) * L::all(a->lifter[i - 1]));
    for (int32_t f = 0; f < W; ++f)
        for (int32_t i = 0; i < columns; ++i) rows[f * columns + i] = c[i * W + f];
}

// placeFrames<Lanes<1>> of one frame in natural order: sample i times window value i, rounded
// to float, at inOrder[frameOffset + i], W samples at a time; the padding around them stays zero.
template <class L>
__attribute__((noinline)) void placeFrameInOrder(FrameAnalyser* a, const float* frame) {
    constexpr int32_t W = L::width;
    float* to = a->inOrder + a->frameOffset;
    for (int32_t run = 0; run < a->placedSamples; run += W) {
        const int32_t first = run + W <= a->placedSamples ? run : a->placedSamples - W;
        typename L::V window;
        memcpy(&window, a->window + first, sizeof window);
        L::narrow(to + first, window * L::widen(frame + first));
    }
}

// writeRows<Lanes<1>> of one frame with W consecutive coefficients in the lanes of L: each
// coefficient's float running sum in filter order, then its lifter (coefficient 0 untouched),
// rounded to float straight into the row.
template <class L>
__attribute__((noinline)) void writeRowAcrossColumns(FrameAnalyser* a, float* row) {
    typedef typename L::V V;
    constexpr int32_t W = L::width, TOGETHER = 4;
    if (a->rowKind == ROWS_LOG_ENERGIES) return writeRows<Lanes<1>>(a, row);
    const int32_t columns = a->cepstralCount + 1;
    for (int32_t first = 0; first < columns; first += TOGETHER * W) {
        V sums[TOGETHER];
        for (int32_t v = 0; v < TOGETHER; ++v) sums[v] = L::all(0.0);
        const int32_t vectors = (columns - first + W - 1) / W < TOGETHER ? (columns - first + W - 1) / W
                                                                         : TOGETHER;
        for (int32_t j = 0; j < a->filterCount; ++j) {
            const V energy = L::all(a->energies[j]);
            const double* cosines = a->cosinesByFilter + j * a->paddedColumns + first;
            for (int32_t v = 0; v < TOGETHER; ++v) {
                if (v >= vectors) break;
                V c;
                memcpy(&c, cosines + v * W, sizeof c);
                sums[v] = L::toFloat(sums[v] + c * energy);
            }
        }
        for (int32_t v = 0; v < vectors; ++v) {
            V lifted = sums[v];
            if (a->lifterType != 1) {
                V lift;
                memcpy(&lift, a->columnLifter + first + v * W, sizeof lift);
                lifted = lifted * lift;  // coefficient 0's weight 1 leaves it exactly as it is
            }
            const int32_t at = first + v * W;
            if (at + W <= columns) {
                L::narrow(row + at, lifted);
            } else {
                float last[W];
                L::narrow(last, lifted);
                memcpy(row + at, last, static_cast<size_t>(columns - at) * sizeof(float));
            }
        }
    }
}

// Frames one at a time, each as analyseBatches<Lanes<1>> does it, with the windowing, the
// transform, the logarithms and the cosine transform run across the points, filters or
// coefficients of the frame in the lanes of L (the frames a stream hands out alone, and those
// left over after the batches). Needs at least W placed samples; a transform below 64 points
// goes the plain way.
template <class L>
void analyseFramesAlone(FrameAnalyser* a, const float* signal, int32_t frameCount, float* rows) {
    for (int32_t f = 0; f < frameCount; ++f) {
        const float* frame = signal + static_cast<int64_t>(f) * a->geometry.shiftSamples;
        placeFrameInOrder<L>(a, frame);
        if (!realSpectrumAcrossPoints<L>(a->fft, a->inOrder, a->re, a->im)) {
            placeFrames<Lanes<1>>(a, frame);
            realSpectrum<Lanes<1>>(a->fft, a->re, a->im);
        }
        logFilterEnergies<Lanes<1>, L>(a);
        writeRowAcrossColumns<L>(a, rows + static_cast<int64_t>(f) * a->rowWidth);
    }
}

template <class L>
int32_t analyseBatches(FrameAnalyser* a, const float* signal, int32_t frameCount, float* rows) {
    constexpr int32_t W = L::width;
    int32_t done = 0;
    for (; done + W <= frameCount; done += W) {
        placeFrames<L>(a, signal + static_cast<int64_t>(done) * a->geometry.shiftSamples);
        realSpectrum<L>(a->fft, a->re, a->im);
        logFilterEnergies<L>(a);
        writeRows<L>(a, rows + static_cast<int64_t>(done) * a->rowWidth);
    }
    return done;
}

}  // namespace
