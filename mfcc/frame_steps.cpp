#include "mfcc/frame_steps.h"

#include <cmath>

#include "dsp/numbers.h"

namespace {

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

void makeCosineTable(double* table, int32_t cepstralCount, int32_t filterCount) {
    for (int32_t i = 0; i <= cepstralCount; ++i)
        for (int32_t j = 1; j <= filterCount; ++j) {
            double angle = (i * (j - 0.5)) * (PI / filterCount);
            table[i * filterCount + j - 1] = cos(angle);
        }
}
