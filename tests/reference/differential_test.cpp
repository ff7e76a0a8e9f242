// The production analysis against the literal pipeline, bit for bit: random signals and options at
// every lane width, whole and in chunks, from files and memory, cepstra and log filter energies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "dsp/processor.h"
#include "library/chunked_analysis.h"
#include "options/option_table.h"
#include "reference/literal_pipeline.h"
#include "wave/wav_audio_file.h"

namespace {

// 2000 Hz: a short window there has fewer samples than a batch has lanes.
const int32_t RATES[] = {8000, 11025, 16000, 22050, 44100, 48000, 2000};
constexpr int KIND_COUNT = 7;

struct Case {
    std::vector<float> signal;
    int32_t rate = 16000;
    literal::Options options;
};

// Integer-valued samples as the loader delivers them: 16- and 8-bit noise, silence, a constant, a
// tone under noise, mostly exact zeros (zero-sign and tiny-residue cases), a two-channel mix.
std::vector<float> makeSignal(std::mt19937& random, int kind, int32_t length) {
    std::vector<float> x(static_cast<size_t>(length));
    std::uniform_int_distribution<int> s16(-32768, 32767), s8(0, 255);
    const int dc = s16(random);
    const double step = std::uniform_real_distribution<double>(0.001, 0.5)(random);
    for (int32_t i = 0; i < length; ++i) {
        const double values[KIND_COUNT] = {
            1.0 * s16(random), 1.0 * s8(random), 0.0, 1.0 * dc,
            1.0 * (static_cast<int>(20000.0 * std::sin(step * i)) + s16(random) / 64),
            random() % 61 == 0 ? 1.0 * s16(random) : 0.0, (s16(random) + s16(random)) / 2.0};
        x[i] = static_cast<float>(values[kind]);
    }
    return x;
}

// Mostly the usual settings, every option pushed to its limits now and then; signals of no sample,
// under a frame, a frame and about a sample, a second, or up to a quarter of a second.
Case makeCase(std::mt19937& random) {
    Case c;
    c.rate = RATES[random() % std::size(RATES)];
    auto pick = [&random](int count) { return static_cast<int>(random() % count); };
    literal::Options& o = c.options;
    o.windowLengthMs = pick(3) == 0 ? 1 + pick(100) : 30;
    o.windowShiftMs = pick(3) == 0 ? 1 + pick(100) : 10;
    o.windowType = 1 + pick(4), o.emphasisPercent = pick(4) == 0 ? pick(101) : 97;
    o.removeDcOffset = pick(2), o.powerOfTwoBelow = pick(2), o.cepstralCount = 1 + pick(20);
    o.melFilterCount = pick(3) == 0 ? pick(101) : 0, o.lifterType = 1 + pick(3);
    o.filterDomain = 1 + pick(2), o.includeC0 = pick(2);
    // Whole batches of the lane width, the rest one by one: frame counts around multiples of 8.
    const int32_t frame = literal::msToSamples(o.windowLengthMs, c.rate);
    const int32_t shift = literal::msToSamples(o.windowShiftMs, c.rate), quarter = c.rate / 4 + 1;
    const int32_t lengths[] = {pick(4), frame + pick(3) - 1,
                               frame + 1 + pick(18) * shift + pick(shift), c.rate + pick(1000),
                               pick(quarter), pick(quarter), pick(quarter), pick(quarter)};
    c.signal = makeSignal(random, pick(KIND_COUNT), std::max(lengths[pick(8)], 0));
    return c;
}

// What an analysis under test with the literal run's options gave, its matrix released with it.
struct Outcome {
    AnalysisSettings settings;
    AnalysisOutcome run;
    explicit Outcome(const literal::Options& o) {
        int32_t defaults[OPTION_ROW_COUNT];
        for (int row = 0; row < OPTION_ROW_COUNT; row++) defaults[row] = optionDefault(row);
        settingsFromOptionValues(defaults, &settings);
        AnalysisSettings& s = settings;
        s.windowLengthMs = o.windowLengthMs, s.windowShiftMs = o.windowShiftMs;
        s.melFilterCount = o.melFilterCount, s.includeC0 = o.includeC0;
        s.removeDcOffset = o.removeDcOffset, s.powerOfTwoBelow = o.powerOfTwoBelow;
        s.cepstralCount = o.cepstralCount, s.windowType = o.windowType, s.lifterType = o.lifterType;
        s.filterDomain = o.filterDomain, s.preEmphasis = float(o.emphasisPercent / 100.0);
    }
    ~Outcome() { releaseFeatureMatrix(&run.matrix); }
};

// Status, frame count, settled filter count and every value's bits against the literal run: the
// cepstra (cepstralCount + 1 per row) or the log filter energies (filterCount per row).
testing::AssertionResult matches(const literal::Analysis& expected, const Outcome& got,
                                 RowKind kind) {
    if ((got.run.code != 0) != (expected.status != 0))
        return testing::AssertionFailure() << "status " << got.run.code;
    if (got.run.code) return testing::AssertionSuccess();
    const int32_t filters = got.run.filterCount;
    if (got.run.frameCount != static_cast<int32_t>(expected.rows.size()) || filters != expected.filterCount)
        return testing::AssertionFailure()
               << got.run.frameCount << " frames, " << filters << " filters against "
               << expected.rows.size() << ", " << expected.filterCount;
    const literal::Rows& rows = kind == ROWS_CEPSTRA ? expected.rows : expected.logEnergies;
    const float* value = got.run.matrix.values;
    for (size_t f = 0; f < rows.size(); ++f)
        for (size_t j = 0; j < rows[f].size(); ++j, ++value)
            if (std::bit_cast<uint32_t>(*value) != std::bit_cast<uint32_t>(rows[f][j]))
                return testing::AssertionFailure() << "frame " << f << " value " << j << ": "
                                                   << *value << " vs " << rows[f][j];
    return testing::AssertionSuccess();
}

// The signal in memory conditioned and analysed with batches of `lanes` frames.
testing::AssertionResult sameAsLiteralAt(const Case& c, const literal::Analysis& expected,
                                         int32_t lanes, RowKind kind) {
    Outcome got(c.options);
    const int32_t length = static_cast<int32_t>(c.signal.size());
    analyseSamples(c.signal.data(), length, c.rate, got.settings, AnalysisRequest{kind, lanes},
                   &got.run);
    return matches(expected, got, kind) << ", " << lanes << " lanes";
}

class EveryLaneWidth : public testing::TestWithParam<int32_t> {};

// Cepstra on every case, log filter energies (orvalix_analyse_filterbank's rows) on every fourth.
TEST_P(EveryLaneWidth, RandomSignalsAndOptions) {
    const int32_t lanes = GetParam();
    if (usableLanes(lanes) != lanes) GTEST_SKIP() << "the processor lacks " << lanes << " lanes";
    std::mt19937 random(20010629 + lanes);
    for (int n = 0; n < (lanes == processorLanes() ? 2000 : 700); ++n) {
        const Case c = makeCase(random);
        const literal::Analysis expected = literal::analyseFull(c.signal, c.rate, c.options);
        ASSERT_TRUE(sameAsLiteralAt(c, expected, lanes, ROWS_CEPSTRA)) << n;
        if (n % 4 == 0) {
            ASSERT_TRUE(sameAsLiteralAt(c, expected, lanes, ROWS_LOG_ENERGIES)) << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Differential, EveryLaneWidth, testing::Values(8, 4, 2, 1));

// The file analysed in chunks, and its samples in memory in the same chunks (and left unchanged),
// against the literal reading and analysis of the whole file, with the request's lanes and threads.
testing::AssertionResult chunkedSameAsLiteral(Case c, const std::string& name, int32_t target,
                                              AnalysisRequest request) {
    literal::Wave wave;
    if (!literal::readCanonicalWave(name, wave))
        return testing::AssertionFailure() << "unreadable " << name;
    c.signal = wave.samples;
    const int32_t length = static_cast<int32_t>(c.signal.size());
    const literal::Analysis expected = literal::analyseFull(c.signal, c.rate, c.options);
    Outcome fromFile(c.options);
    SignalReader reader;
    if (openWaveReader(name.c_str(), &reader, &fromFile.run.info, CONSOLE_SILENT) != RFX_SUCCESS)
        return testing::AssertionFailure() << "cannot open " << name;
    const AnalysisPlan filePlan = planAnalysis(fromFile.settings, c.rate, request);
    const int32_t chunk = chunkLengthFor(filePlan, reader.limit, target);
    if (chunk == 0) return testing::AssertionFailure() << "not analysed in chunks";
    analyseReaderInChunks(&reader, filePlan, chunk, &fromFile.run);
    auto same = matches(expected, fromFile, ROWS_CEPSTRA) << ", from the file";
    for (RowKind kind : {ROWS_CEPSTRA, ROWS_LOG_ENERGIES}) {
        Outcome got(c.options);
        request.rowKind = kind;
        const AnalysisPlan plan = planAnalysis(got.settings, c.rate, request);
        analyseSamplesInChunks(wave.samples.data(), length, plan, chunk, &got.run);
        if (wave.samples != c.signal) return testing::AssertionFailure() << "samples changed";
        if (same) same = matches(expected, got, kind) << ", in memory";
    }
    return same;
}

// Chunks small enough that short files span many; files cut at and around chunk boundaries, short
// of what their header announces or announcing far more; 8 and 16 bits, one and two channels;
// every lane width the processor runs, on one to three threads.
TEST(Differential, ChunkedFiles) {
    std::mt19937 random(42);
    const std::string name = testing::TempDir() + "orvalix_" + std::to_string(getpid()) + ".wav";
    for (int trial = 0; trial < 80; ++trial) {
        Case c = makeCase(random);
        c.options.removeDcOffset = 0;  // the mean needs every sample: never chunked
        if (trial % 4 == 0) c.options.emphasisPercent = 0;  // chunks start at their first sample
        c.options.windowLengthMs = std::max(c.options.windowLengthMs, 2);
        const int32_t channels = 1 + trial % 2, bits = trial % 3 ? 16 : 8;
        const int32_t shift = literal::msToSamples(c.options.windowShiftMs, c.rate);
        const int32_t frame = literal::msToSamples(c.options.windowLengthMs, c.rate);
        const int32_t group = MAX_LANES * shift, spare = static_cast<int32_t>(random() % 3);
        const int32_t chunk = ((frame + group - 1) / group + spare) * group;
        const int32_t extras[] = {0, 1, 2, frame - 1, frame, frame + 1, chunk - 1};
        const int32_t length = (4 + trial % 3) * chunk + extras[trial % 7];
        std::vector<int16_t> slots(static_cast<size_t>(length * channels));
        for (size_t i = 0; i < slots.size(); ++i) {
            const double tone = 12000.0 * std::sin(0.01 * i * (1 + i % 7)) + random() % 4000;
            slots[i] = static_cast<int16_t>(bits == 8 ? random() % 256 : tone);
        }
        ASSERT_EQ(writeWaveFile(name.c_str(), slots.data(), length, channels, c.rate, bits),
                  RFX_SUCCESS);
        if (trial % 7 == 6) {
            ASSERT_EQ(truncate(name.c_str(), 45 + (length - shift - 1) * channels * bits / 8), 0);
        } else if (trial % 7 == 5) {  // a data size far beyond the file: both read to its end
            FILE* file = fopen(name.c_str(), "r+b");
            ASSERT_TRUE(file && !fseek(file, 40, SEEK_SET) && fputs("\xff\xff\xff\x7f", file) >= 0);
            fclose(file);
        }
        const AnalysisRequest request{.lanes = usableLanes(MAX_LANES >> trial % 4), .threads = 1 + trial % 3};
        EXPECT_TRUE(chunkedSameAsLiteral(c, name, chunk, request)) << trial;
    }
    remove(name.c_str());
}

}  // namespace
