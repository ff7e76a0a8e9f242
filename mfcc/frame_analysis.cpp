#include "mfcc/frame_analysis.h"

#include <cstdlib>
#include <cstring>

#include "dsp/fftmisc.h"
#include "dsp/processor.h"
#include "mfcc/frame_steps.h"
#include "mfcc/mel_filterbank.h"
#include "modules/console.h"

namespace {

// n elements of T carved from the block at *cursor, 64-byte aligned; with no block yet, only
// their bytes are counted.
template <typename T>
T* carve(char** cursor, size_t* bytes, int64_t n) {
    const size_t size = (static_cast<size_t>(n > 0 ? n : 1) * sizeof(T) + 63) / 64 * 64;
    *bytes += size;
    if (!*cursor) return nullptr;
    T* start = reinterpret_cast<T*>(*cursor);
    *cursor += size;
    return start;
}

// Points every array of the analyser into block, or with block null only sizes them.
size_t layOut(FrameAnalyser* a, char* block, int64_t weightCount, int64_t stepCount) {
    char* cursor = block ? block + (64 - reinterpret_cast<uintptr_t>(block) % 64) % 64 : nullptr;
    size_t bytes = 64;
    const int64_t n = a->fft.pointCount, filters = a->filterCount, lanes = a->lanes;
    const int64_t columns = a->cepstralCount + 1;
    a->fft.cosines = carve<double>(&cursor, &bytes, n);
    a->fft.sines = carve<double>(&cursor, &bytes, n);
    a->fft.realPairs = carve<uint8_t>(&cursor, &bytes, n);
    a->positionOf = carve<int32_t>(&cursor, &bytes, n);
    a->padding = carve<int32_t>(&cursor, &bytes, n);
    a->window = carve<double>(&cursor, &bytes, n);
    a->filterWeights = carve<double>(&cursor, &bytes, weightCount);
    a->filterWeightStart = carve<int32_t>(&cursor, &bytes, filters + 1);
    a->filterFirstBin = carve<int32_t>(&cursor, &bytes, filters);
    a->stepStart = carve<int32_t>(&cursor, &bytes, filters / STEP_FILTERS + 2);
    a->stepBins = carve<int32_t>(&cursor, &bytes, stepCount * STEP_FILTERS);
    a->stepWeights = carve<double>(&cursor, &bytes, stepCount * STEP_FILTERS);
    a->cosines = carve<double>(&cursor, &bytes, columns * filters);
    a->lifter = carve<float>(&cursor, &bytes, columns);
    a->cosinesByFilter = carve<double>(&cursor, &bytes, a->paddedColumns * filters);
    a->columnLifter = carve<double>(&cursor, &bytes, a->paddedColumns);
    a->inOrder = carve<float>(&cursor, &bytes, n);
    a->re = carve<float>(&cursor, &bytes, n * lanes + 1);  // + re[zeroBin]
    a->im = carve<float>(&cursor, &bytes, n * lanes);
    a->energies = carve<float>(&cursor, &bytes, filters * lanes);
    a->coefficients = carve<float>(&cursor, &bytes, columns * lanes);
    return bytes;
}

// Position p of the transform takes input bitReversed(p), which is frame sample
// bitReversed(p) - offset when that lies in the frame, else zero padding.
void placeSamples(FrameAnalyser* a, int32_t offset, const float* window) {
    const uint32_t n = a->fft.pointCount;
    const uint32_t bits = static_cast<uint32_t>(NumberOfBitsNeeded(n));
    a->placedSamples = 0;
    a->paddingCount = 0;
    for (uint32_t p = 0; p < n; ++p) {
        const int64_t i = static_cast<int64_t>(BitReversedIndex(p, bits)) - offset;
        if (i >= 0 && i < a->geometry.frameLength) {
            a->positionOf[i] = static_cast<int32_t>(p);
            if (i + 1 > a->placedSamples) a->placedSamples = static_cast<int32_t>(i + 1);
        } else {
            a->padding[a->paddingCount++] = static_cast<int32_t>(p);
        }
    }
    for (int32_t i = 0; i < a->placedSamples; ++i) a->window[i] = window[i];
}

// The steps of the longest of filters first + 1 .. first + STEP_FILTERS (those that exist).
int32_t groupSteps(const MelFilterbank* bank, int32_t first) {
    int32_t longest = 0;
    for (int32_t j = first + 1; j <= first + STEP_FILTERS && j <= bank->filterCount; ++j)
        if (filterAt(bank, j)->lastBin - filterAt(bank, j)->firstBin + 1 > longest)
            longest = filterAt(bank, j)->lastBin - filterAt(bank, j)->firstBin + 1;
    return longest;
}

// The filter weights widened, filter after filter, and again step by step for STEP_FILTERS
// filters at a time; the highest bin read bounds the spectrum.
void copyFilters(FrameAnalyser* a, const MelFilterbank* bank) {
    int32_t at = 0, highest = 0;
    for (int32_t j = 1; j <= bank->filterCount; ++j) {
        const MelFilter* filter = filterAt(bank, j);
        a->filterFirstBin[j - 1] = filter->firstBin;
        a->filterWeightStart[j - 1] = at;
        for (int32_t k = 0; k <= filter->lastBin - filter->firstBin; ++k)
            a->filterWeights[at++] = filter->weights[k];
        if (filter->lastBin > highest) highest = filter->lastBin;
    }
    a->filterWeightStart[bank->filterCount] = at;
    a->fft.keptBins = static_cast<uint32_t>(highest + 1);
    a->zeroBin = static_cast<int32_t>(a->fft.pointCount) * a->lanes;
    a->re[a->zeroBin] = 0.0f;
    int32_t step = 0, group = 0;
    for (int32_t first = 0; first < bank->filterCount; first += STEP_FILTERS, ++group) {
        a->stepStart[group] = step;
        for (int32_t k = 0; k < groupSteps(bank, first); ++k, ++step)
            for (int32_t g = 0; g < STEP_FILTERS; ++g) {
                const int32_t j = first + g;
                const bool inside = j < bank->filterCount && k < a->filterWeightStart[j + 1] - a->filterWeightStart[j];
                a->stepBins[STEP_FILTERS * step + g] = inside ? a->filterFirstBin[j] + k : a->zeroBin;
                a->stepWeights[STEP_FILTERS * step + g] = inside ? a->filterWeights[a->filterWeightStart[j] + k] : 0.0;
            }
    }
    a->stepStart[group] = step;
}

}  // namespace

