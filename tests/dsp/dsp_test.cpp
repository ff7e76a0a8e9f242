// fft_float's contract beyond the forward transform the analysis takes (the inverse, the imaginary
// input, argument errors, the fftmisc helpers), and the series' log10 at its hardest inputs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/fft.h"
#include "dsp/fftmisc.h"
#include "dsp/float_log10.h"

using Floats = std::vector<float>;

static auto transform(const Floats& re, int inverse, const Floats* im = nullptr) {
    Floats outRe(re.size()), outIm(re.size());
    fft_float(static_cast<uint32_t>(re.size()), inverse, re.data(), im ? im->data() : nullptr,
              outRe.data(), outIm.data());
    return std::make_pair(outRe, outIm);
}

TEST(FftFloat, ForwardPositiveExponentInverseNegativeAndScaled) {
    const struct Case { Floats in; int inverse; Floats re, im;
    } cases[] = {{{3, 5}, 0, {8, -2}, {0, 0}},
                 {{1, 1, 1, 1}, 0, {4, 0, 0, 0}, {0, 0, 0, 0}},
                 {{0, 1, 0, 0}, 0, {1, 0, -1, 0}, {0, 1, 0, -1}},
                 {{0, 1, 0, 0}, 1, {0.25f, 0, -0.25f, 0}, {0, -0.25f, 0, 0.25f}}};
    for (const Case& c : cases) {
        auto [re, im] = transform(c.in, c.inverse);
        for (size_t k = 0; k < re.size(); ++k)
            EXPECT_LT(std::abs(re[k] - c.re[k]) + std::abs(im[k] - c.im[k]), 1e-15) << k;
    }
    Floats x(64), zeros(64, 0.0f);
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<float>((i * 37 % 11) - 5.0);
    auto [re, im] = transform(x, 0);
    EXPECT_EQ(transform(x, 0, &zeros), std::make_pair(re, im));  // a null imaginary part is zeros
    auto [backRe, backIm] = transform(re, 1, &im);
    for (size_t i = 0; i < x.size(); ++i)
        EXPECT_LT(std::abs(backRe[i] - x[i]) + std::abs(backIm[i]), 1e-5) << i;
}

TEST(FftFloatDeathTest, ArgumentErrorsEndTheProcess) {
    float a[8] = {}, b[8] = {}, c[8] = {};
    // The arrays are checked first, in the order RealIn, RealOut, ImagOut; then the length.
    const struct { uint32_t n; float *in, *re, *im; const char* message; } cases[] = {
        {1, a, b, c, ">>> Error in fftmisc: argument 1 to NumberOfBitsNeeded is too small.\n"},
        {0, a, b, c, ">>> Error in fftmisc: argument 0 to NumberOfBitsNeeded is too small.\n"},
        {1, nullptr, nullptr, nullptr, "Error in fft_float():  RealIn == NULL\n"},
        {1, a, nullptr, c, "Error in fft_float():  RealOut == NULL\n"},
        {4, a, b, nullptr, "Error in fft_float():  ImagOut == NULL\n"},
        {6, a, b, c, "Error in fft_float():  PointCount 6 is not a power of two\n"}};
    for (const auto& t : cases)
        EXPECT_EXIT(fft_float(t.n, t.n == 0, t.in, nullptr, t.re, t.im), testing::ExitedWithCode(1),
                    testing::StrEq(t.message));
}

// (NumberOfBitsNeeded and BitReversedIndex: every transform above goes wrong without them.)
TEST(FftMisc, ValidLengthsAndBinFractions) {
    for (auto [length, valid] :
         {std::pair{0u, 0}, {1u, 0}, {2u, 1}, {6u, 0}, {1024u, 1}, {0x80000000u, 1}})
        EXPECT_EQ(IsValidFftLength(length), valid) << length;
    for (auto [bin, fraction] :
         {std::pair{0u, 0.0}, {1u, 0.125}, {4u, 0.5}, {5u, -0.375}, {8u, 0.0}})
        EXPECT_EQ(BinFraction(8, bin), fraction) << bin;
}

// Logarithms next to the midpoint between two floats, where only the library may decide, and inputs
// outside the series' range. Two lanes: every width is the same code (the differential runs each).
TEST(FloatLog10, NearRoundingBoundariesAndOutsideTheSeriesRangeGivesTheLibraryFloat) {
    std::mt19937 random(10);
    std::uniform_real_distribution<float> logs(-30.0f, 30.0f);
    std::vector<double> inputs = {0.0, -1.0, 1e-310, 1e308, double(INFINITY), double(NAN), 1.0,
                                  10.0, 0.1, 1.5, 0.75, 1.25};
    for (int n = 0; n < 20000; ++n) {
        const float f = logs(random);
        const double midpoint = (static_cast<double>(f) + std::nextafter(f, 100.0f)) / 2;
        inputs.push_back(pow(10.0, midpoint));
        inputs.push_back(std::nextafter(pow(10.0, midpoint), 0.0));
    }
    for (size_t i = 0; i + 2 <= inputs.size(); i += 2) {
        Lanes<2>::V v;
        memcpy(&v, &inputs[i], sizeof v);
        float out[2];
        floatLog10<Lanes<2>>(v, out);
        for (size_t k = 0; k < 2; ++k)
            ASSERT_EQ(std::bit_cast<uint32_t>(out[k]),
                      std::bit_cast<uint32_t>(static_cast<float>(log10(inputs[i + k]))))
                << inputs[i + k];
    }
}
