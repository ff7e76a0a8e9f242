#pragma once
#include <cstdint>

// Frame layout in samples. frameLength is set by prepareSignal, the rest by analyseFrames.
struct FrameGeometry {
    int32_t fftLength;
    int32_t shiftSamples;
    int32_t frameStart;   // after the loop: the start of the first frame not analysed
    int32_t frameLength;
};
