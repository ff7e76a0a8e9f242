#pragma once
#include <cstdint>
#include "mfcc/mel_filterbank.h"

// The per-frame steps of the frame analysis, each over caller-owned arrays (nothing allocates).

// Smallest power of two not below frameLength, or with powerOfTwoBelow the largest one below it;
// never below 1.
int32_t fftLengthFor(int32_t frameLength, int32_t powerOfTwoBelow);

// Where the windowed frame starts in the transform buffer: centred (an odd difference puts the
// extra zero at the end), or at 0 with powerOfTwoBelow.
int32_t frameOffset(int32_t frameLength, int32_t fftLength, int32_t powerOfTwoBelow);

// Zeroes the first fftLength floats of buffer and writes window[i] * signal[frameStart + i] for
// the whole frame from frameOffset on; with powerOfTwoBelow the frame may run past fftLength.
void placeWindowedFrame(const float* signal, int32_t frameStart, int32_t frameLength,
                        int32_t fftLength, float* buffer, const float* window,
                        int32_t powerOfTwoBelow);

double spectralMagnitude(double re, double im);

// buffer[k] = |re[k] + i (im[k] + 2^-23)| for every bin; the epsilon keeps silent bins above 0.
void magnitudeSpectrum(const float* re, const float* im, int32_t fftLength, float* buffer);

// a squared by the C library's pow(a, 2), which the compiler must not turn into a * a.
double squareByPow(double a);

// Fills cepstralCount weights (entry i - 1 for coefficient i); lifterType 1 fills nothing.
void makeLifter(float* weights, int32_t lifterType, int32_t cepstralCount);
// Scales coefficients 1..cepstralCount of row; c0 is never liftered.
void applyLifter(float* row, const float* weights, int32_t cepstralCount);

// Base-10 log of each of filterCount filter outputs, of its magnitude (filterDomain 1) or its power.
void logEnergiesOf(const double* outputs, float* logEnergies, int32_t filterCount,
                   int32_t filterDomain);

// Base-10 log of every filter's output, of its magnitude (filterDomain 1) or its power.
void filterLogEnergies(const float* spectrum, float* logEnergies, const MelFilterbank* bank,
                       int32_t filterDomain);

// cos((i * (j - 0.5)) * (pi / filterCount)) for i = 0..cepstralCount, j = 1..filterCount, at
// [i * filterCount + j - 1]: the cosines of the transform, the same doubles for every frame.
void makeCosineTable(double* table, int32_t cepstralCount, int32_t filterCount);

// Unnormalised cosine transform of the log energies into row[0..cepstralCount], each
// coefficient a float running sum.
void cosineTransform(float* row, const float* logEnergies, const double* cosineTable,
                     int32_t cepstralCount, int32_t filterCount);
