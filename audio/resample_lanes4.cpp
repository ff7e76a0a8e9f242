// The resampler's 4-output groups, compiled for the vector unit of that width (see CMakeLists.txt).
#include "audio/resample_lanes.h"

ORVALIX_RESAMPLE_BLOCKS(4)
{
    resampleBlocks<Lanes<4>>(kernel, src, srcFirst, signalEnd, jBegin, jEnd, rows, out, outCount);
}
