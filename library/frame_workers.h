#pragma once
// Chunks of conditioned samples analysed on several threads, each with its own analyser made from
// the same plan. Every chunk's rows land in their own rows of the matrix, so the rows are those
// of one thread whatever thread analyses a chunk and in whatever order. The threads are started
// and joined by the caller's call; with one thread nothing is started and every chunk is
// analysed as it is handed in.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "mfcc/frame_analysis.h"

// One chunk: frameCount frames starting at samples (shift apart), into rows; buffer (may be
// null) goes back to the free buffers once the rows are written.
struct ChunkJob {
    const float* samples;
    int32_t frameCount;
    float* rows;
    float* buffer;
};

struct FrameWorkers {
    FrameAnalyser* own;                     // the calling thread's, made by the caller
    std::vector<FrameAnalyser> analysers;   // one per started thread
    std::vector<std::thread> threads;
    std::vector<float*> buffers;            // the started threads' buffers, to release
    std::vector<float*> freeBuffers;
    std::deque<ChunkJob> queue;
    std::mutex lock;
    std::condition_variable changed;
    bool closing = false;
};

// Starts up to threads - 1 threads besides the caller (fewer when memory or the system refuses
// more: the rows stay the same), each with an analyser like `own` (made from the same geometry,
// settings, rate, window, lanes and row kind) and a buffer of bufferFloats floats for a chunk in
// flight, plus one more, besides the caller's ownBuffer (which stays the caller's to free).
// Returns 0, or 1 when memory runs out before the first thread (nothing started).
int startFrameWorkers(FrameWorkers* workers, int32_t threads, FrameAnalyser* own, float* ownBuffer,
                      const AnalysisSettings* settings, int32_t sampleRate, const float* window,
                      size_t bufferFloats);

bool runsThreads(const FrameWorkers* workers);

// A free buffer for the next chunk; while none is free the caller analyses queued chunks itself.
float* takeBuffer(FrameWorkers* workers);

// Queues the chunk for a thread, or with no thread started analyses it at once.
void submitChunk(FrameWorkers* workers, const ChunkJob& job);

// Analyses what is still queued, joins the threads and releases their analysers and the buffers.
void finishFrameWorkers(FrameWorkers* workers);
