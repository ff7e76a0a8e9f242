// The chunked analysis against loading the whole signal: the same rows, frame count, settled
// filter count and console text, bit for bit, for inputs cut at and around every chunk boundary.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "include/orvalix.h"
#include "main/driver.h"
#include "main/chunked_analysis.h"
#include "dsp/conditioning.h"
#include "modules/console.h"
#include "support/capture.h"
#include "wave/wav_audio_file.h"

namespace {

class ChunkedAnalysis : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/orvalix_chunked_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        folder_ = name;
    }
    void TearDown() override {
        for (const std::string& file : files_) unlink(file.c_str());
        rmdir(folder_.c_str());
    }

    // A wave file of frames random samples (speech-like tones under noise, or 8-bit noise).
    std::string writeInput(uint32_t frames, uint32_t channels, uint32_t rate, uint32_t bits,
                           uint32_t seed) {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> noise(-2000, 2000), byte(0, 255);
        std::vector<int16_t> slots(static_cast<size_t>(frames) * channels);
        for (size_t i = 0; i < slots.size(); ++i)
            slots[i] = bits == 8 ? static_cast<int16_t>(byte(random))
                                 : static_cast<int16_t>(12000.0 * std::sin(0.01 * i * (1 + i % 7)) +
                                                        noise(random));
        std::string name = folder_ + "/input" + std::to_string(files_.size()) + ".wav";
        files_.push_back(name);
        EXPECT_EQ(writeWaveFile(name.c_str(), slots.data(), frames, channels, rate, bits),
                  RFX_SUCCESS);
        return name;
    }

    std::string folder_;
    std::vector<std::string> files_;
};

struct Outcome {
    int status;
    int32_t frameCount;
    int32_t rowCount;
    int32_t filterCount;
    std::vector<uint32_t> values;  // the matrix's bits, so zeros' signs and NaNs compare too
    std::string out, err;
};

Outcome run(const std::string& input, AnalysisSettings settings, int32_t chunk) {
    Outcome o{};
    FeatureMatrix matrix{0, 0, nullptr};
    SignalInfo info;
    CapturedOutput console = captureOutput([&] {
        o.status = chunk > 0 ? analyseWaveFileInChunks(input.c_str(), &settings, chunk, &matrix,
                                                       &o.frameCount, &info)
                             : analyseWholeSignal(input.c_str(), &settings, &matrix, &o.frameCount,
                                                  &info);
    });
    o.out = console.out;
    o.err = console.err;
    o.rowCount = matrix.rowCount;
    o.filterCount = settings.melFilterCount;
    for (int64_t i = 0; i < static_cast<int64_t>(matrix.rowCount) * matrix.columnCount; ++i)
        o.values.push_back(std::bit_cast<uint32_t>(matrix.values[i]));
    releaseFeatureMatrix(&matrix);
    return o;
}

void expectSameAsWholeSignal(const std::string& input, const AnalysisSettings& settings,
                             int32_t chunkTarget, const std::string& what) {
    const int32_t chunk = chunkLengthFor(input.c_str(), &settings, chunkTarget);
    ASSERT_GT(chunk, 0) << what;
    Outcome whole = run(input, settings, 0), chunked = run(input, settings, chunk);
    EXPECT_EQ(chunked.status, whole.status) << what;
    EXPECT_EQ(chunked.frameCount, whole.frameCount) << what;
    EXPECT_EQ(chunked.rowCount, whole.rowCount) << what;
    EXPECT_EQ(chunked.filterCount, whole.filterCount) << what;
    EXPECT_EQ(chunked.out, whole.out) << what;
    EXPECT_EQ(chunked.err, whole.err) << what;
    EXPECT_TRUE(chunked.values == whole.values) << what << ": the rows differ";
}

TEST_F(ChunkedAnalysis, LengthsAtAndAroundEveryChunkBoundaryGiveTheWholeSignalsRows) {
    // 16 kHz defaults: frame 480, shift 160, chunk 1280 (eight shifts) from a target of 1300.
    const AnalysisSettings settings = orvalixDefaultSettings();
    const int32_t chunk = 1280, frame = 480;
    for (int32_t chunks = 4; chunks <= 6; ++chunks)
        for (int32_t extra : {0, 1, 2, frame - 1, frame, frame + 1, frame + 2, chunk - 1}) {
            const uint32_t length = static_cast<uint32_t>(chunks * chunk + extra);
            expectSameAsWholeSignal(writeInput(length, 1, 16000, 16, length), settings, 1300,
                                    "length " + std::to_string(length));
        }
}

