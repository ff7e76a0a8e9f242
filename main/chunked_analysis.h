#pragma once
#include <cstdint>
#include "main/analysis_settings.h"
#include "mfcc/frame_analysis.h"
#include "wave/signal_reader.h"

// A long recording read, conditioned and analysed a chunk at a time, so that the memory a run
// takes is a few chunks and the feature matrix however long the input: the same console output,
// the same rows and the same frame count as loading the whole signal (loadWaveFile),
// conditioning it (prepareSignal) and analysing it (analyseFrames).
//
// Chunk k holds the frames that start in [k * chunk, (k + 1) * chunk), analysed over the samples
// from k * chunk to one frame beyond, pre-emphasised against the sample before them. The first
// chunk is analysed last, once the last sample, which its first sample is filtered against,
// has been read.

// About a second of audio at the usual rates, and a megabyte of floats: the chunk being analysed
// stays in the processor's cache between its conditioning and its frames.
constexpr int32_t CHUNK_SAMPLES = 1 << 18;

// The chunk length for these settings and a signal of that many samples at that rate: the
// largest multiple of MAX_LANES frame shifts up to chunkTarget, so every chunk's frames go in
// whole batches. 0 when the signal is better analysed whole: a DC offset to remove (its mean
// needs every sample first), a window below two samples or a shift below one, a frame or
// MAX_LANES shifts longer than a chunk, or a signal shorter than four chunks.
int32_t chunkLengthFor(const AnalysisSettings* settings, int64_t sampleRate, int64_t samples,
                       int32_t chunkTarget);
// The same for a wave file; 0 also for one that does not open (the loader then reports why).
int32_t chunkLengthFor(const char* inputName, const AnalysisSettings* settings,
                       int32_t chunkTarget);

// The signal of an open reader (info as openWaveReader filled it), chunk after chunk. Returns 0,
// or after printing the loader's or the analysis' message the wave layer's code or
// ORVALIX_ANALYSIS_FAILED; on failure nothing is left allocated. settings->melFilterCount is
// settled as analyseFrames settles it; info->samplesRead is set.
int analyseReaderInChunks(SignalReader* reader, AnalysisSettings* settings, int32_t chunkLength,
                          FeatureMatrix* matrix, int32_t* frameCount, SignalInfo* info);
// The same from a file name.
int analyseWaveFileInChunks(const char* inputName, AnalysisSettings* settings, int32_t chunkLength,
                            FeatureMatrix* matrix, int32_t* frameCount, SignalInfo* info);

// An in-memory signal the same way (the caller's samples are copied a chunk at a time and never
// changed), as prepareSignal and analyseFrames with these rows would analyse it whole. Returns 0,
// or 1 after the analysis' message.
int analyseSignalInChunks(const float* signal, int32_t sampleCount, int32_t sampleRate,
                          AnalysisSettings* settings, int32_t chunkLength, RowKind rowKind,
                          FeatureMatrix* matrix, int32_t* frameCount);
