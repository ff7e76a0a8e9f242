// The stream against the whole-signal analysis on an hour of speech (the bundled sample repeated)
// at the default settings: pushes of 160 samples (10 ms at 16 kHz) with the rows taken after each,
// each row at once or in batches of the lane width, and pushes of 1600 samples;
// runs alternating with orvalixAnalyse so both meet the same state of a shared machine; prints the
// medians and their ratio. `stream_bench memory HOURS` instead streams HOURS of speech in pushes of
// 160 samples, generated as it goes and its rows dropped, and prints the peak resident set.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "dsp/processor.h"
#include "library/stream.h"
#include "orvalix.h"

static double cpuSeconds() {
    timespec now;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

static double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

static long peakKilobytes() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Every sample pushed `piece` at a time, every row taken into rows (sized for all of them).
static int64_t streamAll(AnalysisStream* s, const float* signal, int64_t count, int64_t piece,
                         float* rows) {
    int64_t taken = 0, first = 0;
    for (int64_t at = 0; at < count; at += piece) {
        pushSamples(s, signal + at, std::min(piece, count - at));
        taken += takeRows(s, rows + taken * s->analyser.rowWidth, INT64_MAX, &first);
    }
    finishStream(s);
    return taken + takeRows(s, rows + taken * s->analyser.rowWidth, INT64_MAX, &first);
}

int main(int argc, char** argv) {
    const std::string sample = std::string(ORVALIX_SOURCE_DIR) + "/samples/speech16k.wav";
    float* piece = nullptr;
    SignalInfo info;
    if (orvalixLoadWave(sample.c_str(), &piece, &info) != 0) return 1;
    const StreamSettings settings{orvalixDefaultSettings(), info.sampleRate, STREAM_EXACT,
                                  ROWS_CEPSTRA, 0, 1};
    AnalysisStream stream;
    if (openStream(settings, &stream, nullptr, 0) != STREAM_OK) return 1;

    if (argc > 2 && !strcmp(argv[1], "memory")) {
        const int64_t total = static_cast<int64_t>(atof(argv[2]) * 3600 * info.sampleRate);
        const long before = peakKilobytes();
        float block[160], rows[64 * 13];
        int64_t frames = 0, first = 0;
        const double start = cpuSeconds();
        for (int64_t at = 0; at < total; at += 160) {
            for (int i = 0; i < 160; i++) block[i] = piece[(at + i) % info.samplesRead];
            pushSamples(&stream, block, 160);
            frames += takeRows(&stream, rows, 64, &first);
        }
        finishStream(&stream);
        frames += takeRows(&stream, rows, 64, &first);
        printf("| %s h streamed in pushes of 160 samples | %lld frames | %.0f s processor time | "
               "peak resident set %.1f MB (%.1f MB before the stream's first push) |\n",
               argv[2], static_cast<long long>(frames), cpuSeconds() - start,
               peakKilobytes() / 1024.0, before / 1024.0);
        return 0;
    }

    const int runs = argc > 1 ? atoi(argv[1]) : 5;
    const int64_t hour = 3600LL * info.sampleRate;
    std::vector<float> signal(hour);
    for (int64_t i = 0; i < hour; i++) signal[i] = piece[i % info.samplesRead];
    std::vector<float> rows((hour / 160 + 1) * 13);
    std::vector<double> whole, streamed160, batched160, streamed1600;
    for (int run = 0; run < runs; run++) {
        AnalysisSettings analysis = orvalixDefaultSettings();
        OrvalixFeatures features;
        double start = cpuSeconds();
        orvalixAnalyse(signal.data(), static_cast<int32_t>(hour), info.sampleRate, &analysis,
                       &features);
        whole.push_back(cpuSeconds() - start);
        const struct {
            int64_t piece;
            int32_t batch;
            std::vector<double>* times;
        } variants[] = {{160, 1, &streamed160}, {160, processorLanes(), &batched160},
                        {1600, 1, &streamed1600}};
        for (auto [pieceSize, batch, times] : variants) {
            resetStream(&stream);
            stream.batchFrames = batch;
            start = cpuSeconds();
            const int64_t frames = streamAll(&stream, signal.data(), hour, pieceSize, rows.data());
            times->push_back(cpuSeconds() - start);
            if (frames != features.frameCount ||
                // Frames 1.. as they came, then row 0 at the finish.
                memcmp(rows.data(), features.values + 13, (frames - 1) * 13 * 4) != 0 ||
                memcmp(rows.data() + (frames - 1) * 13, features.values, 13 * 4) != 0) {
                fprintf(stderr, "the stream's rows differ from the whole signal's\n");
                return 1;
            }
        }
        orvalixReleaseFeatures(&features);
    }
    printf("| orvalixAnalyse, 1 h | %.2f s |\n", median(whole));
    printf("| stream, pushes of 160 samples | %.2f s | %.3fx |\n", median(streamed160),
           median(streamed160) / median(whole));
    printf("| stream, pushes of 160 samples, batches of %d frames | %.2f s | %.3fx |\n",
           processorLanes(), median(batched160), median(batched160) / median(whole));
    printf("| stream, pushes of 1600 samples | %.2f s | %.3fx |\n", median(streamed1600),
           median(streamed1600) / median(whole));
    releaseStream(&stream);
    free(piece);
    return 0;
}
