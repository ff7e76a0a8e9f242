#include "mfcc/mel_filterbank.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

std::vector<float> weightsOf(const MelFilter* f) {
    return std::vector<float>(f->weights, f->weights + (f->lastBin - f->firstBin + 1));
}

float ratio(int a, int b) { return static_cast<float>(static_cast<double>(a) / b); }

TEST(AutomaticFilterCount, CommonRates) {
    EXPECT_EQ(automaticFilterCount(8000), 27);
    EXPECT_EQ(automaticFilterCount(11025), 28);
    EXPECT_EQ(automaticFilterCount(16000), 30);
    EXPECT_EQ(automaticFilterCount(22050), 31);
    EXPECT_EQ(automaticFilterCount(32000), 32);
    EXPECT_EQ(automaticFilterCount(44100), 33);
    EXPECT_EQ(automaticFilterCount(48000), 33);
}

TEST(FrequencyToBin, HalfTheRateIsTheRealQuotient) {
    EXPECT_EQ(frequencyToBin(0.0f, 16000, 512), 0);
    EXPECT_EQ(frequencyToBin(7999.999f, 16000, 512), 255);
    EXPECT_EQ(frequencyToBin(8000.0f, 16000, 512), -1);
    EXPECT_EQ(frequencyToBin(5512.0f, 11025, 512), 255);  // -1 if half of 11025 were 5512
    EXPECT_EQ(frequencyToBin(5512.5f, 11025, 512), -1);
    EXPECT_EQ(frequencyToBin(100.0f, 16000, 1), 0);
}

TEST(TriangleWeights, Shapes) {
    auto weights = [](int f, int p, int e) {
        float* w = triangleWeights(f, p, e);
        std::vector<float> v(w, w + (e - f + 1));
        free(w);
        return v;
    };
    EXPECT_EQ(weights(1, 4, 6), (std::vector<float>{ratio(1, 3), ratio(2, 3), 1.0f, ratio(2, 3),
                                                    ratio(1, 3), 0.0f}));
    EXPECT_EQ(weights(2, 2, 4), (std::vector<float>{ratio(2, 3), ratio(1, 3), 0.0f}));
    EXPECT_EQ(weights(0, 3, 3), (std::vector<float>{ratio(1, 3), ratio(2, 3), 1.0f, 0.0f}));
}

class Bank16000 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(buildMelFilterbank(&bank, 30, 512, 16000), 0); }
    void TearDown() override { releaseMelFilterbank(&bank); }
    MelFilterbank bank{};
};

TEST_F(Bank16000, TopMelValueAndEdgeBins) {
    float melTop = static_cast<float>(hzToMel(8000.0f));
    EXPECT_EQ(melTop, 2840.02294921875f);
    EXPECT_EQ(melEdgeFrequency(30, 30, melTop), 7999.9990234375f);  // just below 8000 Hz
    const int expected[31] = {0,  1,  4,  6,  8,   11,  14,  17,  21,  25,  29,
                              34, 38, 44, 50, 56,  63,  71,  79,  88,  97,  108,
                              119, 132, 145, 160, 176, 193, 212, 233, 255};
    ASSERT_EQ(bank.filterCount, 30);
    for (int j = 1; j <= 30; ++j) {
        EXPECT_EQ(filterAt(&bank, j)->firstBin, expected[j - 1]) << j;
        EXPECT_EQ(filterAt(&bank, j)->lastBin, expected[j < 30 ? j + 1 : 30]) << j;
    }
}

TEST_F(Bank16000, WeightsOfFirstSecondAndLastFilters) {
    EXPECT_EQ(weightsOf(filterAt(&bank, 1)), (std::vector<float>{1.0f, 0.75f, 0.5f, 0.25f, 0.0f}));
    EXPECT_EQ(weightsOf(filterAt(&bank, 2)), (std::vector<float>{ratio(1, 3), ratio(2, 3), 1.0f,
                                                                 ratio(2, 3), ratio(1, 3), 0.0f}));
    const MelFilter* last = filterAt(&bank, 30);
    ASSERT_EQ(last->firstBin, 233);
    ASSERT_EQ(last->lastBin, 255);
    for (int i = 1; i <= 22; ++i) EXPECT_EQ(last->weights[232 + i - 233], ratio(i, 22)) << i;
    EXPECT_EQ(last->weights[255 - 233], 0.0f);
}

