#pragma once
#include <cstdint>

// The widest vector level: the most frames a batch analyses side by side.
constexpr int32_t MAX_LANES = 8;

// The vector level of the analysis, as a lane width: frames analysed side by side.
// 8 with AVX-512, 4 with AVX2, 2 with Arm NEON or plain x86-64 (SSE2), 1 elsewhere.
int32_t processorLanes();

// The lane width to analyse with when `wanted` lanes are asked for: the widest this processor
// runs that is not above it, and 1 at least. Tests and benchmarks choose a vector level with it.
int32_t usableLanes(int32_t wanted);
