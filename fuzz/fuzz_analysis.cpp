// Fuzz target: signal conditioning and the frame analysis, through the library's public entry,
// over arbitrary short signals and every option value within its range, at any sampling rate a
// wave file can announce (0 .. 2^31 - 1 Hz).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "include/orvalix.h"

namespace {

constexpr size_t SETTINGS_BYTES = 16;
constexpr size_t MAX_SAMPLES = 8192;

// A value lo..hi from the byte (the ranges of the option table).
int32_t inRange(uint8_t byte, int32_t lo, int32_t hi) {
    return lo + static_cast<int32_t>(byte % static_cast<uint32_t>(hi - lo + 1));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return 0;
}

// Layout: 12 setting bytes, a 4-byte rate (top bit ignored), then 16-bit little-endian samples,
// or 8-bit unsigned ones when the 8-bit flag is set, as the loader would deliver them.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < SETTINGS_BYTES) return 0;
    OrvalixSettings s = orvalix_default_settings();
    s.windowLengthMs = inRange(data[0], 1, 100), s.windowShiftMs = inRange(data[1], 1, 100);
    s.melFilterCount = inRange(data[2], 0, 100), s.cepstralCount = inRange(data[3], 1, 20);
    s.windowType = inRange(data[4], 1, 4), s.lifterType = inRange(data[5], 1, 3);
    s.filterDomain = inRange(data[6], 1, 2), s.removeDcOffset = data[7] & 1;
    s.powerOfTwoBelow = (data[7] >> 1) & 1, s.includeC0 = (data[7] >> 2) & 1;
    const bool eightBit = (data[7] >> 3) & 1;
    s.preEmphasis = static_cast<float>(inRange(data[8], 0, 100) / 100.0);
    int32_t rate = static_cast<int32_t>(
        (data[12] | data[13] << 8 | data[14] << 16 | uint32_t{data[15]} << 24) & 0x7FFFFFFFu);
    // A quarter of the inputs get a common rate, so that frames are actually analysed.
    static const int32_t commonRates[] = {8000, 11025, 16000, 22050, 44100, 48000, 1000, 999};
    if ((data[9] & 3) == 0) rate = commonRates[data[10] % 8];
    const uint8_t* bytes = data + SETTINGS_BYTES;
    std::vector<float> signal(
        std::min(MAX_SAMPLES, eightBit ? size - SETTINGS_BYTES : (size - SETTINGS_BYTES) / 2));
    for (size_t i = 0; i < signal.size(); ++i)
        signal[i] = eightBit ? bytes[i] : static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    OrvalixFeatures features{};
    if (orvalix_analyse(signal.data(), static_cast<int64_t>(signal.size()), rate, &s, &features,
                        nullptr) == 0 &&
        (features.frameCount < 0 || features.columnCount != s.cepstralCount + 1))
        abort();
    orvalix_release_features(&features);
    return 0;
}
