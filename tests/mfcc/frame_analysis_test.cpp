#include "mfcc/frame_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "dsp/conditioning.h"
#include "orvalix.h"
#include "support/capture.h"

namespace {

struct AnalysisRun {
    int status;
    FeatureMatrix matrix;
    int32_t frames;
    FrameGeometry geometry;
    AnalysisSettings settings;
};

// Analyses the signal as it is (no conditioning), with a window of the configured kind.
AnalysisRun analyse(const std::vector<float>& signal, int32_t rate, AnalysisSettings settings,
            int32_t frameLength = -1) {
    AnalysisRun run{};
    run.geometry.frameLength =
        frameLength >= 0 ? frameLength : msToSamples(settings.windowLengthMs, rate);
    std::vector<float> window(run.geometry.frameLength + 1);
    makeWindow(window.data(), settings.windowType, run.geometry.frameLength);
    SignalInfo info{static_cast<int32_t>(signal.size()), 1, rate, 16,
                    static_cast<int32_t>(signal.size())};
    run.status = analyseFrames(signal.data(), window.data(), &settings, &info, &run.geometry,
                               &run.matrix, &run.frames);
    run.settings = settings;
    return run;
}

std::vector<float> noise(size_t n) {
    std::vector<float> x(n);
    unsigned state = 12345;
    for (auto& v : x) {
        state = state * 1103515245u + 12345u;
        v = static_cast<float>(static_cast<int>((state >> 16) & 0xFFFF) - 32768);
    }
    return x;
}

bool rowIsZero(const FeatureMatrix& m, int32_t row) {
    for (int32_t i = 0; i < m.columnCount; ++i)
        if (matrixRow(m, row)[i] != 0.0f) return false;
    return true;
}

TEST(AnalyseFrames, DefaultsAt16000Hz) {
    AnalysisRun run = analyse(noise(16000), 16000, orvalixDefaultSettings());
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.frames, 97);
    EXPECT_EQ(run.matrix.rowCount, 100);
    EXPECT_EQ(run.matrix.columnCount, 13);
    EXPECT_EQ(run.settings.melFilterCount, 30);  // the automatic count is written back
    EXPECT_EQ(run.geometry.fftLength, 512);
    EXPECT_EQ(run.geometry.shiftSamples, 160);
    EXPECT_EQ(run.geometry.frameStart, 97 * 160);
    EXPECT_FALSE(rowIsZero(run.matrix, 96));
    for (int32_t r = 97; r < 100; ++r) EXPECT_TRUE(rowIsZero(run.matrix, r)) << r;
    releaseFeatureMatrix(&run.matrix);
    EXPECT_EQ(run.matrix.values, nullptr);
}

TEST(AnalyseFrames, SilenceGivesFiniteEqualLogEnergies) {
    AnalysisRun run = analyse(std::vector<float>(16000, 0.0f), 16000, orvalixDefaultSettings());
    ASSERT_EQ(run.status, 0);
    for (int32_t r = 0; r < run.frames; ++r) {
        const float* row = matrixRow(run.matrix, r);
        ASSERT_EQ(row[0], -216.74151611328125f) << r;  // 30 x -7.224720001220703f
        for (int i = 1; i <= 12; ++i) ASSERT_TRUE(std::isfinite(row[i]));
    }
    char text[32];
    snprintf(text, sizeof text, "%f", matrixRow(run.matrix, 0)[0]);
    EXPECT_STREQ(text, "-216.741516");
    releaseFeatureMatrix(&run.matrix);
}

TEST(AnalyseFrames, AFrameNeedsOneSampleAfterIt) {
    AnalysisSettings settings = orvalixDefaultSettings();
    AnalysisRun none = analyse(noise(480), 16000, settings);
    EXPECT_EQ(none.frames, 0);
    EXPECT_EQ(none.matrix.rowCount, 3);
    EXPECT_TRUE(rowIsZero(none.matrix, 0));
    releaseFeatureMatrix(&none.matrix);
    AnalysisRun one = analyse(noise(481), 16000, settings);
    EXPECT_EQ(one.frames, 1);
    EXPECT_EQ(one.geometry.frameStart, 160);
    releaseFeatureMatrix(&one.matrix);
}

