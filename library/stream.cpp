#include "library/stream.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dsp/conditioning.h"
#include "dsp/processor.h"
#include "mfcc/mel_filterbank.h"

namespace {

// Samples converted at a time from integer or two-channel pushes.
constexpr int32_t MIX_BLOCK = 4096;

// Room beyond a frame in the sample buffer: a few dozen shifts, so that the buffer slides (and
// moves about a frame of samples) once per few dozen frames, not once per push.
int32_t bufferRoomFor(int32_t shift) {
    int64_t room = int64_t{32} * shift;
    if (room < 4096) room = 4096;
    if (room > 65536) room = 65536;
    return static_cast<int32_t>(room);
}

bool emphasised(const AnalysisStream* s) {
    return s->settings.preEmphasis > 0;
}

// How many frames a signal of `total` samples analyses: those followed by at least one sample.
int64_t framesWithin(const AnalysisStream* s, int64_t total) {
    const FrameGeometry& g = s->geometry;
    if (total <= g.frameLength) return 0;
    return (total - g.frameLength - 1) / g.shiftSamples + 1;
}

int refuse(int code, char* error, size_t size, const char* format, int32_t a = 0, int32_t b = 0) {
    if (size > 0) snprintf(error, size, format, a, b);
    return code;
}

float* rowAt(const AnalysisStream* s, int64_t row) {
    return s->rows.values + row * s->analyser.rowWidth;
}

// Room in the queue for `more` rows beyond those queued.
bool reserveRows(AnalysisStream* s, int64_t more) {
    RowQueue& q = s->rows;
    if (q.count + more <= q.capacity) return true;
    int64_t capacity = q.capacity * 2 > q.count + more ? q.capacity * 2 : q.count + more;
    if (capacity < 64) capacity = 64;
    void* grown = realloc(q.values, static_cast<size_t>(capacity) * s->analyser.rowWidth * 4);
    if (!grown) return false;
    q.values = static_cast<float*>(grown);
    q.capacity = capacity;
    return true;
}

// Drops the samples before the next frame's start; with a shift longer than the window that
// start may not have been pushed yet, and the samples up to it are then never stored.
void slide(AnalysisStream* s) {
    const int64_t keepFrom = s->nextFrame * s->geometry.shiftSamples;
    const int64_t dropped = keepFrom - s->bufferStart;
    if (dropped >= s->bufferCount) {
        s->bufferCount = 0;
    } else {
        s->bufferCount -= static_cast<int32_t>(dropped);
        memmove(s->samples, s->samples + dropped, static_cast<size_t>(s->bufferCount) * 4);
    }
    s->bufferStart = keepFrom;
}

// Conditions n samples (at most the buffer's room) onto the buffer's end. Sample 0 is filtered
// against 0: the live row 0; the exact one is made again at finish.
void appendConditioned(AnalysisStream* s, const float* x, int32_t n) {
    int64_t skip = s->bufferStart - s->pushed;
    skip = skip < 0 ? 0 : skip > n ? n : skip;
    if (s->pushed == 0) s->firstSample = x[0];
    const float before = s->pushed + skip == 0 ? 0.0f : skip > 0 ? x[skip - 1] : s->lastSample;
    const int32_t kept = n - static_cast<int32_t>(skip);
    float* y = s->samples + s->bufferCount;
    if (kept > 0 && emphasised(s)) {
        const float a = s->settings.preEmphasis;
        y[0] = emphasizedSample(x[skip], before, a);
        emphasizeFollowingInto(x + skip, y, kept, a);
    } else if (kept > 0) {
        memcpy(y, x + skip, static_cast<size_t>(kept) * 4);
    }
    s->lastSample = x[n - 1];
    s->pushed += n;
    s->bufferCount += kept;
}

// Analyses every frame the pushed samples complete into the queue (room reserved beforehand),
// unless fewer than a batch wait while the buffer has room and the signal goes on.
void analyseReady(AnalysisStream* s, bool ending) {
    int64_t ready = framesWithin(s, s->pushed) - s->nextFrame;
    if (ready <= 0) return;
    if (ready < s->batchFrames && !ending && s->bufferCount < s->bufferCapacity) return;
    if (s->holdsRowZero && s->nextFrame == 0) {
        memcpy(s->rowZeroFrame, s->samples, static_cast<size_t>(s->geometry.frameLength) * 4);
        s->rowZeroHeld = true;
        s->nextFrame = 1;
        if (--ready == 0) return;
    }
    RowQueue& q = s->rows;
    if (q.count == 0) q.firstFrame = s->nextFrame;
    const int64_t start = s->nextFrame * s->geometry.shiftSamples - s->bufferStart;
    analyseFrameRows(&s->analyser, s->samples + start, static_cast<int32_t>(ready),
                     rowAt(s, q.count));
    q.count += ready;
    s->nextFrame += ready;
}

// Mono floats whose rows already have room in the queue.
void pushReserved(AnalysisStream* s, const float* x, int64_t count) {
    while (count > 0) {
        if (s->bufferCount == s->bufferCapacity) slide(s);
        const int64_t room = s->bufferCapacity - s->bufferCount;
        const int32_t n = static_cast<int32_t>(count < room ? count : room);
        appendConditioned(s, x, n);
        analyseReady(s, false);
        x += n;
        count -= n;
    }
}

// The checks every push makes, and queue room for every row its samples complete, so that a
// push either is refused whole or goes through.
int admitPush(AnalysisStream* s, const void* samples, int64_t count, int32_t channels) {
    if (!s || !s->samples || count < 0 || (count > 0 && !samples) || channels < 1 || channels > 2)
        return STREAM_BAD_ARGUMENT;
    if (s->finished) return STREAM_FINISHED;
    const int64_t rows = framesWithin(s, s->pushed + count) - s->nextFrame;
    return reserveRows(s, rows > 0 ? rows : 0) ? STREAM_OK : STREAM_OUT_OF_MEMORY;
}

}  // namespace

