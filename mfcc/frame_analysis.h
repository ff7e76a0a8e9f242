#pragma once
#include <cstdint>
#include "main/analysis_settings.h"
#include "mfcc/frame_geometry.h"
#include "wave/wave_loader.h"

// One row of columnCount (= cepstralCount + 1) floats per frame: c0, c1..cM, stored row after row.
struct FeatureMatrix {
    int32_t rowCount;
    int32_t columnCount;
    float* values;   // rowCount * columnCount floats, zero-filled; null when rowCount is 0
};

inline float* matrixRow(const FeatureMatrix& m, int32_t row) {
    return m.values + static_cast<int64_t>(row) * m.columnCount;
}

void releaseFeatureMatrix(FeatureMatrix* m);

// The frame loop: fixes the FFT length and shift, settles the filter count (written back into
// settings->melFilterCount), and fills one matrix row per analysed frame. Returns 0 on success;
// on failure (a shift below one sample, memory exhausted) prints a message on standard error and
// returns 1 with nothing allocated.
int analyseFrames(const float* signal, const float* window, AnalysisSettings* settings,
                  const SignalInfo* info, FrameGeometry* geometry, FeatureMatrix* matrix,
                  int32_t* frameCount);

// Frames start every shift samples and are analysed while at least one sample follows them.
int32_t framesToAnalyse(int32_t samplesRead, int32_t frameLength, int32_t shiftSamples);
// The matrix rows of a signal: samplesRead / shift as a real quotient, truncated, or one per
// frame when a shift longer than the window fits one frame more.
int32_t featureRowsFor(int32_t samplesRead, int32_t frameLength, int32_t shiftSamples);

// Prints the analysis' out-of-memory message on standard error; returns 1.
int reportAnalysisOutOfMemory();
