// Built without libsndfile: only what the program's wave reader reads can be decoded.
#include <cstdio>

#include "audio/audio_signal.h"

int readWithSndfile(const char* path, int32_t, int32_t, AudioSignal*, char* error, size_t errorSize)
{
    snprintf(error, errorSize,
             "%s: cannot decode: not a wave file the program reads, and this build of Orvalix "
             "has no libsndfile for other formats", path);
    return 1;
}
