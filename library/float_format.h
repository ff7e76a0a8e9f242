#pragma once
#include <cstddef>

// Writes value exactly as printf("%f", (double)value) does (six decimals, the exact binary value
// rounded half to even; "-0.000000", "inf", "-inf", "nan", "-nan") into out, which must hold 64
// characters, without a terminating NUL. Returns the number of characters written.
size_t formatFixedSix(float value, char* out);
