#include "wave/wave_loader.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>

#include "modules/console.h"
#include "wave/signal_reader.h"
#include "wave/wav_audio_file.h"

// Slots per block when the loader converts straight to floats: 64 KiB on the stack, large enough
// that the stream reads straight into it instead of through its own small buffer.
constexpr uint32_t LOADER_BLOCK_SLOTS = 32768;

// Signals from this size on are placed on huge pages where the system offers them, which spares
// one page fault per 4 KiB of a long recording.
constexpr size_t HUGE_PAGE_BYTES = size_t(2) << 20;

float* allocFloats(int64_t n)
{
    if (n < 0 || static_cast<uint64_t>(n) > (SIZE_MAX - HUGE_PAGE_BYTES) / sizeof(float))
        return nullptr;
    // At least one element, so that an empty signal is still a valid allocation.
    size_t bytes = (n > 0 ? static_cast<size_t>(n) : 1) * sizeof(float);
    if (bytes < 4 * HUGE_PAGE_BYTES)
        return static_cast<float*>(malloc(bytes));
    size_t rounded = (bytes + HUGE_PAGE_BYTES - 1) / HUGE_PAGE_BYTES * HUGE_PAGE_BYTES;
    void* memory = aligned_alloc(HUGE_PAGE_BYTES, rounded);
    if (memory != nullptr)
        madvise(memory, rounded, MADV_HUGEPAGE);  // a hint: refused, it changes nothing
    return static_cast<float*>(memory);
}

int16_t* allocSampleBuffer(int64_t n)
{
    // Two 16-bit slots per announced sample, room for a whole two-channel frame per sample.
    if (n < 0 || static_cast<uint64_t>(n) > SIZE_MAX / 4)
        return nullptr;
    return static_cast<int16_t*>(malloc((n > 0 ? static_cast<size_t>(n) : 1) * 4));
}

int samplesToFloats(const int16_t* slots, float* floats, int32_t n)
{
    for (int32_t i = 0; i < n; ++i)
        floats[i] = static_cast<float>(slots[i]);
    return 0;
}

// A two-channel file is counted, read and analysed in frames (its mono mix); a one-channel file
// has one sample per frame anyway.
RFXRET queryWaveSize(const char* name, int32_t* total)
{
    WavAudioFile file;
    RFXRET result = file.openForRead(name);
    if (result != RFX_SUCCESS)
        return result;
    // A signal beyond 2^31 samples cannot be indexed, let alone held.
    if (file.frameCount() > 0x7FFFFFFFu)
        return RFX_OUT_OF_MEMORY;
    *total = static_cast<int32_t>(file.frameCount());
    return RFX_SUCCESS;
}

RFXRET queryAnnouncedSamples(const char* name, int64_t* count)
{
    WavAudioFile file;
    RFXRET result = file.openForRead(name);
    if (result != RFX_SUCCESS)
        return result;
    const uint32_t declared = file.dataHeader().size;
    const uint32_t frameBytes = file.channels() * (file.bitsPerSample() / 8u);
    *count = declared == 0 ? file.frameCount() : declared / frameBytes;
    return RFX_SUCCESS;
}

// Opens the file and prints its report; the report always precedes any sample read.
static RFXRET openAndReport(WavAudioFile* file, const char* name, int32_t* channels,
                            int32_t* sampleRate, int32_t* bitsPerSample, StageConsole console)
{
    RFXRET result = file->openForRead(name);
    if (result != RFX_SUCCESS)
        return result;
    *channels = file->channels();
    *sampleRate = static_cast<int32_t>(file->sampleRate());
    *bitsPerSample = file->bitsPerSample();
    if (console == CONSOLE_PRINTS) {
        printf("\nNumber of channels: %d\n", *channels);
        printf("Sampling rate: %d\n", *sampleRate);
        printf("Bits per sample: %d\n", *bitsPerSample);
        printf("Reading .wav to buffer...\n");
        // Any failure message follows on standard error; keep the two streams in that order.
        fflush(stdout);
    }
    return RFX_SUCCESS;
}

static uint32_t readLimit(const WavAudioFile& file, int32_t capacity)
{
    uint32_t frames = file.frameCount();
    return capacity >= 0 && static_cast<uint32_t>(capacity) < frames ? static_cast<uint32_t>(capacity)
                                                                        : frames;
}

