#include "mfcc/frame_analysis.h"

#include <cstdlib>

#include "dsp/conditioning.h"
#include "dsp/fft.h"
#include "dsp/fft_plan.h"
#include "dsp/fftmisc.h"
#include "mfcc/frame_batch.h"
#include "mfcc/frame_steps.h"
#include "mfcc/mel_filterbank.h"
#include "mfcc/packed_filterbank.h"
#include "modules/console.h"

namespace {

// Everything the loop works in, allocated before the first frame.
struct FrameScratch {
    float* frame;       // 4 * fftLength: the windowed frame in, the magnitude spectrum out
    float* realOut;
    float* imagOut;
    float* logEnergies;
    double* filterOutputs;
    float* lifter;
    double* cosines;
};

// calloc that never asks for 0 bytes, so an empty array is not taken for exhausted memory.
void* allocZeroed(int64_t count, size_t size) {
    return calloc(count > 0 ? static_cast<size_t>(count) : 1, size);
}

void releaseScratch(FrameScratch* s) {
    free(s->frame);
    free(s->realOut);
    free(s->imagOut);
    free(s->logEnergies);
    free(s->filterOutputs);
    free(s->lifter);
    free(s->cosines);
    *s = FrameScratch{};
}

int allocScratch(FrameScratch* s, int32_t fftLength, int32_t filterCount, int32_t cepstralCount) {
    s->frame = static_cast<float*>(allocZeroed(4 * static_cast<int64_t>(fftLength), sizeof(float)));
    s->realOut = static_cast<float*>(allocZeroed(fftLength, sizeof(float)));
    s->imagOut = static_cast<float*>(allocZeroed(fftLength, sizeof(float)));
    s->logEnergies = static_cast<float*>(allocZeroed(filterCount, sizeof(float)));
    s->filterOutputs = static_cast<double*>(allocZeroed(filterCount, sizeof(double)));
    s->lifter = static_cast<float*>(allocZeroed(cepstralCount, sizeof(float)));
    s->cosines = static_cast<double*>(
        allocZeroed(static_cast<int64_t>(cepstralCount + 1) * filterCount, sizeof(double)));
    return s->frame && s->realOut && s->imagOut && s->logEnergies && s->filterOutputs &&
           s->lifter && s->cosines;
}

// One past the highest spectrum bin any filter reads; the bins above it are never computed.
int32_t binsRead(const MelFilterbank* bank) {
    int32_t highest = 0;
    for (int32_t j = 1; j <= bank->filterCount; ++j)
        if (filterAt(bank, j)->lastBin > highest) highest = filterAt(bank, j)->lastBin;
    return highest + 1;
}

int reportNoMemory() {
    return reportAnalysisOutOfMemory();
}

// The rows of a run that analyses no frame: samplesRead / shift of them, all zero.
int allocEmptyRows(FeatureMatrix* matrix, int32_t samplesRead, int32_t shift) {
    int32_t rowCount = static_cast<int32_t>(static_cast<double>(samplesRead) / shift);
    if (rowCount > 0) {
        matrix->values = static_cast<float*>(
            allocZeroed(static_cast<int64_t>(rowCount) * matrix->columnCount, sizeof(float)));
        if (!matrix->values) return reportNoMemory();
    }
    matrix->rowCount = rowCount;
    return 0;
}

// Everything one analysis builds before its first frame, released together.
struct FrameWork {
    MelFilterbank bank;
    bool bankBuilt;
    FrameScratch scratch;
    FftPlan plan;
    PackedFilterbank packed;
    FrameBatch batch;
};

void releaseFrameWork(FrameWork* work) {
    releaseFrameBatch(&work->batch);
    releaseFftPlan(&work->plan);
    releasePackedFilterbank(&work->packed);
    releaseScratch(&work->scratch);
    if (work->bankBuilt) releaseMelFilterbank(&work->bank);
    work->bankBuilt = false;
}

// One frame through the single-frame path into its row.
void analyseOneFrame(FrameWork* work, bool planned, int32_t keptBins, const float* signal,
                     const float* window, const FrameGeometry* geometry,
                     const AnalysisSettings* settings, float* row) {
    FrameScratch& scratch = work->scratch;
    const int32_t fftLength = geometry->fftLength;
    placeWindowedFrame(signal, geometry->frameStart, geometry->frameLength, fftLength,
                       scratch.frame, window, settings->powerOfTwoBelow);
    if (planned)
        fftForwardReal(&work->plan, scratch.frame, scratch.realOut, scratch.imagOut,
                       static_cast<uint32_t>(keptBins));
    else
        fft_float(static_cast<uint32_t>(fftLength), 0, scratch.frame, nullptr, scratch.realOut,
                  scratch.imagOut);
    magnitudeSpectrum(scratch.realOut, scratch.imagOut, keptBins, scratch.frame);
    packedFilterOutputs(&work->packed, &work->bank, scratch.frame, scratch.filterOutputs);
    logEnergiesOf(scratch.filterOutputs, scratch.logEnergies, settings->melFilterCount,
                  settings->filterDomain);
    cosineTransform(row, scratch.logEnergies, scratch.cosines, settings->cepstralCount,
                    settings->melFilterCount);
    if (settings->lifterType != 1) applyLifter(row, scratch.lifter, settings->cepstralCount);
}

}  // namespace

