// The stream of the C interface against the whole-signal analysis and the whole-matrix front end:
// recordings pushed in random pieces, at every lane width, in both modes, as floats, 16-bit frames
// and two-channel frames, each row checked to come when its frame is followed by a sample (or the
// rows it depends on have come); and its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "dsp/processor.h"
#include "library/float_format.h"
#include "library/interface_records.h"
#include "mfcc/frame_geometry.h"
#include "orvalix.h"
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

// Front ends, each with the analysis' defaults: none; deltas of order 2 with a short sliding
// normalisation of variance too; c0 last, deltas and the default normalisation with labels; the
// filterbank rows with deltas and labels.
struct FrontEndRow {
    int32_t rowKind;
    bool use;
    std::function<void(OrvalixFrontEnd*)> set;
};
const FrontEndRow FRONT_ENDS[] = {
    {ORVALIX_ROWS_CEPSTRA, false, nullptr},
    {ORVALIX_ROWS_CEPSTRA, true, [](OrvalixFrontEnd* f) {
         f->deltaOrder = 2, f->cmvn = 1, f->cmvnSettings.window = 40, f->cmvnSettings.minWindow = 7,
         f->cmvnSettings.normaliseVariance = 1;
     }},
    {ORVALIX_ROWS_CEPSTRA, true, [](OrvalixFrontEnd* f) {
         f->includeC0 = f->c0Last = 1, f->deltaOrder = 1, f->deltaWindow = 3, f->cmvn = 1;
     }},
    {ORVALIX_ROWS_FILTERBANK, true, [](OrvalixFrontEnd* f) { f->filterbankRows = 1, f->deltaOrder = 1; }}};

// The file's samples as the program reads them: floats of the mono mix, and its 16-bit slots.
struct Recording {
    std::vector<float> signal;
    std::vector<int16_t> slots;
    int32_t rate = 0, channels = 1;
};

