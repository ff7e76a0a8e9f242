// The plain analysis, one frame at a time: the one-lane instance of the frame pipeline.
#include "mfcc/frame_pipeline.h"

int32_t analyseBatchesOf1(FrameAnalyser* analyser, const float* signal, int32_t frameCount,
                          float* rows) {
    return analyseBatches<Lanes<1>>(analyser, signal, frameCount, rows);
}
