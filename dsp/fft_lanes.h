#pragma once
// The butterflies of fft_float and the real-input spectrum of the frame analysis, written once
// over a lane type (dsp/lanes.h). Point p of lane f lives at [p * W + f]: with one lane these
// are plain arrays. In an anonymous namespace for the reason given in dsp/lanes.h.
#include <cmath>

#include "dsp/fft.h"
#include "dsp/lanes.h"

// 2^-23, the float epsilon added to every imaginary part before the magnitude is taken.
constexpr double FLOAT_EPSILON = 1.1920928955078125e-07;

namespace {

// Points j and q = j + half of one block with twiddle (c, s), each result rounded to float.
template <class L>
inline void butterfly(float* rj, float* ij, float* rq, float* iq, typename L::V c,
                      typename L::V s) {
    const typename L::V r = L::widen(rj), i = L::widen(ij), qr = L::widen(rq), qi = L::widen(iq);
    const typename L::V tr = c * qr - s * qi;
    const typename L::V ti = c * qi + s * qr;
    L::narrow(rq, r - tr);
    L::narrow(iq, i - ti);
    L::narrow(rj, r + tr);
    L::narrow(ij, i + ti);
}

// The same when both imaginary inputs are exact zeros: the terms multiplied by them are left
// out. That can change only the sign of a zero, and no sign of zero reaches a feature: zeros
// add, multiply and round to zeros whatever their signs, and the magnitude squares both parts.
template <class L>
inline void realPairButterfly(float* rj, float* ij, float* rq, float* iq, typename L::V c,
                              typename L::V s) {
    const typename L::V r = L::widen(rj), qr = L::widen(rq);
    const typename L::V tr = c * qr, ti = s * qr;
    L::narrow(rq, r - tr);
    L::narrow(iq, -ti);
    L::narrow(rj, r + tr);
    L::narrow(ij, ti);
}

// |re + i (im + 2^-23)| of a bin whose parts are float values.
template <class L>
inline typename L::V magnitude(typename L::V re, typename L::V im) {
    const typename L::V i = L::toFloat(im + L::all(FLOAT_EPSILON));
    return L::sqrt(re * re + i * i);
}

// Stages with half-blocks 1, 2, 4, ... below `below` over the n points of re and im: the
// first stage's sums and differences where its twiddle is (1, +0), then the butterflies, each
// a real pair's where the table says so. Their twiddles are those of an n-point transform of
// any n: a stage's table depends on its half-block alone.
template <class L>
inline void earlyStages(const FftTables& t, float* re, float* im, uint32_t n, uint32_t below) {
    typedef typename L::V V;
    constexpr int32_t W = L::width;
    uint32_t half = 1;
    if (n >= 4 && below > 1 && t.cosines[0] == 1.0 && t.sines[0] == 0.0 &&
        !std::signbit(t.sines[0])) {
        // Twiddle (1, +0) on imaginary parts +0: sums and differences of real parts; the
        // imaginary parts stay +0, and the next stage's butterflies all leave them out.
        for (uint32_t b = 0; b < n; b += 2) {
            float* r = re + b * W;
            const V x = L::widen(r), y = L::widen(r + W);
            L::narrow(r + W, x - y);
            L::narrow(r, x + y);
        }
        half = 2;
    }
    for (; half < below; half *= 2) {
        const double* cs = t.cosines + half - 1;
        const double* ss = t.sines + half - 1;
        const uint8_t* realPair = t.realPairs + half - 1;
        for (uint32_t b = 0; b < n; b += 2 * half)
            for (uint32_t m = 0; m < half; ++m) {
                float* rj = re + (b + m) * W;
                float* ij = im + (b + m) * W;
                const V c = L::all(cs[m]), s = L::all(ss[m]);
                if (realPair[m])
                    realPairButterfly<L>(rj, ij, rj + half * W, ij + half * W, c, s);
                else
                    butterfly<L>(rj, ij, rj + half * W, ij + half * W, c, s);
            }
    }
}

// The forward transform of W real frames placed in bit-reversed order in re (im is not read),
// then the magnitudes of bins 0..keptBins - 1 written over re: bit for bit fft_float followed
// by magnitudes. Each bin's magnitude is taken in the last stage when the upper half of that
// stage is not kept, so the square roots overlap the butterflies.
template <class L>
__attribute__((noinline)) void realSpectrum(const FftTables& t, float* re, float* im) {
    typedef typename L::V V;
    constexpr int32_t W = L::width;
    const uint32_t n = t.pointCount, kept = t.keptBins, half = n / 2;
    const bool magnitudesInLastStage = kept <= half;
    earlyStages<L>(t, re, im, n, magnitudesInLastStage ? half : n);
    if (magnitudesInLastStage) {
        const double* cs = t.cosines + half - 1;
        const double* ss = t.sines + half - 1;
        const uint8_t* realPair = t.realPairs + half - 1;
        for (uint32_t m = 0; m < kept; ++m) {
            float* rj = re + m * W;
            const V c = L::all(cs[m]), s = L::all(ss[m]), qr = L::widen(rj + half * W);
            V tr, i;
            if (realPair[m]) {
                tr = c * qr;
                i = L::toFloat(s * qr);
            } else {
                const V qi = L::widen(im + (m + half) * W);
                tr = c * qr - s * qi;
                i = L::toFloat(L::widen(im + m * W) + (c * qi + s * qr));
            }
            L::narrow(rj, magnitude<L>(L::toFloat(L::widen(rj) + tr), i));
        }
        return;
    }
    for (uint32_t k = 0; k < kept; ++k)
        L::narrow(re + k * W, magnitude<L>(L::widen(re + k * W), L::widen(im + k * W)));
}

}  // namespace

