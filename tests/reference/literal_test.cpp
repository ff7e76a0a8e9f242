// Checks the literal reference pipeline against the exact values its stages are
// defined to give and against the shared golden runs, so that it can in turn vouch for the
// production code and for the committed golden feature files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "reference/golden_cases.h"
#include "reference/literal_options.h"
#include "reference/literal_pipeline.h"

namespace {

std::string asText(const std::vector<float>& values) {
    literal::Rows rows;
    rows.push_back(std::vector<float>(1, 0.0f));
    rows[0].insert(rows[0].end(), values.begin(), values.end());
    return literal::formatFeatures(rows, 0);
}

// ---------------------------------------------------------------- conditioning

TEST(LiteralConditioning, MillisecondsToSamples) {
    EXPECT_EQ(literal::msToSamples(30, 8000), 240);
    EXPECT_EQ(literal::msToSamples(30, 11025), 330);
    EXPECT_EQ(literal::msToSamples(30, 16000), 480);
    EXPECT_EQ(literal::msToSamples(30, 22050), 661);
    EXPECT_EQ(literal::msToSamples(30, 44100), 1323);
    EXPECT_EQ(literal::msToSamples(30, 48000), 1440);
    EXPECT_EQ(literal::msToSamples(25, 22050), 551);
    EXPECT_EQ(literal::msToSamples(10, 11025), 110);
    EXPECT_EQ(literal::msToSamples(1, 999), 0);
}

TEST(LiteralConditioning, MeanAndPreEmphasis) {
    std::vector<float> pair = {1, 2};
    literal::subtractMean(pair);
    EXPECT_EQ(pair, (std::vector<float>{-0.5f, 0.5f}));

    float a = static_cast<float>(97 / 100.0);
    std::vector<float> one = {3};
    literal::preEmphasize(one, a);
    EXPECT_EQ(one[0], static_cast<float>(3.0 - static_cast<float>(a * 3.0)));

    // The first sample is filtered circularly against the unfiltered last one.
    std::vector<float> three = {1, 2, 4};
    literal::preEmphasize(three, 1.0f);
    EXPECT_EQ(three, (std::vector<float>{-3, 1, 2}));
}

TEST(LiteralConditioning, WindowFirstValuesAndTriangle) {
    EXPECT_EQ(literal::makeWindow(1, 480)[0], 0.08f);
    EXPECT_EQ(literal::makeWindow(2, 480)[0], 0.0f);
    EXPECT_EQ(literal::makeWindow(3, 480)[0], 0.0f);
    EXPECT_EQ(literal::makeWindow(4, 480)[0], static_cast<float>(-std::ldexp(1.0, -56)));
    EXPECT_EQ(literal::makeWindow(2, 4), (std::vector<float>{0, 0.5f, 1, 0.5f}));
    EXPECT_EQ(literal::makeWindow(2, 5), (std::vector<float>{0, 0.4f, 0.8f, 0.8f, 0.4f}));
    EXPECT_TRUE(literal::makeWindow(1, 0).empty());
}

// ---------------------------------------------------------------- transform

TEST(LiteralFft, SmallTransformsAndSign) {
    std::vector<float> re, im;
    ASSERT_TRUE(literal::fft(2, false, {3, 5}, nullptr, re, im));
    EXPECT_EQ(re, (std::vector<float>{8, -2}));
    EXPECT_EQ(im, (std::vector<float>{0, 0}));

    ASSERT_TRUE(literal::fft(4, false, {1, 1, 1, 1}, nullptr, re, im));
    EXPECT_EQ(re, (std::vector<float>{4, 0, 0, 0}));
    EXPECT_EQ(im, (std::vector<float>{0, 0, 0, 0}));

    // Positive exponent: an impulse at n = 1 gives 1, i, -1, -i.
    ASSERT_TRUE(literal::fft(4, false, {0, 1, 0, 0}, nullptr, re, im));
    const float forwardRe[4] = {1, 0, -1, 0}, forwardIm[4] = {0, 1, 0, -1};
    for (int k = 0; k < 4; k++) {
        EXPECT_NEAR(re[k], forwardRe[k], 1e-15) << k;
        EXPECT_NEAR(im[k], forwardIm[k], 1e-15) << k;
    }
    ASSERT_TRUE(literal::fft(4, true, {0, 1, 0, 0}, nullptr, re, im));
    const float inverseRe[4] = {0.25f, 0, -0.25f, 0}, inverseIm[4] = {0, -0.25f, 0, 0.25f};
    for (int k = 0; k < 4; k++) {
        EXPECT_NEAR(re[k], inverseRe[k], 1e-15) << k;
        EXPECT_NEAR(im[k], inverseIm[k], 1e-15) << k;
    }
}

TEST(LiteralFft, NullImaginaryEqualsZerosAndRoundTrip) {
    std::vector<float> signal(64);
    for (int n = 0; n < 64; n++) signal[n] = static_cast<float>((n * 37) % 17 - 8);
    std::vector<float> zeros(64, 0.0f), re1, im1, re2, im2, back, backIm;
    ASSERT_TRUE(literal::fft(64, false, signal, nullptr, re1, im1));
    ASSERT_TRUE(literal::fft(64, false, signal, &zeros, re2, im2));
    EXPECT_EQ(re1, re2);
    EXPECT_EQ(im1, im2);
    ASSERT_TRUE(literal::fft(64, true, re1, &im1, back, backIm));
    for (int n = 0; n < 64; n++) EXPECT_NEAR(back[n], signal[n], 1e-4) << n;
}

TEST(LiteralFft, RejectsLengthsTheTransformCannotTake) {
    std::vector<float> re, im;
    EXPECT_FALSE(literal::fft(1, false, {1}, nullptr, re, im));
    EXPECT_FALSE(literal::fft(0, false, {}, nullptr, re, im));
    EXPECT_FALSE(literal::fft(6, false, std::vector<float>(6, 1.0f), nullptr, re, im));
}

// ---------------------------------------------------------------- filterbank

TEST(LiteralFilterbank, AutomaticCounts) {
    const int rates[7] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
    const int counts[7] = {27, 28, 30, 31, 32, 33, 33};
    for (int i = 0; i < 7; i++) EXPECT_EQ(literal::automaticFilterCount(rates[i]), counts[i]) << rates[i];
}

TEST(LiteralFilterbank, SixteenKilohertzBank) {
    literal::Filterbank bank = literal::buildFilterbank(30, 512, 16000);
    EXPECT_EQ(bank.melTop, 2840.02294921875f);
    EXPECT_EQ(bank.edgeBins, (std::vector<int>{0, 1, 4, 6, 8, 11, 14, 17, 21, 25, 29, 34, 38, 44, 50, 56,
                                               63, 71, 79, 88, 97, 108, 119, 132, 145, 160, 176, 193, 212,
                                               233, 255}));
    EXPECT_EQ(bank.edgeFrequencies[30], 7999.9990234375f);

    const literal::Filter& first = bank.filters[0];
    EXPECT_EQ(first.firstBin, 0);
    EXPECT_EQ(first.lastBin, 4);
    EXPECT_EQ(first.weights, (std::vector<float>{1, 0.75f, 0.5f, 0.25f, 0}));

    const literal::Filter& second = bank.filters[1];
    EXPECT_EQ(second.firstBin, 1);
    EXPECT_EQ(second.lastBin, 6);
    EXPECT_EQ(second.weights, (std::vector<float>{static_cast<float>(1 / 3.0), static_cast<float>(2 / 3.0), 1,
                                                  static_cast<float>(2 / 3.0), static_cast<float>(1 / 3.0), 0}));
    EXPECT_EQ(literal::filterOutput(second, std::vector<float>(256, 1.0f)), 0.5);

    const literal::Filter& last = bank.filters[29];
    EXPECT_EQ(last.firstBin, 233);
    EXPECT_EQ(last.lastBin, 255);
    ASSERT_EQ(last.weights.size(), 23u);
    for (int i = 1; i <= 22; i++) EXPECT_EQ(last.weights[i - 1], static_cast<float>(i / 22.0)) << i;
    EXPECT_EQ(last.weights[22], 0.0f);
}

TEST(LiteralFilterbank, SingleFilterAndCrowdedShortTransform) {
    literal::Filterbank single = literal::buildFilterbank(1, 512, 16000);
    ASSERT_EQ(single.filters.size(), 1u);
    EXPECT_EQ(single.filters[0].firstBin, 0);
    EXPECT_EQ(single.filters[0].lastBin, 255);
    ASSERT_EQ(single.filters[0].weights.size(), 256u);
    for (int k = 0; k < 255; k++) EXPECT_EQ(single.filters[0].weights[k], static_cast<float>((k + 1) / 255.0));
    EXPECT_EQ(single.filters[0].weights[255], 0.0f);

    for (int count : {59, 100}) {
        literal::Filterbank crowded = literal::buildFilterbank(count, 256, 16000);
        EXPECT_EQ(crowded.edgeBins[1], 0);
        EXPECT_EQ(crowded.edgeBins[2], 0);
        EXPECT_EQ(crowded.filters[0].weights, (std::vector<float>{0}));
    }
    EXPECT_NE(literal::buildFilterbank(58, 256, 16000).edgeBins[2], 0);
    EXPECT_EQ(literal::buildFilterbank(31, 128, 16000).edgeBins[2], 0);
    EXPECT_NE(literal::buildFilterbank(30, 128, 16000).edgeBins[2], 0);
}

TEST(LiteralFilterbank, TopEdgeBelowHalfRateForTheGoodRates) {
    for (int rate : {8000, 11025, 16000, 22050}) {
        for (int fftLength = 64; fftLength <= 4096; fftLength *= 2) {
            for (int count = 1; count <= 100; count++) {
                literal::Filterbank bank = literal::buildFilterbank(count, fftLength, rate);
                float top = bank.edgeFrequencies[count];
                ASSERT_LT(top, static_cast<float>(rate / 2.0)) << rate << " " << fftLength << " " << count;
                ASSERT_EQ(literal::frequencyToBin(top, rate, fftLength), fftLength / 2 - 1)
                    << rate << " " << fftLength << " " << count;
            }
        }
    }
    EXPECT_EQ(literal::frequencyToBin(5512.0f, 11025, 512), 255);  // half rate is 5512.5
}

TEST(LiteralFilterbank, TopEdgeAtHalfRateTakesTheLastBin) {
    literal::Filterbank bank = literal::buildFilterbank(33, 2048, 44100);
    EXPECT_EQ(bank.edgeFrequencies[33], 22050.001953125f);
    EXPECT_EQ(literal::frequencyToBin(bank.edgeFrequencies[33], 44100, 2048), -1);
    for (int rate : {12000, 24000, 32000, 44100, 48000}) {
        literal::Filterbank b = literal::buildFilterbank(literal::automaticFilterCount(rate), 2048, rate);
        EXPECT_EQ(b.edgeBins.back(), 1023) << rate;
        for (size_t j = 0; j < b.filters.size(); j++) {
            const literal::Filter& f = b.filters[j];
            ASSERT_GE(f.firstBin, 0);
            ASSERT_LE(f.firstBin, f.lastBin);
            ASSERT_EQ(f.weights.size(), static_cast<size_t>(f.lastBin - f.firstBin + 1)) << rate << " " << j;
        }
    }
}

// ---------------------------------------------------------------- frame loop

TEST(LiteralFrames, FftLengthAndLifter) {
    EXPECT_EQ(literal::fftLengthFor(480, 0), 512);
    EXPECT_EQ(literal::fftLengthFor(480, 1), 256);
    EXPECT_EQ(literal::fftLengthFor(256, 0), 256);
    EXPECT_EQ(literal::fftLengthFor(256, 1), 256);
    EXPECT_EQ(literal::fftLengthFor(330, 1), 256);
    EXPECT_EQ(literal::fftLengthFor(1, 0), 1);
    EXPECT_EQ(literal::fftLengthFor(0, 1), 1);

    EXPECT_TRUE(literal::lifterWeights(1, 12).empty());
    EXPECT_EQ(asText(literal::lifterWeights(2, 12)),
              "2.552914 4.000000 5.242640 6.196152 6.795555 7.000000 6.795555 6.196152 5.242640 "
              "4.000000 2.552914 1.000000 \n");
    EXPECT_EQ(asText(literal::lifterWeights(3, 12)),
              "1.783157 2.552914 3.296101 4.000000 4.652568 5.242640 5.760120 6.196152 6.543277 "
              "6.795555 6.948669 7.000000 \n");
    EXPECT_EQ(literal::lifterWeights(3, 13)[12], 7.0f);  // 1 + 6 sin(pi/2): the integer half of 13
}

TEST(LiteralFrames, PowerDomainSquaresWithTheLibraryPow) {
    // A value where the library's pow(x, 2) and x * x round differently.
    volatile double x = 15037.899739583334;
    EXPECT_EQ(literal::librarySquare(x), 226138428.57776049);
    EXPECT_NE(literal::librarySquare(x), x * x);
}

TEST(LiteralFrames, FrameAndRowCounts) {
    literal::Options defaults;
    literal::Analysis a = literal::analyseFull(std::vector<float>(16000, 0.0f), 16000, defaults);
    EXPECT_EQ(a.status, 0);
    EXPECT_EQ(a.frameLength, 480);
    EXPECT_EQ(a.fftLength, 512);
    EXPECT_EQ(a.shiftSamples, 160);
    EXPECT_EQ(a.filterCount, 30);
    EXPECT_EQ(a.rows.size(), 97u);
    EXPECT_EQ(a.rowCount, 100);

    EXPECT_TRUE(literal::analyse(std::vector<float>(480, 1.0f), 16000, defaults).empty());
    EXPECT_EQ(literal::analyse(std::vector<float>(481, 1.0f), 16000, defaults).size(), 1u);

    // A shift longer than the window: frames at 0, 49 and 98 need three rows.
    literal::Options sparse;
    sparse.windowLengthMs = 2;
    sparse.windowShiftMs = 49;
    literal::Analysis s = literal::analyseFull(std::vector<float>(101, 1.0f), 1000, sparse);
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.rows.size(), 3u);
    EXPECT_EQ(s.rowCount, 3);
}

