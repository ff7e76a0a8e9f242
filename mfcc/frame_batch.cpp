#include "mfcc/frame_batch.h"

// This compiler's AVX-512 headers start several intrinsics from an undefined vector, which draws
// spurious uninitialised-use warnings once they are inlined here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "dsp/float_log10.h"
#include "mfcc/frame_steps.h"

namespace {

constexpr int32_t LANES = BATCH_FRAMES;
constexpr double FLOAT_EPSILON = 1.1920928955078125e-07;  // 2^-23, as in magnitudeSpectrum
constexpr int32_t FILTERS_TOGETHER = 8;  // filter sums advanced side by side to hide latency

// A row of eight floats (one per frame) widened to doubles, and a row of doubles rounded back.
__attribute__((target("avx512f"))) inline __m512d load8(const float* p) {
    return _mm512_maskz_cvtps_pd(0xFF, _mm256_load_ps(p));
}
__attribute__((target("avx512f"))) inline void store8(float* p, __m512d x) {
    _mm256_store_ps(p, _mm512_maskz_cvtpd_ps(0xFF, x));
}
// A double rounded to float and back: the value a float variable holds.
__attribute__((target("avx512f"))) inline __m512d toFloat(__m512d x) {
    return _mm512_maskz_cvtps_pd(0xFF, _mm512_maskz_cvtpd_ps(0xFF, x));
}

// Rows r[0..7] (frame f's eight consecutive samples in r[f]) turned into columns (sample k of
// every frame in r[k]).
__attribute__((target("avx2"))) inline void transpose8(__m256 r[8]) {
    __m256 a0 = _mm256_unpacklo_ps(r[0], r[1]), a1 = _mm256_unpackhi_ps(r[0], r[1]);
    __m256 a2 = _mm256_unpacklo_ps(r[2], r[3]), a3 = _mm256_unpackhi_ps(r[2], r[3]);
    __m256 a4 = _mm256_unpacklo_ps(r[4], r[5]), a5 = _mm256_unpackhi_ps(r[4], r[5]);
    __m256 a6 = _mm256_unpacklo_ps(r[6], r[7]), a7 = _mm256_unpackhi_ps(r[6], r[7]);
    __m256 b0 = _mm256_shuffle_ps(a0, a2, _MM_SHUFFLE(1, 0, 1, 0));
    __m256 b1 = _mm256_shuffle_ps(a0, a2, _MM_SHUFFLE(3, 2, 3, 2));
    __m256 b2 = _mm256_shuffle_ps(a1, a3, _MM_SHUFFLE(1, 0, 1, 0));
    __m256 b3 = _mm256_shuffle_ps(a1, a3, _MM_SHUFFLE(3, 2, 3, 2));
    __m256 b4 = _mm256_shuffle_ps(a4, a6, _MM_SHUFFLE(1, 0, 1, 0));
    __m256 b5 = _mm256_shuffle_ps(a4, a6, _MM_SHUFFLE(3, 2, 3, 2));
    __m256 b6 = _mm256_shuffle_ps(a5, a7, _MM_SHUFFLE(1, 0, 1, 0));
    __m256 b7 = _mm256_shuffle_ps(a5, a7, _MM_SHUFFLE(3, 2, 3, 2));
    r[0] = _mm256_permute2f128_ps(b0, b4, 0x20);
    r[1] = _mm256_permute2f128_ps(b1, b5, 0x20);
    r[2] = _mm256_permute2f128_ps(b2, b6, 0x20);
    r[3] = _mm256_permute2f128_ps(b3, b7, 0x20);
    r[4] = _mm256_permute2f128_ps(b0, b4, 0x31);
    r[5] = _mm256_permute2f128_ps(b1, b5, 0x31);
    r[6] = _mm256_permute2f128_ps(b2, b6, 0x31);
    r[7] = _mm256_permute2f128_ps(b3, b7, 0x31);
}

// float(window[i] * sample), as placeWindowedFrame computes it, for the eight frames' sample i,
// stored at the transform position that takes input i.
__attribute__((target("avx512f,avx2"))) inline void placeSample(const FrameBatch* batch,
                                                                int32_t i, __m256 samples) {
    __m512d weight = _mm512_set1_pd(batch->windowWeights[i]);
    store8(batch->real + static_cast<int64_t>(batch->positionOf[i]) * LANES,
           _mm512_mul_pd(weight, _mm512_maskz_cvtps_pd(0xFF, samples)));
}

// Windowing straight into bit-reversed order: eight samples of each frame at a time, turned into
// eight rows of one sample of every frame; the padding positions are zeroed.
__attribute__((target("avx512f,avx2"))) void placeFrames(FrameBatch* batch, const float* signal,
                                                        int32_t firstStart, int32_t shift) {
    const int32_t length = batch->placedSamples;
    const float* frames[LANES];
    for (int32_t f = 0; f < LANES; ++f)
        frames[f] = signal + firstStart + static_cast<int64_t>(f) * shift;
    int32_t i = 0;
    for (; i + 8 <= length; i += 8) {
        __m256 r[8];
        for (int32_t f = 0; f < LANES; ++f) r[f] = _mm256_loadu_ps(frames[f] + i);
        transpose8(r);
        for (int32_t k = 0; k < 8; ++k) placeSample(batch, i + k, r[k]);
    }
    for (; i < length; ++i)
        placeSample(batch, i,
                    _mm256_setr_ps(frames[0][i], frames[1][i], frames[2][i], frames[3][i],
                                   frames[4][i], frames[5][i], frames[6][i], frames[7][i]));
    for (int32_t z = 0; z < batch->paddingCount; ++z)
        _mm256_store_ps(batch->real + static_cast<int64_t>(batch->padding[z]) * LANES,
                        _mm256_setzero_ps());
}

// A butterfly whose two imaginary inputs are exact zeros: the terms multiplied by them are left
// out, so tr = c * rq, ti = s * rq, and the imaginary outputs 0 - ti and 0 + ti are -float(ti) and
// float(ti). Leaving out a term that is an exact zero can change only the sign of a zero result,
// and no sign of zero reaches the features: zeros add, multiply and round to zeros whatever
// their signs, and the magnitude squares both parts.
__attribute__((target("avx512f,avx2"))) inline void realPairButterfly(float* rjp, float* ijp,
                                                                      float* rqp, float* iqp,
                                                                      __m512d c, __m512d s) {
    __m512d rj = load8(rjp), rq = load8(rqp);
    __m512d tr = _mm512_mul_pd(c, rq);
    __m256 ti = _mm512_maskz_cvtpd_ps(0xFF, _mm512_mul_pd(s, rq));
    store8(rqp, _mm512_sub_pd(rj, tr));
    _mm256_store_ps(iqp, _mm256_xor_ps(ti, _mm256_set1_ps(-0.0f)));
    store8(rjp, _mm512_add_pd(rj, tr));
    _mm256_store_ps(ijp, ti);
}

__attribute__((target("avx512f"))) inline void butterfly(float* rjp, float* ijp, float* rqp,
                                                         float* iqp, __m512d c, __m512d s) {
    __m512d rj = load8(rjp), rq = load8(rqp), ij = load8(ijp), iq = load8(iqp);
    __m512d tr = _mm512_sub_pd(_mm512_mul_pd(c, rq), _mm512_mul_pd(s, iq));
    __m512d ti = _mm512_add_pd(_mm512_mul_pd(c, iq), _mm512_mul_pd(s, rq));
    store8(rqp, _mm512_sub_pd(rj, tr));
    store8(iqp, _mm512_sub_pd(ij, ti));
    store8(rjp, _mm512_add_pd(rj, tr));
    store8(ijp, _mm512_add_pd(ij, ti));
}

// A stage before the last one: realPair[m] marks the butterflies whose imaginary inputs are
// exact zeros in every block (see makeFrameBatch).
__attribute__((target("avx512f,avx2"))) void middleStage(float* re, float* im, uint32_t n,
                                                         uint32_t half, const double* cs,
                                                         const double* ss,
                                                         const uint8_t* realPair) {
    for (uint32_t b = 0; b < n; b += 2 * half) {
        for (uint32_t m = 0; m < half; ++m) {
            const __m512d c = _mm512_set1_pd(cs[m]), s = _mm512_set1_pd(ss[m]);
            float* rjp = re + static_cast<size_t>(b + m) * LANES;
            float* ijp = im + static_cast<size_t>(b + m) * LANES;
            float* rqp = rjp + static_cast<size_t>(half) * LANES;
            float* iqp = ijp + static_cast<size_t>(half) * LANES;
            if (realPair[m])
                realPairButterfly(rjp, ijp, rqp, iqp, c, s);
            else
                butterfly(rjp, ijp, rqp, iqp, c, s);
        }
    }
}

// The last stage when its upper points are kept too, or when it is the first stage to see the
// signal (transforms of two or four points): the butterflies of bins 0..count - 1, upper points
// included.
__attribute__((target("avx512f,avx2"))) void lastStage(float* re, float* im, uint32_t half,
                                                       const double* cs, const double* ss,
                                                       bool imagZero, uint32_t count) {
    for (uint32_t m = 0; m < count; ++m) {
        const __m512d c = _mm512_set1_pd(cs[m]), s = _mm512_set1_pd(ss[m]);
        float* rjp = re + static_cast<size_t>(m) * LANES;
        float* ijp = im + static_cast<size_t>(m) * LANES;
        float* rqp = rjp + static_cast<size_t>(half) * LANES;
        float* iqp = ijp + static_cast<size_t>(half) * LANES;
        if (imagZero)
            realPairButterfly(rjp, ijp, rqp, iqp, c, s);
        else
            butterfly(rjp, ijp, rqp, iqp, c, s);
    }
}

// The first stage when its twiddle is exactly (1, +0) and the imaginary input is +0: then
// tr = 1 * rq - (+0) * (+0) = rq and ti = 1 * (+0) + (+0) * rq = +0 for every rq, so the real
// parts become float(rj + rq), float(rj - rq) and every imaginary part stays +0 (not stored; the
// next stage reads it as zeros).
__attribute__((target("avx512f"))) void firstStageOfUnitTwiddle(float* re, uint32_t n) {
    for (uint32_t b = 0; b < n; b += 2) {
        float* rjp = re + static_cast<size_t>(b) * LANES;
        __m512d rj = load8(rjp), rq = load8(rjp + LANES);
        store8(rjp + LANES, _mm512_sub_pd(rj, rq));
        store8(rjp, _mm512_add_pd(rj, rq));
    }
}

bool isUnitTwiddle(double c, double s) {
    return c == 1.0 && s == 0.0 && !std::signbit(s);
}

// |re + i (im + 2^-23)| of the kept bins, as magnitudeSpectrum, written over the real parts.
__attribute__((target("avx512f"))) void magnitudes(FrameBatch* batch) {
    const __m512d epsilon = _mm512_set1_pd(FLOAT_EPSILON);
    for (int32_t k = 0; k < batch->keptBins; ++k) {
        float* re = batch->real + static_cast<int64_t>(k) * LANES;
        __m512d r = load8(re);
        __m512d i = toFloat(_mm512_add_pd(load8(batch->imag + static_cast<int64_t>(k) * LANES),
                                          epsilon));
        __m512d sum = _mm512_add_pd(_mm512_mul_pd(r, r), _mm512_mul_pd(i, i));
        store8(re, _mm512_sqrt_pd(sum));
    }
}

// The last stage when only its lower points are kept, each bin's magnitude taken as soon as its
// float parts exist (as magnitudes does): the square roots, which have a unit of their own, then
// overlap the butterflies instead of running alone afterwards.
__attribute__((target("avx512f"))) void lastStageWithMagnitudes(float* re, float* im, uint32_t half,
                                                               const double* cs,
                                                               const double* ss, uint32_t kept) {
    const __m512d epsilon = _mm512_set1_pd(FLOAT_EPSILON);
    for (uint32_t m = 0; m < kept; ++m) {
        const __m512d c = _mm512_set1_pd(cs[m]), s = _mm512_set1_pd(ss[m]);
        float* rjp = re + static_cast<size_t>(m) * LANES;
        float* ijp = im + static_cast<size_t>(m) * LANES;
        float* rqp = rjp + static_cast<size_t>(half) * LANES;
        float* iqp = ijp + static_cast<size_t>(half) * LANES;
        __m512d rq = load8(rqp), iq = load8(iqp);
        __m512d tr = _mm512_sub_pd(_mm512_mul_pd(c, rq), _mm512_mul_pd(s, iq));
        __m512d ti = _mm512_add_pd(_mm512_mul_pd(c, iq), _mm512_mul_pd(s, rq));
        __m512d r = toFloat(_mm512_add_pd(load8(rjp), tr));
        __m512d i = toFloat(_mm512_add_pd(toFloat(_mm512_add_pd(load8(ijp), ti)), epsilon));
        store8(rjp, _mm512_sqrt_pd(_mm512_add_pd(_mm512_mul_pd(r, r), _mm512_mul_pd(i, i))));
    }
}

// The transform and the magnitudes of the kept bins, written over the real parts.
__attribute__((target("avx512f"))) void spectrum(FrameBatch* batch, const FftPlan* plan) {
    const uint32_t n = plan->pointCount;
    const uint32_t kept = static_cast<uint32_t>(batch->keptBins);
    uint32_t half = 1;
    bool imagZero = true;  // the imaginary input of the first stage
    if (n >= 4 && isUnitTwiddle(plan->cosines[0], plan->sines[0])) {
        firstStageOfUnitTwiddle(batch->real, n);
        half = 2;
    }
    for (; half < n; half *= 2) {
        const bool last = 2 * half == n;
        if (last && !imagZero && kept <= n / 2) {
            lastStageWithMagnitudes(batch->real, batch->imag, half, plan->cosines + half - 1,
                                    plan->sines + half - 1, kept);
            return;
        }
        if (!last) {
            middleStage(batch->real, batch->imag, n, half, plan->cosines + half - 1,
                        plan->sines + half - 1, batch->realPairs + half - 1);
            imagZero = false;
            continue;
        }
        lastStage(batch->real, batch->imag, half, plan->cosines + half - 1,
                  plan->sines + half - 1, imagZero, kept < half ? kept : half);
    }
    magnitudes(batch);
}

// filterOutput of every filter for the eight frames, then the log energies. Up to eight filters'
// float running sums advance together, each adding its own terms in its own order.
__attribute__((target("avx512f"))) void filterEnergies(FrameBatch* batch, int32_t filterCount,
                                                      int32_t filterDomain) {
    const float* spectrum = batch->real;
    for (int32_t first = 0; first < filterCount; first += FILTERS_TOGETHER) {
        int32_t count = filterCount - first;
        if (count > FILTERS_TOGETHER) count = FILTERS_TOGETHER;
        __m512d sums[FILTERS_TOGETHER];
        int32_t firstBins[FILTERS_TOGETHER], lengths[FILTERS_TOGETHER];
        const double* weights[FILTERS_TOGETHER];
        int32_t longest = 0;
        for (int32_t g = 0; g < FILTERS_TOGETHER; ++g) {
            sums[g] = _mm512_setzero_pd();
            lengths[g] = 0;
            firstBins[g] = 0;
            weights[g] = nullptr;
            if (g >= count) continue;
            firstBins[g] = batch->filterFirstBin[first + g];
            weights[g] = batch->filterWeights + batch->filterWeightStart[first + g];
            lengths[g] =
                batch->filterWeightStart[first + g + 1] - batch->filterWeightStart[first + g];
            if (lengths[g] > longest) longest = lengths[g];
        }
        for (int32_t k = 0; k < longest; ++k)
            for (int32_t g = 0; g < FILTERS_TOGETHER; ++g)
                if (k < lengths[g]) {
                    __m512d term = _mm512_mul_pd(
                        load8(spectrum + static_cast<int64_t>(firstBins[g] + k) * LANES),
                        _mm512_set1_pd(weights[g][k]));
                    sums[g] = toFloat(_mm512_add_pd(sums[g], term));
                }
        for (int32_t g = 0; g < count; ++g) {
            alignas(64) double outputs[LANES];
            _mm512_store_pd(outputs, _mm512_div_pd(sums[g], _mm512_set1_pd(lengths[g])));
            if (filterDomain != 1)
                for (int32_t f = 0; f < LANES; ++f) outputs[f] = squareByPow(outputs[f]);
            floatLog10x8(outputs, batch->energies + static_cast<int64_t>(first + g) * LANES);
        }
    }
}

// cosineTransform and applyLifter for the eight frames, then the rows written out frame by frame.
__attribute__((target("avx512f"))) void cepstrum(FrameBatch* batch, const BatchSettings* settings,
                                                int32_t filterCount, float* rows) {
    const int32_t columns = settings->cepstralCount + 1;
    float* acc = batch->coefficients;
    for (int32_t i = 0; i < columns; ++i) _mm256_store_ps(acc + i * LANES, _mm256_setzero_ps());
    for (int32_t j = 1; j <= filterCount; ++j) {
        const __m512d energy = load8(batch->energies + static_cast<int64_t>(j - 1) * LANES);
        const double* cosines = settings->cosines + (j - 1);
        for (int32_t i = 0; i < columns; ++i) {
            __m512d term = _mm512_mul_pd(_mm512_set1_pd(cosines[i * filterCount]), energy);
            store8(acc + i * LANES, _mm512_add_pd(load8(acc + i * LANES), term));
        }
    }
    if (settings->lifterType != 1)
        for (int32_t i = 1; i < columns; ++i)
            store8(acc + i * LANES,
                   _mm512_mul_pd(load8(acc + i * LANES),
                                 _mm512_set1_pd(static_cast<double>(settings->lifter[i - 1]))));
    for (int32_t f = 0; f < LANES; ++f)
        for (int32_t i = 0; i < columns; ++i) rows[f * columns + i] = acc[i * LANES + f];
}

// Rows of eight floats, 64-byte aligned, carved from one block.
float* carve(char** cursor, int64_t rows) {
    float* rowsStart = reinterpret_cast<float*>(*cursor);
    *cursor += (rows > 0 ? rows : 1) * LANES * sizeof(float);
    return rowsStart;
}

// Which butterflies of each stage find both imaginary inputs exact zeros: at first every
// imaginary part is zero (the input is real); a butterfly with both zero gives ti = s * rq, so its
// outputs stay zero only when its sine is exactly zero. The same in every block, since every block
// of a stage uses the same twiddles. Entry half - 1 + m for butterfly m of the stage with that
// half-block. Returns false when memory runs out.
bool markRealPairs(uint8_t* realPair, const FftPlan* plan) {
    const uint32_t n = plan->pointCount;
    uint8_t* zero = static_cast<uint8_t*>(malloc(n));
    if (!zero) return false;
    memset(zero, 1, n);
    for (uint32_t half = 1; half < n; half *= 2) {
        for (uint32_t m = 0; m < half; ++m) {
            bool both = true;
            for (uint32_t b = 0; b < n; b += 2 * half)
                both = both && zero[b + m] && zero[b + m + half];
            realPair[half - 1 + m] = both;
        }
        for (uint32_t b = 0; b < n; b += 2 * half)
            for (uint32_t m = 0; m < half; ++m) {
                const uint8_t stays = realPair[half - 1 + m] && plan->sines[half - 1 + m] == 0.0;
                zero[b + m] = stays;
                zero[b + m + half] = stays;
            }
    }
    free(zero);
    return true;
}

// The window and the filter weights as the doubles every product widens them to, so that the
// loops broadcast them straight from memory.
bool makeWeightTables(FrameBatch* batch, const float* window, const MelFilterbank* bank) {
    int64_t weightCount = 0;
    for (int32_t j = 1; j <= bank->filterCount; ++j)
        weightCount += filterAt(bank, j)->lastBin - filterAt(bank, j)->firstBin + 1;
    const int32_t filters = bank->filterCount;
    const size_t doubles = static_cast<size_t>(batch->placedSamples + weightCount);
    batch->tables = malloc(doubles * sizeof(double) +
                           static_cast<size_t>(2 * filters + 1) * sizeof(int32_t));
    if (!batch->tables) return false;
    batch->windowWeights = static_cast<double*>(batch->tables);
    batch->filterWeights = batch->windowWeights + batch->placedSamples;
    batch->filterWeightStart = reinterpret_cast<int32_t*>(batch->filterWeights + weightCount);
    batch->filterFirstBin = batch->filterWeightStart + filters + 1;
    for (int32_t i = 0; i < batch->placedSamples; ++i)
        batch->windowWeights[i] = static_cast<double>(window[i]);
    int32_t at = 0;
    for (int32_t j = 1; j <= filters; ++j) {
        const MelFilter* filter = filterAt(bank, j);
        batch->filterFirstBin[j - 1] = filter->firstBin;
        batch->filterWeightStart[j - 1] = at;
        for (int32_t k = 0; k <= filter->lastBin - filter->firstBin; ++k)
            batch->filterWeights[at++] = static_cast<double>(filter->weights[k]);
    }
    batch->filterWeightStart[filters] = at;
    return true;
}

}  // namespace

