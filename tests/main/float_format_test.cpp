#include "main/float_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

std::string viaPrintf(float value) {
    char text[512];
    snprintf(text, sizeof text, "%f", static_cast<double>(value));
    return text;
}

std::string viaFormatter(float value) {
    char text[64];
    return std::string(text, formatFixedSix(value, text));
}

float fromBits(uint32_t bits) {
    float value;
    memcpy(&value, &bits, sizeof value);
    return value;
}

TEST(FloatFormat, SpecialValuesAndSignsMatchPrintf) {
    const float specials[] = {0.0f, -0.0f, 1.0f, -1.0f, 1e-7f, -1e-7f, 5e-7f, -4e-7f,
                              std::numeric_limits<float>::infinity(),
                              -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
                              std::numeric_limits<float>::denorm_min(), 1.0f / 128, 3.0f / 128,
                              -216.74151611328125f, 1e20f, 1.5e32f, 3e33f, 16777216.0f};
    for (float value : specials) EXPECT_EQ(viaFormatter(value), viaPrintf(value)) << value;
    EXPECT_EQ(viaFormatter(-0.0f), "-0.000000");
    // Every NaN is "-nan", the text x86 prints for the NaN the analysis makes, on every processor.
    EXPECT_EQ(viaFormatter(-std::numeric_limits<float>::quiet_NaN()), "-nan");
    EXPECT_EQ(viaFormatter(std::numeric_limits<float>::quiet_NaN()), "-nan");
    EXPECT_EQ(viaFormatter(-216.74151611328125f), "-216.741516");
}

TEST(FloatFormat, TiesRoundToEvenLikePrintf) {
    // k / 128 lies exactly halfway between two six-decimal values.
    for (int k = -4096; k <= 4096; ++k) {
        float value = static_cast<float>(k) / 128.0f;
        ASSERT_EQ(viaFormatter(value), viaPrintf(value)) << k;
    }
}

TEST(FloatFormat, RandomBitPatternsMatchPrintf) {
    std::mt19937 random(20261206);
    for (int i = 0; i < 300000; ++i) {
        float value = fromBits(static_cast<uint32_t>(random()));
        if (std::isnan(value)) continue;  // every NaN is "-nan", above
        ASSERT_EQ(viaFormatter(value), viaPrintf(value)) << std::hex << i;
    }
}

TEST(FloatFormat, TypicalCoefficientRangeMatchesPrintf) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coefficients(-400.0f, 400.0f);
    std::uniform_real_distribution<float> small(-0.001f, 0.001f);
    for (int i = 0; i < 300000; ++i) {
        float a = coefficients(random), b = small(random);
        ASSERT_EQ(viaFormatter(a), viaPrintf(a));
        ASSERT_EQ(viaFormatter(b), viaPrintf(b));
    }
}

TEST(FloatFormat, IntegerPartsAroundEveryDigitCountMatchPrintf) {
    // Including values that round up into one more digit (9.9999997 -> 10.000000).
    for (float whole : {0.0f, 1.0f, 9.0f, 10.0f, 11.0f, 99.0f, 100.0f, 101.0f, 999.0f, 1000.0f,
                        1001.0f, 9999.0f, 10000.0f}) {
        float value = whole;
        for (int step = 0; step < 64; ++step) value = std::nextafter(value, 0.0f);
        for (int step = 0; step < 128; ++step) {
            ASSERT_EQ(viaFormatter(value), viaPrintf(value)) << value;
            ASSERT_EQ(viaFormatter(-value), viaPrintf(-value)) << -value;
            value = std::nextafter(value, 2e4f);
        }
    }
}

}  // namespace
