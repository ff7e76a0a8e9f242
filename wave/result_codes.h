#pragma once
#include <cstdint>

// Result codes of the wave-file layer. The layer itself prints nothing; callers print the name.
typedef int32_t RFXRET;

enum : RFXRET {
    RFX_SUCCESS = 0,
    RFX_FAILURE = 1,
    RFX_OUT_OF_MEMORY = 2,
    RFX_FILE_ERROR = 3,
    RFX_INVALID_CALL = 4,
    RFX_USER_ABORT = 5,
    RFX_INVALID_FILE = 6,
};

// The code's name ("RFX_FILE_ERROR"); unknown codes are formatted as "RFXRET(%d)" into one
// static buffer that the next such call overwrites.
const char* resultCodeName(RFXRET code);
