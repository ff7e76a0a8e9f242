#pragma once
#include <cstdint>
#include "library/feature_text.h"

// What publishing the finished text may do to the output name.
enum OutputPublication : int32_t {
    OUTPUT_CREATE = PUBLISH_CREATE,    // the name must not exist when the file is complete
    OUTPUT_REPLACE = PUBLISH_REPLACE,  // the file at the end of the name's links is replaced
};

// The program's writer: publishFeatureText, with SIGINT, SIGTERM and SIGHUP removing a hidden
// temporary name while one exists (where the file system cannot keep the file nameless, or while
// -O swaps a file in). On failure "ERROR: Cannot write output file %s: %s\n" is printed on
// standard error (with "File exists" when OUTPUT_CREATE finds the name taken) and 1 is returned.
int writeFeatureFile(const FeatureMatrix& matrix, int32_t frameCount, int32_t first, int32_t last,
                     const char* outputName, OutputPublication publication);
