#include "dsp/fft_plan.h"

// This compiler's AVX-512 headers start several intrinsics from an undefined vector, which draws
// spurious uninitialised-use warnings once they are inlined here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cmath>
#include <cstdlib>

#include "dsp/fftmisc.h"

// Every vector routine below does, lane by lane, exactly what the plain code does: float to
// double conversions, double multiplies, adds and subtracts (never fused), and double to float
// conversions in the current rounding mode, each of which gives the same bits as its scalar form.

namespace {

constexpr double TWO_PI = 6.283185307179586;

// The twiddles of the stage with blocks of 2 * half points, by fft_float's recurrence.
void fillStageTwiddles(uint32_t half, double* cosines, double* sines) {
    const uint32_t blockSize = 2 * half;
    double delta = TWO_PI / blockSize;
    double olderSin = std::sin(-2.0 * delta), newerSin = std::sin(-delta);
    double olderCos = std::cos(-2.0 * delta), newerCos = std::cos(-delta);
    double k = 2.0 * newerCos;
    for (uint32_t m = 0; m < half; ++m) {
        double c = k * newerCos - olderCos;
        olderCos = newerCos;
        newerCos = c;
        double s = k * newerSin - olderSin;
        olderSin = newerSin;
        newerSin = s;
        cosines[m] = c;
        sines[m] = s;
    }
}

// The butterflies of points j and q = j + half of one block with twiddle (c, s).
inline void butterfly(float* re, float* im, uint32_t j, uint32_t half, double c, double s,
                      bool writeUpper) {
    uint32_t q = j + half;
    double tr = c * re[q] - s * im[q];
    double ti = c * im[q] + s * re[q];
    if (writeUpper) {
        re[q] = static_cast<float>(re[j] - tr);
        im[q] = static_cast<float>(im[j] - ti);
    }
    re[j] = static_cast<float>(re[j] + tr);
    im[j] = static_cast<float>(im[j] + ti);
}

void stagesPlain(const FftPlan* plan, float* re, float* im, bool writeLastUpper) {
    const uint32_t n = plan->pointCount;
    for (uint32_t half = 1; half < n; half *= 2) {
        const double* c = plan->cosines + half - 1;
        const double* s = plan->sines + half - 1;
        const bool writeUpper = writeLastUpper || 2 * half < n;
        for (uint32_t b = 0; b < n; b += 2 * half)
            for (uint32_t m = 0; m < half; ++m) butterfly(re, im, b + m, half, c[m], s[m], writeUpper);
    }
}

// Four butterflies: lanes of rj, ij (points j) and rq, iq (points j + half) with twiddles c, s.
// Returns the new j values in *rj, *ij and the new q values in *rq, *iq.
__attribute__((target("avx2"))) inline void butterfly4(__m256d c, __m256d s, __m256d* rj,
                                                       __m256d* ij, __m256d* rq, __m256d* iq) {
    __m256d tr = _mm256_sub_pd(_mm256_mul_pd(c, *rq), _mm256_mul_pd(s, *iq));
    __m256d ti = _mm256_add_pd(_mm256_mul_pd(c, *iq), _mm256_mul_pd(s, *rq));
    *rq = _mm256_sub_pd(*rj, tr);
    *iq = _mm256_sub_pd(*ij, ti);
    *rj = _mm256_add_pd(*rj, tr);
    *ij = _mm256_add_pd(*ij, ti);
}

__attribute__((target("avx2"))) inline __m256d widen(__m128 x) { return _mm256_cvtps_pd(x); }
__attribute__((target("avx2"))) inline __m128 narrow(__m256d x) { return _mm256_cvtpd_ps(x); }

// Blocks of two points, four blocks at a time: even positions are j, odd ones q.
__attribute__((target("avx2"))) void stageOfTwoAvx2(float* re, float* im, uint32_t n, double c0,
                                                    double s0) {
    const __m256d c = _mm256_set1_pd(c0), s = _mm256_set1_pd(s0);
    for (uint32_t b = 0; b < n; b += 8) {
        __m128 ra = _mm_loadu_ps(re + b), rb = _mm_loadu_ps(re + b + 4);
        __m128 ia = _mm_loadu_ps(im + b), ib = _mm_loadu_ps(im + b + 4);
        __m256d rj = widen(_mm_shuffle_ps(ra, rb, _MM_SHUFFLE(2, 0, 2, 0)));
        __m256d rq = widen(_mm_shuffle_ps(ra, rb, _MM_SHUFFLE(3, 1, 3, 1)));
        __m256d ij = widen(_mm_shuffle_ps(ia, ib, _MM_SHUFFLE(2, 0, 2, 0)));
        __m256d iq = widen(_mm_shuffle_ps(ia, ib, _MM_SHUFFLE(3, 1, 3, 1)));
        butterfly4(c, s, &rj, &ij, &rq, &iq);
        __m128 fj = narrow(rj), fq = narrow(rq);
        _mm_storeu_ps(re + b, _mm_unpacklo_ps(fj, fq));
        _mm_storeu_ps(re + b + 4, _mm_unpackhi_ps(fj, fq));
        fj = narrow(ij);
        fq = narrow(iq);
        _mm_storeu_ps(im + b, _mm_unpacklo_ps(fj, fq));
        _mm_storeu_ps(im + b + 4, _mm_unpackhi_ps(fj, fq));
    }
}

// Blocks of four points, two blocks at a time: positions 0, 1 of a block are j, 2, 3 are q.
__attribute__((target("avx2"))) void stageOfFourAvx2(float* re, float* im, uint32_t n,
                                                     const double* c2, const double* s2) {
    const __m256d c = _mm256_setr_pd(c2[0], c2[1], c2[0], c2[1]);
    const __m256d s = _mm256_setr_pd(s2[0], s2[1], s2[0], s2[1]);
    for (uint32_t b = 0; b < n; b += 8) {
        __m128 ra = _mm_loadu_ps(re + b), rb = _mm_loadu_ps(re + b + 4);
        __m128 ia = _mm_loadu_ps(im + b), ib = _mm_loadu_ps(im + b + 4);
        __m256d rj = widen(_mm_shuffle_ps(ra, rb, _MM_SHUFFLE(1, 0, 1, 0)));
        __m256d rq = widen(_mm_shuffle_ps(ra, rb, _MM_SHUFFLE(3, 2, 3, 2)));
        __m256d ij = widen(_mm_shuffle_ps(ia, ib, _MM_SHUFFLE(1, 0, 1, 0)));
        __m256d iq = widen(_mm_shuffle_ps(ia, ib, _MM_SHUFFLE(3, 2, 3, 2)));
        butterfly4(c, s, &rj, &ij, &rq, &iq);
        __m128 fj = narrow(rj), fq = narrow(rq);
        _mm_storeu_ps(re + b, _mm_shuffle_ps(fj, fq, _MM_SHUFFLE(1, 0, 1, 0)));
        _mm_storeu_ps(re + b + 4, _mm_shuffle_ps(fj, fq, _MM_SHUFFLE(3, 2, 3, 2)));
        fj = narrow(ij);
        fq = narrow(iq);
        _mm_storeu_ps(im + b, _mm_shuffle_ps(fj, fq, _MM_SHUFFLE(1, 0, 1, 0)));
        _mm_storeu_ps(im + b + 4, _mm_shuffle_ps(fj, fq, _MM_SHUFFLE(3, 2, 3, 2)));
    }
}

// Blocks of eight points or more: four neighbouring butterflies share one vector.
__attribute__((target("avx2"))) void stageWideAvx2(float* re, float* im, uint32_t n,
                                                   uint32_t half, const double* cs,
                                                   const double* ss, bool writeUpper) {
    for (uint32_t b = 0; b < n; b += 2 * half) {
        for (uint32_t m = 0; m < half; m += 4) {
            float* rjp = re + b + m;
            float* ijp = im + b + m;
            __m256d c = _mm256_loadu_pd(cs + m), s = _mm256_loadu_pd(ss + m);
            __m256d rj = widen(_mm_loadu_ps(rjp)), ij = widen(_mm_loadu_ps(ijp));
            __m256d rq = widen(_mm_loadu_ps(rjp + half)), iq = widen(_mm_loadu_ps(ijp + half));
            butterfly4(c, s, &rj, &ij, &rq, &iq);
            if (writeUpper) {
                _mm_storeu_ps(rjp + half, narrow(rq));
                _mm_storeu_ps(ijp + half, narrow(iq));
            }
            _mm_storeu_ps(rjp, narrow(rj));
            _mm_storeu_ps(ijp, narrow(ij));
        }
    }
}

// The unmasked conversions of this compiler's headers start from an undefined vector and draw a
// spurious uninitialised-use warning; all-lanes masks give the same instructions without it.
__attribute__((target("avx512f"))) inline __m512d widen8(const float* p) {
    return _mm512_maskz_cvtps_pd(0xFF, _mm256_loadu_ps(p));
}
__attribute__((target("avx512f"))) inline void narrow8(float* p, __m512d x) {
    _mm256_storeu_ps(p, _mm512_maskz_cvtpd_ps(0xFF, x));
}

// Blocks of sixteen points or more, eight neighbouring butterflies per vector.
__attribute__((target("avx512f"))) void stageWideAvx512(float* re, float* im, uint32_t n,
                                                       uint32_t half, const double* cs,
                                                       const double* ss, bool writeUpper) {
    for (uint32_t b = 0; b < n; b += 2 * half) {
        for (uint32_t m = 0; m < half; m += 8) {
            float* rjp = re + b + m;
            float* ijp = im + b + m;
            __m512d c = _mm512_loadu_pd(cs + m), s = _mm512_loadu_pd(ss + m);
            __m512d rj = widen8(rjp), ij = widen8(ijp);
            __m512d rq = widen8(rjp + half), iq = widen8(ijp + half);
            __m512d tr = _mm512_sub_pd(_mm512_mul_pd(c, rq), _mm512_mul_pd(s, iq));
            __m512d ti = _mm512_add_pd(_mm512_mul_pd(c, iq), _mm512_mul_pd(s, rq));
            if (writeUpper) {
                narrow8(rjp + half, _mm512_sub_pd(rj, tr));
                narrow8(ijp + half, _mm512_sub_pd(ij, ti));
            }
            narrow8(rjp, _mm512_add_pd(rj, tr));
            narrow8(ijp, _mm512_add_pd(ij, ti));
        }
    }
}

// Blocks of two, four or eight points, sixteen points (8 / half blocks) at a time: one permutation
// gathers the j points into the low half and the q points into the high half of a vector, and its
// inverse puts the results back.
__attribute__((target("avx512f"))) void stageSmallAvx512(float* re, float* im, uint32_t n,
                                                        uint32_t half, const double* cs,
                                                        const double* ss) {
    alignas(64) int32_t gather[16], scatter[16];
    alignas(64) double c8[8], s8[8];
    for (int32_t lane = 0; lane < 8; ++lane) {
        int32_t h = static_cast<int32_t>(half);
        int32_t j = (lane / h) * 2 * h + lane % h;
        gather[lane] = j;
        gather[lane + 8] = j + h;
        scatter[j] = lane;
        scatter[j + h] = lane + 8;
        c8[lane] = cs[lane % h];
        s8[lane] = ss[lane % h];
    }
    const __m512i toHalves = _mm512_load_si512(gather), back = _mm512_load_si512(scatter);
    const __m512d c = _mm512_load_pd(c8), s = _mm512_load_pd(s8);
    for (uint32_t b = 0; b < n; b += 16) {
        __m512 r = _mm512_permutexvar_ps(toHalves, _mm512_loadu_ps(re + b));
        __m512 i = _mm512_permutexvar_ps(toHalves, _mm512_loadu_ps(im + b));
        __m512d rj = _mm512_maskz_cvtps_pd(0xFF, _mm512_castps512_ps256(r));
        __m512d ij = _mm512_maskz_cvtps_pd(0xFF, _mm512_castps512_ps256(i));
        __m512d rq = _mm512_maskz_cvtps_pd(
            0xFF, _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(r), 1)));
        __m512d iq = _mm512_maskz_cvtps_pd(
            0xFF, _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(i), 1)));
        __m512d tr = _mm512_sub_pd(_mm512_mul_pd(c, rq), _mm512_mul_pd(s, iq));
        __m512d ti = _mm512_add_pd(_mm512_mul_pd(c, iq), _mm512_mul_pd(s, rq));
        __m256 newRj = _mm512_maskz_cvtpd_ps(0xFF, _mm512_add_pd(rj, tr));
        __m256 newRq = _mm512_maskz_cvtpd_ps(0xFF, _mm512_sub_pd(rj, tr));
        __m256 newIj = _mm512_maskz_cvtpd_ps(0xFF, _mm512_add_pd(ij, ti));
        __m256 newIq = _mm512_maskz_cvtpd_ps(0xFF, _mm512_sub_pd(ij, ti));
        __m512 rBoth = _mm512_castpd_ps(_mm512_insertf64x4(
            _mm512_castpd256_pd512(_mm256_castps_pd(newRj)), _mm256_castps_pd(newRq), 1));
        __m512 iBoth = _mm512_castpd_ps(_mm512_insertf64x4(
            _mm512_castpd256_pd512(_mm256_castps_pd(newIj)), _mm256_castps_pd(newIq), 1));
        _mm512_storeu_ps(re + b, _mm512_permutexvar_ps(back, rBoth));
        _mm512_storeu_ps(im + b, _mm512_permutexvar_ps(back, iBoth));
    }
}

