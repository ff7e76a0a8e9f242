#include "dsp/fft_plan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "dsp/fft.h"

namespace {

uint32_t bitsOf(float value) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Transforms random frames of every length from 2 to 8192 points with the plan at the given
// vector level and with fft_float, and requires the same bits in every bin that is kept.
void expectSameAsFftFloat(int vectorLevel, bool lowerHalfOnly) {
    std::mt19937 random(512);
    std::uniform_real_distribution<float> sample(-40000.0f, 40000.0f);
    for (uint32_t n = 2; n <= 8192; n *= 2) {
        FftPlan plan;
        ASSERT_EQ(makeFftPlan(&plan, n), 0);
        plan.vectorLevel = vectorLevel;
        for (int trial = 0; trial < 3; ++trial) {
            std::vector<float> in(n);
            for (float& x : in) x = trial == 2 ? 0.0f : sample(random);
            std::vector<float> re(n), im(n), planRe(n, 7.0f), planIm(n, 7.0f);
            fft_float(n, 0, in.data(), nullptr, re.data(), im.data());
            uint32_t kept = lowerHalfOnly ? n / 2 : n;
            fftForwardReal(&plan, in.data(), planRe.data(), planIm.data(), kept);
            for (uint32_t k = 0; k < kept; ++k) {
                ASSERT_EQ(bitsOf(planRe[k]), bitsOf(re[k])) << n << " points, bin " << k;
                ASSERT_EQ(bitsOf(planIm[k]), bitsOf(im[k])) << n << " points, bin " << k;
            }
        }
        releaseFftPlan(&plan);
    }
}

TEST(FftPlan, PlainCodeMatchesFftFloatBitForBit) {
    expectSameAsFftFloat(0, false);
    expectSameAsFftFloat(0, true);
}

TEST(FftPlan, VectorCodeMatchesFftFloatBitForBit) {
    if (fftVectorLevel() < 1) GTEST_SKIP() << "no AVX2 on this processor";
    expectSameAsFftFloat(1, false);
    expectSameAsFftFloat(1, true);
}

TEST(FftPlan, WideVectorCodeMatchesFftFloatBitForBit) {
    if (fftVectorLevel() < 2) GTEST_SKIP() << "no AVX-512 on this processor";
    expectSameAsFftFloat(2, false);
    expectSameAsFftFloat(2, true);
}

TEST(FftPlan, TwiddlesOfTheFirstStagesAndBitOrder) {
    FftPlan plan;
    ASSERT_EQ(makeFftPlan(&plan, 8), 0);
    EXPECT_EQ(plan.cosines[0], 1.0);  // blocks of two: the recurrence lands exactly on 1
    EXPECT_EQ(plan.cosines[1], 1.0);
    const uint32_t order[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(plan.bitReversed[i], order[i]);
    releaseFftPlan(&plan);
    EXPECT_EQ(plan.cosines, nullptr);
}

}  // namespace
