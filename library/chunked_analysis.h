#pragma once
#include <cstdint>
#include "library/analysis_run.h"
#include "wave/signal_reader.h"

// A long recording read, conditioned and analysed a chunk at a time, so that the memory a run
// takes is a few chunks and the feature matrix however long the input: the same console output,
// the same rows and the same frame count as conditioning and analysing the whole signal.
//
// Chunk k holds the frames that start in [k * chunk, (k + 1) * chunk), analysed over the samples
// from k * chunk to one frame beyond, pre-emphasised against the sample before them. The first
// chunk is analysed last, once the last sample, which its first sample is filtered against,
// has been read.

// About a second of audio at the usual rates, and a megabyte of floats: the chunk being analysed
// stays in the processor's cache between its conditioning and its frames.
constexpr int32_t CHUNK_SAMPLES = 1 << 18;

// The chunk length for a plan and a signal of that many samples: the largest multiple of
// MAX_LANES frame shifts up to chunkTarget, so every chunk's frames go in whole batches. 0 when
// the signal is better analysed whole: a DC offset to remove (its mean needs every sample
// first), a window below two samples or a shift below one, a frame or MAX_LANES shifts longer
// than a chunk, or a signal shorter than four chunks.
int32_t chunkLengthFor(const AnalysisPlan& plan, int64_t samples, int32_t chunkTarget);

// The signal of an open reader (info as openWaveReader filled it), chunk after chunk, into
// outcome (its info and samplesRead set). Returns outcome->code.
int analyseReaderInChunks(SignalReader* reader, const AnalysisPlan& plan, int32_t chunkLength,
                          AnalysisOutcome* outcome);

// An in-memory signal the same way: the caller's samples are copied a chunk at a time and never
// changed.
int analyseSamplesInChunks(const float* samples, int32_t count, const AnalysisPlan& plan,
                           int32_t chunkLength, AnalysisOutcome* outcome);
