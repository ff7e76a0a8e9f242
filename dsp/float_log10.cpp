#include "dsp/float_log10.h"

#include <immintrin.h>

#include <cmath>

namespace {

// log10(2) and 1 / ln(10), the doubles nearest to them.
constexpr double LOG10_OF_2 = 0.30102999566398119521;
constexpr double INVERSE_LN_10 = 0.43429448190325182765;
// The interval checked around the series' value, relative to it: far wider than the series' own
// error (about 2^-46 relative) plus the library's (a few units in the last place, 2^-50).
constexpr double MARGIN = 0x1p-40;
// Inputs the series handles: normal doubles well away from both ends of the range.
constexpr double SMALLEST = 0x1p-1000;
constexpr double LARGEST = 0x1p+1000;

// ln(m) for m in [0.75, 1.5): with s = (m - 1) / (m + 1), ln m = 2s (1 + s^2/3 + s^4/5 + ...).
// |s| <= 0.2, so the terms after s^20 / 21 add less than 2^-55 of the sum.
__attribute__((target("avx512f"))) inline __m512d lnOfMantissa(__m512d m) {
    const __m512d one = _mm512_set1_pd(1.0);
    __m512d s = _mm512_div_pd(_mm512_sub_pd(m, one), _mm512_add_pd(m, one));
    __m512d s2 = _mm512_mul_pd(s, s);
    __m512d p = _mm512_set1_pd(1.0 / 21.0);
    for (int k = 9; k >= 0; --k)
        p = _mm512_add_pd(_mm512_mul_pd(p, s2), _mm512_set1_pd(1.0 / (2 * k + 1)));
    return _mm512_mul_pd(_mm512_add_pd(s, s), p);
}

}  // namespace

__attribute__((target("avx512f,avx2"))) unsigned floatLog10x8Settled(const double* x, float* out) {
    const __m512d v = _mm512_loadu_pd(x);
    const __mmask8 inRange = _mm512_cmp_pd_mask(v, _mm512_set1_pd(SMALLEST), _CMP_GE_OQ) &
                             _mm512_cmp_pd_mask(v, _mm512_set1_pd(LARGEST), _CMP_LE_OQ);
    // v = m * 2^e with m in [0.75, 1.5): getmant halves significands of 1.5 and above, so their
    // exponent is one more than getexp's.
    const __m512d m =
        _mm512_maskz_getmant_pd(0xFF, v, _MM_MANT_NORM_p75_1p5, _MM_MANT_SIGN_zero);
    __m512d e = _mm512_maskz_getexp_pd(0xFF, v);
    e = _mm512_mask_add_pd(e, _mm512_cmp_pd_mask(m, _mm512_set1_pd(1.0), _CMP_LT_OQ), e,
                           _mm512_set1_pd(1.0));
    const __m512d y = _mm512_add_pd(_mm512_mul_pd(e, _mm512_set1_pd(LOG10_OF_2)),
                                    _mm512_mul_pd(lnOfMantissa(m), _mm512_set1_pd(INVERSE_LN_10)));
    const __m512d up = _mm512_mul_pd(y, _mm512_set1_pd(1.0 + MARGIN));
    const __m512d down = _mm512_mul_pd(y, _mm512_set1_pd(1.0 - MARGIN));
    const __m256 rounded = _mm512_maskz_cvtpd_ps(0xFF, y);
    const __m256 above = _mm512_maskz_cvtpd_ps(0xFF, up);
    const __m256 below = _mm512_maskz_cvtpd_ps(0xFF, down);
    // Rounding is monotonic: when both ends of the interval give one float, every value in it does.
    const __m256i same = _mm256_and_si256(
        _mm256_cmpeq_epi32(_mm256_castps_si256(above), _mm256_castps_si256(rounded)),
        _mm256_cmpeq_epi32(_mm256_castps_si256(below), _mm256_castps_si256(rounded)));
    _mm256_storeu_ps(out, rounded);
    return static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(same))) & inRange;
}

void floatLog10x8(const double* x, float* out) {
    const unsigned settled = floatLog10x8Settled(x, out);
    if (settled == 0xFF) return;
    for (int i = 0; i < 8; ++i)
        if (!(settled & (1u << i))) out[i] = static_cast<float>(log10(x[i]));
}
