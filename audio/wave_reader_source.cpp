// Files the program reads, read by the program's own reader: the loader's reads (readSignalBlock,
// with its conversion and stereo mix) without its file report and messages, which go to the
// console and so have no place in a library.
#include <cstdio>
#include <cstdlib>

#include "audio/audio_signal.h"
#include "wave/signal_reader.h"
#include "wave/wave_loader.h"

// Frames per read when one channel of a two-channel file is taken.
constexpr uint32_t CHANNEL_BLOCK_FRAMES = 16384;

static RFXRET readOneChannel(WavAudioFile* file, int32_t channel, float* samples, uint32_t frames)
{
    int16_t slots[2 * CHANNEL_BLOCK_FRAMES];
    for (uint32_t done = 0; done < frames;) {
        const uint32_t step = frames - done < CHANNEL_BLOCK_FRAMES ? frames - done : CHANNEL_BLOCK_FRAMES;
        uint32_t got = 0;
        const RFXRET result = file->readFrameBlock(step, slots, &got);
        for (uint32_t i = 0; i < got; ++i)
            samples[done + i] = static_cast<float>(slots[2 * i + channel]);
        done += got;
        if (result != RFX_SUCCESS)
            return result;
    }
    return RFX_SUCCESS;
}

int readWithWaveReader(const char* path, int32_t channel, AudioSignal* signal, char* error,
                       size_t errorSize)
{
    SignalReader reader;
    WavAudioFile& file = reader.file;
    const bool opened = file.openForRead(path) == RFX_SUCCESS;
    const uint16_t bits = file.bitsPerSample();
    if (!opened || !file.samplesDecodable() || (bits != 8 && bits != 16))
        return AUDIO_REFUSED_BY_WAVE_READER;
    signal->sourceRate = static_cast<int32_t>(file.sampleRate());
    signal->channels = file.channels();
    signal->bitsPerSample = bits;
    signal->decoder = AUDIO_DECODER_WAVE_READER;
    snprintf(signal->format, sizeof signal->format, "WAV, %d-bit integer PCM", bits);
    if (checkChannel(path, channel, signal->channels, error, errorSize))
        return 1;
    // The loader's limit: a signal is indexed by a signed 32-bit count.
    if (file.frameCount() > 0x7FFFFFFFu) {
        snprintf(error, errorSize, "%s: more than 2^31 samples", path);
        return 1;
    }
    const uint32_t frames = file.frameCount();
    signal->samples = allocFloats(frames);
    if (signal->samples == nullptr) {
        snprintf(error, errorSize, "%s: not enough memory for %u samples", path, frames);
        return 1;
    }
    RFXRET result = RFX_SUCCESS;
    uint32_t count = frames;
    if (channel == AUDIO_MIX_CHANNELS || signal->channels == 1) {
        reader.limit = frames;
        reader.frameSlots = signal->channels == 2 ? 2 : 1;
        reader.delivered = 0;
        result = readSignalBlock(&reader, signal->samples, frames, &count);
    } else {
        result = readOneChannel(&file, channel, signal->samples, frames);
    }
    signal->count = count;
    if (result != RFX_SUCCESS) {
        snprintf(error, errorSize, "%s (%s): reading the samples failed: %s", path, signal->format,
                 resultCodeName(result));
        return 1;
    }
    return 0;
}