RFXRET readWaveSamples(const char* name, int16_t* slots, int32_t capacity, int32_t* channels,
                       int32_t* sampleRate, int32_t* bitsPerSample, int32_t* count)
{
    WavAudioFile file;
    RFXRET result = openAndReport(&file, name, channels, sampleRate, bitsPerSample, CONSOLE_PRINTS);
    if (result != RFX_SUCCESS)
        return result;
    uint32_t limit = readLimit(file, capacity);
    uint32_t frameSlots = file.channels();
    *count = 0;
    while (static_cast<uint32_t>(*count) < limit) {
        uint32_t step = limit - static_cast<uint32_t>(*count);
        if (step > LOADER_BLOCK_SLOTS)
            step = LOADER_BLOCK_SLOTS;
        uint32_t framesRead = 0;
        result = file.readFrameBlock(step, slots + static_cast<size_t>(*count) * frameSlots,
                                     &framesRead);
        *count += static_cast<int32_t>(framesRead);
        if (result != RFX_SUCCESS)
            return result;
    }
    return RFX_SUCCESS;
}

RFXRET openSignalReader(SignalReader* reader, const char* name, int32_t capacity,
                        SignalInfo* info, StageConsole console)
{
    RFXRET result = openAndReport(&reader->file, name, &info->channels, &info->sampleRate,
                                  &info->bitsPerSample, console);
    if (result != RFX_SUCCESS)
        return result;
    reader->limit = readLimit(reader->file, capacity);
    reader->frameSlots = reader->file.channels() == 2 ? 2 : 1;
    reader->delivered = 0;
    return RFX_SUCCESS;
}

// Converts each block to floats as it goes, so no 16-bit copy of the signal is ever held. Two
// channels become their mean, float((L + R) / 2.0).
RFXRET readSignalBlock(SignalReader* reader, float* out, uint32_t maxSamples, uint32_t* count)
{
    int16_t block[LOADER_BLOCK_SLOTS];
    *count = 0;
    while (*count < maxSamples && reader->delivered < reader->limit) {
        uint32_t step = reader->limit - reader->delivered;
        if (step > maxSamples - *count)
            step = maxSamples - *count;
        if (step > LOADER_BLOCK_SLOTS / reader->frameSlots)
            step = LOADER_BLOCK_SLOTS / reader->frameSlots;
        uint32_t framesRead = 0;
        RFXRET result = reader->file.readFrameBlock(step, block, &framesRead);
        float* target = out + *count;
        if (reader->frameSlots == 1) {
            samplesToFloats(block, target, static_cast<int32_t>(framesRead));
        } else {
            for (uint32_t i = 0; i < framesRead; ++i)
                target[i] = static_cast<float>((block[2 * i] + block[2 * i + 1]) / 2.0);
        }
        *count += framesRead;
        reader->delivered += framesRead;
        if (result != RFX_SUCCESS)
            return result;
    }
    return RFX_SUCCESS;
}

RFXRET readWholeSignal(SignalReader* reader, float** signal, SignalInfo* info,
                       StageConsole console)
{
    *signal = nullptr;
    info->samplesRead = 0;
    float* samples = allocFloats(info->totalSamples);
    if (samples == nullptr) {
        if (console == CONSOLE_PRINTS) printError("Reading wave file data failed: %s\n", resultCodeName(RFX_OUT_OF_MEMORY));
        return RFX_OUT_OF_MEMORY;
    }
    uint32_t count = 0;
    RFXRET result = readSignalBlock(reader, samples, reader->limit, &count);
    info->samplesRead = static_cast<int32_t>(count);
    if (result != RFX_SUCCESS) {
        if (console == CONSOLE_PRINTS)
            printError("Reading wave file data failed: %s\n", resultCodeName(result));
        free(samples);
        return result;
    }
    if (info->totalSamples != info->samplesRead && console == CONSOLE_PRINTS) {
        printf("Reading error in input signal! Some samples cannot be read!");
        fflush(stdout);
    }
    *signal = samples;
    return RFX_SUCCESS;
}

RFXRET openWaveReader(const char* name, SignalReader* reader, SignalInfo* info,
                      StageConsole console)
{
    info->samplesRead = 0;
    RFXRET result = queryWaveSize(name, &info->totalSamples);
    if (result != RFX_SUCCESS) {
        if (console == CONSOLE_PRINTS) printError("Reading wave table size failed: %s\n", resultCodeName(result));
        return result;
    }
    result = openSignalReader(reader, name, info->totalSamples, info, console);
    if (result != RFX_SUCCESS && console == CONSOLE_PRINTS)
        printError("Reading wave file data failed: %s\n", resultCodeName(result));
    return result;
}

RFXRET loadWaveFile(const char* name, float** signal, SignalInfo* info)
{
    *signal = nullptr;
    SignalReader reader;
    RFXRET result = openWaveReader(name, &reader, info, CONSOLE_PRINTS);
    return result != RFX_SUCCESS ? result : readWholeSignal(&reader, signal, info, CONSOLE_PRINTS);
}