TEST(MelFilterbank, SingleFilter) {
    MelFilterbank bank{};
    ASSERT_EQ(buildMelFilterbank(&bank, 1, 512, 16000), 0);
    const MelFilter* only = filterAt(&bank, 1);
    EXPECT_EQ(only->firstBin, 0);
    EXPECT_EQ(only->lastBin, 255);
    for (int k = 0; k <= 254; ++k) EXPECT_EQ(only->weights[k], ratio(k + 1, 255)) << k;
    EXPECT_EQ(only->weights[255], 0.0f);
    releaseMelFilterbank(&bank);
}

TEST(MelFilterbank, ManyFiltersOnAShortTransformLeaveFilterOneOnBinZero) {
    for (auto [fftLength, fewest] : {std::pair{256, 59}, std::pair{128, 31}}) {
        for (int count : {fewest - 1, fewest}) {
            MelFilterbank bank{};
            ASSERT_EQ(buildMelFilterbank(&bank, count, fftLength, 16000), 0);
            const MelFilter* first = filterAt(&bank, 1);
            bool alone = first->lastBin == 0;
            EXPECT_EQ(alone, count == fewest) << fftLength << " " << count;
            if (alone) {
                EXPECT_EQ(first->weights[0], 0.0f);
            }
            releaseMelFilterbank(&bank);
        }
    }
}

// Every edge a valid bin, edges non-decreasing, the last filter ending on fftLength/2 - 1 with
// its end weight 0 (read through the weight array, which must reach that far).
void expectWellFormed(int rate, int fftLength, int count) {
    MelFilterbank bank{};
    ASSERT_EQ(buildMelFilterbank(&bank, count, fftLength, rate), 0);
    int previousFirst = 0;
    for (int j = 1; j <= count; ++j) {
        const MelFilter* f = filterAt(&bank, j);
        ASSERT_LE(previousFirst, f->firstBin) << rate << " " << fftLength << " " << count;
        ASSERT_LE(f->firstBin, f->lastBin) << rate << " " << fftLength << " " << count;
        ASSERT_LE(f->lastBin, fftLength / 2 - 1) << rate << " " << fftLength << " " << count;
        ASSERT_EQ(f->weights[f->lastBin - f->firstBin], 0.0f);
        previousFirst = f->firstBin;
    }
    ASSERT_EQ(filterAt(&bank, count)->lastBin, fftLength / 2 - 1);
    releaseMelFilterbank(&bank);
}

TEST(MelFilterbank, TopEdgeJustBelowHalfTheRateAtTheUsualRates) {
    for (int rate : {8000, 11025, 16000, 22050})
        for (int fftLength = 64; fftLength <= 4096; fftLength *= 2)
            for (int count = 1; count <= 100; ++count) {
                float melTop = static_cast<float>(hzToMel(static_cast<float>(rate / 2.0)));
                float top = melEdgeFrequency(count, count, melTop);
                ASSERT_LT(top, rate / 2.0f) << rate << " " << fftLength << " " << count;
                ASSERT_EQ(frequencyToBin(top, rate, fftLength), fftLength / 2 - 1);
                expectWellFormed(rate, fftLength, count);
            }
}

TEST(MelFilterbank, TopEdgeAtOrAboveHalfTheRateTakesTheTopBin) {
    float melTop = static_cast<float>(hzToMel(22050.0f));
    EXPECT_EQ(melEdgeFrequency(33, 33, melTop), 22050.001953125f);
    EXPECT_EQ(frequencyToBin(22050.001953125f, 44100, 2048), -1);
    MelFilterbank bank{};
    ASSERT_EQ(buildMelFilterbank(&bank, 33, 2048, 44100), 0);
    const MelFilter* last = filterAt(&bank, 33);
    const MelFilter* secondLast = filterAt(&bank, 32);
    EXPECT_EQ(secondLast->lastBin, 1023);
    EXPECT_EQ(last->lastBin, 1023);
    // The last filter peaks on the top bin: its weights rise to 1 on the bin below it.
    int rise = 1023 - last->firstBin;
    EXPECT_EQ(last->weights[rise - 1], 1.0f);
    EXPECT_EQ(last->weights[rise], 0.0f);
    releaseMelFilterbank(&bank);
    for (int rate : {12000, 24000, 32000, 44100, 48000})
        for (int fftLength = 64; fftLength <= 4096; fftLength *= 2)
            for (int count = 1; count <= 100; count += 11) expectWellFormed(rate, fftLength, count);
}

}  // namespace