TEST(LiteralFrames, ZeroSignalGivesTheFloorEnergies) {
    literal::Options withC0;
    withC0.includeC0 = 1;
    literal::Analysis a = literal::analyseFull(std::vector<float>(16000, 0.0f), 16000, withC0);
    ASSERT_EQ(a.rows.size(), 97u);
    for (const std::vector<float>& energies : a.logEnergies) {
        for (float e : energies) ASSERT_EQ(e, -7.224720001220703f);
    }
    for (const std::vector<float>& row : a.rows) ASSERT_EQ(row[0], -216.74151611328125f);
    std::string text = literal::formatFeatures(a.rows, 1);
    EXPECT_EQ(text.compare(0, 12, "-216.741516 "), 0);
}

TEST(LiteralFrames, RunsThatStop) {
    literal::Options slow;
    slow.windowShiftMs = 1;
    literal::Analysis a = literal::analyseFull(std::vector<float>(2000, 1.0f), 999, slow);
    EXPECT_EQ(a.status, 1);
    EXPECT_EQ(a.error, "ERROR: Window shift of 1 ms is below one sample at 999 Hz.\n");

    literal::Options single;
    single.windowLengthMs = 1;
    literal::Analysis b = literal::analyseFull(std::vector<float>(10, 1.0f), 1000, single);
    EXPECT_EQ(b.status, 1);
    EXPECT_EQ(b.error, ">>> Error in fftmisc: argument 1 to NumberOfBitsNeeded is too small.\n");
}

