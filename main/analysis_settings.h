#pragma once
#include <cstdint>

// The analysis parameters, copied from the option table once it is parsed and read by the
// conditioning and the frame analysis (the option's letter in brackets).
struct AnalysisSettings {
    int32_t windowLengthMs;  // L: analysis window in milliseconds
    int32_t windowShiftMs;   // S: frame shift in milliseconds
    int32_t featureType;     // F: 1 = MFCC, the only choice; nothing reads it
    int32_t melFilterCount;  // N: 0 = automatic, replaced by the count used
    int32_t dropDelta;       // D: carried, no effect
    int32_t dropDeltaDelta;  // E: carried, no effect
    int32_t includeC0;       // C: the output lines begin with coefficient 0
    int32_t removeSilence;   // R: carried, no effect
    int32_t removeDcOffset;  // V: subtract the signal's mean first
    int32_t powerOfTwoBelow; // U: FFT length is the power of two below the window, not above
    int32_t cepstralCount;   // M: coefficients c1..cM
    int32_t windowType;      // W: 1 Hamming, 2 triangular, 3 Hann, 4 Blackman
    int32_t lifterType;      // I: 1 none, 2 raised sine, 3 half raised sine
    int32_t filterDomain;    // A: 1 magnitude, 2 power
    int32_t overwrite;       // O: read by the program only
    float preEmphasis;       // H / 100.0 stored as a float; 0 turns it off
};

// Fills the record from the option rows' values (indexed by row, as in the option table).
void settingsFromOptionValues(const int32_t* values, AnalysisSettings* settings);