int openStream(const StreamSettings& settings, AnalysisStream* s, char* error, size_t size) {
    *s = AnalysisStream{};
    if (size > 0) error[0] = '\0';
    const int32_t rate = settings.sampleRate;
    AnalysisSettings analysis = settings.analysis;
    if (analysis.removeDcOffset)
        return refuse(STREAM_REFUSED_SETTINGS, error, size,
                      "ERROR: A stream cannot remove the DC offset (-V1): the mean needs every "
                      "sample first.");
    if (rate <= 0)
        return refuse(STREAM_BAD_RATE, error, size, "ERROR: Sample rate %d Hz is not positive.",
                      rate);
    const FrameGeometry geometry = frameGeometryFor(&analysis, rate);
    if (geometry.shiftSamples < 1)
        return refuse(STREAM_BAD_RATE, error, size,
                      "ERROR: Window shift of %d ms is below one sample at %d Hz.",
                      analysis.windowShiftMs, rate);
    if (geometry.fftLength < 2)  // the transform needs two points
        return refuse(STREAM_BAD_RATE, error, size,
                      "ERROR: Window of %d ms is too short for a transform at %d Hz.",
                      analysis.windowLengthMs, rate);
    if (analysis.melFilterCount == 0) analysis.melFilterCount = automaticFilterCount(rate);

    s->settings = analysis;
    s->sampleRate = rate;
    s->mode = settings.mode;
    s->holdsRowZero = settings.mode == STREAM_EXACT && analysis.preEmphasis > 0;
    s->geometry = geometry;
    s->bufferCapacity = geometry.frameLength + 1 + bufferRoomFor(geometry.shiftSamples);
    s->mixedCapacity = MIX_BLOCK;
    s->batchFrames = settings.batchFrames > 1 ? settings.batchFrames : 1;
    const size_t frameBytes = static_cast<size_t>(geometry.frameLength) * 4;
    float* window = static_cast<float*>(malloc(frameBytes));
    s->samples = static_cast<float*>(malloc(static_cast<size_t>(s->bufferCapacity) * 4));
    s->mixed = static_cast<float*>(malloc(MIX_BLOCK * 4));
    s->rowZeroFrame = static_cast<float*>(malloc(frameBytes));
    bool failed = !window || !s->samples || !s->mixed || !s->rowZeroFrame;
    if (!failed) {
        makeWindow(window, analysis.windowType, geometry.frameLength);
        const int32_t lanes = settings.lanes > 0 ? usableLanes(settings.lanes) : processorLanes();
        failed = makeFrameAnalyser(&s->analyser, &geometry, &analysis, rate, window, lanes,
                                   settings.rows) != 0;
    }
    free(window);  // the analyser keeps its own copy
    if (!failed) failed = !reserveRows(s, 64);
    if (failed) {
        releaseStream(s);
        return refuse(STREAM_OUT_OF_MEMORY, error, size,
                      "ERROR: Not enough memory for a stream of a %d ms window at %d Hz.",
                      analysis.windowLengthMs, rate);
    }
    return STREAM_OK;
}

int pushSamples(AnalysisStream* s, const float* samples, int64_t count) {
    return pushFrames(s, samples, count, 1);
}

int pushFrames(AnalysisStream* s, const float* x, int64_t frameCount, int32_t channels) {
    const int admitted = admitPush(s, x, frameCount, channels);
    if (admitted != STREAM_OK || channels == 1) {
        if (admitted == STREAM_OK) pushReserved(s, x, frameCount);
        return admitted;
    }
    for (int64_t done = 0; done < frameCount; done += MIX_BLOCK) {
        const int32_t n = static_cast<int32_t>(frameCount - done < MIX_BLOCK ? frameCount - done
                                                                            : MIX_BLOCK);
        const float* from = x + 2 * done;
        for (int32_t i = 0; i < n; ++i)
            s->mixed[i] = static_cast<float>((static_cast<double>(from[2 * i]) + from[2 * i + 1]) / 2.0);
        pushReserved(s, s->mixed, n);
    }
    return STREAM_OK;
}

