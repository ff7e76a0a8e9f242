#include "dsp/fft.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dsp/fftmisc.h"

namespace {

using ::testing::ExitedWithCode;
using ::testing::StrEq;

struct Spectrum {
    std::vector<float> re, im;
};

Spectrum transform(const std::vector<float>& realIn, int inverse, const float* imagIn = nullptr) {
    uint32_t n = static_cast<uint32_t>(realIn.size());
    Spectrum s{std::vector<float>(n), std::vector<float>(n)};
    fft_float(n, inverse, realIn.data(), imagIn, s.re.data(), s.im.data());
    return s;
}

TEST(FftFloat, TwoPoints) {
    Spectrum s = transform({3.0f, 5.0f}, 0);
    EXPECT_EQ(s.re, (std::vector<float>{8.0f, -2.0f}));
    EXPECT_EQ(s.im, (std::vector<float>{0.0f, 0.0f}));
}

TEST(FftFloat, ForwardUsesThePositiveExponent) {
    // A unit impulse at n = 1 gives 1, i, -1, -i.
    Spectrum s = transform({0.0f, 1.0f, 0.0f, 0.0f}, 0);
    const float re[] = {1.0f, 0.0f, -1.0f, 0.0f};
    const float im[] = {0.0f, 1.0f, 0.0f, -1.0f};
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(s.re[k], re[k], 1e-15) << k;
        EXPECT_NEAR(s.im[k], im[k], 1e-15) << k;
    }
}

TEST(FftFloat, InverseUsesTheNegativeExponentAndDividesByN) {
    Spectrum s = transform({0.0f, 1.0f, 0.0f, 0.0f}, 1);
    const float re[] = {0.25f, 0.0f, -0.25f, 0.0f};
    const float im[] = {0.0f, -0.25f, 0.0f, 0.25f};
    for (int k = 0; k < 4; ++k) {
        EXPECT_NEAR(s.re[k], re[k], 1e-15) << k;
        EXPECT_NEAR(s.im[k], im[k], 1e-15) << k;
    }
}

TEST(FftFloat, AllOnes) {
    Spectrum s = transform({1.0f, 1.0f, 1.0f, 1.0f}, 0);
    EXPECT_EQ(s.re, (std::vector<float>{4.0f, 0.0f, 0.0f, 0.0f}));
    EXPECT_EQ(s.im, (std::vector<float>{0.0f, 0.0f, 0.0f, 0.0f}));
}

TEST(FftFloat, ForwardThenInverseReturnsTheInput) {
    std::vector<float> x(64);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>((i * 37 % 11) - 5.0);
    Spectrum forward = transform(x, 0);
    Spectrum back{std::vector<float>(64), std::vector<float>(64)};
    fft_float(64, 1, forward.re.data(), forward.im.data(), back.re.data(), back.im.data());
    for (size_t i = 0; i < x.size(); ++i) {
        EXPECT_NEAR(back.re[i], x[i], 1e-5) << i;
        EXPECT_NEAR(back.im[i], 0.0f, 1e-5) << i;
    }
}

TEST(FftFloat, NullImaginaryInputEqualsZeros) {
    std::vector<float> x = {0.5f, -1.25f, 3.0f, 7.5f, -2.0f, 0.125f, 9.0f, -4.0f};
    std::vector<float> zeros(8, 0.0f);
    Spectrum withNull = transform(x, 0);
    Spectrum withZeros = transform(x, 0, zeros.data());
    EXPECT_EQ(std::memcmp(withNull.re.data(), withZeros.re.data(), 8 * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(withNull.im.data(), withZeros.im.data(), 8 * sizeof(float)), 0);
}

using FftFloatDeathTest = ::testing::Test;

TEST(FftFloatDeathTest, ArgumentErrorsEndTheProcess) {
    float a[8] = {}, b[8] = {}, c[8] = {};
    EXPECT_EXIT(fft_float(1, 0, a, nullptr, b, c), ExitedWithCode(1),
                StrEq(">>> Error in fftmisc: argument 1 to NumberOfBitsNeeded is too small.\n"));
    EXPECT_EXIT(fft_float(0, 1, a, nullptr, b, c), ExitedWithCode(1),
                StrEq(">>> Error in fftmisc: argument 0 to NumberOfBitsNeeded is too small.\n"));
    // The arrays are checked first, in the order RealIn, RealOut, ImagOut.
    EXPECT_EXIT(fft_float(1, 0, nullptr, nullptr, nullptr, nullptr), ExitedWithCode(1),
                StrEq("Error in fft_float():  RealIn == NULL\n"));
    EXPECT_EXIT(fft_float(1, 0, a, nullptr, nullptr, c), ExitedWithCode(1),
                StrEq("Error in fft_float():  RealOut == NULL\n"));
    EXPECT_EXIT(fft_float(4, 0, a, nullptr, b, nullptr), ExitedWithCode(1),
                StrEq("Error in fft_float():  ImagOut == NULL\n"));
    EXPECT_EXIT(fft_float(6, 0, a, nullptr, b, c), ExitedWithCode(1),
                StrEq("Error in fft_float():  PointCount 6 is not a power of two\n"));
}

TEST(FftMisc, BitsAndReversal) {
    EXPECT_EQ(NumberOfBitsNeeded(512), 9);
    EXPECT_EQ(NumberOfBitsNeeded(2), 1);
    EXPECT_EQ(BitReversedIndex(1, 3), 4u);
    EXPECT_EQ(BitReversedIndex(6, 3), 3u);
    EXPECT_EQ(BitReversedIndex(5, 0), 0u);
}

TEST(FftMiscDeathTest, TooFewBits) {
    EXPECT_EXIT(NumberOfBitsNeeded(1), ExitedWithCode(1),
                StrEq(">>> Error in fftmisc: argument 1 to NumberOfBitsNeeded is too small.\n"));
}

TEST(FftMisc, ValidLengthsAndBinFractions) {
    EXPECT_EQ(IsValidFftLength(0), 0);
    EXPECT_EQ(IsValidFftLength(1), 0);
    EXPECT_EQ(IsValidFftLength(2), 1);
    EXPECT_EQ(IsValidFftLength(6), 0);
    EXPECT_EQ(IsValidFftLength(1024), 1);
    EXPECT_EQ(IsValidFftLength(0x80000000u), 1);
    EXPECT_EQ(BinFraction(8, 0), 0.0);
    EXPECT_EQ(BinFraction(8, 1), 0.125);
    EXPECT_EQ(BinFraction(8, 4), 0.5);
    EXPECT_EQ(BinFraction(8, 5), -0.375);
    EXPECT_EQ(BinFraction(8, 8), 0.0);
}

}  // namespace
