// The eight-lane log10 of the filter outputs must round to the float the library's log10 gives, and
// hand on to the library every lane its series cannot settle for certain.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "dsp/fft_plan.h"
#include "dsp/float_log10.h"

namespace {

// Lanes whose result differs from the library in any bit; counts the lanes the series settled.
std::vector<double> mismatches(std::vector<double> values, size_t* settledLanes) {
    while (values.size() % 8) values.push_back(10.0);
    std::vector<double> wrong;
    for (size_t start = 0; start < values.size(); start += 8) {
        float out[8], series[8];
        floatLog10x8(values.data() + start, out);
        const unsigned settled = floatLog10x8Settled(values.data() + start, series);
        for (int i = 0; i < 8; ++i) {
            const uint32_t library =
                std::bit_cast<uint32_t>(static_cast<float>(log10(values[start + i])));
            *settledLanes += settled >> i & 1;
            if (std::bit_cast<uint32_t>(out[i]) != library ||
                (settled >> i & 1 && std::bit_cast<uint32_t>(series[i]) != library))
                wrong.push_back(values[start + i]);
        }
    }
    return wrong;
}

TEST(FloatLog10, MatchesTheLibraryAndLeavesItTheUncertainLanes) {
    if (fftVectorLevel() < 2) GTEST_SKIP() << "no AVX-512 on this processor";
    std::mt19937_64 rng(20261206);
    std::uniform_real_distribution<double> typical(-8.0, 8.0), wide(-1000.0, 1000.0);
    std::uniform_real_distribution<float> logs(-7.5f, 7.5f);
    std::vector<double> spread,
        nearOne = {0.75, 1.5, std::nextafter(1.5, 0.0), std::nextafter(0.75, 0.0)}, boundaries;
    for (int i = 0; i < 1 << 20; ++i)
        spread.push_back(i < 1 << 18 ? std::exp2(wide(rng)) : std::pow(10.0, typical(rng)));
    for (int k = 0; k < 4096; ++k)  // where the logarithm vanishes
        nearOne.insert(nearOne.end(), {1.0 + k * DBL_EPSILON, 1.0 - k * DBL_EPSILON / 2, 1.0 + k * 1e-9,
                                       1.0 - k * 1e-9});
    // 10^m for m halfway between two neighbouring floats, and doubles either side of it.
    for (int i = 0; i < 20000; ++i) {
        const float f = logs(rng);
        double x = std::pow(10.0, (static_cast<double>(f) + std::nextafter(f, 8.0f)) / 2);
        for (int step = -4; step < 4; ++step, x = std::nextafter(x, step < 0 ? 0.0 : INFINITY))
            boundaries.push_back(x);
    }
    size_t settled = 0, settledNearBoundaries = 0, unused = 0;
    EXPECT_EQ(mismatches(spread, &settled), std::vector<double>{});
    EXPECT_GT(settled, spread.size() - spread.size() / 1000);  // the library is the exception
    EXPECT_EQ(mismatches(nearOne, &unused), std::vector<double>{});
    EXPECT_EQ(mismatches(boundaries, &settledNearBoundaries), std::vector<double>{});
    EXPECT_LT(settledNearBoundaries, boundaries.size() / 2);
    const std::vector<double> special = {0.0, -0.0, -1.0, DBL_TRUE_MIN, DBL_MIN, 0x1p-1000,
                                         std::nextafter(0x1p-1000, 0.0), 0x1p+1000,
                                         std::nextafter(0x1p+1000, INFINITY), DBL_MAX, INFINITY,
                                         -INFINITY, NAN, 1.0, 10.0, 0x1p-24};
    EXPECT_EQ(mismatches(special, &unused), std::vector<double>{});
    float out[8];
    EXPECT_EQ(floatLog10x8Settled(special.data(), out) & 0x1Fu, 0u) << "zero, negative, subnormal";
}

}  // namespace
