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

// The forward transform of W real frames placed in bit-reversed order in re (im is not read),
// then the magnitudes of bins 0..keptBins - 1 written over re: bit for bit fft_float followed
// by magnitudes. Each bin's magnitude is taken in the last stage when the upper half of that
// stage is not kept, so the square roots overlap the butterflies.
template <class L>
__attribute__((noinline)) void realSpectrum(const FftTables& t, float* re, float* im) {
    typedef typename L::V V;
    constexpr int32_t W = L::width;
    const uint32_t n = t.pointCount, kept = t.keptBins;
    uint32_t half = 1;
    if (n >= 4 && t.cosines[0] == 1.0 && t.sines[0] == 0.0 && !std::signbit(t.sines[0])) {
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
    for (; half < n; half *= 2) {
        const double* cs = t.cosines + half - 1;
        const double* ss = t.sines + half - 1;
        const uint8_t* realPair = t.realPairs + half - 1;
        if (2 * half == n && kept <= half) {
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
    for (uint32_t k = 0; k < kept; ++k)
        L::narrow(re + k * W, magnitude<L>(L::widen(re + k * W), L::widen(im + k * W)));
}

}  // namespace
