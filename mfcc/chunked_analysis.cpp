#include "mfcc/chunked_analysis.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dsp/conditioning.h"
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

struct ChunkedRun {
    SignalReader reader;
    SignalInfo info;
    AnalysisSettings* settings;
    int32_t chunk;
    int32_t frameLength;
    int32_t shift;
    float* window;
    SampleWindow raw;
    float* head;        // the first chunk and its frame of overlap, unfiltered
    int32_t headCount;
    float* work;        // one chunk's conditioned samples, behind the sample before them
    FeatureMatrix* matrix;
    int32_t frames;
};

void releaseRun(ChunkedRun* run) {
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

// Reads on until the buffer is full or the signal ends; returns the reader's result.
RFXRET fillSamples(ChunkedRun* run) {
    SampleWindow& raw = run->raw;
    uint32_t got = 0;
    RFXRET result = readSignalBlock(&run->reader, raw.samples + raw.count,
                                    static_cast<uint32_t>(raw.capacity - raw.count), &got);
    raw.count += static_cast<int32_t>(got);
    return result;
}

bool signalEnded(const ChunkedRun* run) {
    return run->reader.delivered >= run->reader.limit;
}

// Analyses length conditioned samples starting at sample chunkStart (conditioned[0] is that
// sample) into the matrix rows of their frames.
int analyseChunk(ChunkedRun* run, const float* conditioned, int64_t chunkStart, int32_t length) {
    if (framesToAnalyse(length, run->frameLength, run->shift) == 0) return 0;
    SignalInfo part = run->info;
    part.samplesRead = length;
    FrameGeometry geometry = {0, 0, 0, run->frameLength};
    FeatureMatrix rows = {0, 0, nullptr};
    int32_t count = 0;
    if (analyseFrames(conditioned, run->window, run->settings, &part, &geometry, &rows, &count))
        return ORVALIX_ANALYSIS_FAILED;
    const int64_t firstRow = chunkStart / run->shift;
    memcpy(matrixRow(*run->matrix, static_cast<int32_t>(firstRow)), rows.values,
           static_cast<size_t>(count) * static_cast<size_t>(rows.columnCount) * sizeof(float));
    run->frames += count;
    releaseFeatureMatrix(&rows);
    return 0;
}

// Chunk k > 0: its samples are conditioned against the unfiltered one before them into the work
// buffer, since the sliding buffer keeps them unfiltered for the overlap with the next chunk.
int analyseLaterChunk(ChunkedRun* run, int64_t chunkStart, int32_t length) {
    const float* from = run->raw.samples + (chunkStart - 1 - run->raw.start);
    if (!(run->settings->preEmphasis > 0)) return analyseChunk(run, from + 1, chunkStart, length);
    emphasizeFollowingInto(from, run->work, length + 1, run->settings->preEmphasis);
    return analyseChunk(run, run->work + 1, chunkStart, length);
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
    const int32_t span = run->chunk + run->frameLength;
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
        const int failed =
            length > 0 ? analyseLaterChunk(run, chunkStart, static_cast<int32_t>(length)) : 0;
        if (failed) return failed;
        if (last) return 0;
        slideTo(&run->raw, chunkStart + run->chunk - 1);
    }
}

// Frame and shift from the rate of the opened file; false when they no longer suit the chunk
// chosen at the first look (the file changed in between).
bool settleGeometry(ChunkedRun* run) {
    run->frameLength = msToSamples(run->settings->windowLengthMs, run->info.sampleRate);
    run->shift = msToSamples(run->settings->windowShiftMs, run->info.sampleRate);
    return run->frameLength >= 2 && run->frameLength <= run->chunk && run->shift >= 1 &&
           run->chunk % (8 * run->shift) == 0;
}

// After the whole signal was read: the loader's closing remark, the conditioning's report, and
// the first chunk, whose first sample is filtered against the last one.
int analyseFirstChunk(ChunkedRun* run) {
    const int32_t samplesRead = static_cast<int32_t>(run->reader.delivered);
    run->info.samplesRead = samplesRead;
    if (run->info.totalSamples != samplesRead) {
        printf("Reading error in input signal! Some samples cannot be read!");
        fflush(stdout);
    }
    if (run->settings->preEmphasis > 0) {
        const float last = samplesRead > 0 ? run->raw.samples[samplesRead - 1 - run->raw.start] : 0;
        preEmphasizeAfter(run->head, run->headCount, run->settings->preEmphasis, last);
    }
    return analyseChunk(run, run->head, 0, run->headCount);
}

}  // namespace

int32_t chunkLengthFor(const char* inputName, const AnalysisSettings* settings,
                       int32_t chunkTarget) {
    if (settings->removeDcOffset) return 0;
    WavAudioFile file;
    if (file.openForRead(inputName) != RFX_SUCCESS) return 0;
    const uint32_t rate = file.sampleRate();
    const uint32_t frames = file.frameCount();
    if (rate > 0x7FFFFFFFu || frames > 0x7FFFFFFFu) return 0;
    const int32_t frameLength = msToSamples(settings->windowLengthMs, static_cast<int32_t>(rate));
    const int32_t shift = msToSamples(settings->windowShiftMs, static_cast<int32_t>(rate));
    if (frameLength < 2 || shift < 1 || shift > chunkTarget / 8) return 0;
    const int32_t chunk = chunkTarget / (8 * shift) * (8 * shift);
    if (frameLength > chunk || frames / 4 < static_cast<uint32_t>(chunk)) return 0;
    return chunk;
}

int analyseWaveFileInChunks(const char* inputName, AnalysisSettings* settings, int32_t chunkLength,
                            FeatureMatrix* matrix, int32_t* frameCount, SignalInfo* info) {
    *matrix = FeatureMatrix{0, settings->cepstralCount + 1, nullptr};
    *frameCount = 0;
    int32_t total = 0;
    RFXRET result = queryWaveSize(inputName, &total);
    if (result != RFX_SUCCESS) {
        printError("Reading wave table size failed: %s\n", resultCodeName(result));
        return result;
    }
    ChunkedRun run{};
    run.settings = settings;
    run.chunk = chunkLength;
    run.matrix = matrix;
    run.info.totalSamples = total;
    if (!allocateRun(&run)) {
        releaseRun(&run);
        return reportReadFailure(RFX_OUT_OF_MEMORY);
    }
    result = openSignalReader(&run.reader, inputName, total, &run.info);
    if (result == RFX_SUCCESS && !settleGeometry(&run)) result = RFX_FILE_ERROR;
    if (result != RFX_SUCCESS) {
        releaseRun(&run);
        return reportReadFailure(result);
    }
    const int32_t rows = featureRowsFor(total, run.frameLength, run.shift);
    matrix->values = static_cast<float*>(
        calloc(static_cast<size_t>(rows) * static_cast<size_t>(matrix->columnCount), 4));
    if (!matrix->values) {
        releaseRun(&run);
        reportAnalysisOutOfMemory();
        return ORVALIX_ANALYSIS_FAILED;
    }
    matrix->rowCount = rows;
    int failed = buildWindow(&run.window, settings->windowType, run.frameLength, run.frameLength)
                     ? ORVALIX_ANALYSIS_FAILED
                     : analyseFollowingChunks(&run);
    if (!failed) failed = analyseFirstChunk(&run);
    if (failed) {
        releaseRun(&run);
        releaseFeatureMatrix(matrix);
        return failed;
    }
    matrix->rowCount = featureRowsFor(run.info.samplesRead, run.frameLength, run.shift);
    *frameCount = run.frames;
    *info = run.info;
    releaseRun(&run);
    return 0;
}