int pushInt16(AnalysisStream* s, const int16_t* x, int64_t frameCount, int32_t channels) {
    const int admitted = admitPush(s, x, frameCount, channels);
    if (admitted != STREAM_OK) return admitted;
    for (int64_t done = 0; done < frameCount; done += MIX_BLOCK) {
        const int32_t n = static_cast<int32_t>(frameCount - done < MIX_BLOCK ? frameCount - done
                                                                            : MIX_BLOCK);
        const int16_t* from = x + channels * done;
        // As the wave loader converts: the value itself, or the mean of the two channels' sum.
        for (int32_t i = 0; i < n; ++i)
            s->mixed[i] = channels == 1 ? static_cast<float>(from[i])
                                        : static_cast<float>((from[2 * i] + from[2 * i + 1]) / 2.0);
        pushReserved(s, s->mixed, n);
    }
    return STREAM_OK;
}

RowRun peekRows(const AnalysisStream* s) {
    const RowQueue& q = s->rows;
    return RowRun{q.values, q.rowZeroLast ? q.count - 1 : q.count, q.firstFrame,
                  s->analyser.rowWidth};
}

void dropRows(AnalysisStream* s, int64_t count) {
    RowQueue& q = s->rows;
    const int64_t run = peekRows(s).count;
    if (count > run) count = run;
    if (count <= 0) return;
    q.count -= count;
    q.firstFrame += count;
    memmove(q.values, rowAt(s, count), static_cast<size_t>(q.count * s->analyser.rowWidth) * 4);
    if (q.rowZeroLast && q.count == 1) {
        q.rowZeroLast = false;
        q.firstFrame = 0;
    }
}

int64_t takeRows(AnalysisStream* s, float* out, int64_t maxRows, int64_t* firstFrame) {
    const RowRun run = peekRows(s);
    const int64_t n = run.count < maxRows ? run.count : maxRows > 0 ? maxRows : 0;
    if (firstFrame) *firstFrame = run.firstFrame;
    if (n > 0) memcpy(out, run.values, static_cast<size_t>(n * run.width) * 4);
    dropRows(s, n);
    return n;
}

int finishStream(AnalysisStream* s) {
    if (!s || !s->samples) return STREAM_BAD_ARGUMENT;
    if (s->finished) return STREAM_FINISHED;
    // Room for the frames waiting for a batch and for row 0.
    if (!reserveRows(s, framesWithin(s, s->pushed) - s->nextFrame + 1)) return STREAM_OUT_OF_MEMORY;
    analyseReady(s, true);
    if (s->rowZeroHeld) {
        RowQueue& q = s->rows;
        // Before rows from 1 on (or none) it makes one run in frame order; after rows taken
        // already, a run of its own.
        const bool inFront = q.count == 0 || q.firstFrame == 1;
        if (inFront)
            memmove(rowAt(s, 1), rowAt(s, 0), static_cast<size_t>(q.count * s->analyser.rowWidth) * 4);
        // The first sample filtered against the last, as the whole signal's conditioning does.
        s->rowZeroFrame[0] =
            emphasizedSample(s->firstSample, s->lastSample, s->settings.preEmphasis);
        analyseFrameRows(&s->analyser, s->rowZeroFrame, 1, rowAt(s, inFront ? 0 : q.count));
        if (inFront) q.firstFrame = 0;
        q.rowZeroLast = !inFront;
        q.count += 1;
        s->rowZeroHeld = false;
    }
    s->finished = true;
    return STREAM_OK;
}

void resetStream(AnalysisStream* s) {
    s->bufferStart = 0;
    s->bufferCount = 0;
    s->rowZeroHeld = false;
    s->firstSample = s->lastSample = 0.0f;
    s->pushed = 0;
    s->nextFrame = 0;
    s->finished = false;
    s->rows.count = 0;
    s->rows.firstFrame = 0;
    s->rows.rowZeroLast = false;
}

void releaseStream(AnalysisStream* s) {
    releaseFrameAnalyser(&s->analyser);
    free(s->samples);
    free(s->mixed);
    free(s->rowZeroFrame);
    free(s->rows.values);
    *s = AnalysisStream{};
}

const char* streamResultText(int result) {
    switch (result) {
    case STREAM_OK: return "";
    case STREAM_BAD_ARGUMENT: return "ERROR: Invalid stream call: a null or unopened stream, "
                                     "null samples, a negative count or channels other than 1 or 2.";
    case STREAM_FINISHED: return "ERROR: The stream is finished; reset it to start a new signal.";
    case STREAM_REFUSED_SETTINGS: return "ERROR: A stream cannot remove the DC offset (-V1).";
    case STREAM_BAD_RATE: return "ERROR: The settings cannot analyse this sample rate.";
    case STREAM_OUT_OF_MEMORY: return "ERROR: Not enough memory for the stream.";
    default: return "ERROR: Unknown stream result.";
    }
}
