#include "dsp/conditioning.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "orvalix.h"
#include "support/capture.h"

namespace {

TEST(MsToSamples, DividesBeforeMultiplyingAndTruncates) {
    EXPECT_EQ(msToSamples(30, 8000), 240);
    EXPECT_EQ(msToSamples(30, 11025), 330);
    EXPECT_EQ(msToSamples(30, 16000), 480);  // 479 with a wider intermediate
    EXPECT_EQ(msToSamples(30, 22050), 661);
    EXPECT_EQ(msToSamples(30, 44100), 1323);
    EXPECT_EQ(msToSamples(30, 48000), 1440);
    EXPECT_EQ(msToSamples(25, 22050), 551);
    EXPECT_EQ(msToSamples(10, 11025), 110);
    EXPECT_EQ(msToSamples(1, 999), 0);
}

TEST(SubtractMean, RunningMeanOfTwoSamples) {
    float x[] = {1.0f, 2.0f};
    subtractMean(x, 2);
    EXPECT_EQ(x[0], -0.5f);
    EXPECT_EQ(x[1], 0.5f);
    subtractMean(nullptr, 0);  // no division for an empty signal
}

TEST(PreEmphasize, FiltersCircularlyAndPrintsBothWordsOnOneLine) {
    float x[] = {1.0f, 4.0f, 9.0f};
    StreamCapture out(stdout);
    preEmphasize(x, 3, 1.0f);
    EXPECT_EQ(out.text(), "High emphasis filtering...OK\n");
    EXPECT_EQ(x[0], -8.0f);  // against the last unfiltered sample
    EXPECT_EQ(x[1], 3.0f);
    EXPECT_EQ(x[2], 5.0f);
}

TEST(PreEmphasize, RoundsTheProductToFloatBeforeSubtracting) {
    float x[] = {1.0f, 2.0f};
    StreamCapture out(stdout);
    preEmphasize(x, 2, 0.97f);
    out.text();
    EXPECT_EQ(x[1], static_cast<float>(2.0 - static_cast<float>(0.97f * 1.0)));
    EXPECT_EQ(x[0], static_cast<float>(1.0 - static_cast<float>(0.97f * 2.0)));
    EXPECT_EQ(x[0], -0.94000005722f);
}

TEST(PreEmphasize, OneSampleAndEmptySignal) {
    float one[] = {2.0f};
    StreamCapture out(stdout);
    preEmphasize(one, 1, 0.25f);
    preEmphasize(nullptr, 0, 0.25f);
    EXPECT_EQ(out.text(), "High emphasis filtering...OK\nHigh emphasis filtering...OK\n");
    EXPECT_EQ(one[0], 1.5f);
}

std::vector<float> window(int32_t kind, int32_t n) {
    std::vector<float> w(n);
    makeWindow(w.data(), kind, n);
    return w;
}

TEST(MakeWindow, FirstValues) {
    EXPECT_EQ(window(1, 480)[0], 0.08f);
    EXPECT_EQ(window(2, 480)[0], 0.0f);
    EXPECT_EQ(window(3, 480)[0], 0.0f);
    // (0.42 - 0.5) + 0.08 does not cancel in double.
    EXPECT_EQ(window(4, 480)[0], -0x1p-56f);
    EXPECT_EQ(window(9, 480)[0], -0x1p-56f);
}

TEST(MakeWindow, TriangularKind) {
    EXPECT_EQ(window(2, 4), (std::vector<float>{0.0f, 0.5f, 1.0f, 0.5f}));
    EXPECT_EQ(window(2, 5), (std::vector<float>{0.0f, 0.4f, 0.8f, 0.8f, 0.4f}));
}

TEST(MakeWindow, PeriodicKindsAreSymmetricWithMinimumFirst) {
    for (int32_t kind : {1, 3, 4}) {
        const int32_t n = 331;
        std::vector<float> w = window(kind, n);
        for (int32_t i = 1; i < n; ++i) {
            EXPECT_NEAR(w[n - i], w[i], 1e-6) << "kind " << kind << " n " << i;
            EXPECT_LT(w[0], w[i]) << "kind " << kind << " n " << i;
        }
    }
    EXPECT_EQ(window(4, 480), window(7, 480));  // unknown kinds take the Blackman window
}

TEST(PrepareSignal, DefaultsAt16000Hz) {
    AnalysisSettings settings = orvalixDefaultSettings();
    SignalInfo info{2, 1, 16000, 16, 2};
    float signal[] = {1.0f, 2.0f};
    FrameGeometry geometry{};
    float* w = nullptr;
    StreamCapture out(stdout);
    EXPECT_EQ(prepareSignal(&w, signal, &geometry, &info, &settings), 0);
    EXPECT_EQ(out.text(), "High emphasis filtering...OK\n");
    EXPECT_EQ(geometry.frameLength, 480);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w[0], 0.08f);
    EXPECT_EQ(signal[1], 2.0f - 0.97f);
    free(w);
}

TEST(PrepareSignal, RemovesTheOffsetBeforePreEmphasis) {
    AnalysisSettings settings = orvalixDefaultSettings();
    settings.removeDcOffset = 1;
    settings.preEmphasis = 0.5f;
    SignalInfo info{2, 1, 16000, 16, 2};
    float signal[] = {1.0f, 3.0f};
    FrameGeometry geometry{};
    float* w = nullptr;
    StreamCapture out(stdout);
    EXPECT_EQ(prepareSignal(&w, signal, &geometry, &info, &settings), 0);
    out.text();
    EXPECT_EQ(signal[0], -1.5f);  // the other order would give +1.5 here
    EXPECT_EQ(signal[1], 1.5f);
    free(w);
}

TEST(PrepareSignal, NoEmphasisAtZeroAndAnEmptyWindowBelow1000Hz) {
    AnalysisSettings settings = orvalixDefaultSettings();
    settings.windowLengthMs = 1;
    settings.preEmphasis = 0.0f;
    SignalInfo info{1, 1, 999, 16, 1};
    float signal[] = {5.0f};
    FrameGeometry geometry{};
    float* w = nullptr;
    StreamCapture out(stdout);
    EXPECT_EQ(prepareSignal(&w, signal, &geometry, &info, &settings), 0);
    EXPECT_EQ(out.text(), "");
    EXPECT_EQ(geometry.frameLength, 0);
    EXPECT_NE(w, nullptr);
    EXPECT_EQ(signal[0], 5.0f);
    free(w);
}

}  // namespace
