#pragma once
// The analysis parameters (AnalysisSettings) are part of the library's public face, which owns
// the record; the stages include it from here.
#include "orvalix.h"

// Fills the record from the option rows' values (indexed by row, as in the option table).
void settingsFromOptionValues(const int32_t* values, AnalysisSettings* settings);
