#include "mfcc/packed_filterbank.h"

// This compiler's AVX-512 headers start several intrinsics from an undefined vector, which draws
// spurious uninitialised-use warnings once they are inlined here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cstdlib>

#include "dsp/fft_plan.h"

namespace {

constexpr int32_t LANES = 8;

int packGroup(PackedFilterGroup* group, const MelFilterbank* bank, int32_t first) {
    int32_t count = bank->filterCount - first + 1;
    group->filterCount = count < LANES ? count : LANES;
    group->steps = 0;
    for (int32_t g = 0; g < LANES; ++g) {
        group->lengths[g] = 0;
        if (g >= group->filterCount) continue;
        const MelFilter* filter = filterAt(bank, first + g);
        int32_t length = filter->lastBin - filter->firstBin + 1;
        group->lengths[g] = length > 0 ? length : 0;
        if (length > group->steps) group->steps = length;
    }
    size_t cells = static_cast<size_t>(group->steps > 0 ? group->steps : 1) * LANES;
    group->bins = static_cast<int32_t*>(malloc(cells * sizeof(int32_t)));
    group->weights = static_cast<double*>(malloc(cells * sizeof(double)));
    if (!group->bins || !group->weights) return 1;
    for (int32_t k = 0; k < group->steps; ++k) {
        for (int32_t g = 0; g < LANES; ++g) {
            int32_t cell = k * LANES + g;
            group->bins[cell] = 0;
            group->weights[cell] = 0.0;
            if (g >= group->filterCount) continue;
            const MelFilter* filter = filterAt(bank, first + g);
            if (k < group->lengths[g]) {
                group->bins[cell] = filter->firstBin + k;
                group->weights[cell] = filter->weights[k];
            } else {
                group->bins[cell] = filter->firstBin;  // read but not added
            }
        }
    }
    return 0;
}

constexpr int32_t BATCH = 4;  // groups whose sums advance in the same loop, to overlap their latency

// (Loaded one by one: a gather instruction is slower here than eight plain loads.)
// Step k of one group: lanes whose filter still has a step k add its term, the others keep their
// sums untouched. The sums are always float values: every add is rounded to float.
__attribute__((target("avx512f,avx2"))) inline __m512d groupStep(const PackedFilterGroup* group,
                                                                  const float* spectrum,
                                                                  int32_t k, __m512d sums) {
    const __m256i lengths = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(group->lengths));
    const int32_t* bins = group->bins + k * LANES;
    __m256 values = _mm256_setr_ps(spectrum[bins[0]], spectrum[bins[1]], spectrum[bins[2]],
                                   spectrum[bins[3]], spectrum[bins[4]], spectrum[bins[5]],
                                   spectrum[bins[6]], spectrum[bins[7]]);
    __m512d terms = _mm512_mul_pd(_mm512_maskz_cvtps_pd(0xFF, values),
                                  _mm512_loadu_pd(group->weights + k * LANES));
    __mmask8 active = static_cast<__mmask8>(_mm256_movemask_ps(
        _mm256_castsi256_ps(_mm256_cmpgt_epi32(lengths, _mm256_set1_epi32(k)))));
    __m512d added = _mm512_mask_add_pd(sums, active, sums, terms);
    return _mm512_maskz_cvtps_pd(0xFF, _mm512_maskz_cvtpd_ps(0xFF, added));
}

// Up to BATCH groups side by side; the sums land in outputs[0 ..] in filter order.
__attribute__((target("avx512f,avx2"))) void batchOutputsAvx512(const PackedFilterGroup* groups,
                                                                 int32_t count,
                                                                 const float* spectrum,
                                                                 double* outputs) {
    __m512d sums[BATCH];
    int32_t steps = 0;
    for (int32_t i = 0; i < BATCH; ++i) {
        sums[i] = _mm512_setzero_pd();
        if (i < count && groups[i].steps > steps) steps = groups[i].steps;
    }
    for (int32_t k = 0; k < steps; ++k)
        for (int32_t i = 0; i < BATCH; ++i)
            if (i < count && k < groups[i].steps) sums[i] = groupStep(&groups[i], spectrum, k, sums[i]);
    for (int32_t i = 0; i < count; ++i) {
        alignas(64) double lanes[LANES];
        _mm512_store_pd(lanes, sums[i]);
        for (int32_t g = 0; g < groups[i].filterCount; ++g) outputs[i * LANES + g] = lanes[g];
    }
}

}  // namespace

int packFilterbank(PackedFilterbank* packed, const MelFilterbank* bank) {
    packed->filterCount = bank->filterCount;
    packed->groupCount = (bank->filterCount + LANES - 1) / LANES;
    packed->vectorLevel = fftVectorLevel();
    packed->groups = static_cast<PackedFilterGroup*>(
        calloc(packed->groupCount > 0 ? packed->groupCount : 1, sizeof(PackedFilterGroup)));
    if (!packed->groups) return 1;
    for (int32_t i = 0; i < packed->groupCount; ++i) {
        if (packGroup(&packed->groups[i], bank, 1 + i * LANES)) {
            releasePackedFilterbank(packed);
            return 1;
        }
    }
    return 0;
}

void releasePackedFilterbank(PackedFilterbank* packed) {
    if (packed->groups) {
        for (int32_t i = 0; i < packed->groupCount; ++i) {
            free(packed->groups[i].bins);
            free(packed->groups[i].weights);
        }
        free(packed->groups);
    }
    packed->groups = nullptr;
    packed->groupCount = 0;
}

void packedFilterOutputs(const PackedFilterbank* packed, const MelFilterbank* bank,
                         const float* spectrum, double* outputs) {
    if (packed->vectorLevel < 2) {
        for (int32_t first = 1; first <= bank->filterCount; first += FILTER_GROUP)
            filterGroupOutputs(bank, first, spectrum, outputs + first - 1);
        return;
    }
    for (int32_t i = 0; i < packed->groupCount; i += BATCH) {
        int32_t count = packed->groupCount - i < BATCH ? packed->groupCount - i : BATCH;
        batchOutputsAvx512(packed->groups + i, count, spectrum, outputs + i * LANES);
    }
    // The float sum divided by the bin count, as filterOutput does.
    for (int32_t j = 1; j <= bank->filterCount; ++j) {
        const MelFilter* filter = filterAt(bank, j);
        outputs[j - 1] /= (filter->lastBin - filter->firstBin + 1);
    }
}
