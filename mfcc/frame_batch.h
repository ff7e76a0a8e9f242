#pragma once
#include <cstdint>
#include "dsp/fft_plan.h"
#include "mfcc/mel_filterbank.h"

// Eight consecutive frames analysed side by side, one frame per AVX-512 double lane. Every frame
// runs the identical sequence of operations, so each lane does exactly what the single-frame path
// does for its frame (the same conversions, multiplies, adds and subtracts, never fused), while
// the butterflies of every stage, the magnitudes, the filter sums and the cosine transform become
// plain vertical vector operations. The samples are windowed straight into bit-reversed order.
constexpr int32_t BATCH_FRAMES = 8;

struct FrameBatch {
    int32_t pointCount;
    int32_t keptBins;
    int32_t placedSamples;  // frame samples 0..placedSamples - 1 enter the transform
    int32_t* positionOf;    // the transform position of each of them
    int32_t paddingCount;
    int32_t* padding;       // the positions of the zero padding
    uint8_t* realPairs;     // per stage, the butterflies whose imaginary inputs are exact zeros
    float* real;         // pointCount rows of 8 frames (64-byte aligned)
    float* imag;
    float* energies;     // filterCount rows of 8
    float* coefficients; // (cepstralCount + 1) rows of 8
    void* block;         // the one allocation behind the arrays above
    double* windowWeights;      // placedSamples window values, widened
    double* filterWeights;      // every filter's weights, widened, filter after filter
    int32_t* filterWeightStart; // filter j - 1's weights start here; filterCount + 1 entries
    int32_t* filterFirstBin;    // filter j - 1's first bin
    void* tables;        // the allocation behind the four arrays above
};

// True when the processor (and the plan's vector level) runs the batch.
bool frameBatchAvailable(const FftPlan* plan);

// Returns 0, or 1 when memory runs out (nothing is left allocated).
int makeFrameBatch(FrameBatch* batch, const FftPlan* plan, int32_t keptBins, int32_t frameLength,
                   int32_t frameOffset, const float* window, const MelFilterbank* bank,
                   int32_t cepstralCount);
void releaseFrameBatch(FrameBatch* batch);

// What the frame loop settles once for every frame.
struct BatchSettings {
    const MelFilterbank* bank;
    const double* cosines;    // makeCosineTable
    const float* lifter;      // makeLifter
    int32_t cepstralCount;
    int32_t lifterType;
    int32_t filterDomain;
};

// The rows of the frames starting at firstStart + f * shift, f = 0..7, into rows[f * columnCount],
// columnCount = cepstralCount + 1; bit for bit what the single-frame path writes.
void analyseFrameBatch(FrameBatch* batch, const FftPlan* plan, const BatchSettings* settings,
                       const float* signal, int32_t firstStart, int32_t shift, float* rows);
