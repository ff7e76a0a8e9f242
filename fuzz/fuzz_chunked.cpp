// Fuzz target: the chunked analysis against the whole-signal one, on arbitrary bytes as a wave
// file (a regular, memory-backed file opened by name). Whenever the file is long enough to be
// analysed in chunks, both must give the same status, rows, row count and frame count, bit for
// bit. Window and shift come from the file's last two bytes; chunks are made small (a target of
// 256 samples) so that short files span several of them.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "include/orvalix.h"
#include "main/driver.h"
#include "main/chunked_analysis.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* name = memoryFileWith(data, size);
    AnalysisSettings settings = orvalixDefaultSettings();
    settings.windowLengthMs = size > 0 ? 1 + data[size - 1] % 100 : 30;
    settings.windowShiftMs = size > 1 ? 1 + data[size - 2] % 100 : 10;
    const int32_t chunk = chunkLengthFor(name, &settings, 256);
    if (chunk == 0) return 0;
    AnalysisSettings wholeSettings = settings, chunkedSettings = settings;
    FeatureMatrix whole{0, 0, nullptr}, chunked{0, 0, nullptr};
    int32_t wholeFrames = 0, chunkedFrames = 0;
    SignalInfo wholeInfo, chunkedInfo;
    const bool wholeFailed =
        analyseWholeSignal(name, &wholeSettings, &whole, &wholeFrames, &wholeInfo) != 0;
    const bool chunkedFailed = analyseWaveFileInChunks(name, &chunkedSettings, chunk, &chunked,
                                                       &chunkedFrames, &chunkedInfo) != 0;
    if (wholeFailed != chunkedFailed) abort();
    if (!wholeFailed) {
        if (whole.rowCount != chunked.rowCount || wholeFrames != chunkedFrames) abort();
        const size_t bytes =
            static_cast<size_t>(whole.rowCount) * static_cast<size_t>(whole.columnCount) * 4;
        if (bytes > 0 && memcmp(whole.values, chunked.values, bytes) != 0) abort();
    }
    releaseFeatureMatrix(&whole);
    releaseFeatureMatrix(&chunked);
    return 0;
}
