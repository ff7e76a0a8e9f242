// The resampler's 8-output groups, compiled for the vector unit of that width (see CMakeLists.txt).
#include "audio/resample_lanes.h"

ORVALIX_RESAMPLE_BLOCKS(8)
{
    resampleBlocks<Lanes<8>>(kernel, src, srcFirst, signalEnd, jBegin, jEnd, rows, out, outCount);
}
