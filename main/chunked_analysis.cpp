#include "main/chunked_analysis.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dsp/conditioning.h"
#include "dsp/processor.h"
#include "mfcc/mel_filterbank.h"
#include "modules/console.h"
#include "wave/signal_reader.h"
#include "wave/wav_audio_file.h"

namespace {

// The unfiltered samples [start, start + count) in a buffer that slides along the signal.
struct SampleWindow {
    float* samples;
    int64_t start;
    int32_t count;
    int32_t capacity;
};

struct ChunkedRun {  // every field starts zero, whatever a run's initialiser names
    SignalReader* source{};   // the open wave file's reader, or null for an in-memory signal
    const float* memory{};
    uint32_t delivered{};     // samples taken from the source so far, of limit
    uint32_t limit{};
    SignalInfo info{};
    AnalysisSettings* settings{};
    int32_t chunk{};
    FrameGeometry geometry{};
    FrameAnalyser analyser{};  // made once, for every chunk
    float* window{};
    SampleWindow raw{};
    float* head{};      // the first chunk and its frame of overlap, unfiltered
    int32_t headCount{};
    float* work{};      // one chunk's conditioned samples, behind the sample before them
    FeatureMatrix* matrix{};
    int32_t frames{};
};

void releaseRun(ChunkedRun* run) {
    releaseFrameAnalyser(&run->analyser);
    free(run->window);
    free(run->raw.samples);
    free(run->head);
    free(run->work);
}

// Failures return the wave layer's code, or ORVALIX_ANALYSIS_FAILED for the analysis' own.
int reportReadFailure(RFXRET code) {
    printError("Reading wave file data failed: %s\n", resultCodeName(code));
    return code;
}

// Reads (or copies) on until the buffer is full or the signal ends; returns the reader's result.
RFXRET fillSamples(ChunkedRun* run) {
    SampleWindow& raw = run->raw;
    uint32_t got = static_cast<uint32_t>(raw.capacity - raw.count);
    RFXRET result = RFX_SUCCESS;
    if (run->memory) {
        if (got > run->limit - run->delivered)
            got = run->limit - run->delivered;
        memcpy(raw.samples + raw.count, run->memory + run->delivered, got * sizeof(float));
    } else {
        result = readSignalBlock(run->source, raw.samples + raw.count, got, &got);
    }
    run->delivered += got;
    raw.count += static_cast<int32_t>(got);
    return result;
}

bool signalEnded(const ChunkedRun* run) {
    return run->delivered >= run->limit;
}

// Analyses length conditioned samples starting at sample chunkStart (conditioned[0] is that
// sample) straight into the matrix rows of their frames.
void analyseChunk(ChunkedRun* run, const float* conditioned, int64_t chunkStart, int32_t length) {
    const int32_t count = framesToAnalyse(length, &run->geometry);
    const int32_t firstRow = static_cast<int32_t>(chunkStart / run->geometry.shiftSamples);
    analyseFrameRows(&run->analyser, conditioned, count, matrixRow(*run->matrix, firstRow));
    run->frames += count;
}

// Chunk k > 0: its samples are conditioned against the unfiltered one before them into the work
// buffer, since the sliding buffer keeps them unfiltered for the overlap with the next chunk.
void analyseLaterChunk(ChunkedRun* run, int64_t chunkStart, int32_t length) {
    const float* from = run->raw.samples + (chunkStart - 1 - run->raw.start);
    if (!(run->settings->preEmphasis > 0)) return analyseChunk(run, from + 1, chunkStart, length);
    emphasizeFollowingInto(from, run->work, length + 1, run->settings->preEmphasis);
    analyseChunk(run, run->work + 1, chunkStart, length);
}

// Drops the samples before `from`, moving the rest to the front of the buffer.
void slideTo(SampleWindow* raw, int64_t from) {
    const int32_t dropped = static_cast<int32_t>(from - raw->start);
    memmove(raw->samples, raw->samples + dropped,
            static_cast<size_t>(raw->count - dropped) * sizeof(float));
    raw->start = from;
    raw->count -= dropped;
}

// Sized for the longest frame a chunk allows (the chunk itself); pages past what the input's
// frame uses are never touched.
int allocateRun(ChunkedRun* run) {
    const size_t chunk = static_cast<size_t>(run->chunk);
    run->raw.capacity = static_cast<int32_t>(3 * chunk + 1);  // a chunk, its frame, a chunk more
    run->raw.samples = static_cast<float*>(malloc((3 * chunk + 1) * sizeof(float)));
    run->head = static_cast<float*>(malloc(2 * chunk * sizeof(float)));
    run->work = static_cast<float*>(malloc((2 * chunk + 1) * sizeof(float)));
    return run->raw.samples && run->head && run->work;
}

// Every chunk after the first, as the signal is read; keeps the first chunk aside.
int analyseFollowingChunks(ChunkedRun* run) {
    const int32_t span = run->chunk + run->geometry.frameLength;
    for (int64_t chunkStart = run->chunk;; chunkStart += run->chunk) {
        RFXRET result = RFX_SUCCESS;
        while (result == RFX_SUCCESS && !signalEnded(run) &&
               run->raw.start + run->raw.count < chunkStart + span)
            result = fillSamples(run);
        if (result != RFX_SUCCESS) return reportReadFailure(result);
        if (chunkStart == run->chunk) {
            run->headCount = run->raw.count < span ? run->raw.count : span;
            memcpy(run->head, run->raw.samples, static_cast<size_t>(run->headCount) * 4);
        }
        const int64_t available = run->raw.start + run->raw.count;
        const bool last = available < chunkStart + span;
        const int64_t length = last ? available - chunkStart : span;
        if (length > 0) analyseLaterChunk(run, chunkStart, static_cast<int32_t>(length));
        if (last) return 0;
        slideTo(&run->raw, chunkStart + run->chunk - 1);
    }
}

// After the whole signal was read: the loader's closing remark, the conditioning's report, and
// the first chunk, whose first sample is filtered against the last one.
int analyseFirstChunk(ChunkedRun* run) {
    const int32_t samplesRead = static_cast<int32_t>(run->delivered);
    run->info.samplesRead = samplesRead;
    if (run->info.totalSamples != samplesRead) {
        printf("Reading error in input signal! Some samples cannot be read!");
        fflush(stdout);
    }
    if (run->settings->preEmphasis > 0) {
        const float last = samplesRead > 0 ? run->raw.samples[samplesRead - 1 - run->raw.start] : 0;
        preEmphasizeAfter(run->head, run->headCount, run->settings->preEmphasis, last);
    }
    analyseChunk(run, run->head, 0, run->headCount);
    return 0;
}

}  // namespace

