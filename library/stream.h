#pragma once
#include <cstddef>
#include <cstdint>
#include "main/analysis_settings.h"
#include "mfcc/frame_analysis.h"

// An analysis driven by its caller: samples are pushed in any pieces, and each frame's row is
// handed out, with its frame index, as soon as the sample after the frame's last one has been
// pushed. For any split of the pushes the rows equal the whole signal's, bit for bit, the frame
// rule included (a frame is analysed while at least one sample follows it).
//
// Row 0 is the one exception. Pre-emphasis filters the first sample against the signal's last
// one, so with pre-emphasis on row 0 depends on the end of the signal:
// - STREAM_EXACT (the default): row 0 is handed out at finishStream, after the others;
// - STREAM_LIVE: row 0 comes at once, its first sample filtered against 0 (the only row that may
//   differ from the whole signal's).
// With pre-emphasis off row 0 is exact at once in either mode.
//
// Memory: the window, the transform's tables, a sample buffer of about a frame and a batch, and
// the rows not yet taken, however long the stream. Nothing prints, nothing ends the process, no
// global state: streams on different threads are independent.

enum StreamMode : int32_t { STREAM_EXACT = 0, STREAM_LIVE = 1 };

enum StreamResult : int32_t {
    STREAM_OK = 0,
    STREAM_BAD_ARGUMENT = 1,     // a null pointer, a negative count, channels other than 1 or 2
    STREAM_FINISHED = 2,         // samples pushed after finishStream (resetStream starts anew)
    STREAM_REFUSED_SETTINGS = 3, // settings that need the whole signal first (-V1)
    STREAM_BAD_RATE = 4,         // a rate the settings cannot analyse
    STREAM_OUT_OF_MEMORY = 5,
};

// Ready rows wait in a queue of consecutive frames. With STREAM_EXACT and pre-emphasis on, row 0
// joins it at finish: in front when the queue starts at frame 1 (or is empty), so that a caller
// who takes rows only after finishing gets them in frame order; else behind, a run of its own.
struct RowQueue {
    float* values;      // capacity rows of width floats
    int64_t capacity;
    int64_t count;
    int64_t firstFrame; // frame index of the first queued row
    bool rowZeroLast;   // the last queued row is frame 0, after frames from 1 on
};

struct AnalysisStream {
    AnalysisSettings settings;  // the caller's, the filter count settled
    int32_t sampleRate;
    StreamMode mode;
    bool holdsRowZero;      // STREAM_EXACT with pre-emphasis: row 0 waits for the last sample
    FrameGeometry geometry;
    FrameAnalyser analyser;
    float* samples;         // conditioned samples [bufferStart, bufferStart + bufferCount)
    int64_t bufferStart;    // may lie beyond pushed when the shift is longer than the window
    int32_t bufferCount;
    int32_t bufferCapacity;
    float* mixed;           // converted samples of integer or two-channel pushes
    int32_t mixedCapacity;
    float* rowZeroFrame;    // STREAM_EXACT with pre-emphasis: frame 0's samples until finish
    bool rowZeroHeld;
    float firstSample;      // unfiltered samples 0 and pushed - 1
    float lastSample;
    int64_t pushed;
    int64_t nextFrame;      // the first frame not yet analysed
    int32_t batchFrames;    // at least 1
    bool finished;
    RowQueue rows;
};

struct StreamSettings {
    AnalysisSettings analysis;
    int32_t sampleRate;
    StreamMode mode;
    RowKind rows;    // cepstra c0..cM (cepstralCount + 1 floats a row) or the log filter energies
    int32_t lanes;   // frames analysed side by side; 0: the widest the processor runs
    // 0 or 1: each row as soon as its frame is followed by a sample. n > 1 trades latency for
    // speed: ready frames wait until n of them (the lane width: whole vector batches) can be
    // analysed together, so a row may come up to n - 1 shifts late; finishStream analyses the rest.
    int32_t batchFrames;
};

// Builds everything a stream of these settings needs, once. Returns STREAM_OK, or a code with its
// message in error (size bytes, may be 0); the stream is then empty and needs no release.
int openStream(const StreamSettings& settings, AnalysisStream* stream, char* error, size_t size);

// Pushes count samples on the program's scale (16-bit: -32768..32767). Frames completed by them
// are analysed before the call returns. Returns STREAM_OK or a code; a refused push changes
// nothing.
int pushSamples(AnalysisStream* stream, const float* samples, int64_t count);
// frameCount frames of `channels` (1 or 2) interleaved samples; two channels are pushed as the
// program's mono mix, float((left + right) / 2.0).
int pushFrames(AnalysisStream* stream, const float* samples, int64_t frameCount, int32_t channels);
int pushInt16(AnalysisStream* stream, const int16_t* samples, int64_t frameCount, int32_t channels);

// The ready rows of consecutive frames from the front of the queue, without copying; valid until
// the next call on the stream other than peekRows.
struct RowRun {
    const float* values;  // count rows of width floats
    int64_t count;
    int64_t firstFrame;
    int32_t width;
};
RowRun peekRows(const AnalysisStream* stream);
// Removes the first count rows of peekRows' run (at most its count).
void dropRows(AnalysisStream* stream, int64_t count);
// Copies up to maxRows rows of the run into out and removes them; *firstFrame gets the frame index
// of the first (may be null). Returns how many.
int64_t takeRows(AnalysisStream* stream, float* out, int64_t maxRows, int64_t* firstFrame);

// Ends the signal: frames waiting for a batch are analysed, and in STREAM_EXACT with
// pre-emphasis row 0 joins the queue. No frame follows
// (the last samples need a sample after them). Returns STREAM_OK or STREAM_FINISHED when repeated.
int finishStream(AnalysisStream* stream);
// Starts a new signal with the same tables; rows not taken are dropped.
void resetStream(AnalysisStream* stream);
void releaseStream(AnalysisStream* stream);

// The message of a result code ("" for STREAM_OK).
const char* streamResultText(int result);