namespace {

// The lanes of W butterflies of a stage that are real pairs, as a mask.
template <class L>
inline typename VectorTypes<L::width>::U realPairLanes(const uint8_t* realPair) {
    typename VectorTypes<L::width>::U mask;
    for (int32_t k = 0; k < L::width; ++k) mask[k] = realPair[k] ? ~0ull : 0;
    return mask;
}

// Butterflies m..m+W-1 of a block, one per lane: x holds the parts of points j and q (real j,
// imaginary j, real q, imaginary q), which are replaced by the unrounded results; a lane whose
// butterfly is a real pair gets realPairButterfly's results.
template <class L>
inline void butterfliesInLanes(typename L::V* x, const double* cosines, const double* sines,
                               const uint8_t* realPair) {
    typedef typename L::V V;
    V c, s;
    memcpy(&c, cosines, sizeof c);
    memcpy(&s, sines, sizeof s);
    const V r = x[0], i = x[1], qr = x[2], qi = x[3];
    const V tr = c * qr - s * qi;
    const V ti = c * qi + s * qr;
    x[0] = r + tr;
    x[1] = i + ti;
    x[2] = r - tr;
    x[3] = i - ti;
    uint32_t pairs;
    memcpy(&pairs, realPair, sizeof pairs);
    if (pairs) {
        static_assert(L::width == sizeof pairs);
        const auto pair = realPairLanes<L>(realPair);
        const V pairTr = c * qr, pairTi = s * qr;
        x[0] = pair ? r + pairTr : x[0];
        x[1] = pair ? pairTi : x[1];
        x[2] = pair ? r - pairTr : x[2];
        x[3] = pair ? -pairTi : x[3];
    }
}

// The bits of k < 16 in reverse order.
constexpr uint32_t reversedNibble[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};

// Four floats as a vector of their natural alignment.
typedef float FloatFour __attribute__((vector_size(16)));

// Rows r[0..3] of 4 floats as columns.
inline void transposeFour(FloatFour* r) {
    typedef FloatFour F;
    const F a = __builtin_shufflevector(r[0], r[1], 0, 4, 1, 5), b = __builtin_shufflevector(r[0], r[1], 2, 6, 3, 7);
    const F c = __builtin_shufflevector(r[2], r[3], 0, 4, 1, 5), d = __builtin_shufflevector(r[2], r[3], 2, 6, 3, 7);
    r[0] = __builtin_shufflevector(a, c, 0, 1, 4, 5);
    r[1] = __builtin_shufflevector(a, c, 2, 3, 6, 7);
    r[2] = __builtin_shufflevector(b, d, 0, 1, 4, 5);
    r[3] = __builtin_shufflevector(b, d, 2, 3, 6, 7);
}

// realSpectrum<Lanes<1>> of ONE frame given in natural order (natural: the n inputs, the
// padding zeros included), into the plain arrays re and im. The first four stages work on
// blocks of 16 points, 4 blocks side by side in the lanes of L: the inputs of 4 such blocks are
// 4 consecutive inputs, so each of their points is one load, and each block gets exactly the
// plain path's butterflies (earlyStages over 16 points). Their results are turned into the
// plain order, and the later stages do butterflies m..m+3 of a block at once. Every point gets
// the operations of the plain transform, in its order, each result rounded to float. Returns
// false, having done nothing, when the transform is shorter than 64 points.
template <class L>
__attribute__((noinline)) bool realSpectrumAcrossPoints(const FftTables& t, const float* natural,
                                                        float* re, float* im) {
    typedef typename L::V V;
    static_assert(L::width == 4, "4 blocks of 16 points side by side");
    const uint32_t n = t.pointCount, kept = t.keptBins;
    if (n < 64) return false;
    const uint32_t bits = static_cast<uint32_t>(__builtin_ctz(n));
    alignas(32) float blockRe[16 * 4], blockIm[16 * 4];
    for (uint32_t g = 0; g < n / 64; ++g) {
        // Point j of block B takes input reversed(16 B + j) = reversed(j) << (bits - 4) plus
        // reversed(B) on bits - 4 bits; blocks B with reversed(B) = 4g .. 4g + 3 are side by side.
        for (uint32_t j = 0; j < 16; ++j)
            memcpy(blockRe + 4 * j, natural + (reversedNibble[j] << (bits - 4)) + 4 * g, 4 * sizeof(float));
        earlyStages<L>(t, blockRe, blockIm, 16, 16);
        uint32_t firstBlock = 0;  // reversed(4g) on bits - 4 bits: g reversed on bits - 6 bits
        for (uint32_t k = 0; k < bits - 6; ++k) firstBlock |= ((g >> k) & 1) << (bits - 7 - k);
        for (uint32_t q = 0; q < 4; ++q) {
            FloatFour r[4], i[4];
            memcpy(r, blockRe + 16 * q, sizeof r);
            memcpy(i, blockIm + 16 * q, sizeof i);
            transposeFour(r);
            transposeFour(i);
            for (uint32_t lane = 0; lane < 4; ++lane) {
                // reversed(4g + lane) = firstBlock + reversed(lane) on 2 bits, shifted up
                const uint32_t block = firstBlock + ((reversedNibble[lane] >> 2) << (bits - 6));
                memcpy(re + 16 * block + 4 * q, &r[lane], sizeof r[lane]);
                memcpy(im + 16 * block + 4 * q, &i[lane], sizeof i[lane]);
            }
        }
    }
    for (uint32_t half = 16; half < n; half *= 2) {
        const double* cs = t.cosines + half - 1;
        const double* ss = t.sines + half - 1;
        const uint8_t* realPair = t.realPairs + half - 1;
        if (2 * half == n && kept <= half) {
            for (uint32_t m = 0; m < kept; m += 4) {
                V c, s;
                memcpy(&c, cs + m, sizeof c);
                memcpy(&s, ss + m, sizeof s);
                const V qr = L::widen(re + m + half), qi = L::widen(im + m + half);
                V tr = c * qr - s * qi;
                V i = L::toFloat(L::widen(im + m) + (c * qi + s * qr));
                uint32_t pairs;
                memcpy(&pairs, realPair + m, sizeof pairs);
                if (pairs) {
                    const auto pair = realPairLanes<L>(realPair + m);
                    tr = pair ? c * qr : tr;
                    i = pair ? L::toFloat(s * qr) : i;
                }
                L::narrow(re + m, magnitude<L>(L::toFloat(L::widen(re + m) + tr), i));
            }
            return true;
        }
        for (uint32_t b = 0; b < n; b += 2 * half)
            for (uint32_t m = 0; m < half; m += 4) {
                float *rj = re + b + m, *ij = im + b + m, *rq = rj + half, *iq = ij + half;
                V x[4] = {L::widen(rj), L::widen(ij), L::widen(rq), L::widen(iq)};
                butterfliesInLanes<L>(x, cs + m, ss + m, realPair + m);
                L::narrow(rq, x[2]);
                L::narrow(iq, x[3]);
                L::narrow(rj, x[0]);
                L::narrow(ij, x[1]);
            }
    }
    for (uint32_t k = 0; k < kept; k += 4)
        L::narrow(re + k, magnitude<L>(L::widen(re + k), L::widen(im + k)));
    return true;
}

}  // namespace
