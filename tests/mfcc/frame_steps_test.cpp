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

}  // namespace
