// The stream against the whole-signal analysis: recordings pushed in random pieces, at every lane
// width, in both modes, as floats, 16-bit frames and two-channel frames; and its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "dsp/processor.h"
#include "include/orvalix.h"
#include "library/stream.h"
#include "library/float_format.h"
#include "options/option_table.h"
#include "wave/wav_audio_file.h"

namespace {

const char* const RECORDINGS[] = {
    "samples/speech16k.wav", "tests/golden/shared/inputs/sp_8000_u8.wav",
    "tests/golden/shared/inputs/sp_stereo_16000.wav", "tests/golden/shared/inputs/sp_44100.wav",
    "tests/golden/shared/inputs/sp_999.wav", "tests/golden/shared/inputs/len481_16000.wav",
    "tests/golden/shared/inputs/silence_16000.wav"};

// Option sets: the defaults, c0 and no pre-emphasis, other windows and domains, a shift longer
// than the window, a transform shorter than the window.
const std::vector<std::vector<const char*>> OPTION_SETS = {
    {}, {"-C", "-H0"}, {"-C", "-L25", "-S5", "-W3", "-I2", "-A2", "-M20"}, {"-L20", "-S40", "-H50"},
    {"-U", "-W4", "-N24", "-I3"}};

// The file's samples as the program reads them: floats of the mono mix, and its 16-bit slots.
struct Recording {
    std::vector<float> signal;
    std::vector<int16_t> slots;
    int32_t rate = 0, channels = 1;
};

Recording load(const std::string& name) {
    Recording r;
    float* signal = nullptr;
    SignalInfo info;
    if (orvalixLoadWave(name.c_str(), &signal, &info) != 0) return r;
    r.signal.assign(signal, signal + info.samplesRead);
    free(signal);
    WavAudioFile file;
    file.openForRead(name.c_str());
    r.rate = info.sampleRate, r.channels = file.channels();
    r.slots.resize(static_cast<size_t>(file.frameCount()) * r.channels + 1);
    uint32_t frames = 0;
    file.readFrameBlock(file.frameCount(), r.slots.data(), &frames);
    r.slots.resize(static_cast<size_t>(frames) * r.channels);
    return r;
}

std::string text(const float* row, int32_t width) {
    std::string line;
    char number[64];
    for (int32_t j = 0; j < width; ++j) line.append(number, formatFixedSix(row[j], number)) += ' ';
    return line;
}

enum Feed { FLOATS, INT16_FRAMES, FLOAT_FRAMES };

// Pushes the recording in pieces drawn by `piece`, takes every row as it comes and checks that it
// comes as soon as its frame is followed by a sample; returns each frame's line.
std::vector<std::string> streamed(AnalysisStream* s, const Recording& r, Feed feed,
                                  const std::function<int64_t()>& piece) {
    const int64_t total = static_cast<int64_t>(r.signal.size());
    std::vector<std::string> lines;
    std::vector<float> row(64 * 256);
    std::vector<float> floatSlots(r.slots.begin(), r.slots.end());
    int64_t handedOut = 0;
    auto takeAll = [&] {
        int64_t first = 0;
        for (int64_t n; (n = takeRows(s, row.data(), 256, &first)) > 0;)
            for (int64_t i = 0; i < n; ++i, ++handedOut) {
                if (lines.size() <= static_cast<size_t>(first + i)) lines.resize(first + i + 1);
                EXPECT_TRUE(lines[first + i].empty()) << "frame " << first + i << " twice";
                lines[first + i] = text(&row[i * s->analyser.rowWidth], s->analyser.rowWidth);
            }
    };
    for (int64_t at = 0; at < total;) {
        const int64_t n = std::min(piece(), total - at);
        const int result = feed == FLOATS ? pushSamples(s, r.signal.data() + at, n)
                           : feed == INT16_FRAMES
                               ? pushInt16(s, r.slots.data() + at * r.channels, n, r.channels)
                               : pushFrames(s, floatSlots.data() + at * r.channels, n, r.channels);
        EXPECT_EQ(result, STREAM_OK);
        at += n;
        takeAll();
        // Each row as soon as a sample follows its frame, or at most a batch less.
        const int64_t due = framesToAnalyse(static_cast<int32_t>(at), &s->geometry) -
                            (s->rowZeroHeld ? 1 : 0);
        EXPECT_LE(handedOut, due);
        EXPECT_GT(handedOut, due - s->batchFrames) << "rows after sample " << at;
    }
    EXPECT_EQ(finishStream(s), STREAM_OK);
    takeAll();
    return lines;
}

class EveryLaneWidth : public testing::TestWithParam<int32_t> {};

TEST_P(EveryLaneWidth, AnySplitGivesTheWholeSignalsRows) {
    const int32_t lanes = GetParam();
    if (usableLanes(lanes) != lanes) GTEST_SKIP() << "the processor lacks " << lanes << " lanes";
    std::mt19937 random(1729 + lanes);
    int draw = 0;
    for (const char* name : RECORDINGS) {
        const Recording r = load(std::string(ORVALIX_SOURCE_DIR) + "/" + name);
        ASSERT_GT(r.rate, 0) << name;
        for (const auto& options : OPTION_SETS) {
            StreamSettings settings{orvalixDefaultSettings(), r.rate, STREAM_EXACT, ROWS_CEPSTRA,
                                    lanes, 1};
            char error[200];
            ASSERT_EQ(orvalixParseOptions(static_cast<int>(options.size()), options.data(),
                                          &settings.analysis, error, sizeof error), 0);
            OrvalixFeatures whole;
            AnalysisSettings wholeSettings = settings.analysis;
            ASSERT_EQ(orvalixAnalyse(r.signal.data(), static_cast<int32_t>(r.signal.size()),
                                     r.rate, &wholeSettings, &whole), 0);
            for (StreamMode mode : {STREAM_EXACT, STREAM_LIVE}) {
                settings.mode = mode;
                AnalysisStream s;
                ASSERT_EQ(openStream(settings, &s, error, sizeof error), STREAM_OK) << error;
                const int64_t shift = s.geometry.shiftSamples;
                // One sample at a time, everything at once, pieces around a shift, then at random;
                // the same stream, reset between runs.
                const std::vector<std::function<int64_t()>> splits = {
                    [] { return 1; }, [] { return INT64_MAX / 4; },
                    [&] { return std::uniform_int_distribution<int64_t>(0, 3 * shift)(random); },
                    [&] { return std::uniform_int_distribution<int64_t>(0, 20000)(random); }};
                for (const auto& piece : splits) {
                    const Feed feed = static_cast<Feed>(draw++ % 3);
                    s.batchFrames = draw % 4 == 0 ? lanes : 1;
                    const std::vector<std::string> lines = streamed(&s, r, feed, piece);
                    SCOPED_TRACE(testing::Message() << name << " " << testing::PrintToString(options)
                                                    << " mode " << mode << " feed " << feed);
                    ASSERT_EQ(static_cast<int32_t>(lines.size()), whole.frameCount);
                    const bool rowZeroExact = mode == STREAM_EXACT || !(settings.analysis.preEmphasis > 0);
                    for (int32_t f = rowZeroExact ? 0 : 1; f < whole.frameCount; ++f)
                        ASSERT_EQ(lines[f], text(whole.values + f * whole.columnCount,
                                                 whole.columnCount)) << "frame " << f;
                    resetStream(&s);
                }
                releaseStream(&s);
            }
            orvalixReleaseFeatures(&whole);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Stream, EveryLaneWidth, testing::Values(1, 2, 4, 8));

// Each refusal: its code, and a push refused changes nothing.
TEST(Stream, RefusesBadCallsWithClearCodes) {
    const AnalysisSettings defaults = orvalixDefaultSettings();
    AnalysisSettings dcOffset = defaults, oneSampleWindow = defaults;
    dcOffset.removeDcOffset = 1;
    oneSampleWindow.windowLengthMs = 1;
    const struct {
        const char* what;
        AnalysisSettings settings;
        int32_t rate;
        int opened;
    } opens[] = {{"-V1", dcOffset, 16000, STREAM_REFUSED_SETTINGS},
                 {"rate 0", defaults, 0, STREAM_BAD_RATE},
                 {"shift below a sample", defaults, 50, STREAM_BAD_RATE},
                 {"window below two samples", oneSampleWindow, 1000, STREAM_BAD_RATE}};
    for (const auto& c : opens) {
        AnalysisStream s;
        char error[200] = "";
        EXPECT_EQ(openStream({c.settings, c.rate, STREAM_EXACT, ROWS_CEPSTRA, 0, 1}, &s, error,
                             sizeof error), c.opened) << c.what;
        EXPECT_EQ(std::string(error).rfind("ERROR: ", 0), 0u) << c.what;
    }
    AnalysisStream s;
    ASSERT_EQ(openStream({defaults, 16000, STREAM_EXACT, ROWS_CEPSTRA, 0, 1}, &s, nullptr, 0), 0);
    const std::vector<float> samples(1000, 1.0f);
    const int16_t slots[4] = {1, 2, 3, 4};
    const struct {
        const char* what;
        std::function<int()> call;
        int result;
    } calls[] = {
        {"negative count", [&] { return pushSamples(&s, samples.data(), -1); }, STREAM_BAD_ARGUMENT},
        {"null samples", [&] { return pushSamples(&s, nullptr, 5); }, STREAM_BAD_ARGUMENT},
        {"three channels", [&] { return pushInt16(&s, slots, 1, 3); }, STREAM_BAD_ARGUMENT},
        {"no samples", [&] { return pushSamples(&s, nullptr, 0); }, STREAM_OK},
        {"a push", [&] { return pushSamples(&s, samples.data(), 1000); }, STREAM_OK},
        {"finish", [&] { return finishStream(&s); }, STREAM_OK},
        {"finish again", [&] { return finishStream(&s); }, STREAM_FINISHED},
        {"push after finish", [&] { return pushInt16(&s, slots, 2, 2); }, STREAM_FINISHED},
        {"push after reset", [&] { resetStream(&s); return pushInt16(&s, slots, 2, 2); }, STREAM_OK}};
    for (const auto& c : calls) {
        const int64_t pushed = s.pushed;
        EXPECT_EQ(c.call(), c.result) << c.what;
        if (c.result != STREAM_OK) {
            EXPECT_EQ(s.pushed, pushed) << c.what;
        }
        EXPECT_STRNE(streamResultText(c.result), "ERROR: Unknown stream result.");
    }
    releaseStream(&s);
}

}  // namespace
