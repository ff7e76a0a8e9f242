#pragma once
// float(log10(x)) of W doubles, bit for bit the C library's. With one lane it is the library's
// call. With more, a short series gives log10 to about 2^-46 of its size; when every value within
// 2^-40 of it rounds to the same float, so does the library's result, which lies far closer.
// Only lanes next to a rounding boundary, and zero, tiny, huge, negative, infinite or NaN inputs,
// call the library. In an anonymous namespace for the reason given in dsp/lanes.h.
#include <cmath>
#include <cstring>

#include "dsp/lanes.h"

namespace {

template <class L>
void floatLog10(typename L::V v, float* out) {
    constexpr int32_t W = L::width;
    if constexpr (W == 1) {
        *out = static_cast<float>(log10(v));
    } else {
        typedef typename L::V V;
        typedef typename VectorTypes<W>::U U;
        typedef typename VectorTypes<W>::F F;
        const U bits = reinterpret_cast<U>(v);
        // v = m * 2^e with m in [0.75, 1.5), from the significand and exponent fields (the
        // exponent field k becomes the double 2^52 + k, less 2^52 + 1023).
        V m = reinterpret_cast<V>((bits & 0x000FFFFFFFFFFFFFu) | 0x3FF0000000000000u);
        V e = reinterpret_cast<V>((bits >> 52) | 0x4330000000000000u) - L::all(0x1p52 + 1023);
        const auto high = m >= L::all(1.5);
        m = high ? m * L::all(0.5) : m;
        e = high ? e + L::all(1.0) : e;
        // ln m = 2s (1 + s^2/3 + s^4/5 + ...), s = (m - 1) / (m + 1), |s| <= 0.2: the terms after
        // s^20 / 21 add less than 2^-55 of the sum.
        const V s = (m - L::all(1.0)) / (m + L::all(1.0)), s2 = s * s;
        // Summed pairwise (Estrin), so that few steps wait on one another.
        const auto c = [](int k) { return L::all(1.0 / (2 * k + 1)); };
        const V s4 = s2 * s2, s8 = s4 * s4, last = c(8) + s2 * c(9) + s4 * c(10);
        const V p = c(0) + s2 * c(1) + s4 * (c(2) + s2 * c(3)) +
                    s8 * (c(4) + s2 * c(5) + s4 * (c(6) + s2 * c(7)) + s8 * last);
        V y = e * L::all(0.30102999566398119521) + (s + s) * p * L::all(0.43429448190325182765);
        // Outside normal doubles well away from both ends the series is not used: NaN settles nothing.
        y = ((v >= L::all(0x1p-1000)) & (v <= L::all(0x1p+1000))) ? y : L::all(NAN);
        // Rounding is monotonic: when both ends of the interval give one float, every value in it does.
        const F rounded = __builtin_convertvector(y, F);
        const auto settled = (__builtin_convertvector(y * L::all(1.0 + 0x1p-40), F) == rounded) &
                             (__builtin_convertvector(y * L::all(1.0 - 0x1p-40), F) == rounded);
        memcpy(out, &rounded, sizeof rounded);
        const decltype(settled) all = ~decltype(settled){};
        if (memcmp(&settled, &all, sizeof all) != 0)
            for (int32_t k = 0; k < W; ++k)
                if (!settled[k]) out[k] = static_cast<float>(log10(v[k]));
    }
}

}  // namespace
