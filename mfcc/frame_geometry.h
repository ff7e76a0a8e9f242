#pragma once
#include <cstdint>
#include "dsp/frame_geometry.h"
#include "main/analysis_settings.h"

// Every field from the settings and the rate, the one place they are computed (frameStart 0).
FrameGeometry frameGeometryFor(const AnalysisSettings* settings, int32_t sampleRate);

// Frames start every shift samples and are analysed while at least one sample follows them.
int32_t framesToAnalyse(int32_t samplesRead, const FrameGeometry* geometry);
// The matrix rows of a signal: samplesRead / shift as a real quotient, truncated, or one per
// frame when a shift longer than the window fits one frame more.
int32_t featureRowsFor(int32_t samplesRead, const FrameGeometry* geometry);