__attribute__((target("avx2"))) void stagesAvx2(const FftPlan* plan, float* re, float* im,
                                                bool writeLastUpper) {
    const uint32_t n = plan->pointCount;
    if (n < 8) {
        stagesPlain(plan, re, im, writeLastUpper);
        return;
    }
    uint32_t half = 1;
    if (plan->vectorLevel >= 2 && n >= 16) {
        for (; half <= 4; half *= 2)
            stageSmallAvx512(re, im, n, half, plan->cosines + half - 1, plan->sines + half - 1);
    } else {
        stageOfTwoAvx2(re, im, n, plan->cosines[0], plan->sines[0]);
        stageOfFourAvx2(re, im, n, plan->cosines + 1, plan->sines + 1);
        half = 4;
    }
    for (; half < n; half *= 2) {
        const bool writeUpper = writeLastUpper || 2 * half < n;
        if (half >= 8 && plan->vectorLevel >= 2)
            stageWideAvx512(re, im, n, half, plan->cosines + half - 1, plan->sines + half - 1,
                            writeUpper);
        else
            stageWideAvx2(re, im, n, half, plan->cosines + half - 1, plan->sines + half - 1,
                          writeUpper);
    }
}

}  // namespace

namespace {

int detectedVectorLevel() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2")) return 2;
    return __builtin_cpu_supports("avx2") ? 1 : 0;
}

