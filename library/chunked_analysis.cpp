#include "library/chunked_analysis.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dsp/conditioning.h"
#include "dsp/processor.h"
#include "library/frame_workers.h"
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
    const AnalysisPlan* plan{};
    int32_t chunk{};
    FrameGeometry geometry{};
    FrameAnalyser analyser{};  // made once, for every chunk this thread analyses
    FrameWorkers workers{};    // the other threads, and the buffers of the chunks in flight
    float* window{};
    SampleWindow raw{};
    float* head{};      // the first chunk and its frame of overlap, unfiltered
    int32_t headCount{};
    float* work{};      // a chunk's conditioned samples, behind the sample before them
    FeatureMatrix* matrix{};
    int32_t frames{};
};

void releaseRun(ChunkedRun* run) {
    finishFrameWorkers(&run->workers);
    releaseFrameAnalyser(&run->analyser);
    free(run->window);
    free(run->raw.samples);
    free(run->head);
    free(run->work);
}

// Failures return the wave layer's code, or ANALYSIS_FAILED for the analysis' own, with the
// message the program prints.
int fail(const ChunkedRun* run, AnalysisOutcome* outcome, int32_t code, const char* reason) {
    outcome->code = code;
    snprintf(outcome->reason, sizeof outcome->reason, "%s", reason);
    if (run->plan->request.console == CONSOLE_PRINTS) printError("%s\n", reason);
    return code;
}