TEST(AnalyseFrames, AShiftLongerThanTheWindowGetsARowForEveryFrame) {
    // 101 samples, frames of 2 every 49 samples: frames at 0, 49 and 98, though 101 / 49 = 2.
    AnalysisSettings settings = orvalixDefaultSettings();
    settings.melFilterCount = 1;
    AnalysisRun run = analyse(noise(101), 4900, settings, 2);
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.geometry.shiftSamples, 49);
    EXPECT_EQ(run.frames, 3);
    EXPECT_EQ(run.matrix.rowCount, 3);
    EXPECT_FALSE(rowIsZero(run.matrix, 2));
    releaseFeatureMatrix(&run.matrix);
}

TEST(AnalyseFrames, AShiftBelowOneSampleIsRefused) {
    AnalysisSettings settings = orvalixDefaultSettings();
    settings.windowShiftMs = 1;
    StreamCapture err(stderr);
    AnalysisRun run = analyse(noise(2000), 999, settings, 10);
    EXPECT_EQ(err.text(), "ERROR: Window shift of 1 ms is below one sample at 999 Hz.\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.frames, 0);
    EXPECT_EQ(run.matrix.values, nullptr);
    EXPECT_EQ(run.settings.melFilterCount, 0);  // refused before the automatic count
}

TEST(AnalyseFrames, LifterAndDomainOptions) {
    std::vector<float> x = noise(4000);
    AnalysisSettings settings = orvalixDefaultSettings();
    AnalysisRun plain = analyse(x, 16000, settings);
    settings.lifterType = 2;
    AnalysisRun liftered = analyse(x, 16000, settings);
    settings.lifterType = 1;
    settings.filterDomain = 2;
    AnalysisRun power = analyse(x, 16000, settings);
    ASSERT_EQ(plain.frames, liftered.frames);
    for (int32_t r = 0; r < plain.frames; ++r) {
        const float* a = matrixRow(plain.matrix, r);
        const float* b = matrixRow(liftered.matrix, r);
        const float* p = matrixRow(power.matrix, r);
        EXPECT_EQ(a[0], b[0]) << r;  // c0 never liftered
        EXPECT_EQ(b[6], static_cast<float>(a[6] * 7.0)) << r;  // raised sine peak for 12
        for (int i = 0; i <= 12; ++i)
            EXPECT_NEAR(p[i], 2.0f * a[i], 1e-3 * (1 + std::fabs(a[i]))) << r << " " << i;
    }
    releaseFeatureMatrix(&plain.matrix);
    releaseFeatureMatrix(&liftered.matrix);
    releaseFeatureMatrix(&power.matrix);
}

TEST(AnalyseFrames, BelowPowerOfTwoAnd44100Hz) {
    AnalysisSettings settings = orvalixDefaultSettings();
    settings.powerOfTwoBelow = 1;
    AnalysisRun below = analyse(noise(4000), 16000, settings);
    EXPECT_EQ(below.status, 0);
    EXPECT_EQ(below.geometry.fftLength, 256);
    EXPECT_EQ(below.frames, 22);
    releaseFeatureMatrix(&below.matrix);
    AnalysisRun high = analyse(noise(44100), 44100, orvalixDefaultSettings());
    EXPECT_EQ(high.status, 0);
    EXPECT_EQ(high.settings.melFilterCount, 33);
    EXPECT_EQ(high.geometry.fftLength, 2048);
    for (int32_t r = 0; r < high.frames; ++r)
        for (int i = 0; i <= 12; ++i) ASSERT_TRUE(std::isfinite(matrixRow(high.matrix, r)[i]));
    releaseFeatureMatrix(&high.matrix);
}

TEST(AnalyseFramesDeathTest, AFrameOfOneSampleEndsInTheTransform) {
    EXPECT_EXIT(analyse(noise(100), 1000, orvalixDefaultSettings(), 1), ::testing::ExitedWithCode(1),
                ">>> Error in fftmisc: argument 1 to NumberOfBitsNeeded is too small\\.");
}

}  // namespace
