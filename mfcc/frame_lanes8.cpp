// The batch loop of 8-frame batches, compiled for the vector unit of that width (see CMakeLists.txt).
#include "mfcc/frame_pipeline.h"

int32_t analyseBatchesOf8(FrameAnalyser* analyser, const float* signal, int32_t frameCount,
                          float* rows) {
    return analyseBatches<Lanes<8>>(analyser, signal, frameCount, rows);
}
