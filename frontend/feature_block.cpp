#include "frontend/feature_block.h"

#include <cstdlib>

int allocateFeatures(int32_t frames, int32_t columns, OrvalixFeatures* features) {
    features->size = sizeof(OrvalixFeatures);
    features->frameCount = 0;
    features->columnCount = columns;
    features->filterCount = 0;
    features->values = nullptr;
    if (frames < 0 || columns < 1) return ORVALIX_ANALYSIS_FAILED;
    if (frames == 0) return 0;
    const uint64_t count = static_cast<uint64_t>(frames) * static_cast<uint64_t>(columns);
    if (count > SIZE_MAX / sizeof(float)) return ORVALIX_ANALYSIS_FAILED;
    features->values = static_cast<float*>(malloc(sizeof(float) * count));
    if (!features->values) return ORVALIX_ANALYSIS_FAILED;
    features->frameCount = frames;
    return 0;
}

bool readableFeatures(const OrvalixFeatures* features) {
    return features && features->frameCount >= 0 && features->columnCount >= 1 &&
           (features->frameCount == 0 || features->values);
}
