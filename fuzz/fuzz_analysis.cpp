// Fuzz target: signal conditioning and the frame analysis (prepareSignal, analyseFrames) over
// arbitrary short signals and every option value within its range, at any sampling rate a wave
// file can announce (0 .. 2^31 - 1 Hz).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "dsp/conditioning.h"
#include "fuzz_support.h"
#include "main/analysis_settings.h"
#include "mfcc/frame_analysis.h"
#include "modules/console.h"

namespace {

constexpr size_t SETTINGS_BYTES = 16;
constexpr int32_t MAX_SAMPLES = 8192;

// A value lo..hi from the byte (the ranges of the option table).
int32_t inRange(uint8_t byte, int32_t lo, int32_t hi) {
    return lo + static_cast<int32_t>(byte % static_cast<uint32_t>(hi - lo + 1));
}

int32_t little32(const uint8_t* b) {
    return static_cast<int32_t>((static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                                 static_cast<uint32_t>(b[2]) << 16 |
                                 static_cast<uint32_t>(b[3]) << 24) & 0x7FFFFFFFu);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceStandardOutput();
    setStageReportsEnabled(0);
    return 0;
}

// Layout: 12 setting bytes, a 4-byte rate (top bit ignored), then 16-bit little-endian samples,
// or 8-bit unsigned ones when the 8-bit flag is set, as the loader would deliver them.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < SETTINGS_BYTES) return 0;
    AnalysisSettings settings{};
    settings.windowLengthMs = inRange(data[0], 1, 100);
    settings.windowShiftMs = inRange(data[1], 1, 100);
    settings.featureType = 1;
    settings.melFilterCount = inRange(data[2], 0, 100);
    settings.cepstralCount = inRange(data[3], 1, 20);
    settings.windowType = inRange(data[4], 1, 4);
    settings.lifterType = inRange(data[5], 1, 3);
    settings.filterDomain = inRange(data[6], 1, 2);
    settings.removeDcOffset = data[7] & 1;
    settings.powerOfTwoBelow = (data[7] >> 1) & 1;
    settings.includeC0 = (data[7] >> 2) & 1;
    bool eightBit = (data[7] >> 3) & 1;
    settings.preEmphasis = static_cast<float>(inRange(data[8], 0, 100) / 100.0);
    int32_t sampleRate = little32(data + 12);
    // A quarter of the inputs get a common rate, so that frames are actually analysed.
    static const int32_t commonRates[] = {8000, 11025, 16000, 22050, 44100, 48000, 1000, 999};
    if ((data[9] & 3) == 0) sampleRate = commonRates[data[10] % 8];

    const uint8_t* bytes = data + SETTINGS_BYTES;
    size_t byteCount = size - SETTINGS_BYTES;
    int32_t count = static_cast<int32_t>(eightBit ? byteCount : byteCount / 2);
    if (count > MAX_SAMPLES) count = MAX_SAMPLES;
    float* signal = static_cast<float*>(malloc((count > 0 ? count : 1) * sizeof(float)));
    for (int32_t i = 0; i < count; ++i) {
        signal[i] = eightBit ? static_cast<float>(bytes[i])
                             : static_cast<float>(static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
    }
    SignalInfo info{count, 1, sampleRate, eightBit ? 8 : 16, count};

    // A frame of 0 or 1 samples has no transform: the FFT ends the process with its message and
    // status 1, as the program documents (the end-to-end tests check it). Not a state to fuzz.
    int32_t frameLength = msToSamples(settings.windowLengthMs, sampleRate);
    if (frameLength <= 1 && count > frameLength && msToSamples(settings.windowShiftMs, sampleRate) >= 1) {
        free(signal);
        return 0;
    }

    FrameGeometry geometry{0, 0, 0, 0};
    float* window = nullptr;
    if (prepareSignal(&window, signal, &geometry, &info, &settings) == 0) {
        FeatureMatrix matrix{0, 0, nullptr};
        int32_t frameCount = 0;
        if (analyseFrames(signal, window, &settings, &info, &geometry, &matrix, &frameCount) == 0) {
            if (frameCount < 0 || frameCount > matrix.rowCount) abort();
            if (matrix.columnCount != settings.cepstralCount + 1) abort();
        }
        releaseFeatureMatrix(&matrix);
    }
    free(window);
    free(signal);
    return 0;
}
