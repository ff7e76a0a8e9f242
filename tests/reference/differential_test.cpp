// Runs the production analysis (prepareSignal + analyseFrames) and the literal pipeline on many
// random signals and option combinations and requires the same coefficients, bit for bit, at
// every vector level the processor runs (lane widths 1, 2, 4, 8 through usableLanes).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "dsp/conditioning.h"
#include "dsp/processor.h"
#include "main/analysis_settings.h"
#include "mfcc/frame_analysis.h"
#include "modules/console.h"
#include "reference/literal_pipeline.h"

namespace {

// 2000 Hz: a short window there has fewer samples than a batch has lanes.
const int32_t RATES[] = {8000, 11025, 16000, 22050, 44100, 48000, 2000};

enum SignalKind { NOISE_16, NOISE_8, SILENCE, DC, TONE_16, SPARSE, MIXED_HALVES, KIND_COUNT };

struct Case {
    std::vector<float> signal;
    int32_t rate;
    literal::Options options;
};

uint32_t bitsOf(float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

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
            x[i] = static_cast<float>(static_cast<int>(20000.0 * std::sin(step * i)) +
                                      sample16(random) / 64);
            break;
        case SPARSE:  // mostly exact zeros: the transform's zero-sign and tiny-residue cases
            x[i] = random() % 61 == 0 ? static_cast<float>(sample16(random)) : 0.0f;
            break;
        default:
            x[i] = static_cast<float>((sample16(random) + sample16(random)) / 2.0);
            break;
        }
    }
    return x;
}

Case makeCase(std::mt19937& random) {
    Case c;
    c.rate = RATES[random() % std::size(RATES)];
    literal::Options& o = c.options;
    // Mostly the usual settings, with every option pushed to its limits now and then.
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

    // Very short signals (none, under one frame, one frame and a sample) as well as longer ones.
    const int32_t frameLength = literal::msToSamples(o.windowLengthMs, c.rate);
    int32_t length;
    switch (random() % 5) {
    case 0: length = static_cast<int32_t>(random() % 4); break;
    case 1: length = frameLength + static_cast<int32_t>(random() % 3) - 1; break;
    default: length = static_cast<int32_t>(random() % (c.rate / 4 + 1)); break;
    }
    if (length < 0) length = 0;
    c.signal = makeSignal(random, static_cast<int>(random() % KIND_COUNT), length);
    return c;
}

AnalysisSettings settingsFor(const literal::Options& o) {
    AnalysisSettings s{};
    s.windowLengthMs = o.windowLengthMs;
    s.windowShiftMs = o.windowShiftMs;
    s.featureType = 1;
    s.melFilterCount = o.melFilterCount;
    s.includeC0 = o.includeC0;
    s.removeDcOffset = o.removeDcOffset;
    s.powerOfTwoBelow = o.powerOfTwoBelow;
    s.cepstralCount = o.cepstralCount;
    s.windowType = o.windowType;
    s.lifterType = o.lifterType;
    s.filterDomain = o.filterDomain;
    s.preEmphasis = static_cast<float>(o.emphasisPercent / 100.0);
    return s;
}

std::string describe(const Case& c) {
    const literal::Options& o = c.options;
    return "rate " + std::to_string(c.rate) + ", " + std::to_string(c.signal.size()) +
           " samples, -L" + std::to_string(o.windowLengthMs) + " -S" +
           std::to_string(o.windowShiftMs) + " -W" + std::to_string(o.windowType) + " -H" +
           std::to_string(o.emphasisPercent) + (o.removeDcOffset ? " -V" : "") +
           (o.powerOfTwoBelow ? " -U" : "") + " -N" + std::to_string(o.melFilterCount) + " -M" +
           std::to_string(o.cepstralCount) + " -I" + std::to_string(o.lifterType) + " -A" +
           std::to_string(o.filterDomain);
}

// Runs one case through both pipelines; false (with a note) on the first differing coefficient.
::testing::AssertionResult sameCoefficients(const Case& c, int32_t lanes) {
    literal::Analysis expected = literal::analyseFull(c.signal, c.rate, c.options);

    AnalysisSettings settings = settingsFor(c.options);
    SignalInfo info{};
    info.totalSamples = static_cast<int32_t>(c.signal.size());
    info.channels = 1;
    info.sampleRate = c.rate;
    info.bitsPerSample = 16;
    info.samplesRead = info.totalSamples;
    std::vector<float> signal = c.signal;
    signal.push_back(0.0f);  // never read: keeps data() valid for an empty signal
    FrameGeometry geometry{};
    float* window = nullptr;
    if (prepareSignal(&window, signal.data(), &geometry, &info, &settings) != 0)
        return ::testing::AssertionFailure() << "prepareSignal failed: " << describe(c);
    FeatureMatrix matrix{};
    int32_t frameCount = 0;
    int failed = analyseFrames(signal.data(), window, &settings, &info, &geometry, &matrix,
                               &frameCount, lanes);
    free(window);
    if (failed != expected.status) {
        releaseFeatureMatrix(&matrix);
        return ::testing::AssertionFailure() << "status " << failed << " against "
                                             << expected.status << ": " << describe(c);
    }
    ::testing::AssertionResult result = ::testing::AssertionSuccess();
    if (failed) return result;
    if (frameCount != static_cast<int32_t>(expected.rows.size()) ||
        matrix.rowCount != expected.rowCount) {
        result = ::testing::AssertionFailure()
                 << frameCount << " frames in " << matrix.rowCount << " rows against "
                 << expected.rows.size() << " in " << expected.rowCount << ": " << describe(c);
    }
    for (int32_t row = 0; result && row < frameCount; ++row) {
        const float* values = matrixRow(matrix, row);
        for (int32_t i = 0; i <= c.options.cepstralCount; ++i) {
            if (bitsOf(values[i]) != bitsOf(expected.rows[row][i])) {
                result = ::testing::AssertionFailure()
                         << "frame " << row << " c" << i << ": " << values[i] << " against "
                         << expected.rows[row][i] << ": " << describe(c) << ", " << lanes
                         << " lanes";
                break;
            }
        }
    }
    releaseFeatureMatrix(&matrix);
    return result;
}