int makeFrameAnalyser(FrameAnalyser* a, const FrameGeometry* geometry,
                      const AnalysisSettings* settings, int32_t sampleRate, const float* window,
                      int32_t lanes, RowKind rowKind) {
    *a = FrameAnalyser{};
    a->geometry = *geometry;
    a->lanes = lanes;
    a->filterCount = settings->melFilterCount;
    a->cepstralCount = settings->cepstralCount;
    a->lifterType = settings->lifterType;
    a->filterDomain = settings->filterDomain;
    a->rowKind = rowKind;
    a->rowWidth = rowKind == ROWS_LOG_ENERGIES ? a->filterCount : a->cepstralCount + 1;
    a->paddedColumns = (a->cepstralCount + 1 + 3) / 4 * 4;
    a->fft.pointCount = static_cast<uint32_t>(geometry->fftLength);
    NumberOfBitsNeeded(a->fft.pointCount);  // ends the process below 2 points, as fft_float does

    MelFilterbank bank;
    if (buildMelFilterbank(&bank, a->filterCount, geometry->fftLength, sampleRate)) return 1;
    int64_t weightCount = 0, stepCount = 0;
    for (int32_t j = 1; j <= bank.filterCount; ++j)
        weightCount += filterAt(&bank, j)->lastBin - filterAt(&bank, j)->firstBin + 1;
    for (int32_t first = 0; first < bank.filterCount; first += STEP_FILTERS) stepCount += groupSteps(&bank, first);
    a->block = malloc(layOut(a, nullptr, weightCount, stepCount));
    if (!a->block) {
        releaseMelFilterbank(&bank);
        return 1;
    }
    layOut(a, static_cast<char*>(a->block), weightCount, stepCount);
    copyFilters(a, &bank);
    releaseMelFilterbank(&bank);
    if (fillFftTables(&a->fft)) {
        releaseFrameAnalyser(a);
        return 1;
    }
    a->frameOffset = frameOffset(geometry->frameLength, geometry->fftLength, settings->powerOfTwoBelow);
    placeSamples(a, a->frameOffset, window);
    memset(a->inOrder, 0, a->fft.pointCount * sizeof(float));
    makeLifter(a->lifter, a->lifterType, a->cepstralCount);
    makeCosineTable(a->cosines, a->cepstralCount, a->filterCount);
    for (int32_t j = 0; j < a->filterCount; ++j)
        for (int32_t i = 0; i < a->paddedColumns; ++i)
            a->cosinesByFilter[j * a->paddedColumns + i] =
                i <= a->cepstralCount ? a->cosines[i * a->filterCount + j] : 0.0;
    for (int32_t i = 0; i < a->paddedColumns; ++i)
        a->columnLifter[i] = i >= 1 && i <= a->cepstralCount && a->lifterType != 1 ? a->lifter[i - 1] : 1.0;
    return 0;
}

