#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp/fft_plan.h"
#include "dsp/float_log10.h"

namespace {

float libraryLog10(double x) {
    return static_cast<float>(log10(x));
}

// Runs the values through in groups of eight; returns the lanes that differ from the library in
// any bit, and counts the lanes the series settled by itself.
std::vector<double> mismatches(const std::vector<double>& values, size_t* settledLanes = nullptr) {
    std::vector<double> wrong;
    for (size_t start = 0; start + 8 <= values.size(); start += 8) {
        float out[8];
        floatLog10x8(values.data() + start, out);
        float series[8];
        unsigned settled = floatLog10x8Settled(values.data() + start, series);
        for (int i = 0; i < 8; ++i) {
            const double x = values[start + i];
            if (std::bit_cast<uint32_t>(out[i]) != std::bit_cast<uint32_t>(libraryLog10(x)))
                wrong.push_back(x);
            if (settled & (1u << i)) {
                if (settledLanes) ++*settledLanes;
                if (std::bit_cast<uint32_t>(series[i]) != std::bit_cast<uint32_t>(libraryLog10(x)))
                    wrong.push_back(x);
            }
        }
    }
    return wrong;
}

class FloatLog10 : public ::testing::Test {
protected:
    void SetUp() override {
        if (fftVectorLevel() < 2) GTEST_SKIP() << "no AVX-512 on this processor";
    }
};

TEST_F(FloatLog10, MatchesTheLibraryOverTheWholeRangeOfFilterOutputs) {
    std::mt19937_64 rng(20261206);
    std::vector<double> values;
    // Magnitudes of real spectra (1e-8 .. 1e8) and the whole exponent range the series takes.
    std::uniform_real_distribution<double> typical(-8.0, 8.0), wide(-1000.0, 1000.0);
    for (int i = 0; i < 1 << 21; ++i) values.push_back(std::pow(10.0, typical(rng)));
    for (int i = 0; i < 1 << 19; ++i) values.push_back(std::exp2(wide(rng)));
    // Every significand pattern class near the series' own range split at 0.75 and 1.5.
    std::uniform_int_distribution<uint64_t> bits(0, (uint64_t{1} << 52) - 1);
    for (int e = -60; e <= 60; ++e)
        for (int i = 0; i < 2048; ++i) {
            const double significand = std::bit_cast<double>(0x3FF0000000000000ull | bits(rng));
            values.push_back(std::ldexp(significand, e));
        }
    size_t settled = 0;
    EXPECT_EQ(mismatches(values, &settled), std::vector<double>{});
    // The library is the exception, not the rule.
    EXPECT_GT(settled, values.size() - values.size() / 1000);
}

TEST_F(FloatLog10, MatchesTheLibraryNextToOneWhereTheLogarithmVanishes) {
    std::vector<double> values;
    for (int k = 0; k < 4096; ++k) {
        values.push_back(1.0 + k * DBL_EPSILON);
        values.push_back(1.0 - k * DBL_EPSILON / 2);
        values.push_back(1.0 + k * 1e-9);
        values.push_back(1.0 - k * 1e-9);
    }
    values.push_back(0.75);
    values.push_back(1.5);
    values.push_back(std::nextafter(1.5, 0.0));
    values.push_back(std::nextafter(0.75, 0.0));
    while (values.size() % 8) values.push_back(10.0);
    EXPECT_EQ(mismatches(values), std::vector<double>{});
}

TEST_F(FloatLog10, LeavesValuesNextToARoundingBoundaryToTheLibrary) {
    // x = 10^m for m halfway between two neighbouring floats, then a few doubles either side: the
    // series cannot tell which float is nearer, so it must hand these lanes on.
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<float> logs(-7.5f, 7.5f);
    std::vector<double> values;
    for (int i = 0; i < 20000; ++i) {
        float f = logs(rng);
        double halfway = (static_cast<double>(f) + std::nextafter(f, 8.0f)) / 2;
        double x = std::pow(10.0, halfway);
        for (int step = -4; step < 4; ++step) {
            values.push_back(x);
            x = std::nextafter(x, step < 0 ? 0.0 : INFINITY);
        }
    }
    size_t settled = 0;
    EXPECT_EQ(mismatches(values, &settled), std::vector<double>{});
    EXPECT_LT(settled, values.size() / 2);
}

TEST_F(FloatLog10, HandsSpecialInputsToTheLibrary) {
    const double values[16] = {0.0, -0.0, -1.0, DBL_TRUE_MIN, DBL_MIN, 0x1p-1000,
                               std::nextafter(0x1p-1000, 0.0), 0x1p+1000,
                               std::nextafter(0x1p+1000, INFINITY), DBL_MAX, INFINITY, -INFINITY,
                               NAN, 1.0, 10.0, 0x1p-24};
    for (int start = 0; start < 16; start += 8) {
        float out[8];
        floatLog10x8(values + start, out);
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(std::bit_cast<uint32_t>(out[i]),
                      std::bit_cast<uint32_t>(libraryLog10(values[start + i])))
                << "log10(" << values[start + i] << ")";
    }
    float out[8];
    const unsigned settled = floatLog10x8Settled(values, out);
    EXPECT_EQ(settled & 0x1Fu, 0u) << "zero, negative and subnormal inputs are never settled";
}

}  // namespace
