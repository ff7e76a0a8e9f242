#pragma once

// float(log10(x[i])) for eight doubles, with log10 the C library's, bit for bit. A short series
// gives log10 to about 2^-46 of its size; when every value within 2^-40 of it rounds to the same
// float, so does the library's result, which lies far closer. Only the rare lanes next to a
// rounding boundary, and zero, tiny, huge, negative, infinite or NaN inputs, call the library.
// Needs AVX-512F; the caller checks.
void floatLog10x8(const double* x, float* out);

// The series alone: writes its float for every lane and returns the mask of the lanes (bit i for
// lane i) whose float is certain; the others are left for the library.
unsigned floatLog10x8Settled(const double* x, float* out);
