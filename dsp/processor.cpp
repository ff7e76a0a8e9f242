#include "dsp/processor.h"

namespace {

int32_t detectLanes() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2")) return 8;
    if (__builtin_cpu_supports("avx2")) return 4;
    return 2;
#elif defined(__aarch64__)
    return 2;
#else
    return 1;
#endif
}

}  // namespace

int32_t processorLanes() {
    static const int32_t lanes = detectLanes();  // set once, before any caller reads it
    return lanes;
}

int32_t usableLanes(int32_t wanted) {
    int32_t lanes = processorLanes();
    while (lanes > 1 && lanes > wanted) lanes /= 2;
    return lanes;
}
