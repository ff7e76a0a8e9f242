#pragma once
#include <cstdint>
#include "dsp/fft.h"
#include "main/analysis_settings.h"
#include "mfcc/frame_geometry.h"
#include "wave/wave_loader.h"

// One row of columnCount (= cepstralCount + 1) floats per frame: c0, c1..cM, stored row after row.
struct FeatureMatrix {
    int32_t rowCount;
    int32_t columnCount;
    float* values;   // rowCount * columnCount floats, zero-filled; null when rowCount is 0
};

inline float* matrixRow(const FeatureMatrix& m, int32_t row) {
    return m.values + static_cast<int64_t>(row) * m.columnCount;
}

void releaseFeatureMatrix(FeatureMatrix* m);

// What a frame row holds: the cepstral coefficients c0..cM, or the base-10 log filter energies
// the cosine transform starts from (melFilterCount of them).
enum RowKind { ROWS_CEPSTRA, ROWS_LOG_ENERGIES };

// One frame's filter sums advanced side by side, so that their chains of additions and
// roundings overlap (16 fill the registers).
constexpr int32_t STEP_FILTERS = 16;

// Everything the analysis of one signal builds before its first frame, in one allocation: the
// transform's tables, where each windowed sample lands in the transform's order, the window and
// the filter weights as the doubles every product widens them to, the cosines of the cepstrum,
// the lifter, and the scratch rows of one batch of `lanes` frames.
struct FrameAnalyser {
    FrameGeometry geometry;
    int32_t lanes;          // frames per batch: 1, 2, 4 or 8 (see dsp/processor.h)
    int32_t filterCount;
    int32_t cepstralCount;
    int32_t lifterType;
    int32_t filterDomain;
    int32_t rowWidth;       // floats per row
    RowKind rowKind;
    FftTables fft;
    int32_t placedSamples;  // frame samples 0..placedSamples - 1 enter the transform
    int32_t paddingCount;
    int32_t* positionOf;    // the transform position of each placed sample
    int32_t* padding;       // the positions of the zero padding
    double* window;         // placedSamples entries
    double* filterWeights;  // every filter's weights, filter after filter
    int32_t* filterWeightStart;  // filter j - 1's weights start here; filterCount + 1 entries
    int32_t* filterFirstBin;
    // One frame's filter sums STEP_FILTERS filters at a time, step by step: step k of filter
    // first + g takes bin stepBins[16 s + g] times stepWeights[16 s + g], s = stepStart[first / 16] + k;
    // past a filter's end (or the last filter), bin zeroBin (always 0) with weight 0, which
    // leaves a sum as it is.
    int32_t* stepStart;     // filterCount / STEP_FILTERS + 2 entries, counted in steps
    int32_t* stepBins;
    double* stepWeights;
    int32_t zeroBin;        // re[zeroBin] stays 0
    double* cosines;        // cos((i * (j - 0.5)) * (pi / N)) at [i * N + j - 1]
    float* lifter;          // weight of coefficient i at [i - 1]
    int32_t paddedColumns;  // cepstralCount + 1 rounded up to a multiple of 4
    double* cosinesByFilter;  // the cosines again, filter after filter: [(j - 1) * paddedColumns + i]
    double* columnLifter;   // the lifter widened at [i] for i >= 1, 1 at [0] and in the padding
    int32_t frameOffset;    // where a frame's sample 0 enters the transform in natural order
    float* inOrder;         // one frame windowed in natural order, its padding zeros around it
    float* re;              // batch rows: point or bin p of lane f at [p * lanes + f]
    float* im;
    float* energies;
    float* coefficients;
    void* block;
};

// Builds the analyser for a geometry fixed by frameGeometryFor, settings whose melFilterCount
// is settled, and the window of geometry->frameLength floats. lanes is the batch width, from
// processorLanes or usableLanes (dsp/processor.h). A transform length below 2 ends the process
// with the transform's message. Returns 0, or 1 when memory runs out (nothing is left allocated;
// nothing printed).
int makeFrameAnalyser(FrameAnalyser* analyser, const FrameGeometry* geometry,
                      const AnalysisSettings* settings, int32_t sampleRate, const float* window,
                      int32_t lanes, RowKind rowKind);
void releaseFrameAnalyser(FrameAnalyser* analyser);

// The rows of frameCount frames, frame k starting at signal + k * shift, into rows (rowWidth
// floats each): batches of `lanes` frames, the rest one by one (all of them when fewer than
// `lanes` samples of a frame enter the transform).
void analyseFrameRows(FrameAnalyser* analyser, const float* signal, int32_t frameCount,
                      float* rows);

// The frame loop: fixes the FFT length and shift, settles the filter count (written back into
// settings->melFilterCount), and fills one matrix row per analysed frame, with batches of `lanes`
// frames (0: the widest the processor runs). Returns 0 on success; on failure (a shift below one
// sample, memory exhausted) prints a message on standard error and returns 1 with nothing
// allocated.
int analyseFrames(const float* signal, const float* window, AnalysisSettings* settings,
                  const SignalInfo* info, FrameGeometry* geometry, FeatureMatrix* matrix,
                  int32_t* frameCount, int32_t lanes = 0, RowKind rowKind = ROWS_CEPSTRA);

// The rows of a whole conditioned signal, for a geometry from frameGeometryFor and settings whose
// melFilterCount is settled: a zero-filled matrix of featureRowsFor rows, every analysed frame's
// row filled. Prints nothing; returns 0, or 1 when memory runs out (nothing left allocated).
int analyseConditionedSignal(const float* signal, int32_t samplesRead, const float* window,
                             const FrameGeometry& geometry, const AnalysisSettings& settled,
                             int32_t sampleRate, int32_t lanes, RowKind rowKind,
                             FeatureMatrix* matrix, int32_t* frameCount);

// Prints the analysis' out-of-memory message on standard error; returns 1.
int reportAnalysisOutOfMemory();

// The batch loops, one per lane width, each compiled for its vector unit (mfcc/frame_lanes*.cpp):
// the frames of as many whole batches as fit; returns how many frames they were.
int32_t analyseBatchesOf1(FrameAnalyser* analyser, const float* signal, int32_t frameCount, float* rows);
int32_t analyseBatchesOf2(FrameAnalyser* analyser, const float* signal, int32_t frameCount, float* rows);
int32_t analyseBatchesOf4(FrameAnalyser* analyser, const float* signal, int32_t frameCount, float* rows);
int32_t analyseBatchesOf8(FrameAnalyser* analyser, const float* signal, int32_t frameCount, float* rows);

// Frames one at a time with the points of each frame in 4 lanes (mfcc/frame_lanes4.cpp), for a
// processor that runs 4 lanes and frames of at least 4 placed samples: the rows of analyseBatchesOf1
// (returns frameCount, as the batch loops return the frames they did).
int32_t analyseFramesAloneOf4(FrameAnalyser* analyser, const float* signal, int32_t frameCount, float* rows);
