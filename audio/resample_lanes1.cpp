// The plain resampler, one output at a time: the one-lane instance of its inner loop.
#include "audio/resample_lanes.h"

ORVALIX_RESAMPLE_BLOCKS(1)
{
    resampleBlocks<Lanes<1>>(kernel, src, srcFirst, signalEnd, jBegin, jEnd, rows, out, outCount);
}