int failReading(const ChunkedRun* run, AnalysisOutcome* outcome, RFXRET code) {
    char reason[96];
    snprintf(reason, sizeof reason, "Reading wave file data failed: %s", resultCodeName(code));
    return fail(run, outcome, code, reason);
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

// Hands length conditioned samples starting at sample chunkStart (conditioned[0] is that sample)
// to the analysis straight into the matrix rows of their frames; buffer (may be null) holds them.
void analyseChunk(ChunkedRun* run, const float* conditioned, int64_t chunkStart, int32_t length,
                  float* buffer) {
    const int32_t count = framesToAnalyse(length, &run->geometry);
    const int32_t firstRow = static_cast<int32_t>(chunkStart / run->geometry.shiftSamples);
    submitChunk(&run->workers, ChunkJob{conditioned, count, matrixRow(*run->matrix, firstRow), buffer});
    run->frames += count;
}

// Chunk k > 0: its samples are conditioned against the unfiltered one before them into a buffer
// of their own, since the sliding buffer keeps them unfiltered for the overlap with the next
// chunk and moves on before another thread is done with them.
void analyseLaterChunk(ChunkedRun* run, int64_t chunkStart, int32_t length) {
    const float* from = run->raw.samples + (chunkStart - 1 - run->raw.start);
    const float emphasis = run->plan->settings.preEmphasis;
    if (!(emphasis > 0) && !runsThreads(&run->workers))
        return analyseChunk(run, from + 1, chunkStart, length, nullptr);
    float* buffer = takeBuffer(&run->workers);
    if (emphasis > 0)
        emphasizeFollowingInto(from, buffer, length + 1, emphasis);
    else
        memcpy(buffer + 1, from + 1, static_cast<size_t>(length) * sizeof(float));
    analyseChunk(run, buffer + 1, chunkStart, length, buffer);
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
int analyseFollowingChunks(ChunkedRun* run, AnalysisOutcome* outcome) {
    const int32_t span = run->chunk + run->geometry.frameLength;
    for (int64_t chunkStart = run->chunk;; chunkStart += run->chunk) {
        RFXRET result = RFX_SUCCESS;
        while (result == RFX_SUCCESS && !signalEnded(run) &&
               run->raw.start + run->raw.count < chunkStart + span)
            result = fillSamples(run);
        if (result != RFX_SUCCESS) return failReading(run, outcome, result);
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
    const StageConsole console = run->plan->request.console;
    if (run->info.totalSamples != samplesRead && console == CONSOLE_PRINTS) {
        printf("Reading error in input signal! Some samples cannot be read!");
        fflush(stdout);
    }
    const float emphasis = run->plan->settings.preEmphasis;
    if (emphasis > 0) {
        const float last = samplesRead > 0 ? run->raw.samples[samplesRead - 1 - run->raw.start] : 0;
        preEmphasizeReported(run->head, run->headCount, emphasis, last, console);
    }
    analyseChunk(run, run->head, 0, run->headCount, nullptr);
    finishFrameWorkers(&run->workers);
    return 0;
}

}  // namespace

int32_t chunkLengthFor(const AnalysisPlan& plan, int64_t samples, int32_t chunkTarget) {
    if (plan.settings.removeDcOffset || samples > 0x7FFFFFFF) return 0;
    const FrameGeometry& g = plan.geometry;
    const int32_t shift = g.shiftSamples;
    if (g.frameLength < 2 || shift < 1 || shift > chunkTarget / MAX_LANES) return 0;
    const int32_t chunk = chunkTarget / (MAX_LANES * shift) * (MAX_LANES * shift);
    if (g.frameLength > chunk || samples / 4 < chunk) return 0;
    return chunk;
}

namespace {

// No more threads than chunks.
int32_t threadsFor(const ChunkedRun& run) {
    const int64_t chunks = (static_cast<int64_t>(run.limit) + run.chunk - 1) / run.chunk;
    return run.plan->request.threads < chunks ? run.plan->request.threads
                                               : static_cast<int32_t>(chunks);
}

// The run once its source is open: the matrix, the window and the analyser, every chunk, and
// the first chunk last. Releases the run.
int analyseChunks(ChunkedRun* run, AnalysisOutcome* outcome) {
    const AnalysisPlan& plan = *run->plan;
    FeatureMatrix* matrix = &outcome->matrix;
    matrix->columnCount = plan.request.rowKind == ROWS_LOG_ENERGIES
                              ? plan.settings.melFilterCount
                              : plan.settings.cepstralCount + 1;
    const int32_t rows = featureRowsFor(run->info.totalSamples, &run->geometry);
    matrix->values = static_cast<float*>(
        calloc(static_cast<size_t>(rows) * static_cast<size_t>(matrix->columnCount), 4));
    run->matrix = matrix;
    const int32_t frameLength = run->geometry.frameLength;
    int failed = 0;
    if (!matrix->values || buildWindow(&run->window, plan.settings.windowType, frameLength, frameLength) ||
        makeFrameAnalyser(&run->analyser, &run->geometry, &plan.settings, plan.sampleRate,
                          run->window, plan.request.lanes > 0 ? plan.request.lanes : processorLanes(),
                          plan.request.rowKind) ||
        startFrameWorkers(&run->workers, threadsFor(*run), &run->analyser, run->work, &plan.settings,
                          plan.sampleRate, run->window, 2 * static_cast<size_t>(run->chunk) + 1))
        failed = fail(run, outcome, ANALYSIS_FAILED, "ERROR: Not enough memory for the frame analysis.");
    else
        matrix->rowCount = rows;
    if (!failed) failed = analyseFollowingChunks(run, outcome);
    if (!failed) failed = analyseFirstChunk(run);
    if (failed) {
        releaseRun(run);
        releaseFeatureMatrix(matrix);
        return failed;
    }
    matrix->rowCount = featureRowsFor(run->info.samplesRead, &run->geometry);
    outcome->frameCount = run->frames;
    outcome->filterCount = plan.settings.melFilterCount;
    outcome->info = run->info;
    releaseRun(run);
    return 0;
}

}  // namespace

int analyseReaderInChunks(SignalReader* reader, const AnalysisPlan& plan, int32_t chunkLength,
                          AnalysisOutcome* outcome) {
    ChunkedRun run{.source = reader, .limit = reader->limit, .info = outcome->info, .plan = &plan,
                   .chunk = chunkLength, .geometry = plan.geometry};
    if (!allocateRun(&run)) {
        releaseRun(&run);
        return failReading(&run, outcome, RFX_OUT_OF_MEMORY);
    }
    return analyseChunks(&run, outcome);
}

int analyseSamplesInChunks(const float* samples, int32_t count, const AnalysisPlan& plan,
                           int32_t chunkLength, AnalysisOutcome* outcome) {
    ChunkedRun run{.memory = samples, .limit = static_cast<uint32_t>(count),
                   .info = SignalInfo{count, 1, plan.sampleRate, 16, count}, .plan = &plan,
                   .chunk = chunkLength, .geometry = plan.geometry};
    if (!allocateRun(&run)) {
        releaseRun(&run);
        return fail(&run, outcome, ANALYSIS_FAILED, "ERROR: Not enough memory for the frame analysis.");
    }
    return analyseChunks(&run, outcome);
}
