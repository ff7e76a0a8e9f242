// orvalix_load_audio: the C interface's door to the audio module.
#include <cstdio>
#include <cstring>

#include "audio/audio_signal.h"
#include "library/interface_records.h"

static_assert(ORVALIX_MIX_CHANNELS == AUDIO_MIX_CHANNELS && ORVALIX_KEEP_RATE == AUDIO_KEEP_RATE);
static_assert(int{ORVALIX_DECODER_WAVE_READER} == int{AUDIO_DECODER_WAVE_READER} &&
              int{ORVALIX_DECODER_LIBSNDFILE} == int{AUDIO_DECODER_LIBSNDFILE});
static_assert(sizeof(OrvalixSignal::format) == sizeof(AudioSignal::format));

extern "C" int orvalix_load_audio(const char* name, int32_t channel, int32_t rate,
                                  OrvalixSignal* signal, OrvalixError* error) {
    if (!signal) return reportResult(error, ORVALIX_INVALID_ARGUMENT, "signal: null");
    *signal = OrvalixSignal{};
    signal->size = sizeof(OrvalixSignal);
    if (!name || !name[0]) return reportResult(error, ORVALIX_INVALID_ARGUMENT, "name: null or empty");
    if (channel < ORVALIX_MIX_CHANNELS)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT,
                            "channel = %d: 0 or more, or ORVALIX_MIX_CHANNELS (-1)", channel);
    if (rate < 0)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT,
                            "rate = %d: positive, or ORVALIX_KEEP_RATE (0)", rate);
    AudioSignal audio;
    char reason[sizeof(OrvalixError::message)];
    if (decodeAudioFile(name, channel, rate, &audio, reason, sizeof reason))
        return reportResult(error, ORVALIX_AUDIO_UNREADABLE, "%s", reason);
    signal->samples = audio.samples;
    signal->count = audio.count;
    signal->announced = audio.count;
    signal->sampleRate = audio.sampleRate;
    signal->channels = audio.channels;
    signal->bitsPerSample = audio.bitsPerSample;
    signal->sourceRate = audio.sourceRate;
    signal->decoder = audio.decoder;
    memcpy(signal->format, audio.format, sizeof signal->format);
    return succeed(error);
}
