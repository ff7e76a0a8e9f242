#include "dsp/fft.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dsp/fft_lanes.h"
#include "dsp/fftmisc.h"
#include "dsp/numbers.h"

namespace {

// The twiddles of one block, one butterfly after another, by the recurrence from the values for
// m = -2 and m = -1.
struct TwiddleRecurrence {
    double olderCos, newerCos, olderSin, newerSin, k;
    TwiddleRecurrence(double angleNumerator, uint32_t blockSize) {
        double delta = angleNumerator / blockSize;
        olderSin = std::sin(-2.0 * delta);
        newerSin = std::sin(-delta);
        olderCos = std::cos(-2.0 * delta);
        newerCos = std::cos(-delta);
        k = 2.0 * newerCos;
    }
    void next(double* c, double* s) {
        *c = k * newerCos - olderCos;
        olderCos = newerCos;
        newerCos = *c;
        *s = k * newerSin - olderSin;
        olderSin = newerSin;
        newerSin = *s;
    }
};

}  // namespace

void fft_float(uint32_t pointCount, int inverse, const float* realIn, const float* imagIn,
               float* realOut, float* imagOut) {
    double angleNumerator = inverse ? -TWO_PI : TWO_PI;
    RequireFftBuffer(realIn, "RealIn");
    RequireFftBuffer(realOut, "RealOut");
    RequireFftBuffer(imagOut, "ImagOut");
    int bits = NumberOfBitsNeeded(pointCount);
    if (!IsValidFftLength(pointCount)) {
        // The last stage's blocks would reach past the arrays.
        fprintf(stderr, "Error in fft_float():  PointCount %u is not a power of two\n", pointCount);
        exit(1);
    }
    // The input copied into the outputs in bit-reversed order, so the butterflies work in place.
    for (uint32_t i = 0; i < pointCount; ++i) {
        const uint32_t j = BitReversedIndex(i, static_cast<uint32_t>(bits));
        realOut[j] = realIn[i];
        imagOut[j] = imagIn ? imagIn[i] : 0.0f;
    }
    // 64-bit block size: doubling past 2^31 must end the loop, not wrap to 0.
    for (uint64_t blockSize = 2; blockSize <= pointCount; blockSize *= 2) {
        const uint32_t half = static_cast<uint32_t>(blockSize / 2);
        for (uint32_t b = 0; b < pointCount; b += 2 * half) {
            TwiddleRecurrence twiddle(angleNumerator, 2 * half);
            for (uint32_t j = b; j < b + half; ++j) {
                double c, s;
                twiddle.next(&c, &s);
                butterfly<Lanes<1>>(realOut + j, imagOut + j, realOut + j + half,
                                    imagOut + j + half, c, s);
            }
        }
    }
    if (inverse) {
        double n = pointCount;
        for (uint32_t i = 0; i < pointCount; ++i) {
            realOut[i] = static_cast<float>(realOut[i] / n);
            imagOut[i] = static_cast<float>(imagOut[i] / n);
        }
    }
}

int fillFftTables(FftTables* t) {
    const uint32_t n = t->pointCount;
    // zero[p]: the imaginary part at point p is still an exact zero (the input is real). A
    // butterfly with both zero gives ti = s * rq, so its outputs stay zero only when s is 0.
    uint8_t* zero = static_cast<uint8_t*>(malloc(n));
    if (!zero) return 1;
    memset(zero, 1, n);
    for (uint32_t half = 1; half < n; half *= 2) {
        TwiddleRecurrence twiddle(TWO_PI, 2 * half);
        for (uint32_t m = 0; m < half; ++m) {
            twiddle.next(&t->cosines[half - 1 + m], &t->sines[half - 1 + m]);
            bool both = true;
            for (uint32_t b = 0; b < n; b += 2 * half) both = both && zero[b + m] && zero[b + m + half];
            t->realPairs[half - 1 + m] = both;
        }
        for (uint32_t b = 0; b < n; b += 2 * half)
            for (uint32_t m = 0; m < half; ++m)
                zero[b + m] = zero[b + m + half] =
                    t->realPairs[half - 1 + m] && t->sines[half - 1 + m] == 0.0;
    }
    free(zero);
    return 0;
}
