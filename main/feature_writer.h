#pragma once
#include <cstdint>
#include "mfcc/frame_analysis.h"

// What publishing the finished text may do to the output name.
enum OutputPublication : int32_t {
    OUTPUT_CREATE = 0,   // the name must not exist when the file is complete; nothing is replaced
    OUTPUT_REPLACE = 1,  // an existing file (through any symbolic links) is replaced atomically
};

// Writes coefficients first..last of the first frameCount rows as text, "%f " per coefficient and
// "\n" per frame. The text goes to a file in the output's folder that has no name at all while it
// is written where the file system allows (otherwise a hidden temporary name that SIGINT, SIGTERM
// and SIGHUP remove), and gets the output name only once every byte is written. With
// OUTPUT_REPLACE a symbolic link is written through and the replaced file's permission bits (and
// owner and group where allowed) are kept. On failure nothing is left behind,
// "ERROR: Cannot write output file %s: %s\n" is printed on standard error (with "File exists" when
// OUTPUT_CREATE finds the name taken) and 1 is returned.
int writeFeatureFile(const FeatureMatrix& matrix, int32_t frameCount, int32_t first, int32_t last,
                     const char* outputName, OutputPublication publication);
