#include "wave/result_codes.h"

#include <cstdio>

const char* resultCodeName(RFXRET code)
{
    static const char* const names[] = {
        "RFX_SUCCESS",    "RFX_FAILURE",    "RFX_OUT_OF_MEMORY", "RFX_FILE_ERROR",
        "RFX_INVALID_CALL", "RFX_USER_ABORT", "RFX_INVALID_FILE",
    };
    if (code >= RFX_SUCCESS && code <= RFX_INVALID_FILE)
        return names[code];
    // Shared by every caller: the next unknown code overwrites it.
    static char unknown[32];
    snprintf(unknown, sizeof unknown, "RFXRET(%d)", static_cast<int>(code));
    return unknown;
}
