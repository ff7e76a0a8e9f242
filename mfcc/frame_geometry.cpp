#include "mfcc/frame_geometry.h"

#include "dsp/conditioning.h"
#include "mfcc/frame_steps.h"

FrameGeometry frameGeometryFor(const AnalysisSettings* settings, int32_t sampleRate) {
    FrameGeometry g;
    g.frameLength = msToSamples(settings->windowLengthMs, sampleRate);
    g.fftLength = fftLengthFor(g.frameLength, settings->powerOfTwoBelow);
    g.shiftSamples = msToSamples(settings->windowShiftMs, sampleRate);
    g.frameStart = 0;
    return g;
}

int32_t framesToAnalyse(int32_t samplesRead, const FrameGeometry* g) {
    if (samplesRead <= g->frameLength) return 0;
    return (samplesRead - g->frameLength - 1) / g->shiftSamples + 1;
}

int32_t featureRowsFor(int32_t samplesRead, const FrameGeometry* g) {
    // With a shift longer than the window one frame more than samplesRead / shift can fit.
    int32_t rows = static_cast<int32_t>(static_cast<double>(samplesRead) / g->shiftSamples);
    int32_t frames = framesToAnalyse(samplesRead, g);
    return frames > rows ? frames : rows;
}
