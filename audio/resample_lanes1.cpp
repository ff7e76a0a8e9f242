// The plain resampler, one output at a time: the one-lane instance of its inner loop.
#include "audio/resample_lanes.h"

int64_t resamplePhaseOf1(const ResampleKernel& kernel, const float* in, int64_t count, float* out,
                         int32_t phase, int64_t jBegin, int64_t jEnd, float* scratch)
{
    return resamplePhase<Lanes<1>>(kernel, in, count, out, phase, jBegin, jEnd, scratch);
}
