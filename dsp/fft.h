#pragma once
#include <cstdint>

// Complex radix-2 decimation-in-time FFT over floats. The forward transform (inverse == 0) uses the
// positive exponent and is not scaled; the inverse divides by N. imagIn may be null (all zeros).
// The outputs must be other arrays than the inputs. Argument errors end the process with status 1.
void fft_float(uint32_t pointCount, int inverse, const float* realIn, const float* imagIn,
               float* realOut, float* imagOut);

// What the forward transform of real frames keeps from one frame to the next. fft_float restarts
// the twiddle recurrence from the same seeds in every block of a stage, so one table per stage,
// filled by that very recurrence, holds its doubles: the stage with half-block h at [h - 1, 2h - 1).
// realPairs marks the butterflies whose imaginary inputs are exact zeros in every block.
struct FftTables {
    uint32_t pointCount;  // a power of two, at least 2
    uint32_t keptBins;    // the bins whose magnitudes are wanted
    double* cosines;      // pointCount - 1 entries each
    double* sines;
    uint8_t* realPairs;
};

// Fills the three tables of t (arrays of the caller). Returns 1 when memory runs out, else 0.
int fillFftTables(FftTables* t);
