// Settings inside every option's range that still cannot give finite rows at a given rate.
#include <cstdio>
#include <cstdlib>

#include "mfcc/frame_geometry.h"
#include "mfcc/mel_filterbank.h"
#include "library/settings_check.h"

namespace {

// The first filter (1..count) whose weights are all zero: its energy is 0 in every frame, its
// logarithm minus infinity. 0 when every filter covers a bin, -1 when memory runs out.
int32_t firstEmptyFilter(int32_t filterCount, int32_t fftLength, int32_t sampleRate) {
    MelFilterbank bank = {0, nullptr};
    if (buildMelFilterbank(&bank, filterCount, fftLength, sampleRate)) return -1;
    int32_t empty = 0;
    for (int32_t j = 1; j <= filterCount && empty == 0; ++j) {
        const MelFilter* filter = filterAt(&bank, j);
        bool covers = false;
        for (int32_t k = filter->firstBin; k <= filter->lastBin; ++k)
            covers = covers || filter->weights[k - filter->firstBin] != 0.0f;
        if (!covers) empty = j;
    }
    releaseMelFilterbank(&bank);
    return empty;
}

}  // namespace

int nonFiniteRowsReason(const AnalysisSettings* settings, int32_t sampleRate, char* message,
                        size_t messageSize) {
    if (sampleRate <= 0) return 0;
    const FrameGeometry g = frameGeometryFor(settings, sampleRate);
    const int32_t filters = settings->melFilterCount > 0 ? settings->melFilterCount
                                                         : automaticFilterCount(sampleRate);
    char said[200] = "";
    if (g.frameLength < 2) {
        snprintf(said, sizeof said,
                 "a %d ms window at %d Hz holds %d sample(s); the transform needs at least 2",
                 settings->windowLengthMs, sampleRate, g.frameLength);
    } else if (int32_t empty = firstEmptyFilter(filters, g.fftLength, sampleRate); empty > 0) {
        snprintf(said, sizeof said,
                 "mel filter %d of %d covers no bin of the %d-point FFT of a %d ms window at %d Hz:"
                 " rows hold infinities or NaN",
                 empty, filters, g.fftLength, settings->windowLengthMs, sampleRate);
    }
    if (said[0] == '\0') return 0;
    if (messageSize > 0) snprintf(message, messageSize, "%s", said);
    return 1;
}
