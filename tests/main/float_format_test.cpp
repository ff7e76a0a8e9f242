// The coefficient formatter against printf's "%f": specials, ties, every digit count, and random
// bit patterns, character for character.
#include "library/float_format.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

static std::string formatted(float value) {
    char text[64];
    return std::string(text, formatFixedSix(value, text));
}

TEST(FloatFormat, MatchesPrintf) {
    using limits = std::numeric_limits<float>;
    std::vector<float> values = {0.0f, -0.0f, 1e-7f, -1e-7f, 5e-7f, -4e-7f, limits::infinity(),
                                 -limits::infinity(), limits::max(), -limits::max(),
                                 limits::denorm_min(), 1e20f, 1.5e32f, 3e33f, 16777216.0f,
                                 -216.74151611328125f};
    for (int k = -4096; k <= 4096; ++k) values.push_back(k / 128.0f);  // halfway: ties to even
    // Around every digit count, including values that round up into one more digit.
    for (float value : {1.0f, 9.0f, 10.0f, 99.0f, 100.0f, 999.0f, 1000.0f, 9999.0f, 10000.0f}) {
        for (int step = 0; step < 64; ++step) value = std::nextafter(value, 0.0f);
        for (int step = 0; step < 128; ++step, value = std::nextafter(value, 2e4f))
            values.insert(values.end(), {value, -value});
    }
    std::mt19937 random(20261206);
    std::uniform_real_distribution<float> coefficients(-400.0f, 400.0f), small(-0.001f, 0.001f);
    for (int i = 0; i < 200000; ++i)
        values.insert(values.end(), {std::bit_cast<float>(static_cast<uint32_t>(random())),
                                     coefficients(random), small(random)});
    for (float value : values) {
        if (std::isnan(value)) continue;
        ASSERT_EQ(formatted(value), std::to_string(static_cast<double>(value))) << value;  // "%f"
    }
    // Every NaN is "-nan", the text x86 prints for the NaN the analysis makes, on every processor.
    for (float nan : {limits::quiet_NaN(), -limits::quiet_NaN(), std::bit_cast<float>(0x7f800001u)})
        EXPECT_EQ(formatted(nan), "-nan");
}
