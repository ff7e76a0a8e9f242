#pragma once
#include <cstdint>
#include "library/publish.h"
#include "mfcc/frame_analysis.h"

// Publishes coefficients first..last of the first frameCount rows as text, "%f " per
// coefficient and "\n" per frame, by the publisher's rules (library/publish.h) in its mode
// (PUBLISH_CREATE or PUBLISH_REPLACE). Prints nothing and touches no signal handler. Returns 0 or
// an errno, its text in record->reason.
int publishFeatureText(const FeatureMatrix& matrix, int32_t frameCount, int32_t first,
                       int32_t last, const char* outputName, int32_t mode, Publication* record);
