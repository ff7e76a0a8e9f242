#include "audio/audio_signal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/resampler.h"

int checkChannel(const char* path, int32_t channel, int32_t channels, char* error,
                 size_t errorSize)
{
    if (channel == AUDIO_MIX_CHANNELS || (channel >= 0 && channel < channels))
        return 0;
    snprintf(error, errorSize, "%s: no channel %d in a file of %d channel%s (channels count from 0)",
             path, channel, channels, channels == 1 ? "" : "s");
    return 1;
}

int decodeAudioFile(const char* path, int32_t channel, int32_t rate, AudioSignal* signal,
                    char* error, size_t errorSize)
{
    memset(signal, 0, sizeof *signal);
    if (channel < AUDIO_MIX_CHANNELS || rate < 0) {
        snprintf(error, errorSize, "%s: %s", path,
                 rate < 0 ? "the rate to resample to must be positive"
                          : "the channel must be 0 or more, or all mixed");
        return 1;
    }
    int result = readWithWaveReader(path, channel, signal, error, errorSize);
    if (result == AUDIO_REFUSED_BY_WAVE_READER) {
        // libsndfile's reads resample as they decode.
        result = readWithSndfile(path, channel, rate, signal, error, errorSize);
        if (result != 0)
            releaseAudioSignal(signal);
        return result;
    }
    if (result != 0) {
        releaseAudioSignal(signal);
        return 1;
    }
    signal->sampleRate = signal->sourceRate;
    if (rate == AUDIO_KEEP_RATE || rate == signal->sourceRate)
        return 0;
    float* resampled = nullptr;
    int64_t count = 0;
    char reason[160];
    if (resampleSignal(signal->samples, signal->count, signal->sourceRate, rate, &resampled,
                       &count, reason, sizeof reason)) {
        snprintf(error, errorSize, "%s: %s", path, reason);
        releaseAudioSignal(signal);
        return 1;
    }
    free(signal->samples);
    signal->samples = resampled;
    signal->count = count;
    signal->sampleRate = rate;
    return 0;
}

void releaseAudioSignal(AudioSignal* signal)
{
    free(signal->samples);
    memset(signal, 0, sizeof *signal);
}
