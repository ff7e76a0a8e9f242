#include "dsp/fft.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "dsp/fftmisc.h"

namespace {

constexpr double TWO_PI = 6.283185307179586;

// Copies the input into the outputs in bit-reversed order, so the butterflies can work in place.
void reorder(uint32_t pointCount, int bits, const float* realIn, const float* imagIn,
             float* realOut, float* imagOut) {
    for (uint32_t i = 0; i < pointCount; ++i) {
        uint32_t j = BitReversedIndex(i, static_cast<uint32_t>(bits));
        realOut[j] = realIn[i];
        imagOut[j] = imagIn ? imagIn[i] : 0.0f;
    }
}

// One stage of blocks of blockSize points. Every block restarts the twiddle recurrence from the
// same seeds (the values for m = -2 and m = -1), so all blocks of a stage use identical twiddles.
void butterflyStage(uint32_t pointCount, uint32_t blockSize, double angleNumerator,
                    float* realOut, float* imagOut) {
    uint32_t half = blockSize / 2;
    double delta = angleNumerator / blockSize;
    double sin2 = std::sin(-2.0 * delta);
    double sin1 = std::sin(-delta);
    double cos2 = std::cos(-2.0 * delta);
    double cos1 = std::cos(-delta);
    double k = 2.0 * cos1;
    for (uint32_t b = 0; b < pointCount; b += blockSize) {
        double olderCos = cos2, newerCos = cos1;
        double olderSin = sin2, newerSin = sin1;
        for (uint32_t m = 0; m < half; ++m) {
            uint32_t j = b + m;
            uint32_t q = j + half;
            double c = k * newerCos - olderCos;
            olderCos = newerCos;
            newerCos = c;
            double s = k * newerSin - olderSin;
            olderSin = newerSin;
            newerSin = s;
            double tr = c * realOut[q] - s * imagOut[q];
            double ti = c * imagOut[q] + s * realOut[q];
            realOut[q] = static_cast<float>(realOut[j] - tr);
            imagOut[q] = static_cast<float>(imagOut[j] - ti);
            realOut[j] = static_cast<float>(realOut[j] + tr);
            imagOut[j] = static_cast<float>(imagOut[j] + ti);
        }
    }
}

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
    reorder(pointCount, bits, realIn, imagIn, realOut, imagOut);
    // 64-bit block size: doubling past 2^31 must end the loop, not wrap to 0.
    for (uint64_t blockSize = 2; blockSize <= pointCount; blockSize *= 2)
        butterflyStage(pointCount, static_cast<uint32_t>(blockSize), angleNumerator, realOut,
                       imagOut);
    if (inverse) {
        double n = pointCount;
        for (uint32_t i = 0; i < pointCount; ++i) {
            realOut[i] = static_cast<float>(realOut[i] / n);
            imagOut[i] = static_cast<float>(imagOut[i] / n);
        }
    }
}
