#include "library/frame_workers.h"

#include <cstdlib>
#include <new>
#include <system_error>

namespace {

void analyseJob(FrameAnalyser* analyser, const ChunkJob& job) {
    analyseFrameRows(analyser, job.samples, job.frameCount, job.rows);
}

// Hands back the job's buffer; called with the lock held.
void completeJob(FrameWorkers* workers, const ChunkJob& job) {
    if (job.buffer) workers->freeBuffers.push_back(job.buffer);
    workers->changed.notify_all();
}

// The oldest queued chunk, analysed without the lock; called with the lock held.
void analyseOldest(FrameWorkers* workers, FrameAnalyser* analyser, std::unique_lock<std::mutex>& held) {
    const ChunkJob job = workers->queue.front();
    workers->queue.pop_front();
    held.unlock();
    analyseJob(analyser, job);
    held.lock();
    completeJob(workers, job);
}

void workOn(FrameWorkers* workers, FrameAnalyser* analyser) {
    std::unique_lock<std::mutex> held(workers->lock);
    for (;;) {
        workers->changed.wait(held, [workers] { return workers->closing || !workers->queue.empty(); });
        if (workers->queue.empty()) return;
        analyseOldest(workers, analyser, held);
    }
}

bool addBuffer(FrameWorkers* workers, size_t floats) {
    float* buffer = static_cast<float*>(malloc(floats * sizeof(float)));
    if (!buffer) return false;
    workers->buffers.push_back(buffer);
    workers->freeBuffers.push_back(buffer);
    return true;
}

}  // namespace

int startFrameWorkers(FrameWorkers* workers, int32_t threads, FrameAnalyser* own, float* ownBuffer,
                      const AnalysisSettings* settings, int32_t sampleRate, const float* window,
                      size_t bufferFloats) {
    workers->own = own;
    const size_t others = threads > 1 ? static_cast<size_t>(threads - 1) : 0;
    try {  // sized first: a thread holds a pointer to its analyser, and nothing grows later
        workers->analysers.resize(others);
        workers->threads.reserve(others);
        workers->buffers.reserve(others + 1);
        workers->freeBuffers.reserve(others + 2);
    } catch (const std::bad_alloc&) {
        return 1;
    }
    workers->freeBuffers.push_back(ownBuffer);
    size_t started = 0;
    for (FrameAnalyser& analyser : workers->analysers) {
        if (!addBuffer(workers, bufferFloats) ||
            makeFrameAnalyser(&analyser, &own->geometry, settings, sampleRate, window, own->lanes,
                              own->rowKind))
            break;
        try {
            workers->threads.emplace_back(workOn, workers, &analyser);
        } catch (const std::system_error&) {
            releaseFrameAnalyser(&analyser);
            break;
        }
        started++;
    }
    workers->analysers.resize(started);
    // A chunk for every thread and one more being read meanwhile, so that no thread waits while
    // the caller reads (the caller analyses queued chunks when every buffer is taken).
    if (started > 0) addBuffer(workers, bufferFloats);
    return 0;
}

bool runsThreads(const FrameWorkers* workers) {
    return !workers->threads.empty();
}

float* takeBuffer(FrameWorkers* workers) {
    std::unique_lock<std::mutex> held(workers->lock);
    while (workers->freeBuffers.empty()) {
        if (!workers->queue.empty())
            analyseOldest(workers, workers->own, held);
        else
            workers->changed.wait(held);
    }
    float* buffer = workers->freeBuffers.back();
    workers->freeBuffers.pop_back();
    return buffer;
}

void submitChunk(FrameWorkers* workers, const ChunkJob& job) {
    if (!runsThreads(workers)) {
        analyseJob(workers->own, job);
        if (job.buffer) workers->freeBuffers.push_back(job.buffer);
        return;
    }
    std::lock_guard<std::mutex> held(workers->lock);
    workers->queue.push_back(job);
    workers->changed.notify_one();
}

void finishFrameWorkers(FrameWorkers* workers) {
    {
        std::unique_lock<std::mutex> held(workers->lock);
        while (!workers->queue.empty()) analyseOldest(workers, workers->own, held);
        workers->closing = true;
        workers->changed.notify_all();
    }
    for (std::thread& thread : workers->threads) thread.join();
    workers->threads.clear();
    for (FrameAnalyser& analyser : workers->analysers) releaseFrameAnalyser(&analyser);
    workers->analysers.clear();
    for (float* buffer : workers->buffers) free(buffer);  // the caller's own is not among them
    workers->buffers.clear();
    workers->freeBuffers.clear();
}
