#pragma once
#include <cstdint>

// Index bits of a transform length (trailing zero bits); below 2 ends the process with status 1.
int NumberOfBitsNeeded(uint32_t pointCount);
uint32_t BitReversedIndex(uint32_t index, uint32_t bitCount);
// Ends the process with status 1 when pointer is null.
void RequireFftBuffer(const void* pointer, const char* name);
int IsValidFftLength(uint32_t x);
double BinFraction(uint32_t pointCount, uint32_t index);
