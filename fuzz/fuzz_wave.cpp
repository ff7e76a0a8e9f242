// Fuzz target: the chunk walk of the wave reader and the whole-file loader over arbitrary bytes.
// The bytes become the contents of a regular (memory-backed) file, so the code under test is the
// production code, opened by name, unchanged.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "wave/wav_audio_file.h"
#include "wave/wave_loader.h"

namespace {

// One memory-backed file, refilled with each input; its name is "/proc/self/fd/N".
const char* memoryFileWith(const uint8_t* data, size_t size) {
    static int fd = -1;
    static char name[64];
    if (fd < 0 && (fd = memfd_create("orvalix-fuzz-input", 0)) >= 0)
        snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        abort();
    return name;
}

// Reads the opened file every way the class offers; none may read past the data chunk.
void readEveryWay(const char* name) {
    WavAudioFile file;
    if (file.openForRead(name) != RFX_SUCCESS) return;
    if (file.sampleByteCount() > static_cast<uint64_t>(file.fileSize())) abort();
    int16_t slots[512];
    uint32_t framesRead = 0;
    file.readFrameBlock(256, slots, &framesRead);
    if (framesRead > 256 || framesRead > file.frameCount()) abort();
    if (file.frameCount() > 0 && file.seekToFrame(file.frameCount() - 1) == RFX_SUCCESS) {
        file.readMonoSample(&slots[0]);
        file.readStereoSample(&slots[0], &slots[1]);
    }
    file.seekToFrame(0);
    unsigned char bytes[64];
    file.readRawBytes(bytes, sizeof bytes);
    file.readRawSamples(slots, 16);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!freopen("/dev/null", "w", stdout)) abort();  // the stage reports would flood the log
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* name = memoryFileWith(data, size);
    readEveryWay(name);

    float* signal = nullptr;
    SignalInfo info{};
    RFXRET result = loadWaveFile(name, &signal, &info);
    if (result != RFX_SUCCESS) {
        if (signal != nullptr) abort();
        return 0;
    }
    if (signal == nullptr || info.samplesRead < 0 || info.samplesRead > info.totalSamples) abort();
    // Every sample came from a 16-bit or 8-bit slot, or the mean of two.
    for (int32_t i = 0; i < info.samplesRead; ++i)
        if (!(signal[i] >= -32768.0f && signal[i] <= 32767.0f)) abort();
    free(signal);
    return 0;
}
