// The batch loop of 2-frame batches, compiled for the vector unit of that width (see CMakeLists.txt).
#include "mfcc/frame_pipeline.h"

int32_t analyseBatchesOf2(FrameAnalyser* analyser, const float* signal, int32_t frameCount,
                          float* rows) {
    return analyseBatches<Lanes<2>>(analyser, signal, frameCount, rows);
}