// ---------------------------------------------------------------- golden corpus

#ifdef ORVALIX_SOURCE_DIR
// The corpus reads the data chunk where it lies when the header is not the
// canonical 44 bytes; its frames are then those of the chunk's samples.
bool readDataChunkWave(const std::string& path, literal::Wave& wave) {
    bool ok = false;
    std::string b = literal::readWholeFile(path, ok);
    if (!ok || b.size() < 12) return false;
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
               (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8) |
               (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16) |
               (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24);
    };
    std::string fmt, data;
    for (size_t at = 12; at + 8 <= b.size();) {
        uint32_t size = u32(at + 4);
        if (b.compare(at, 4, "fmt ") == 0) fmt = b.substr(at + 8, 16);
        if (b.compare(at, 4, "data") == 0) { data = b.substr(at + 8, size); break; }
        at += 8 + size + (size & 1);
    }
    if (fmt.size() != 16) return false;
    std::string canonical = b.substr(0, 12) + "fmt " + std::string("\x10\0\0\0", 4) + fmt + "data" +
                            std::string(4, '\0') + data;
    std::string temporary = ::testing::TempDir() + "literal_canonical.wav";
    FILE* out = std::fopen(temporary.c_str(), "wb");
    if (out == nullptr) return false;
    std::fwrite(canonical.data(), 1, canonical.size(), out);
    std::fclose(out);
    return literal::readCanonicalWave(temporary, wave);
}