int32_t framesToAnalyse(int32_t samplesRead, int32_t frameLength, int32_t shiftSamples) {
    if (samplesRead <= frameLength) return 0;
    return (samplesRead - frameLength - 1) / shiftSamples + 1;
}

int32_t featureRowsFor(int32_t samplesRead, int32_t frameLength, int32_t shiftSamples) {
    // With a shift longer than the window one frame more than samplesRead / shift can fit.
    int32_t rows = static_cast<int32_t>(static_cast<double>(samplesRead) / shiftSamples);
    int32_t frames = framesToAnalyse(samplesRead, frameLength, shiftSamples);
    return frames > rows ? frames : rows;
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
                  int32_t* frameCount) {
    *matrix = FeatureMatrix{0, settings->cepstralCount + 1, nullptr};
    *frameCount = 0;
    const int32_t frameLength = geometry->frameLength;
    const int32_t samplesRead = info->samplesRead;
    const int32_t cepstralCount = settings->cepstralCount;

    geometry->fftLength = fftLengthFor(frameLength, settings->powerOfTwoBelow);
    geometry->shiftSamples = msToSamples(settings->windowShiftMs, info->sampleRate);
    if (geometry->shiftSamples < 1) {
        printError("ERROR: Window shift of %d ms is below one sample at %d Hz.\n",
                   settings->windowShiftMs, info->sampleRate);
        return 1;
    }
    const int32_t fftLength = geometry->fftLength;
    const int32_t shift = geometry->shiftSamples;
    if (settings->melFilterCount == 0)
        settings->melFilterCount = automaticFilterCount(info->sampleRate);
    const int32_t filterCount = settings->melFilterCount;

    // Without a frame to analyse only the zero-filled rows are needed: the FFT and filterbank
    // sizes follow the rate alone and could be far beyond the input (2^28 points for a 100 ms
    // window at 2^31 - 1 Hz), so they are not built.
    if (framesToAnalyse(samplesRead, frameLength, shift) == 0) {
        geometry->frameStart = 0;
        return allocEmptyRows(matrix, samplesRead, shift);
    }

    FrameWork work{};
    if (buildMelFilterbank(&work.bank, filterCount, fftLength, info->sampleRate)) return 1;
    work.bankBuilt = true;
    // A length the transform cannot take keeps fft_float, which reports it on the first frame.
    const bool planned = IsValidFftLength(static_cast<uint32_t>(fftLength));
    if (!allocScratch(&work.scratch, fftLength, filterCount, cepstralCount) ||
        (planned && makeFftPlan(&work.plan, static_cast<uint32_t>(fftLength))) ||
        packFilterbank(&work.packed, &work.bank)) {
        releaseFrameWork(&work);
        return reportNoMemory();
    }
    const int32_t keptBins = binsRead(&work.bank);
    makeLifter(work.scratch.lifter, settings->lifterType, cepstralCount);
    makeCosineTable(work.scratch.cosines, cepstralCount, filterCount);

    const int32_t rowCount = featureRowsFor(samplesRead, frameLength, shift);
    if (rowCount > 0) {
        matrix->values = static_cast<float*>(
            allocZeroed(static_cast<int64_t>(rowCount) * matrix->columnCount, sizeof(float)));
        if (!matrix->values) {
            releaseFrameWork(&work);
            return reportNoMemory();
        }
    }
    matrix->rowCount = rowCount;

    // Eight frames at a time while eight remain (when the processor has the lanes); the rest,
    // and everything without a plan, frame by frame. Without memory for the batch every frame
    // simply takes the single-frame path.
    const bool batched =
        planned && frameBatchAvailable(&work.plan) &&
        makeFrameBatch(&work.batch, &work.plan, keptBins, frameLength,
                       frameOffset(frameLength, fftLength, settings->powerOfTwoBelow), window,
                       &work.bank, cepstralCount) == 0;
    const BatchSettings batchSettings{&work.bank,           work.scratch.cosines,
                                      work.scratch.lifter,  cepstralCount,
                                      settings->lifterType, settings->filterDomain};

    int32_t count = 0;
    geometry->frameStart = 0;
    while (static_cast<int64_t>(geometry->frameStart) + frameLength < samplesRead) {
        if (batched && static_cast<int64_t>(geometry->frameStart) +
                               static_cast<int64_t>(BATCH_FRAMES - 1) * shift + frameLength <
                           samplesRead) {
            analyseFrameBatch(&work.batch, &work.plan, &batchSettings, signal,
                              geometry->frameStart, shift, matrixRow(*matrix, count));
            count += BATCH_FRAMES;
            geometry->frameStart = static_cast<int32_t>(geometry->frameStart +
                                                        static_cast<int64_t>(BATCH_FRAMES) * shift);
            continue;
        }
        ++count;
        analyseOneFrame(&work, planned, keptBins, signal, window, geometry, settings,
                        matrixRow(*matrix, count - 1));
        geometry->frameStart += shift;
    }
    *frameCount = count;
    releaseFrameWork(&work);
    return 0;
}
