#pragma once
#include <cstdint>

// What the frame analysis settles before its first frame.

// Smallest power of two not below frameLength, or with powerOfTwoBelow the largest one below it;
// never below 1.
int32_t fftLengthFor(int32_t frameLength, int32_t powerOfTwoBelow);

// Where the windowed frame starts in the transform buffer: centred (an odd difference puts the
// extra zero at the end), or at 0 with powerOfTwoBelow.
int32_t frameOffset(int32_t frameLength, int32_t fftLength, int32_t powerOfTwoBelow);

// a squared by the C library's pow(a, 2), which the compiler must not turn into a * a.
double squareByPow(double a);

// Fills cepstralCount weights (entry i - 1 for coefficient i); lifterType 1 fills nothing.
void makeLifter(float* weights, int32_t lifterType, int32_t cepstralCount);

// cos((i * (j - 0.5)) * (pi / filterCount)) for i = 0..cepstralCount, j = 1..filterCount, at
// [i * filterCount + j - 1]: the cosines of the transform, the same doubles for every frame.
void makeCosineTable(double* table, int32_t cepstralCount, int32_t filterCount);
