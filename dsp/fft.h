#pragma once
#include <cstdint>

// Complex radix-2 decimation-in-time FFT over floats. The forward transform (inverse == 0) uses the
// positive exponent and is not scaled; the inverse divides by N. imagIn may be null (all zeros).
// The outputs must be other arrays than the inputs. Argument errors end the process with status 1.
void fft_float(uint32_t pointCount, int inverse, const float* realIn, const float* imagIn,
               float* realOut, float* imagOut);
