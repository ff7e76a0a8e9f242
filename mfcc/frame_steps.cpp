#include "mfcc/frame_steps.h"

#include <immintrin.h>

#include <cmath>

#include "dsp/fft_plan.h"

namespace {

constexpr double PI = 3.141592653589793;
constexpr double FLOAT_EPSILON = 1.1920928955078125e-07;  // 2^-23

// Called through a volatile pointer so the compiler cannot fold pow(a, 2) into a * a: the
// library's pow differs from the correctly rounded product for about one input in a thousand.
double (*volatile libraryPow)(double, double) = pow;

}  // namespace

int32_t fftLengthFor(int32_t frameLength, int32_t powerOfTwoBelow) {
    int64_t length = 1;
    while (length < frameLength) length *= 2;
    if (powerOfTwoBelow && frameLength < length) length /= 2;
    // A frame of 0 samples with powerOfTwoBelow would halve 1 to 0.
    return length < 1 ? 1 : static_cast<int32_t>(length);
}

int32_t frameOffset(int32_t frameLength, int32_t fftLength, int32_t powerOfTwoBelow) {
    if (powerOfTwoBelow == 1) return 0;
    return static_cast<int32_t>((fftLength - frameLength) / 2.0);
}

void placeWindowedFrame(const float* signal, int32_t frameStart, int32_t frameLength,
                        int32_t fftLength, float* buffer, const float* window,
                        int32_t powerOfTwoBelow) {
    for (int32_t k = 0; k < fftLength; ++k) buffer[k] = 0.0f;
    float* frame = buffer + frameOffset(frameLength, fftLength, powerOfTwoBelow);
    const float* samples = signal + frameStart;
    for (int32_t i = 0; i < frameLength; ++i)
        frame[i] = static_cast<float>(static_cast<double>(window[i]) * samples[i]);
}

double spectralMagnitude(double re, double im) {
    return sqrt(re * re + im * im);
}

// Four bins at a time, lane by lane the operations of the plain loop (the square root of a
// double is correctly rounded in both forms).
__attribute__((target("avx2"))) static int32_t magnitudeSpectrumAvx2(const float* re,
                                                                     const float* im,
                                                                     int32_t count,
                                                                     float* buffer) {
    const __m256d epsilon = _mm256_set1_pd(FLOAT_EPSILON);
    int32_t k = 0;
    for (; k + 4 <= count; k += 4) {
        __m256d r = _mm256_cvtps_pd(_mm_loadu_ps(re + k));
        __m128 shiftedIm = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(im + k)),
                                                         epsilon));
        __m256d i = _mm256_cvtps_pd(shiftedIm);
        __m256d sum = _mm256_add_pd(_mm256_mul_pd(r, r), _mm256_mul_pd(i, i));
        _mm_storeu_ps(buffer + k, _mm256_cvtpd_ps(_mm256_sqrt_pd(sum)));
    }
    return k;
}

void magnitudeSpectrum(const float* re, const float* im, int32_t fftLength, float* buffer) {
    int32_t k = fftVectorLevel() >= 1 ? magnitudeSpectrumAvx2(re, im, fftLength, buffer) : 0;
    for (; k < fftLength; ++k) {
        float shiftedIm = static_cast<float>(im[k] + FLOAT_EPSILON);
        buffer[k] = static_cast<float>(spectralMagnitude(re[k], shiftedIm));
    }
}

double squareByPow(double a) {
    return libraryPow(a, 2);
}

void makeLifter(float* weights, int32_t lifterType, int32_t cepstralCount) {
    const int32_t L = cepstralCount;
    if (lifterType == 1) return;
    if (lifterType == 2) {
        float halfLength = static_cast<float>(L / 2.0);
        for (int32_t i = 1; i <= L; ++i)
            weights[i - 1] = static_cast<float>(1.0 + halfLength * sin((i * PI) / L));
        return;
    }
    const int32_t halfLength = L / 2;  // the integer half: 6 for 13
    for (int32_t i = 1; i <= L; ++i)
        weights[i - 1] = static_cast<float>(1.0 + halfLength * sin(((i * PI) / L) * 0.5));
}

void applyLifter(float* row, const float* weights, int32_t cepstralCount) {
    for (int32_t i = 1; i <= cepstralCount; ++i)
        row[i] = static_cast<float>(static_cast<double>(row[i]) * weights[i - 1]);
}

void logEnergiesOf(const double* outputs, float* logEnergies, int32_t filterCount,
                   int32_t filterDomain) {
    for (int32_t j = 0; j < filterCount; ++j) {
        double energy = filterDomain == 1 ? outputs[j] : squareByPow(outputs[j]);
        logEnergies[j] = static_cast<float>(log10(energy));
    }
}

void filterLogEnergies(const float* spectrum, float* logEnergies, const MelFilterbank* bank,
                       int32_t filterDomain) {
    double outputs[FILTER_GROUP];
    for (int32_t first = 1; first <= bank->filterCount; first += FILTER_GROUP) {
        int32_t count = filterGroupOutputs(bank, first, spectrum, outputs);
        logEnergiesOf(outputs, logEnergies + first - 1, count, filterDomain);
    }
}

void makeCosineTable(double* table, int32_t cepstralCount, int32_t filterCount) {
    for (int32_t i = 0; i <= cepstralCount; ++i)
        for (int32_t j = 1; j <= filterCount; ++j) {
            double angle = (i * (j - 0.5)) * (PI / filterCount);
            table[i * filterCount + j - 1] = cos(angle);
        }
}

void cosineTransform(float* row, const float* logEnergies, const double* cosineTable,
                     int32_t cepstralCount, int32_t filterCount) {
    // Filter by filter across all coefficients: the coefficients' float sums are independent, so
    // their additions overlap, while each sum still adds its terms in filter order.
    for (int32_t i = 0; i <= cepstralCount; ++i) row[i] = 0.0f;
    for (int32_t j = 1; j <= filterCount; ++j) {
        const double energy = logEnergies[j - 1];
        const double* cosines = cosineTable + (j - 1);
        for (int32_t i = 0; i <= cepstralCount; ++i)
            row[i] = static_cast<float>(row[i] + cosines[i * filterCount] * energy);
    }
}