// Empty when equal, else the first differing line of both texts (a whole feature
// file is too long to read in a failure message).
std::string firstDifference(const std::string& got, const std::string& expected) {
    if (got == expected) return "";
    size_t line = 1, start = 0;
    while (true) {
        size_t gotEnd = got.find('\n', start), expectedEnd = expected.find('\n', start);
        std::string a = got.substr(start, gotEnd == std::string::npos ? std::string::npos : gotEnd - start);
        std::string b = expected.substr(start, expectedEnd == std::string::npos ? std::string::npos : expectedEnd - start);
        if (a != b || gotEnd != expectedEnd || gotEnd == std::string::npos) {
            return "line " + std::to_string(line) + ":\n  got      " + a + "\n  expected " + b;
        }
        start = gotEnd + 1;
        line++;
    }
}

#endif

TEST(LiteralGolden, ReproducesEveryReferenceRun) {
#ifndef ORVALIX_SOURCE_DIR
    GTEST_SKIP() << "no source directory, so no corpus";
#else
    std::string corpus = std::string(ORVALIX_SOURCE_DIR) + "/../shared/golden";
    std::vector<literal::GoldenCase> cases;
    if (!literal::loadGoldenCases(corpus, cases)) GTEST_SKIP() << "no golden corpus at " << corpus;
    ASSERT_FALSE(cases.empty());

    int compared = 0;
    for (const literal::GoldenCase& c : cases) {
        SCOPED_TRACE(c.id);
        literal::Options options;
        bool optionsValid = true;
        for (const std::string& arg : c.argv) {
            std::string error;
            if (arg[0] == '-' && !literal::applyOption(arg.c_str(), options, error)) optionsValid = false;
        }
        if (!optionsValid || c.inputPath.empty()) continue;  // refused before any analysis

        bool ok = false;
        std::string head = literal::readWholeFile(c.inputPath, ok);
        if (!ok) continue;  // input not in this corpus
        literal::Wave wave;
        bool canonical = head.size() >= 40 && head.compare(36, 4, "data") == 0;
        ASSERT_TRUE(canonical ? literal::readCanonicalWave(c.inputPath, wave)
                              : readDataChunkWave(c.inputPath, wave));

        literal::Analysis a = literal::analyseFull(wave.samples, wave.sampleRate, options);
        if (c.outputPath.empty()) {
            EXPECT_EQ(a.status, c.status);
            EXPECT_EQ(a.error, literal::readWholeFile(c.stderrPath, ok));
        } else {
            ASSERT_EQ(a.status, 0);
            std::string expected = literal::readWholeFile(c.outputPath, ok);
            ASSERT_TRUE(ok);
            EXPECT_EQ(firstDifference(literal::formatFeatures(a.rows, options.includeC0), expected), "");
        }
        compared++;
    }
    EXPECT_GE(compared, 19);
#endif
}

}  // namespace
