#pragma once
#include <cstdint>
#include "orvalix.h"

// The one place where the front-end calls allocate their results: frames rows of columns floats,
// released by orvalixReleaseFeatures (free). Returns 0, or ORVALIX_ANALYSIS_FAILED with an empty
// matrix when the size does not fit or memory runs out.
int allocateFeatures(int32_t frames, int32_t columns, OrvalixFeatures* features);

// Row t of a matrix of this shape.
inline const float* featureRow(const OrvalixFeatures& features, int32_t t) {
    return features.values + static_cast<int64_t>(t) * features.columnCount;
}

// A matrix these calls can read: a non-negative shape, and values for every row.
bool readableFeatures(const OrvalixFeatures* features);
