#pragma once
// Lane types: Lanes<W> holds W doubles, one per frame, and offers only what the plain analysis
// does to a value: +, -, *, / (each rounded by itself, never fused: -ffp-contract=off), square
// root, widening floats and rounding to float. Lanes<1> is a plain double, the path a reader
// reads first; Lanes<2> (Arm NEON, SSE2), Lanes<4> (AVX2) and Lanes<8> (AVX-512) are the same
// code over the compiler's vector types, so a lane does exactly the scalar operations by
// construction.
//
// Everything here is in an anonymous namespace on purpose: each file compiled for another vector
// unit (mfcc/frame_lanes_*.cpp) gets its own copies, which the linker must never exchange.
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__AVX__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The compiler's vector types of W doubles and of W floats.
template <int W>
struct VectorTypes;
#define ORVALIX_VECTOR_TYPES(W)                                   \
    template <>                                                   \
    struct VectorTypes<W> {                                       \
        typedef double V __attribute__((vector_size(8 * W)));     \
        typedef float F __attribute__((vector_size(4 * W)));      \
    };
ORVALIX_VECTOR_TYPES(2)
ORVALIX_VECTOR_TYPES(4)
ORVALIX_VECTOR_TYPES(8)
#undef ORVALIX_VECTOR_TYPES

template <int W>
struct Lanes {
    static constexpr int32_t width = W;
    typedef typename VectorTypes<W>::V V;
    typedef typename VectorTypes<W>::F F;

    static V widen(const float* p) {
        F f;
        memcpy(&f, p, sizeof f);
        return __builtin_convertvector(f, V);
    }
    static void narrow(float* p, V x) {
        F f = __builtin_convertvector(x, F);
        memcpy(p, &f, sizeof f);
    }
    static V all(double x) {
        V v;
        for (int k = 0; k < W; ++k) v[k] = x;
        return v;
    }
    static double lane(V x, int k) { return x[k]; }
    // The value a float variable holds: x rounded to float and widened again.
    static V toFloat(V x) { return __builtin_convertvector(__builtin_convertvector(x, F), V); }
    // Sample i of each of W frames.
    static V gather(const float* const* frames, int64_t i) {
        F f;
        for (int k = 0; k < W; ++k) f[k] = frames[k][i];
        return __builtin_convertvector(f, V);
    }
    static V sqrt(V x) {
#if defined(__AVX512F__)
        if constexpr (W == 8) return _mm512_maskz_sqrt_pd(0xFF, x);  // (the unmasked form warns spuriously)
#endif
#if defined(__AVX__)
        if constexpr (W == 4) return _mm256_sqrt_pd(x);
#endif
#if defined(__aarch64__)
        if constexpr (W == 2) return vsqrtq_f64(x);
#elif defined(__SSE2__)
        if constexpr (W == 2) return _mm_sqrt_pd(x);
#endif
        for (int k = 0; k < W; ++k) x[k] = std::sqrt(x[k]);  // correctly rounded either way
        return x;
    }
};

template <>
struct Lanes<1> {
    static constexpr int32_t width = 1;
    typedef double V;
    static V widen(const float* p) { return *p; }
    static void narrow(float* p, V x) { *p = static_cast<float>(x); }
    static V all(double x) { return x; }
    static double lane(V x, int) { return x; }
    static V toFloat(V x) { return static_cast<float>(x); }
    static V gather(const float* const* frames, int64_t i) { return frames[0][i]; }
    static V sqrt(V x) { return std::sqrt(x); }
};

}  // namespace