int32_t chunkLengthFor(const AnalysisSettings* settings, int64_t sampleRate, int64_t samples,
                       int32_t chunkTarget) {
    if (settings->removeDcOffset || sampleRate > 0x7FFFFFFF || samples > 0x7FFFFFFF) return 0;
    const FrameGeometry g = frameGeometryFor(settings, static_cast<int32_t>(sampleRate));
    const int32_t shift = g.shiftSamples;
    if (g.frameLength < 2 || shift < 1 || shift > chunkTarget / MAX_LANES) return 0;
    const int32_t chunk = chunkTarget / (MAX_LANES * shift) * (MAX_LANES * shift);
    if (g.frameLength > chunk || samples / 4 < chunk) return 0;
    return chunk;
}

int32_t chunkLengthFor(const char* inputName, const AnalysisSettings* settings,
                       int32_t chunkTarget) {
    WavAudioFile file;
    if (file.openForRead(inputName) != RFX_SUCCESS) return 0;
    return chunkLengthFor(settings, file.sampleRate(), file.frameCount(), chunkTarget);
}

namespace {

// The run once its source is open and its geometry settled: the matrix, the window and the
// analyser, every chunk, and the first chunk last. Releases the run.
int analyseChunks(ChunkedRun* run, RowKind rowKind, FeatureMatrix* matrix, int32_t* frameCount) {
    AnalysisSettings* settings = run->settings;
    if (settings->melFilterCount == 0)
        settings->melFilterCount = automaticFilterCount(run->info.sampleRate);
    matrix->columnCount =
        rowKind == ROWS_LOG_ENERGIES ? settings->melFilterCount : settings->cepstralCount + 1;
    const int32_t rows = featureRowsFor(run->info.totalSamples, &run->geometry);
    matrix->values = static_cast<float*>(
        calloc(static_cast<size_t>(rows) * static_cast<size_t>(matrix->columnCount), 4));
    if (!matrix->values) {
        releaseRun(run);
        reportAnalysisOutOfMemory();
        return ORVALIX_ANALYSIS_FAILED;
    }
    matrix->rowCount = rows;
    const int32_t frameLength = run->geometry.frameLength;
    int failed = buildWindow(&run->window, settings->windowType, frameLength, frameLength) ||
                         makeFrameAnalyser(&run->analyser, &run->geometry, settings,
                                           run->info.sampleRate, run->window, processorLanes(),
                                           rowKind)
                     ? ORVALIX_ANALYSIS_FAILED
                     : analyseFollowingChunks(run);
    if (!failed) failed = analyseFirstChunk(run);
    if (failed) {
        releaseRun(run);
        releaseFeatureMatrix(matrix);
        return failed;
    }
    matrix->rowCount = featureRowsFor(run->info.samplesRead, &run->geometry);
    *frameCount = run->frames;
    releaseRun(run);
    return 0;
}

}  // namespace

