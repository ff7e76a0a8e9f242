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
                              std::numeric_limits<float>::quiet_NaN(),
                              -std::numeric_limits<float>::quiet_NaN(),
                              std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(),
                              std::numeric_limits<float>::denorm_min(), 1.0f / 128, 3.0f / 128,
                              -216.74151611328125f, 1e20f, 1.5e32f, 3e33f, 16777216.0f};
    for (float value : specials) EXPECT_EQ(viaFormatter(value), viaPrintf(value)) << value;
    EXPECT_EQ(viaFormatter(-0.0f), "-0.000000");
    EXPECT_EQ(viaFormatter(-std::numeric_limits<float>::quiet_NaN()), "-nan");
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

}  // namespace
