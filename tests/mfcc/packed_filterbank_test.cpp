#include "mfcc/packed_filterbank.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "dsp/fft_plan.h"

namespace {

uint64_t bitsOf(double value) {
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

struct BankCase {
    int32_t filterCount, fftLength, sampleRate;
};

// The usual bank, banks with a short last group, and crowded banks whose filters are empty or a
// single bin wide.
const BankCase CASES[] = {{30, 512, 16000}, {20, 256, 8000},  {29, 2048, 44100}, {1, 64, 11025},
                          {100, 16, 8000},  {100, 256, 8000}, {9, 8, 48000},     {33, 8192, 48000}};

void expectSameAsFilterOutput(int vectorLevel) {
    std::mt19937 random(30);
    std::uniform_real_distribution<float> magnitude(0.0f, 3.0e6f);
    for (const BankCase& c : CASES) {
        MelFilterbank bank;
        ASSERT_EQ(buildMelFilterbank(&bank, c.filterCount, c.fftLength, c.sampleRate), 0);
        PackedFilterbank packed;
        ASSERT_EQ(packFilterbank(&packed, &bank), 0);
        packed.vectorLevel = vectorLevel;
        std::vector<float> spectrum(c.fftLength);
        std::vector<double> outputs(c.filterCount);
        for (int trial = 0; trial < 20; ++trial) {
            for (float& x : spectrum) x = trial == 0 ? 1.1920929e-07f : magnitude(random);
            packedFilterOutputs(&packed, &bank, spectrum.data(), outputs.data());
            for (int32_t j = 1; j <= c.filterCount; ++j)
                ASSERT_EQ(bitsOf(outputs[j - 1]), bitsOf(filterOutput(filterAt(&bank, j),
                                                                      spectrum.data())))
                    << c.filterCount << " filters, " << c.fftLength << " points, filter " << j;
        }
        releasePackedFilterbank(&packed);
        EXPECT_EQ(packed.groups, nullptr);
        releaseMelFilterbank(&bank);
    }
}

TEST(PackedFilterbank, PlainPathGivesTheFilterOutputs) { expectSameAsFilterOutput(0); }

TEST(PackedFilterbank, VectorPathGivesTheFilterOutputs) {
    if (fftVectorLevel() < 2) GTEST_SKIP() << "no AVX-512 on this processor";
    expectSameAsFilterOutput(2);
}

TEST(PackedFilterbank, GroupsOfEightWithTheirLongestFilter) {
    MelFilterbank bank;
    ASSERT_EQ(buildMelFilterbank(&bank, 30, 512, 16000), 0);
    PackedFilterbank packed;
    ASSERT_EQ(packFilterbank(&packed, &bank), 0);
    ASSERT_EQ(packed.groupCount, 4);
    EXPECT_EQ(packed.groups[3].filterCount, 6);
    EXPECT_EQ(packed.groups[3].lengths[6], 0);
    int32_t longest = 0;
    for (int32_t j = 25; j <= 30; ++j) {
        const MelFilter* filter = filterAt(&bank, j);
        EXPECT_EQ(packed.groups[3].lengths[j - 25], filter->lastBin - filter->firstBin + 1);
        if (filter->lastBin - filter->firstBin + 1 > longest)
            longest = filter->lastBin - filter->firstBin + 1;
    }
    EXPECT_EQ(packed.groups[3].steps, longest);
    // A lane past its filter's end reads a valid bin with weight 0.
    EXPECT_EQ(packed.groups[3].weights[(packed.groups[3].steps - 1) * 8 + 7], 0.0);
    EXPECT_EQ(packed.groups[3].bins[(packed.groups[3].steps - 1) * 8 + 7], 0);
    releasePackedFilterbank(&packed);
    releaseMelFilterbank(&bank);
}

}  // namespace
