#pragma once
#include <cstdint>
#include "mfcc/mel_filterbank.h"

// The filterbank laid out for eight filters at a time: for each group of eight neighbouring
// filters, step k holds every filter's k-th weight (as a double) and the spectrum bin it reads.
// The filters' float running sums then advance side by side in one vector, each still adding its
// own terms in its own order; a filter shorter than the group's longest simply stops adding.
struct PackedFilterGroup {
    int32_t filterCount;    // 1..8 (only the last group can have fewer than 8)
    int32_t steps;          // the longest filter of the group
    int32_t lengths[8];     // lastBin - firstBin + 1 of each filter (0 for unused lanes)
    int32_t* bins;          // steps * 8 bin indices, always valid bins
    double* weights;        // steps * 8 weights, 0 where a filter has ended
};

struct PackedFilterbank {
    int32_t filterCount;
    int32_t groupCount;
    PackedFilterGroup* groups;
    int vectorLevel;        // 2 with AVX-512 (the vector path), else the plain filter sums
};

// Returns 0, or 1 when memory runs out (nothing is left allocated).
int packFilterbank(PackedFilterbank* packed, const MelFilterbank* bank);
void releasePackedFilterbank(PackedFilterbank* packed);

// outputs[j - 1] = filterOutput(filter j, spectrum) for every filter, bit for bit.
void packedFilterOutputs(const PackedFilterbank* packed, const MelFilterbank* bank,
                         const float* spectrum, double* outputs);
