#pragma once
#include <cstdint>

// The analysis parameters, copied once from the option table after parsing and read by the
// conditioning and frame-analysis stages.
struct AnalysisSettings {
    int32_t windowLengthMs;  // L
    int32_t windowShiftMs;   // S
    int32_t featureType;     // F (1 = MFCC, the only choice; no stage reads it)
    int32_t melFilterCount;  // N; 0 = automatic, replaced by the count actually used
    int32_t dropDelta;       // D, carried only
    int32_t dropDeltaDelta;  // E, carried only
    int32_t includeC0;       // C: output lines begin with coefficient 0
    int32_t removeSilence;   // R, carried only
    int32_t removeDcOffset;  // V
    int32_t powerOfTwoBelow; // U
    int32_t cepstralCount;   // M (1..20)
    int32_t windowType;      // W (1..4)
    int32_t lifterType;      // I (1..3)
    int32_t filterDomain;    // A: 1 magnitude, 2 power
    int32_t overwrite;       // O
    float preEmphasis;       // H / 100.0, stored as a float
};
