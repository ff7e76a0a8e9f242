#include "dsp/fftmisc.h"

#include <cstdio>
#include <cstdlib>

int NumberOfBitsNeeded(uint32_t pointCount) {
    if (pointCount < 2) {
        fprintf(stderr, ">>> Error in fftmisc: argument %d to NumberOfBitsNeeded is too small.\n",
                static_cast<int>(pointCount));
        exit(1);
    }
    int bits = 0;
    while (!(pointCount & (1u << bits))) ++bits;
    return bits;
}

uint32_t BitReversedIndex(uint32_t index, uint32_t bitCount) {
    uint32_t reversed = 0;
    for (uint32_t i = 0; i < bitCount; ++i) {
        reversed = (reversed << 1) | (index & 1);
        index >>= 1;
    }
    return reversed;
}

void RequireFftBuffer(const void* pointer, const char* name) {
    if (!pointer) {
        fprintf(stderr, "Error in fft_float():  %s == NULL\n", name);
        exit(1);
    }
}

int IsValidFftLength(uint32_t x) {
    if (x < 2) return 0;
    return (x & (x - 1)) == 0 ? 1 : 0;
}

double BinFraction(uint32_t pointCount, uint32_t index) {
    if (index >= pointCount) return 0.0;
    if (index <= pointCount / 2) return static_cast<double>(index) / pointCount;
    return -static_cast<double>(pointCount - index) / pointCount;
}
