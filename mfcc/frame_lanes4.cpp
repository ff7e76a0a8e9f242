// The batch loop of 4-frame batches, compiled for the vector unit of that width (see CMakeLists.txt).
#include "mfcc/frame_pipeline.h"

int32_t analyseBatchesOf4(FrameAnalyser* analyser, const float* signal, int32_t frameCount,
                          float* rows) {
    return analyseBatches<Lanes<4>>(analyser, signal, frameCount, rows);
}

int32_t analyseFramesAloneOf4(FrameAnalyser* analyser, const float* signal, int32_t frameCount,
                              float* rows) {
    analyseFramesAlone<Lanes<4>>(analyser, signal, frameCount, rows);
    return frameCount;
}
