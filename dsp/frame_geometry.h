#pragma once
#include <cstdint>

// Frame layout in samples: the conditioning sets the frame length, the frame analysis the rest
// (mfcc/frame_geometry.h computes every field in one place for the library's runs).
struct FrameGeometry {
    int32_t fftLength;
    int32_t shiftSamples;
    int32_t frameStart;   // after the loop: the start of the first frame not analysed
    int32_t frameLength;
};