void releaseFrameAnalyser(FrameAnalyser* a) {
    free(a->block);
    *a = FrameAnalyser{};
}

void analyseFrameRows(FrameAnalyser* a, const float* signal, int32_t frameCount, float* rows) {
    // The widest batches first, then narrower ones for the frames left: a batch of W frames costs
    // less than W frames alone, which matters to a stream handing out a few frames at a time. A
    // frame left over then goes alone with its points in 4 lanes where the processor runs them.
    // Every path computes the same floats; a batch takes W samples at once.
    using Frames = int32_t (*)(FrameAnalyser*, const float*, int32_t, float*);
    const bool aloneInLanes = a->lanes >= 4 && a->placedSamples >= 4;
    const struct { int32_t width; Frames run; } paths[] = {
        {8, analyseBatchesOf8}, {4, analyseBatchesOf4},
        {aloneInLanes ? 4 : 2, aloneInLanes ? analyseFramesAloneOf4 : analyseBatchesOf2},
        {1, analyseBatchesOf1}};
    int32_t done = 0;
    for (const auto& path : paths) {
        if (path.width > a->lanes || (path.width > 1 && a->placedSamples < path.width)) continue;
        done += path.run(a, signal + static_cast<int64_t>(done) * a->geometry.shiftSamples,
                         frameCount - done, rows + static_cast<int64_t>(done) * a->rowWidth);
    }
}

int reportAnalysisOutOfMemory() {
    printError("ERROR: Not enough memory for the frame analysis.\n");
    return 1;
}

void releaseFeatureMatrix(FeatureMatrix* m) {
    free(m->values);
    m->values = nullptr;
    m->rowCount = 0;
}

int analyseFrames(const float* signal, const float* window, AnalysisSettings* settings,
                  const SignalInfo* info, FrameGeometry* geometry, FeatureMatrix* matrix,
                  int32_t* frameCount, int32_t lanes, RowKind rowKind) {
    *frameCount = 0;
    // The frame length is the one conditioning set; the rest as frameGeometryFor settles it.
    geometry->fftLength = fftLengthFor(geometry->frameLength, settings->powerOfTwoBelow);
    geometry->shiftSamples = frameGeometryFor(settings, info->sampleRate).shiftSamples;
    geometry->frameStart = 0;
    if (geometry->shiftSamples < 1) {
        *matrix = FeatureMatrix{0, settings->cepstralCount + 1, nullptr};
        printError("ERROR: Window shift of %d ms is below one sample at %d Hz.\n",
                   settings->windowShiftMs, info->sampleRate);
        return 1;
    }
    if (settings->melFilterCount == 0)
        settings->melFilterCount = automaticFilterCount(info->sampleRate);
    if (analyseConditionedSignal(signal, info->samplesRead, window, *geometry, *settings,
                                 info->sampleRate, lanes, rowKind, matrix, frameCount))
        return reportAnalysisOutOfMemory();
    geometry->frameStart =
        static_cast<int32_t>(static_cast<int64_t>(*frameCount) * geometry->shiftSamples);
    return 0;
}

int analyseConditionedSignal(const float* signal, int32_t samplesRead, const float* window,
                             const FrameGeometry& geometry, const AnalysisSettings& settled,
                             int32_t sampleRate, int32_t lanes, RowKind rowKind,
                             FeatureMatrix* matrix, int32_t* frameCount) {
    *frameCount = 0;
    const int32_t rowWidth =
        rowKind == ROWS_LOG_ENERGIES ? settled.melFilterCount : settled.cepstralCount + 1;
    *matrix = FeatureMatrix{0, rowWidth, nullptr};
    const int32_t rowCount = featureRowsFor(samplesRead, &geometry);
    const int32_t frames = framesToAnalyse(samplesRead, &geometry);
    if (rowCount > 0) {
        matrix->values = static_cast<float*>(
            calloc(static_cast<size_t>(rowCount) * static_cast<size_t>(rowWidth), sizeof(float)));
        if (!matrix->values) return 1;
    }
    matrix->rowCount = rowCount;
    // Without a frame only the zero-filled rows are needed: the transform and filterbank sizes
    // follow the rate alone and could be far beyond the input (2^28 points for a 100 ms window
    // at 2^31 - 1 Hz), so they are not built.
    if (frames == 0) return 0;
    FrameAnalyser analyser;
    if (makeFrameAnalyser(&analyser, &geometry, &settled, sampleRate, window,
                          lanes > 0 ? lanes : processorLanes(), rowKind)) {
        releaseFeatureMatrix(matrix);
        return 1;
    }
    analyseFrameRows(&analyser, signal, frames, matrix->values);
    releaseFrameAnalyser(&analyser);
    *frameCount = frames;
    return 0;
}
