// Fuzz target: the front end (deltas, CMVN, VAD, voiced-row selection) over arbitrary small
// matrices, non-finite values included, and settings in and out of range. CMVN and the selection
// made in place must give the same bits as into a new matrix; deltas keep the rows as they were.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "orvalix.h"

namespace {

constexpr size_t SETTINGS_BYTES = 12;

int32_t signedSmall(uint8_t byte) { return static_cast<int32_t>(byte) - 8; }

// A window often near the matrix, now and then huge.
int32_t windowFrom(uint8_t byte) { return byte == 255 ? INT32_MAX : signedSmall(byte); }

bool sameMatrix(const OrvalixFeatures& a, const OrvalixFeatures& b) {
    size_t count = static_cast<size_t>(a.frameCount) * static_cast<size_t>(a.columnCount);
    return a.frameCount == b.frameCount && a.columnCount == b.columnCount &&
           (count == 0 || memcmp(a.values, b.values, sizeof(float) * count) == 0);
}

}  // namespace

// Layout: 12 setting bytes, then the matrix's floats (little-endian, row after row).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < SETTINGS_BYTES) return 0;
    const uint8_t* s = data;
    const int32_t columns = 1 + s[0] % 6;
    const size_t available = (size - SETTINGS_BYTES) / sizeof(float);
    const int32_t frames = static_cast<int32_t>(available / columns);
    std::vector<float> values(static_cast<size_t>(frames) * columns + 1);
    memcpy(values.data(), data + SETTINGS_BYTES, sizeof(float) * static_cast<size_t>(frames) * columns);
    const OrvalixFeatures input = {sizeof input, frames, columns, 0, values.data()};

    OrvalixFeatures withDeltas;
    if (orvalix_deltas(&input, signedSmall(s[1]), signedSmall(s[2]), &withDeltas, nullptr) == 0) {
        for (int32_t t = 0; t < frames; t++)
            if (memcmp(withDeltas.values + static_cast<size_t>(t) * withDeltas.columnCount,
                       values.data() + static_cast<size_t>(t) * columns, sizeof(float) * columns))
                abort();
    }
    orvalix_release_features(&withDeltas);

    const OrvalixCmvnSettings cmvn = {sizeof cmvn, s[3] % 3, s[4] % 2, windowFrom(s[5]), windowFrom(s[6]), s[7] % 2};
    OrvalixFeatures normalised, copy = {sizeof copy, frames, columns, 0, nullptr};
    const int fresh = orvalix_cmvn(&input, &cmvn, &normalised, nullptr);
    std::vector<float> inPlace(values);
    copy.values = inPlace.data();
    if (orvalix_cmvn(&copy, &cmvn, &copy, nullptr) != fresh || (fresh == 0 && !sameMatrix(normalised, copy)))
        abort();
    orvalix_release_features(&normalised);

    const OrvalixVadSettings vad = {sizeof vad, signedSmall(s[8]) * 0.5, s[9] % 4 * 0.5, signedSmall(s[10]),
                                    (s[11] % 12) / 10.0, signedSmall(s[0] >> 3) + 7};
    OrvalixLabels labels{};
    if (orvalix_vad(&input, &vad, &labels, nullptr) == 0) {
        OrvalixFeatures kept;
        if (orvalix_select_voiced(&input, &labels, &kept, nullptr) != 0) abort();
        copy = {sizeof copy, frames, columns, 0, inPlace.data()};
        memcpy(inPlace.data(), values.data(), sizeof(float) * values.size());
        if (orvalix_select_voiced(&copy, &labels, &copy, nullptr) != 0 || !sameMatrix(kept, copy))
            abort();
        orvalix_release_features(&kept);
    }
    orvalix_release_labels(&labels);
    return 0;
}
