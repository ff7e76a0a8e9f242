// The production analysis against the literal pipeline on many random signals and option
// combinations, at every vector level the processor runs, whole and a chunk at a time: the same
// coefficients, bit for bit. The production side is reached through the library's public face, the
// vector-level cap and the chunked entry.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "dsp/fft_plan.h"
#include "include/orvalix.h"
#include "mfcc/chunked_analysis.h"
#include "reference/literal_pipeline.h"
#include "wave/wav_audio_file.h"

namespace {

const int32_t RATES[] = {8000, 11025, 16000, 22050, 44100, 48000};
enum SignalKind { NOISE_16, NOISE_8, SILENCE, DC, TONE_16, SPARSE, MIXED_HALVES, KIND_COUNT };

struct Case {
    std::vector<float> signal;
    int32_t rate;
    literal::Options options;
};

// Integer-valued samples as the loader delivers them; halves for a mixed two-channel file.
std::vector<float> makeSignal(std::mt19937& random, int kind, int32_t length) {
    std::vector<float> x(static_cast<size_t>(length));
    std::uniform_int_distribution<int> sample16(-32768, 32767), sample8(0, 255);
    const int dc = sample16(random);
    const double step = std::uniform_real_distribution<double>(0.001, 0.5)(random);
    for (int32_t i = 0; i < length; ++i) {
        switch (kind) {
        case NOISE_16: x[i] = static_cast<float>(sample16(random)); break;
        case NOISE_8: x[i] = static_cast<float>(sample8(random)); break;
        case SILENCE: x[i] = 0.0f; break;
        case DC: x[i] = static_cast<float>(dc); break;
        case TONE_16:
            x[i] = static_cast<float>(static_cast<int>(20000.0 * std::sin(step * i)) + sample16(random) / 64);
            break;
        case SPARSE:  // mostly exact zeros: the transform's zero-sign and tiny-residue cases
            x[i] = random() % 61 == 0 ? static_cast<float>(sample16(random)) : 0.0f;
            break;
        default: x[i] = static_cast<float>((sample16(random) + sample16(random)) / 2.0); break;
        }
    }
    return x;
}

// Mostly the usual settings, every option pushed to its limits now and then; signals of no sample,
// under a frame, a frame and about a sample, or up to a quarter of a second.
Case makeCase(std::mt19937& random) {
    Case c;
    c.rate = RATES[random() % 6];
    literal::Options& o = c.options;
    o.windowLengthMs = random() % 3 == 0 ? 1 + static_cast<int>(random() % 100) : 30;
    o.windowShiftMs = random() % 3 == 0 ? 1 + static_cast<int>(random() % 100) : 10;
    o.windowType = 1 + static_cast<int>(random() % 4);
    o.emphasisPercent = random() % 4 == 0 ? static_cast<int>(random() % 101) : 97;
    o.removeDcOffset = static_cast<int>(random() % 2);
    o.powerOfTwoBelow = static_cast<int>(random() % 2);
    o.melFilterCount = random() % 3 == 0 ? static_cast<int>(random() % 101) : 0;
    o.cepstralCount = 1 + static_cast<int>(random() % 20);
    o.lifterType = 1 + static_cast<int>(random() % 3);
    o.filterDomain = 1 + static_cast<int>(random() % 2);
    o.includeC0 = static_cast<int>(random() % 2);
    const int32_t frameLength = literal::msToSamples(o.windowLengthMs, c.rate);
    int32_t length = static_cast<int32_t>(random() % (c.rate / 4 + 1));
    if (random() % 5 == 0) length = static_cast<int32_t>(random() % 4);
    if (random() % 5 == 0) length = frameLength + static_cast<int32_t>(random() % 3) - 1;
    c.signal = makeSignal(random, static_cast<int>(random() % KIND_COUNT), std::max(length, 0));
    return c;
}

AnalysisSettings settingsFor(const literal::Options& o) {
    AnalysisSettings s = orvalixDefaultSettings();
    s.windowLengthMs = o.windowLengthMs, s.windowShiftMs = o.windowShiftMs;
    s.melFilterCount = o.melFilterCount, s.includeC0 = o.includeC0;
    s.removeDcOffset = o.removeDcOffset, s.powerOfTwoBelow = o.powerOfTwoBelow;
    s.cepstralCount = o.cepstralCount, s.windowType = o.windowType, s.lifterType = o.lifterType;
    s.filterDomain = o.filterDomain, s.preEmphasis = static_cast<float>(o.emphasisPercent / 100.0);
    return s;
}

std::string describe(const Case& c) {
    const literal::Options& o = c.options;
    char text[200];
    snprintf(text, sizeof text, "rate %d, %zu samples, -L%d -S%d -W%d -H%d -V%d -U%d -N%d -M%d -I%d -A%d",
             c.rate, c.signal.size(), o.windowLengthMs, o.windowShiftMs, o.windowType,
             o.emphasisPercent, o.removeDcOffset, o.powerOfTwoBelow, o.melFilterCount,
             o.cepstralCount, o.lifterType, o.filterDomain);
    return text;
}

// Status, frame count, settled filter count and every coefficient's bits against the literal run.
testing::AssertionResult sameAsLiteral(const Case& c, int status, int32_t frames, int32_t filters,
                                       const float* values) {
    const literal::Analysis expected = literal::analyseFull(c.signal, c.rate, c.options);
    if (status != expected.status) return testing::AssertionFailure() << "status " << status << ": " << describe(c);
    if (status) return testing::AssertionSuccess();
    if (frames != static_cast<int32_t>(expected.rows.size()) || filters != expected.filterCount)
        return testing::AssertionFailure() << frames << " frames, " << filters << " filters against "
                                           << expected.rows.size() << ", " << expected.filterCount << ": " << describe(c);
    const int32_t columns = c.options.cepstralCount + 1;
    for (int32_t row = 0; row < frames; ++row)
        for (int32_t i = 0; i < columns; ++i)
            if (std::bit_cast<uint32_t>(values[row * columns + i]) != std::bit_cast<uint32_t>(expected.rows[row][i]))
                return testing::AssertionFailure() << "frame " << row << " c" << i << ": " << values[row * columns + i]
                                                   << " against " << expected.rows[row][i] << ": " << describe(c);
    return testing::AssertionSuccess();
}

testing::AssertionResult sameCoefficients(const Case& c) {
    AnalysisSettings settings = settingsFor(c.options);
    OrvalixFeatures features{};
    const int status = orvalixAnalyse(c.signal.data(), static_cast<int32_t>(c.signal.size()), c.rate,
                                      &settings, &features);
    testing::AssertionResult same = sameAsLiteral(c, status, features.frameCount, settings.melFilterCount,
                                                  features.values);
    orvalixReleaseFeatures(&features);
    return same;
}

// Every vector level the processor runs, from the widest down to plain code.
class EveryVectorLevel : public testing::TestWithParam<int> {
protected:
    void SetUp() override {
        if (GetParam() > fftVectorLevel()) GTEST_SKIP() << "the processor lacks vector level " << GetParam();
        capFftVectorLevel(GetParam());
        orvalixSetConsoleOutput(0);
    }
    void TearDown() override { capFftVectorLevel(2); }
};

TEST_P(EveryVectorLevel, RandomSignalsAndOptions) {
    std::mt19937 random(20010629 + GetParam());
    for (int n = 0; n < (GetParam() == 2 ? 2000 : 600); ++n) ASSERT_TRUE(sameCoefficients(makeCase(random))) << n;
}

TEST_P(EveryVectorLevel, LongerSignalsOfEveryRateAndFrameCountsAroundMultiplesOfEight) {
    std::mt19937 random(16000);
    for (int32_t rate : RATES) {
        for (int kind = 0; kind < KIND_COUNT; ++kind) {
            Case c{makeSignal(random, kind, rate + static_cast<int32_t>(random() % 1000)), rate, {}};
            c.options.includeC0 = 1;
            ASSERT_TRUE(sameCoefficients(c));
            c.options.filterDomain = 2, c.options.lifterType = 3;
            ASSERT_TRUE(sameCoefficients(c));
        }
        // Eight frames go at a time while eight remain, the rest one by one.
        for (int32_t frames = 1; frames <= 18; ++frames) {
            Case c = makeCase(random);
            c.rate = rate;
            c.options.powerOfTwoBelow = frames % 2;
            const int32_t frameLength = literal::msToSamples(c.options.windowLengthMs, rate);
            const int32_t shift = literal::msToSamples(c.options.windowShiftMs, rate);
            c.signal = makeSignal(random, static_cast<int>(random() % KIND_COUNT),
                                  frameLength + 1 + (frames - 1) * shift + static_cast<int32_t>(random() % shift));
            ASSERT_TRUE(sameCoefficients(c)) << frames << " frames";
        }
    }
}

// Files read and analysed a chunk at a time, with chunks small enough that short inputs span many,
// cut at and around chunk boundaries, against the literal reading and analysis of the whole file.
TEST_P(EveryVectorLevel, ChunkedFiles) {
    std::mt19937 random(42 + GetParam());
    const std::string name = testing::TempDir() + "orvalix_chunked" + std::to_string(GetParam()) + ".wav";
    for (int trial = 0; trial < 40; ++trial) {
        Case c = makeCase(random);
        c.options.removeDcOffset = 0;  // the mean needs every sample: never chunked
        c.options.windowLengthMs = std::max(c.options.windowLengthMs, 2);
        const int32_t channels = 1 + trial % 2, bits = trial % 3 ? 16 : 8;
        const int32_t shift = literal::msToSamples(c.options.windowShiftMs, c.rate);
        const int32_t frame = literal::msToSamples(c.options.windowLengthMs, c.rate);
        const int32_t group = 8 * shift;
        const int32_t chunk = ((frame + group - 1) / group + static_cast<int32_t>(random() % 3)) * group;
        const int32_t extras[] = {0, 1, 2, frame - 1, frame, frame + 1, chunk - 1};
        const int32_t length = (4 + trial % 3) * chunk + extras[trial % 7];
        std::vector<int16_t> slots(static_cast<size_t>(length * channels));
        for (size_t i = 0; i < slots.size(); ++i)
            slots[i] = static_cast<int16_t>(bits == 8 ? random() % 256 : 12000.0 * std::sin(0.01 * i * (1 + i % 7)) + random() % 4000);
        ASSERT_EQ(writeWaveFile(name.c_str(), slots.data(), static_cast<uint32_t>(length), channels, c.rate, bits), RFX_SUCCESS);
        literal::Wave wave;
        ASSERT_TRUE(literal::readCanonicalWave(name, wave));
        c.signal = wave.samples;
        AnalysisSettings settings = settingsFor(c.options);
        ASSERT_EQ(chunkLengthFor(name.c_str(), &settings, chunk), chunk) << describe(c);
        FeatureMatrix matrix{0, 0, nullptr};
        int32_t frames = 0;
        const int status = analyseWaveFileInChunks(name.c_str(), &settings, chunk, &matrix, &frames);
        EXPECT_TRUE(sameAsLiteral(c, status, frames, settings.melFilterCount, matrix.values)) << trial;
        releaseFeatureMatrix(&matrix);
    }
    remove(name.c_str());
}

INSTANTIATE_TEST_SUITE_P(Differential, EveryVectorLevel, testing::Values(2, 1, 0));

}  // namespace