TEST_F(ChunkedAnalysis, EveryOptionAndFormatGivesTheWholeSignalsRows) {
    std::mt19937 random(42);
    const uint32_t rates[] = {8000, 11025, 16000, 22050, 44100};
    for (int trial = 0; trial < 40; ++trial) {
        AnalysisSettings s = orvalixDefaultSettings();
        s.windowLengthMs = 2 + static_cast<int32_t>(random() % 99);
        s.windowShiftMs = 1 + static_cast<int32_t>(random() % 100);
        s.windowType = 1 + static_cast<int32_t>(random() % 4);
        s.preEmphasis = static_cast<float>((random() % 3 == 0 ? 0 : random() % 101) / 100.0);
        s.powerOfTwoBelow = static_cast<int32_t>(random() % 2);
        s.melFilterCount = random() % 2 ? 0 : 1 + static_cast<int32_t>(random() % 100);
        s.cepstralCount = 1 + static_cast<int32_t>(random() % 20);
        s.lifterType = 1 + static_cast<int32_t>(random() % 3);
        s.filterDomain = 1 + static_cast<int32_t>(random() % 2);
        const uint32_t rate = rates[random() % 5];
        const uint32_t channels = 1 + random() % 2, bits = random() % 3 ? 16 : 8;
        // Small chunks, so that the inputs stay small and still span many of them.
        const int32_t shift = static_cast<int32_t>(s.windowShiftMs / 1000.0 * rate);
        const int32_t frame = static_cast<int32_t>(s.windowLengthMs / 1000.0 * rate);
        const int32_t group = 8 * shift;
        const int32_t chunk =
            ((frame + group - 1) / group + static_cast<int32_t>(random() % 3)) * group;
        const uint32_t length = static_cast<uint32_t>(4 * chunk + random() % (3 * chunk));
        const std::string what = "trial " + std::to_string(trial) + " L" +
                                 std::to_string(s.windowLengthMs) + " S" +
                                 std::to_string(s.windowShiftMs) + " at " + std::to_string(rate);
        expectSameAsWholeSignal(writeInput(length, channels, rate, bits, trial), s, chunk, what);
    }
}

TEST_F(ChunkedAnalysis, InputsBetterAnalysedWholeAreLeftToTheWholeSignalPath) {
    AnalysisSettings s = orvalixDefaultSettings();
    const std::string longInput = writeInput(8000, 1, 16000, 16, 1);
    EXPECT_EQ(chunkLengthFor(longInput.c_str(), &s, 1300), 1280);
    EXPECT_EQ(chunkLengthFor(longInput.c_str(), &s, 1000), 0) << "under eight shifts";
    EXPECT_EQ(chunkLengthFor(longInput.c_str(), &s, 1900), 1280) << "a multiple of eight shifts";
    EXPECT_EQ(chunkLengthFor((folder_ + "/missing.wav").c_str(), &s, 1300), 0);
    const std::string shortInput = writeInput(4 * 1280 - 1, 1, 16000, 16, 2);
    EXPECT_EQ(chunkLengthFor(shortInput.c_str(), &s, 1300), 0) << "under four chunks";
    AnalysisSettings dc = s;
    dc.removeDcOffset = 1;
    EXPECT_EQ(chunkLengthFor(longInput.c_str(), &dc, 1300), 0) << "the mean needs every sample";
    AnalysisSettings tiny = s;
    tiny.windowLengthMs = 1;
    const std::string slow = writeInput(8000, 1, 1500, 16, 3);
    EXPECT_EQ(chunkLengthFor(slow.c_str(), &tiny, 1300), 0) << "a one-sample window";
    AnalysisSettings longFrame = s;
    longFrame.windowLengthMs = 100;
    EXPECT_EQ(chunkLengthFor(longInput.c_str(), &longFrame, 1300), 0) << "a frame beyond a chunk";
}

TEST_F(ChunkedAnalysis, ATruncatedDataChunkReadsWhatTheFileHolds) {
    // The header announces more samples than follow: both paths read what is there.
    const std::string input = writeInput(9000, 1, 16000, 16, 9);
    ASSERT_EQ(truncate(input.c_str(), 44 + 2 * 7000 + 1), 0);
    expectSameAsWholeSignal(input, orvalixDefaultSettings(), 1300, "truncated");
}

// An in-memory signal a chunk at a time, as the library analyses a long one: the whole-signal
// rows, cepstra and log filter energies alike, and the caller's samples left as they were.
TEST(InMemoryChunks, GiveTheWholeSignalsRows) {
    std::mt19937 random(44);
    std::uniform_int_distribution<int> noise(-20000, 20000);
    std::vector<float> signal(4 * 4096 + 3001);
    for (float& x : signal) x = static_cast<float>(noise(random));
    const std::vector<float> original = signal;
    for (RowKind kind : {ROWS_CEPSTRA, ROWS_LOG_ENERGIES}) {
        AnalysisSettings settings = orvalixDefaultSettings(), wholeSettings = settings;
        const int32_t chunk = chunkLengthFor(&settings, 16000, static_cast<int64_t>(signal.size()), 4096);
        ASSERT_GT(chunk, 0);
        FeatureMatrix chunked{}, whole{};
        int32_t chunkedFrames = 0, wholeFrames = 0;
        setStageReportsEnabled(0);
        ASSERT_EQ(analyseSignalInChunks(signal.data(), static_cast<int32_t>(signal.size()), 16000,
                                        &settings, chunk, kind, &chunked, &chunkedFrames), 0);
        std::vector<float> copy = signal;
        SignalInfo info{static_cast<int32_t>(copy.size()), 1, 16000, 16, static_cast<int32_t>(copy.size())};
        FrameGeometry geometry{};
        float* window = nullptr;
        ASSERT_EQ(prepareSignal(&window, copy.data(), &geometry, &info, &wholeSettings), 0);
        ASSERT_EQ(analyseFrames(copy.data(), window, &wholeSettings, &info, &geometry, &whole,
                                &wholeFrames, 0, kind), 0);
        setStageReportsEnabled(1);
        free(window);
        EXPECT_EQ(chunkedFrames, wholeFrames);
        ASSERT_EQ(chunked.rowCount, whole.rowCount);
        ASSERT_EQ(chunked.columnCount, whole.columnCount);
        EXPECT_EQ(memcmp(chunked.values, whole.values,
                         sizeof(float) * static_cast<size_t>(whole.rowCount) * whole.columnCount),
                  0);
        EXPECT_TRUE(signal == original);
        releaseFeatureMatrix(&chunked);
        releaseFeatureMatrix(&whole);
    }
}

}  // namespace