bool frameBatchAvailable(const FftPlan* plan) {
    return plan->vectorLevel >= 2 && plan->pointCount >= 2;
}

int makeFrameBatch(FrameBatch* batch, const FftPlan* plan, int32_t keptBins, int32_t frameLength,
                   int32_t frameOffset, const float* window, const MelFilterbank* bank,
                   int32_t cepstralCount) {
    *batch = FrameBatch{};
    const int32_t filterCount = bank->filterCount;
    const int64_t n = plan->pointCount;
    const int64_t floatRows = 2 * n + filterCount + cepstralCount + 1 + 4;
    const size_t bytes = static_cast<size_t>(floatRows * LANES * sizeof(float) +
                                             2 * n * sizeof(int32_t) + n + 64);
    batch->block = malloc(bytes);
    if (!batch->block) return 1;
    char* cursor = static_cast<char*>(batch->block);
    cursor += (64 - reinterpret_cast<uintptr_t>(cursor) % 64) % 64;
    batch->pointCount = static_cast<int32_t>(n);
    batch->keptBins = keptBins;
    batch->real = carve(&cursor, n);
    batch->imag = carve(&cursor, n);
    batch->energies = carve(&cursor, filterCount);
    batch->coefficients = carve(&cursor, cepstralCount + 1);
    batch->positionOf = reinterpret_cast<int32_t*>(cursor);
    batch->padding = batch->positionOf + n;
    batch->realPairs = reinterpret_cast<uint8_t*>(batch->padding + n);
    if (!markRealPairs(batch->realPairs, plan)) {
        releaseFrameBatch(batch);
        return 1;
    }
    batch->placedSamples = 0;
    batch->paddingCount = 0;
    // Position p takes input bitReversed[p], which is frame sample bitReversed[p] - frameOffset.
    for (int64_t p = 0; p < n; ++p) {
        int64_t i = static_cast<int64_t>(plan->bitReversed[p]) - frameOffset;
        if (i >= 0 && i < frameLength) {
            batch->positionOf[i] = static_cast<int32_t>(p);
            if (i + 1 > batch->placedSamples) batch->placedSamples = static_cast<int32_t>(i + 1);
        } else {
            batch->padding[batch->paddingCount++] = static_cast<int32_t>(p);
        }
    }
    if (!makeWeightTables(batch, window, bank)) {
        releaseFrameBatch(batch);
        return 1;
    }
    return 0;
}

void releaseFrameBatch(FrameBatch* batch) {
    free(batch->block);
    free(batch->tables);
    *batch = FrameBatch{};
}

void analyseFrameBatch(FrameBatch* batch, const FftPlan* plan, const BatchSettings* settings,
                       const float* signal, int32_t firstStart, int32_t shift, float* rows) {
    placeFrames(batch, signal, firstStart, shift);
    spectrum(batch, plan);
    filterEnergies(batch, settings->bank->filterCount, settings->filterDomain);
    cepstrum(batch, settings, settings->bank->filterCount, rows);
}
