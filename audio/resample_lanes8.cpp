// The resampler's 8-output groups, compiled for the vector unit of that width (see CMakeLists.txt).
#include "audio/resample_lanes.h"

int64_t resamplePhaseOf8(const ResampleKernel& kernel, const float* in, int64_t count, float* out,
                         int32_t phase, int64_t jBegin, int64_t jEnd, float* scratch)
{
    return resamplePhase<Lanes<8>>(kernel, in, count, out, phase, jBegin, jEnd, scratch);
}