// Every lane width this processor runs, each once: 1 (the plain path), then the vector levels.
std::vector<int32_t> laneWidths() {
    std::vector<int32_t> widths;
    for (int32_t wanted = 1; wanted <= MAX_LANES; wanted *= 2)
        if (usableLanes(wanted) == wanted) widths.push_back(wanted);
    return widths;
}

// The log filter energies rows (what orvalixAnalyseFilterbank hands out) against the literal
// pipeline's, at the given lane width.
::testing::AssertionResult sameLogEnergies(const Case& c, int32_t lanes) {
    literal::Analysis expected = literal::analyseFull(c.signal, c.rate, c.options);
    AnalysisSettings settings = settingsFor(c.options);
    SignalInfo info{static_cast<int32_t>(c.signal.size()), 1, c.rate, 16,
                    static_cast<int32_t>(c.signal.size())};
    std::vector<float> signal = c.signal;
    signal.push_back(0.0f);
    FrameGeometry geometry{};
    float* window = nullptr;
    FeatureMatrix matrix{};
    int32_t frameCount = 0;
    int failed = prepareSignal(&window, signal.data(), &geometry, &info, &settings) ||
                 analyseFrames(signal.data(), window, &settings, &info, &geometry, &matrix,
                               &frameCount, lanes, ROWS_LOG_ENERGIES);
    free(window);
    ::testing::AssertionResult result = ::testing::AssertionSuccess();
    if (failed != expected.status || frameCount != static_cast<int32_t>(expected.rows.size()))
        result = ::testing::AssertionFailure() << "status or frame count: " << describe(c);
    for (int32_t row = 0; result && row < frameCount; ++row)
        for (int32_t j = 0; result && j < expected.filterCount; ++j)
            if (bitsOf(matrixRow(matrix, row)[j]) != bitsOf(expected.logEnergies[row][j]))
                result = ::testing::AssertionFailure() << "frame " << row << " energy " << j
                                                       << ": " << describe(c) << ", " << lanes
                                                       << " lanes";
    releaseFeatureMatrix(&matrix);
    return result;
}

// The case at every lane width.
::testing::AssertionResult sameCoefficients(const Case& c) {
    for (int32_t lanes : laneWidths()) {
        ::testing::AssertionResult same = sameCoefficients(c, lanes);
        if (!same) return same;
    }
    return ::testing::AssertionSuccess();
}

class QuietStageReports : public ::testing::Test {
protected:
    void SetUp() override { setStageReportsEnabled(0); }
    void TearDown() override { setStageReportsEnabled(1); }
};

TEST_F(QuietStageReports, RandomSignalsAndOptionsGiveIdenticalCoefficients) {
    std::mt19937 random(20010629);
    for (int n = 0; n < 1500; ++n) {
        Case c = makeCase(random);
        ASSERT_TRUE(sameCoefficients(c)) << "case " << n;
        if (n % 4 == 0) {
            for (int32_t lanes : laneWidths()) ASSERT_TRUE(sameLogEnergies(c, lanes)) << "case " << n;
        }
    }
}

TEST_F(QuietStageReports, DefaultSettingsOnLongerSignalsOfEveryRate) {
    std::mt19937 random(16000);
    for (int32_t rate : RATES) {
        for (int kind = 0; kind < KIND_COUNT; ++kind) {
            Case c;
            c.rate = rate;
            c.options.includeC0 = 1;
            c.signal = makeSignal(random, kind, rate + static_cast<int32_t>(random() % 1000));
            ASSERT_TRUE(sameCoefficients(c));
            c.options.filterDomain = 2;
            c.options.lifterType = 3;
            ASSERT_TRUE(sameCoefficients(c));
        }
    }
}

// Whole batches of every width, the rest one by one: frame counts on both sides of multiples of
// eight, at every rate, centred and -U frames, with and without a leftover sample past the last
// frame.
TEST_F(QuietStageReports, FrameCountsAroundMultiplesOfEightMatch) {
    std::mt19937 random(8888);
    for (int32_t rate : RATES) {
        for (int32_t frames = 1; frames <= 26; ++frames) {
            Case c = makeCase(random);
            c.rate = rate;
            const int32_t frameLength = literal::msToSamples(c.options.windowLengthMs, rate);
            const int32_t shift = literal::msToSamples(c.options.windowShiftMs, rate);
            c.options.powerOfTwoBelow = frames % 2;
            const int32_t spare = static_cast<int32_t>(random() % static_cast<uint32_t>(shift));
            c.signal = makeSignal(random, static_cast<int>(random() % KIND_COUNT),
                                  frameLength + 1 + (frames - 1) * shift + spare);
            ASSERT_TRUE(sameCoefficients(c)) << frames << " frames";
        }
    }
}

}  // namespace
