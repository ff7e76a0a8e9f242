#pragma once
// Lane types: Lanes<W> holds W doubles, one per frame, and offers only what the plain analysis
// does to a value: +, -, *, / (each rounded by itself, never fused: -ffp-contract=off), square
// root, widening floats, rounding to float, and moving values between lanes unchanged
// (transpose). Lanes<1> is a plain double, the path a reader reads first; Lanes<2> (Arm NEON,
// SSE2), Lanes<4> (AVX2) and Lanes<8> (AVX-512) are the same code over the compiler's vector
// types, so a lane does exactly the scalar operations by construction.
//
// Everything here is in an anonymous namespace on purpose: each file compiled for another vector
// unit (mfcc/frame_lanes*.cpp) gets its own copies, which the linker must never exchange.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__AVX__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The compiler's vector types of W doubles, W floats and W 64-bit patterns; +, -, *, / work
// lane by lane.
template <int W>
struct VectorTypes;
#define ORVALIX_VECTOR_TYPES(W)                                                   \
    template <>                                                                   \
    struct VectorTypes<W> {                                                       \
        typedef double V __attribute__((vector_size(8 * W)));                     \
        typedef float F __attribute__((vector_size(4 * W), aligned(4)));          \
        typedef uint64_t U __attribute__((vector_size(8 * W)));                   \
    };
ORVALIX_VECTOR_TYPES(2)
ORVALIX_VECTOR_TYPES(4)
ORVALIX_VECTOR_TYPES(8)
#undef ORVALIX_VECTOR_TYPES

// The conversions, broadcast and square root of W lanes: the vector unit's own instructions
// where this file is compiled for one, else plain C++ over the lanes (slower, the same values).
template <int W>
struct LaneUnit {
    typedef typename VectorTypes<W>::V V;
    typedef typename VectorTypes<W>::F F;
    static V widen(const float* p) { return __builtin_convertvector(*reinterpret_cast<const F*>(p), V); }
    static void narrow(float* p, V x) { *reinterpret_cast<F*>(p) = __builtin_convertvector(x, F); }
    static V all(double x) { return x - V{}; }  // x - (+0) is x, the sign of a zero included
    static V sqrt(V x) {
        for (int k = 0; k < W; ++k) x[k] = std::sqrt(x[k]);
        return x;
    }
};
#define ORVALIX_LANE_UNIT(W, widenOf_p, narrowTo_p_x, all_x, sqrt_x)               \
    template <>                                                                 \
    struct LaneUnit<W> {                                                        \
        typedef VectorTypes<W>::V V;                                            \
        static V widen(const float* p) { return widenOf_p; }                    \
        static void narrow(float* p, V x) { narrowTo_p_x; }                     \
        static V all(double x) { return all_x; }                                \
        static V sqrt(V x) { return sqrt_x; }                                   \
    };
#if defined(__AVX512F__)  // (masked forms: the unmasked ones of these headers warn spuriously)
ORVALIX_LANE_UNIT(8, _mm512_maskz_cvtps_pd(0xFF, _mm256_loadu_ps(p)),
                  _mm256_storeu_ps(p, _mm512_maskz_cvtpd_ps(0xFF, x)), _mm512_set1_pd(x),
                  _mm512_maskz_sqrt_pd(0xFF, x))
#endif
#if defined(__AVX__)
ORVALIX_LANE_UNIT(4, _mm256_cvtps_pd(_mm_loadu_ps(p)), _mm_storeu_ps(p, _mm256_cvtpd_ps(x)),
                  _mm256_set1_pd(x), _mm256_sqrt_pd(x))
#endif
#if defined(__aarch64__)
ORVALIX_LANE_UNIT(2, vcvt_f64_f32(vld1_f32(p)), vst1_f32(p, vcvt_f32_f64(x)), vdupq_n_f64(x),
                  vsqrtq_f64(x))
#elif defined(__SSE2__)  // two floats as one unaligned 64-bit load or store (floats align to 4)
ORVALIX_LANE_UNIT(2, _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(
                         reinterpret_cast<const __m128i*>(p)))),
                  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_cvtpd_ps(x))),
                  _mm_set1_pd(x), _mm_sqrt_pd(x))
#endif
#undef ORVALIX_LANE_UNIT

template <int W>
struct Lanes : LaneUnit<W> {
    static constexpr int32_t width = W;
    typedef typename VectorTypes<W>::V V;
    typedef typename VectorTypes<W>::F F;
    static double lane(V x, int k) { return x[k]; }
    // The value a float variable holds: x rounded to float and widened again.
    static V toFloat(V x) {
        float f[W];
        LaneUnit<W>::narrow(f, x);
        return LaneUnit<W>::widen(f);
    }
    // Samples i..i+W-1 of each of W frames, widened, as W values: to[k] holds sample i + k of
    // every frame. The W rows are loaded whole, then their off-diagonal blocks of B lanes swapped
    // for B = W/2 down to 1: two shuffles per pair of rows and block size, no element gathers.
    static void transpose(const float* const* frames, int64_t i, V* to) {
        for (int k = 0; k < W; ++k) to[k] = LaneUnit<W>::widen(frames[k] + i);
        swapBlocks<W / 2>(to, std::make_index_sequence<W>());
    }
    template <int B, size_t... K>
    static void swapBlocks(V* r, std::index_sequence<K...> lanes) {
        for (int j = 0; j < W; ++j)
            if (!(j & B)) {
                const V low = __builtin_shufflevector(r[j], r[j + B], (K & B ? K - B + W : K)...);
                r[j + B] = __builtin_shufflevector(r[j], r[j + B], (K & B ? K + W : K + B)...);
                r[j] = low;
            }
        if constexpr (B > 1) swapBlocks<B / 2>(r, lanes);
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
    static void transpose(const float* const* frames, int64_t i, V* to) { *to = frames[0][i]; }
    static V sqrt(V x) { return std::sqrt(x); }
};

}  // namespace
