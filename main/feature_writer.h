#pragma once
#include <cstdint>
#include "mfcc/frame_analysis.h"

// Writes coefficients first..last of the first frameCount rows as text, "%f " per coefficient and
// "\n" per frame. The text goes to a temporary file in the output's folder that replaces the output
// name only once every byte is written and the file is closed; on failure nothing is left behind,
// "ERROR: Cannot write output file %s: %s\n" is printed on standard error and 1 is returned.
int writeFeatureFile(const FeatureMatrix& matrix, int32_t frameCount, int32_t first, int32_t last,
                     const char* outputName);
