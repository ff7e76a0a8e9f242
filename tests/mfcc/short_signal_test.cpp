// A signal no longer than one frame at any rate: nothing is analysed, and nothing the size of a
// frame is built. Found by the analysis fuzz target: a 10-sample signal announced at 2^31 - 1 Hz
// made a 100 ms window of 214 million samples and a 2^28-point transform (gigabytes).
#include <gtest/gtest.h>

#include <cstdlib>

#include "dsp/conditioning.h"
#include "support/capture.h"
#include "mfcc/frame_analysis.h"

namespace {

constexpr int32_t HIGHEST_RATE = 2147483647;

AnalysisSettings longWindow() {
    AnalysisSettings s{};
    s.windowLengthMs = 100;
    s.windowShiftMs = 100;
    s.featureType = 1;
    s.cepstralCount = 20;
    s.windowType = 4;
    s.lifterType = 2;
    s.filterDomain = 2;
    s.preEmphasis = 0.97f;
    return s;
}

TEST(ShortSignal, HighestRateAnalysesNothingAndBuildsOnlyWhatTheSignalCovers) {
    AnalysisSettings settings = longWindow();
    settings.windowType = 2;
    float signal[10] = {1, -2, 3, -4, 5, -6, 7, -8, 9, -10};
    SignalInfo info{10, 1, HIGHEST_RATE, 16, 10};
    FrameGeometry geometry{0, 0, 7, 0};
    float* window = nullptr;
    StreamCapture out(stdout);
    ASSERT_EQ(prepareSignal(&window, signal, &geometry, &info, &settings), 0);
    EXPECT_EQ(out.text(), "High emphasis filtering...OK\n");
    EXPECT_EQ(geometry.frameLength, 214748364);
    ASSERT_NE(window, nullptr);
    // The entries that exist are those of the full-length (triangular) window: 2i / n.
    EXPECT_EQ(window[0], 0.0f);
    EXPECT_EQ(window[9], static_cast<float>(18.0 / 214748364));

    FeatureMatrix matrix{};
    int32_t frames = -1;
    ASSERT_EQ(analyseFrames(signal, window, &settings, &info, &geometry, &matrix, &frames), 0);
    EXPECT_EQ(frames, 0);
    EXPECT_EQ(geometry.fftLength, 268435456);
    EXPECT_EQ(geometry.shiftSamples, 214748364);
    EXPECT_EQ(geometry.frameStart, 0);
    EXPECT_EQ(matrix.rowCount, 0);
    EXPECT_EQ(matrix.columnCount, 21);
    EXPECT_EQ(settings.melFilterCount, 65);  // ceil(3 ln(2^31 - 1)), written back as ever
    releaseFeatureMatrix(&matrix);
    free(window);
}

// The rows of a run without frames are still samplesRead / shift zero rows, as before.
TEST(ShortSignal, RowsWithoutFramesStayZero) {
    AnalysisSettings settings = longWindow();
    settings.windowLengthMs = 100;
    settings.windowShiftMs = 1;
    float signal[40] = {};
    for (int i = 0; i < 40; ++i) signal[i] = static_cast<float>(i * 17 % 23);
    SignalInfo info{40, 1, 8000, 16, 40};  // 800-sample frames, 8-sample shift
    FrameGeometry geometry{};
    settings.preEmphasis = 0.0f;
    float* window = nullptr;
    ASSERT_EQ(prepareSignal(&window, signal, &geometry, &info, &settings), 0);
    FeatureMatrix matrix{};
    int32_t frames = -1;
    ASSERT_EQ(analyseFrames(signal, window, &settings, &info, &geometry, &matrix, &frames), 0);
    EXPECT_EQ(frames, 0);
    ASSERT_EQ(matrix.rowCount, 5);
    for (int32_t r = 0; r < 5; ++r)
        for (int32_t c = 0; c < matrix.columnCount; ++c) EXPECT_EQ(matrixRow(matrix, r)[c], 0.0f);
    releaseFeatureMatrix(&matrix);
    free(window);
}

// One sample more than a frame: the whole window is built and exactly one frame is analysed.
TEST(ShortSignal, OneSampleBeyondTheFrameBuildsTheWholeWindow) {
    AnalysisSettings settings = longWindow();
    settings.windowLengthMs = 1;
    settings.preEmphasis = 0.0f;
    float signal[17];
    for (int i = 0; i < 17; ++i) signal[i] = static_cast<float>(i % 5) - 2.0f;
    SignalInfo info{17, 1, 16000, 16, 17};  // 16-sample frames
    FrameGeometry geometry{};
    float* window = nullptr;
    ASSERT_EQ(prepareSignal(&window, signal, &geometry, &info, &settings), 0);
    float full[16];
    makeWindow(full, 4, 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(window[i], full[i]) << i;
    FeatureMatrix matrix{};
    int32_t frames = -1;
    ASSERT_EQ(analyseFrames(signal, window, &settings, &info, &geometry, &matrix, &frames), 0);
    EXPECT_EQ(frames, 1);
    releaseFeatureMatrix(&matrix);
    free(window);
}

}  // namespace