Recording load(const std::string& name) {
    Recording r;
    OrvalixSignal signal;
    if (orvalix_load_wave(name.c_str(), &signal, nullptr) != ORVALIX_OK) return r;
    r.signal.assign(signal.samples, signal.samples + signal.count);
    orvalix_release_signal(&signal);
    WavAudioFile file;
    file.openForRead(name.c_str());
    r.rate = signal.sampleRate, r.channels = file.channels();
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

// What a stream handed out: each frame's row (empty until it came) and the labels.
struct Streamed {
    std::vector<std::vector<float>> rows;
    std::vector<uint8_t> labels;
};

// Pushes the recording in pieces drawn by `piece`, takes every row as it comes and checks after
// each push that exactly the rows due (`due`, from the samples pushed) have come, up to a batch
// fewer; returns each frame's row.
Streamed streamed(OrvalixStream* s, const Recording& r, Feed feed, int32_t batch, bool labelled,
                  const std::function<int64_t()>& piece, const std::function<int64_t(int64_t)>& due) {
    const int64_t total = static_cast<int64_t>(r.signal.size());
    const int32_t width = orvalix_stream_row_width(s);
    Streamed out;
    std::vector<float> rows(static_cast<size_t>(width) * 256);
    std::vector<float> floatSlots(r.slots.begin(), r.slots.end());
    int64_t handedOut = 0;
    auto takeAll = [&] {
        int32_t n = 0;
        int64_t first = 0;
        while (orvalix_stream_rows(s, rows.data(), 256, &n, &first, nullptr) == ORVALIX_OK && n > 0)
            for (int32_t i = 0; i < n; ++i, ++handedOut) {
                if (out.rows.size() <= static_cast<size_t>(first + i)) out.rows.resize(first + i + 1);
                EXPECT_TRUE(out.rows[first + i].empty()) << "frame " << first + i << " twice";
                out.rows[first + i].assign(&rows[i * width], &rows[(i + 1) * width]);
            }
    };
    for (int64_t at = 0; at < total;) {
        const int64_t n = std::min(piece(), total - at);
        const int result =
            feed == FLOATS ? orvalix_stream_push_float(s, r.signal.data() + at, n, 1, nullptr)
            : feed == INT16_FRAMES
                ? orvalix_stream_push_int16(s, r.slots.data() + at * r.channels, n, r.channels, nullptr)
                : orvalix_stream_push_float(s, floatSlots.data() + at * r.channels, n, r.channels, nullptr);
        EXPECT_EQ(result, ORVALIX_OK);
        at += n;
        takeAll();
        EXPECT_LE(handedOut, due(at)) << "rows after sample " << at;
        EXPECT_GT(handedOut, due(at) - batch) << "rows after sample " << at;
    }
    EXPECT_EQ(orvalix_stream_finish(s, nullptr), ORVALIX_OK);
    takeAll();
    if (!labelled) return out;
    out.labels.resize(out.rows.size() + 1);
    int32_t count = 0;
    EXPECT_EQ(orvalix_stream_labels(s, out.labels.data(), static_cast<int32_t>(out.labels.size()),
                                    &count, nullptr, nullptr), ORVALIX_OK);
    out.labels.resize(count);
    return out;
}

// The whole signal's rows with row 0 as the stream computed it, through the whole-matrix front end.
void expectFrontEnd(const OrvalixFeatures& whole, const std::vector<float>& rowZero,
                    const OrvalixFrontEnd& front, bool labelled, const Streamed& got) {
    std::vector<float> values(whole.values, whole.values + whole.frameCount * whole.columnCount);
    if (!values.empty()) std::copy(rowZero.begin(), rowZero.end(), values.begin());
    OrvalixFeatures own = whole;  // the front end frees the rows it replaces
    own.values = static_cast<float*>(malloc(values.size() * 4 + 4));
    memcpy(own.values, values.data(), values.size() * 4);
    OrvalixLabels labels;
    ASSERT_EQ(orvalix_front_end(&own, &front, labelled ? &labels : nullptr, nullptr), ORVALIX_OK);
    ASSERT_EQ(static_cast<int32_t>(got.rows.size()), own.frameCount);
    for (int32_t f = 0; f < own.frameCount; ++f)
        ASSERT_EQ(memcmp(got.rows[f].data(), own.values + f * own.columnCount, own.columnCount * 4), 0)
            << "front-end row " << f;
    if (labelled) {
        EXPECT_EQ(got.labels, std::vector<uint8_t>(labels.values, labels.values + labels.count));
        orvalix_release_labels(&labels);
    }
    orvalix_release_features(&own);
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
            OrvalixSettings settings = orvalix_default_settings();
            ASSERT_EQ(orvalix_parse_options(static_cast<int>(options.size()), options.data(),
                                            &settings, nullptr), ORVALIX_OK);
            AnalysisSettings analysis;
            analysisSettingsFrom(&settings, &analysis, nullptr);
            const FrameGeometry geometry = frameGeometryFor(&analysis, r.rate);
            for (const FrontEndRow& frontRow : FRONT_ENDS) {
                if (frontRow.use && &options != &OPTION_SETS[0] && &options != &OPTION_SETS[1]) continue;
                OrvalixFeatures whole;
                const int analysed = frontRow.rowKind == ORVALIX_ROWS_FILTERBANK
                    ? orvalix_analyse_filterbank(r.signal.data(), r.signal.size(), r.rate, &settings, &whole, nullptr)
                    : orvalix_analyse(r.signal.data(), r.signal.size(), r.rate, &settings, &whole, nullptr);
                ASSERT_EQ(analysed, ORVALIX_OK);
                OrvalixStreamOptions streamOptions = orvalix_default_stream_options();
                streamOptions.rowKind = frontRow.rowKind;
                streamOptions.lanes = lanes;
                streamOptions.useFrontEnd = frontRow.use;
                streamOptions.wantLabels = frontRow.use && frontRow.rowKind == ORVALIX_ROWS_FILTERBANK;
                if (frontRow.set) frontRow.set(&streamOptions.frontEnd);
                const OrvalixFrontEnd& front = streamOptions.frontEnd;
                const int64_t reach = front.deltaOrder * front.deltaWindow;
                const int64_t minWindow = front.cmvn ? front.cmvnSettings.minWindow : 0;
                std::vector<float> rowZero;
                for (int32_t mode : {ORVALIX_STREAM_LIVE, ORVALIX_STREAM_EXACT}) {
                    streamOptions.mode = mode;
                    OrvalixStream* s = nullptr;
                    ASSERT_EQ(orvalix_stream_open(&settings, r.rate, &streamOptions, &s, nullptr), ORVALIX_OK);
                    const bool holds = mode == ORVALIX_STREAM_EXACT && settings.preEmphasis > 0;
                    const int64_t shift = geometry.shiftSamples;
                    // One sample at a time, everything at once, pieces around a shift, then at
                    // random; the same stream, reset between runs.
                    const std::vector<std::function<int64_t()>> splits = {
                        [] { return 1; }, [] { return INT64_MAX / 4; },
                        [&] { return std::uniform_int_distribution<int64_t>(0, 3 * shift)(random); },
                        [&] { return std::uniform_int_distribution<int64_t>(0, 20000)(random); }};
                    for (const auto& piece : splits) {
                        const Feed feed = static_cast<Feed>(draw++ % 3);
                        const int32_t batch = draw % 4 == 0 ? lanes : 1;
                        streamOptions.batchFrames = batch;
                        orvalix_stream_release(s);
                        ASSERT_EQ(orvalix_stream_open(&settings, r.rate, &streamOptions, &s, nullptr), ORVALIX_OK);
                        // The rows due once `at` samples are in: every analysed frame but a held
                        // row 0; the front end's wait on later rows and on row minWindow - 1.
                        auto due = [&](int64_t at) -> int64_t {
                            const int64_t frames = framesToAnalyse(static_cast<int32_t>(at), &geometry);
                            if (!frontRow.use) return frames - (holds && frames > 0 ? 1 : 0);
                            if (holds) return 0;
                            const int64_t delayed = std::max<int64_t>(frames - reach, 0);
                            return delayed < minWindow ? 0 : delayed;
                        };
                        const Streamed got = streamed(s, r, feed, batch, streamOptions.wantLabels, piece, due);
                        SCOPED_TRACE(testing::Message() << name << " " << testing::PrintToString(options)
                                                        << " mode " << mode << " feed " << feed
                                                        << " front end " << (&frontRow - FRONT_ENDS));
                        if (!frontRow.use) {
                            ASSERT_EQ(static_cast<int32_t>(got.rows.size()), whole.frameCount);
                            const bool rowZeroExact = mode == ORVALIX_STREAM_EXACT || !(settings.preEmphasis > 0);
                            for (int32_t f = rowZeroExact ? 0 : 1; f < whole.frameCount; ++f)
                                ASSERT_EQ(text(got.rows[f].data(), whole.columnCount),
                                          text(whole.values + f * whole.columnCount, whole.columnCount))
                                    << "frame " << f;
                        } else {
                            // Live: the live row 0 of a plain stream in the same split, run first.
                            if (mode == ORVALIX_STREAM_EXACT || rowZero.empty())
                                rowZero.assign(whole.values, whole.values + (whole.frameCount ? whole.columnCount : 0));
                            if (mode == ORVALIX_STREAM_LIVE && whole.frameCount > 0 && settings.preEmphasis > 0) {
                                OrvalixStreamOptions plain = streamOptions;
                                plain.useFrontEnd = plain.wantLabels = 0;
                                OrvalixStream* p = nullptr;
                                int32_t n = 0;
                                ASSERT_EQ(orvalix_stream_open(&settings, r.rate, &plain, &p, nullptr), ORVALIX_OK);
                                orvalix_stream_push_float(p, r.signal.data(), r.signal.size(), 1, nullptr);
                                orvalix_stream_rows(p, rowZero.data(), 1, &n, nullptr, nullptr);
                                orvalix_stream_release(p);
                            }
                            expectFrontEnd(whole, rowZero, front, streamOptions.wantLabels, got);
                        }
                    }
                    orvalix_stream_release(s);
                }
                orvalix_release_features(&whole);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Stream, EveryLaneWidth, testing::Values(1, 2, 4, 8));

// Each refusal: its code and a message, nothing printed, and a push refused changes nothing.
TEST(Stream, RefusesBadCallsWithClearCodes) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const OrvalixSettings defaults = orvalix_default_settings();
    const OrvalixStreamOptions plain = orvalix_default_stream_options();
    OrvalixSettings dcOffset = defaults, shortWindow = defaults;
    dcOffset.removeDcOffset = 1;
    shortWindow.windowLengthMs = 1;
    OrvalixStreamOptions voiced = plain, centred = plain, labelsAlone = plain, badLanes = plain;
    voiced.useFrontEnd = voiced.frontEnd.voicedOnly = 1;
    centred.useFrontEnd = centred.frontEnd.cmvn = centred.frontEnd.cmvnSettings.centred = 1;
    labelsAlone.wantLabels = 1;
    badLanes.lanes = 3;
    const struct {
        const char* what;
        const OrvalixSettings* settings;
        int32_t rate;
        const OrvalixStreamOptions* options;
        int opened;
    } opens[] = {{"-V1", &dcOffset, 16000, &plain, ORVALIX_NEEDS_WHOLE_SIGNAL},
                 {"voiced rows alone", &defaults, 16000, &voiced, ORVALIX_NEEDS_WHOLE_SIGNAL},
                 {"centred normalisation", &defaults, 16000, &centred, ORVALIX_NEEDS_WHOLE_SIGNAL},
                 {"rate 0", &defaults, 0, &plain, ORVALIX_ANALYSIS_FAILED},
                 {"shift below a sample", &defaults, 50, &plain, ORVALIX_ANALYSIS_FAILED},
                 {"window below two samples", &shortWindow, 1000, &plain, ORVALIX_ANALYSIS_FAILED},
                 {"no settings", nullptr, 16000, &plain, ORVALIX_INVALID_ARGUMENT},
                 {"no options", &defaults, 16000, nullptr, ORVALIX_INVALID_ARGUMENT},
                 {"labels without the front end", &defaults, 16000, &labelsAlone, ORVALIX_INVALID_ARGUMENT},
                 {"three lanes", &defaults, 16000, &badLanes, ORVALIX_INVALID_ARGUMENT}};
    for (const auto& c : opens) {
        OrvalixStream* s = reinterpret_cast<OrvalixStream*>(&dcOffset);
        OrvalixError error{};
        EXPECT_EQ(orvalix_stream_open(c.settings, c.rate, c.options, &s, &error), c.opened) << c.what;
        EXPECT_EQ(error.code, c.opened) << c.what;
        EXPECT_NE(error.message[0], '\0') << c.what;
        EXPECT_EQ(s, nullptr) << c.what;
    }
    OrvalixStream* s = nullptr;
    ASSERT_EQ(orvalix_stream_open(&defaults, 16000, &plain, &s, nullptr), ORVALIX_OK);
    const std::vector<float> samples(1000, 1.0f);
    const int16_t slots[4] = {1, 2, 3, 4};
    float row[13];
    int32_t count = 0;
    uint8_t label;
    const struct {
        const char* what;
        std::function<int(OrvalixError*)> call;
        int result;
        int32_t rowsAfter;
    } calls[] = {
        {"negative count", [&](OrvalixError* e) { return orvalix_stream_push_float(s, samples.data(), -1, 1, e); }, ORVALIX_INVALID_ARGUMENT, 0},
        {"null samples", [&](OrvalixError* e) { return orvalix_stream_push_float(s, nullptr, 5, 1, e); }, ORVALIX_INVALID_ARGUMENT, 0},
        {"three channels", [&](OrvalixError* e) { return orvalix_stream_push_int16(s, slots, 1, 3, e); }, ORVALIX_INVALID_ARGUMENT, 0},
        {"null stream", [&](OrvalixError* e) { return orvalix_stream_push_int16(nullptr, slots, 1, 1, e); }, ORVALIX_INVALID_ARGUMENT, 0},
        {"no samples", [&](OrvalixError* e) { return orvalix_stream_push_float(s, nullptr, 0, 1, e); }, ORVALIX_OK, 0},
        {"a push", [&](OrvalixError* e) { return orvalix_stream_push_float(s, samples.data(), 1000, 1, e); }, ORVALIX_OK, 1},
        {"rows without a count", [&](OrvalixError* e) { return orvalix_stream_rows(s, row, 1, nullptr, nullptr, e); }, ORVALIX_INVALID_ARGUMENT, 0},
        {"labels not asked for", [&](OrvalixError* e) { return orvalix_stream_labels(s, &label, 1, &count, nullptr, e); }, ORVALIX_INVALID_ARGUMENT, 0},
        {"finish", [&](OrvalixError* e) { return orvalix_stream_finish(s, e); }, ORVALIX_OK, 1},
        {"finish again", [&](OrvalixError* e) { return orvalix_stream_finish(s, e); }, ORVALIX_STREAM_FINISHED, 0},
        {"push after finish", [&](OrvalixError* e) { return orvalix_stream_push_int16(s, slots, 2, 2, e); }, ORVALIX_STREAM_FINISHED, 0},
        {"push after reset", [&](OrvalixError* e) { orvalix_stream_reset(s, nullptr); return orvalix_stream_push_int16(s, slots, 2, 2, e); }, ORVALIX_OK, 0}};
    for (const auto& c : calls) {
        OrvalixError error{};
        EXPECT_EQ(c.call(&error), c.result) << c.what;
        EXPECT_EQ(error.code, c.result) << c.what;
        EXPECT_EQ(error.message[0] == '\0', c.result == ORVALIX_OK) << c.what;
        // A refused push leaves no rows behind; rows come one at a time here.
        int32_t rows = 0;
        for (int32_t n = 1; n > 0; rows += n) orvalix_stream_rows(s, row, 1, &n, nullptr, nullptr);
        EXPECT_EQ(rows > 0, c.rowsAfter > 0) << c.what;
    }
    orvalix_stream_release(s);
    orvalix_stream_release(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr(), "");
}

}  // namespace
