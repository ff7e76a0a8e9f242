#include "mfcc/frame_steps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

TEST(FftLengthFor, SmallestPowerNotBelowOrLargestBelow) {
    EXPECT_EQ(fftLengthFor(480, 0), 512);
    EXPECT_EQ(fftLengthFor(480, 1), 256);
    EXPECT_EQ(fftLengthFor(256, 0), 256);
    EXPECT_EQ(fftLengthFor(256, 1), 256);
    EXPECT_EQ(fftLengthFor(330, 0), 512);
    EXPECT_EQ(fftLengthFor(330, 1), 256);
    EXPECT_EQ(fftLengthFor(661, 0), 1024);
    EXPECT_EQ(fftLengthFor(1, 0), 1);
    EXPECT_EQ(fftLengthFor(1, 1), 1);
    EXPECT_EQ(fftLengthFor(0, 0), 1);
    EXPECT_EQ(fftLengthFor(0, 1), 1);  // never 0
}

TEST(PlaceWindowedFrame, CentredWithTheExtraZeroAtTheEnd) {
    EXPECT_EQ(frameOffset(480, 512, 0), 16);
    EXPECT_EQ(frameOffset(661, 1024, 0), 181);
    EXPECT_EQ(frameOffset(480, 256, 1), 0);
    std::vector<float> signal(700), window(661);
    for (int i = 0; i < 700; ++i) signal[i] = static_cast<float>(i + 1);
    for (int i = 0; i < 661; ++i) window[i] = 0.5f;
    std::vector<float> buffer(4 * 1024, 7.0f);
    placeWindowedFrame(signal.data(), 10, 661, 1024, buffer.data(), window.data(), 0);
    for (int k = 0; k < 181; ++k) ASSERT_EQ(buffer[k], 0.0f) << k;
    for (int i = 0; i < 661; ++i) ASSERT_EQ(buffer[181 + i], 0.5f * (11 + i)) << i;
    for (int k = 181 + 661; k < 1024; ++k) ASSERT_EQ(buffer[k], 0.0f) << k;
    EXPECT_EQ(1024 - 181 - 661, 182);
}

TEST(PlaceWindowedFrame, BelowPowerWritesTheWholeFrameFromZero) {
    std::vector<float> signal(480, 2.0f), window(480);
    for (int i = 0; i < 480; ++i) window[i] = static_cast<float>(i);
    std::vector<float> buffer(4 * 256, 7.0f);
    placeWindowedFrame(signal.data(), 0, 480, 256, buffer.data(), window.data(), 1);
    for (int i = 0; i < 480; ++i) ASSERT_EQ(buffer[i], 2.0f * i) << i;
    EXPECT_EQ(buffer[480], 7.0f);
}

TEST(MagnitudeSpectrum, AddsTheFloatEpsilonToTheImaginaryPartOnly) {
    const float re[] = {0.0f, 3.0f, 0.0f};
    const float im[] = {0.0f, 4.0f, -0x1p-23f};
    float out[3];
    magnitudeSpectrum(re, im, 3, out);
    EXPECT_EQ(out[0], 0x1p-23f);
    EXPECT_EQ(out[1], 5.0f);  // 4 + 2^-23 rounds back to 4 as a float
    EXPECT_EQ(out[2], 0.0f);
    EXPECT_EQ(spectralMagnitude(3.0, 4.0), 5.0);
}

TEST(SquareByPow, GivesTheLibraryPowNotTheProduct) {
    // For this value the library's pow(a, 2) and the correctly rounded a * a differ in the last
    // bit; a folded pow would return the product.
    const double a = 0x1.7c6e147a147aep-2;
    const double libraryValue = 0x1.1aab7e1003acdp-3;
    ASSERT_NE(a * a, libraryValue);
    EXPECT_EQ(squareByPow(a), libraryValue);
}

std::string printed(float value) {
    char text[32];
    snprintf(text, sizeof text, "%f", value);
    return text;
}

std::vector<std::string> lifterText(int32_t type, int32_t count) {
    std::vector<float> weights(count, -1.0f);
    makeLifter(weights.data(), type, count);
    std::vector<std::string> text;
    for (float w : weights) text.push_back(printed(w));
    return text;
}

TEST(MakeLifter, WeightsForTwelveCoefficients) {
    EXPECT_EQ(lifterText(2, 12),
              (std::vector<std::string>{"2.552914", "4.000000", "5.242640", "6.196152", "6.795555",
                                        "7.000000", "6.795555", "6.196152", "5.242640", "4.000000",
                                        "2.552914", "1.000000"}));
    EXPECT_EQ(lifterText(3, 12),
              (std::vector<std::string>{"1.783157", "2.552914", "3.296101", "4.000000", "4.652568",
                                        "5.242640", "5.760120", "6.196152", "6.543277", "6.795555",
                                        "6.948669", "7.000000"}));
    EXPECT_EQ(lifterText(1, 12), std::vector<std::string>(12, "-1.000000"));  // left untouched
}

TEST(MakeLifter, HalfRaisedSineUsesTheIntegerHalf) {
    std::vector<float> weights(13);
    makeLifter(weights.data(), 3, 13);
    EXPECT_EQ(weights[12], 7.0f);  // 1 + 6 sin(pi / 2), not 7.5
    std::vector<float> other(13);
    makeLifter(other.data(), 9, 13);
    EXPECT_EQ(other, weights);
}

TEST(ApplyLifter, NeverTouchesC0) {
    float row[] = {2.0f, 3.0f, 5.0f};
    const float weights[] = {0.5f, 4.0f};
    applyLifter(row, weights, 2);
    EXPECT_EQ(row[0], 2.0f);
    EXPECT_EQ(row[1], 1.5f);
    EXPECT_EQ(row[2], 20.0f);
}

TEST(FilterLogEnergies, SilentSpectrumAt16000Hz) {
    MelFilterbank bank{};
    ASSERT_EQ(buildMelFilterbank(&bank, 30, 512, 16000), 0);
    std::vector<float> spectrum(512, 0x1p-23f);
    float magnitudeDomain[30], powerDomain[30];
    filterLogEnergies(spectrum.data(), magnitudeDomain, &bank, 1);
    filterLogEnergies(spectrum.data(), powerDomain, &bank, 2);
    for (int j = 0; j < 30; ++j) {
        EXPECT_EQ(magnitudeDomain[j], -7.224720001220703f) << j;
        EXPECT_EQ(powerDomain[j], 2 * -7.224720001220703f) << j;
    }
    releaseMelFilterbank(&bank);
}

TEST(CosineTransform, UnnormalisedFloatSums) {
    const int32_t n = 30, m = 12;
    std::vector<double> table((m + 1) * n);
    makeCosineTable(table.data(), m, n);
    EXPECT_EQ(table[0], 1.0);
    EXPECT_EQ(table[1 * n + 0], std::cos((1 * (1 - 0.5)) * (3.141592653589793 / n)));
    std::vector<float> energies(n, -7.224720001220703f);
    std::vector<float> row(m + 1);
    cosineTransform(row.data(), energies.data(), table.data(), m, n);
    EXPECT_EQ(row[0], -216.74151611328125f);
    EXPECT_EQ(printed(row[0]), "-216.741516");
    for (int i = 1; i <= m; ++i) EXPECT_NEAR(row[i], 0.0f, 1e-4) << i;
}

}  // namespace
