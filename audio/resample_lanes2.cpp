// The resampler's 2-output groups, compiled for the vector unit of that width (see CMakeLists.txt).
#include "audio/resample_lanes.h"

ORVALIX_RESAMPLE_BLOCKS(2)
{
    resampleBlocks<Lanes<2>>(kernel, src, srcFirst, signalEnd, jBegin, jEnd, rows, out, outCount);
}
