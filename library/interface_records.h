#pragma once
// What every call of the C interface shares: its error record, the size check of the records a
// caller hands in, and the conversion of the interface's settings to the analysis' own record.
#include <cstdio>

#include "main/analysis_settings.h"
#include "orvalix.h"

// Sets the caller's error record (may be null) and returns the code.
int reportResult(OrvalixError* error, int32_t code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
inline int succeed(OrvalixError* error) {
    if (error) *error = OrvalixError{ORVALIX_OK, ""};
    return ORVALIX_OK;
}

// A record handed in by the caller: not null, and at least as large as its first release.
template <typename Record>
bool usableRecord(const Record* record, uint32_t firstSize) {
    return record && record->size >= firstSize;
}

// The interface's settings as the analysis' record, ORVALIX_OK or ORVALIX_INVALID_ARGUMENT (the
// field named in the error) when one is out of the program's range.
int analysisSettingsFrom(const OrvalixSettings* settings, AnalysisSettings* analysis,
                         OrvalixError* error);

// The threads a checked settings record asks for (1 in a record from before the field).
int32_t threadsOf(const OrvalixSettings* settings);