int analyseReaderInChunks(SignalReader* reader, AnalysisSettings* settings, int32_t chunkLength,
                          FeatureMatrix* matrix, int32_t* frameCount, SignalInfo* info) {
    *matrix = FeatureMatrix{0, settings->cepstralCount + 1, nullptr};
    *frameCount = 0;
    ChunkedRun run{.source = reader, .limit = reader->limit, .info = *info, .settings = settings,
                   .chunk = chunkLength, .geometry = frameGeometryFor(settings, info->sampleRate),
                   .matrix = matrix};
    if (!allocateRun(&run)) {
        releaseRun(&run);
        return reportReadFailure(RFX_OUT_OF_MEMORY);
    }
    const int failed = analyseChunks(&run, ROWS_CEPSTRA, matrix, frameCount);
    if (!failed) *info = run.info;
    return failed;
}

int analyseWaveFileInChunks(const char* inputName, AnalysisSettings* settings, int32_t chunkLength,
                            FeatureMatrix* matrix, int32_t* frameCount, SignalInfo* info) {
    *matrix = FeatureMatrix{0, settings->cepstralCount + 1, nullptr};
    *frameCount = 0;
    SignalReader reader;
    const RFXRET result = openWaveReader(inputName, &reader, info);
    if (result != RFX_SUCCESS) return result;
    return analyseReaderInChunks(&reader, settings, chunkLength, matrix, frameCount, info);
}

int analyseSignalInChunks(const float* signal, int32_t sampleCount, int32_t sampleRate,
                          AnalysisSettings* settings, int32_t chunkLength, RowKind rowKind,
                          FeatureMatrix* matrix, int32_t* frameCount) {
    *matrix = FeatureMatrix{0, 0, nullptr};
    *frameCount = 0;
    ChunkedRun run{.memory = signal, .limit = static_cast<uint32_t>(sampleCount),
                   .info = SignalInfo{sampleCount, 1, sampleRate, 16, sampleCount},
                   .settings = settings, .chunk = chunkLength,
                   .geometry = frameGeometryFor(settings, sampleRate), .matrix = matrix};
    if (!allocateRun(&run)) {
        releaseRun(&run);
        return reportAnalysisOutOfMemory();
    }
    return analyseChunks(&run, rowKind, matrix, frameCount) ? 1 : 0;
}