int vectorLevelCap = 2;

}  // namespace

int fftVectorLevel() {
    static const int detected = detectedVectorLevel();
    return detected < vectorLevelCap ? detected : vectorLevelCap;
}

void capFftVectorLevel(int level) {
    vectorLevelCap = level;
}

int makeFftPlan(FftPlan* plan, uint32_t pointCount) {
    *plan = FftPlan{pointCount, nullptr, nullptr, nullptr, fftVectorLevel()};
    plan->bitReversed = static_cast<uint32_t*>(malloc(pointCount * sizeof(uint32_t)));
    plan->cosines = static_cast<double*>(malloc(pointCount * sizeof(double)));
    plan->sines = static_cast<double*>(malloc(pointCount * sizeof(double)));
    if (!plan->bitReversed || !plan->cosines || !plan->sines) {
        releaseFftPlan(plan);
        return 1;
    }
    uint32_t bits = static_cast<uint32_t>(NumberOfBitsNeeded(pointCount));
    for (uint32_t i = 0; i < pointCount; ++i) plan->bitReversed[i] = BitReversedIndex(i, bits);
    for (uint32_t half = 1; half < pointCount; half *= 2)
        fillStageTwiddles(half, plan->cosines + half - 1, plan->sines + half - 1);
    return 0;
}

void releaseFftPlan(FftPlan* plan) {
    free(plan->bitReversed);
    free(plan->cosines);
    free(plan->sines);
    plan->bitReversed = nullptr;
    plan->cosines = nullptr;
    plan->sines = nullptr;
}

void fftForwardReal(const FftPlan* plan, const float* realIn, float* realOut, float* imagOut,
                    uint32_t keptBins) {
    const uint32_t n = plan->pointCount;
    for (uint32_t i = 0; i < n; ++i) {
        realOut[plan->bitReversed[i]] = realIn[i];
        imagOut[i] = 0.0f;
    }
    const bool writeLastUpper = keptBins > n / 2;
    if (plan->vectorLevel >= 1)
        stagesAvx2(plan, realOut, imagOut, writeLastUpper);
    else
        stagesPlain(plan, realOut, imagOut, writeLastUpper);
}
