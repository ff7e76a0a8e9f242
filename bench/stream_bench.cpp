// The stream of the C interface against the whole-signal analysis on an hour of speech (the
// bundled sample repeated) at the default settings: pushes of 160 samples (10 ms at 16 kHz), the
// rows taken after each,
// each row at once or in batches of the lane width, and pushes of 1600 samples;
// each stream run right after an orvalix_analyse run, so both meet the same state of a shared
// machine; prints the medians and the median of those pairs' ratios. `stream_bench memory HOURS` instead streams HOURS of speech in pushes of
// 160 samples, generated as it goes and its rows dropped, and prints the peak resident set.
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

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

// The median of the ratios of each run to the whole-signal run beside it: a shared machine's
// speed drifts over seconds, and a ratio of runs made together drifts less.
static double pairedRatio(const std::vector<double>& times, const std::vector<double>& whole) {
    std::vector<double> ratios;
    for (size_t i = 0; i < times.size(); i++) ratios.push_back(times[i] / whole[i]);
    return median(ratios);
}

static long peakKilobytes() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Every ready row taken into rows + *taken rows (sized for all of them).
static void takeAll(OrvalixStream* s, float* rows, int64_t* taken) {
    const int32_t width = orvalix_stream_row_width(s);
    int32_t n = 0;
    while (orvalix_stream_rows(s, rows + *taken * width, 1 << 30, &n, nullptr, nullptr) == 0 && n > 0)
        *taken += n;
}

// Every sample pushed `piece` at a time, every row taken into rows; returns the row count.
static int64_t streamAll(OrvalixStream* s, const float* signal, int64_t count, int64_t piece,
                         float* rows) {
    int64_t taken = 0;
    for (int64_t at = 0; at < count; at += piece) {
        orvalix_stream_push_float(s, signal + at, std::min(piece, count - at), 1, nullptr);
        takeAll(s, rows, &taken);
    }
    orvalix_stream_finish(s, nullptr);
    takeAll(s, rows, &taken);
    return taken;
}

int main(int argc, char** argv) {
    const std::string sample = std::string(ORVALIX_SOURCE_DIR) + "/samples/speech16k.wav";
    OrvalixSignal piece;
    if (orvalix_load_wave(sample.c_str(), &piece, nullptr) != ORVALIX_OK) return 1;
    const OrvalixSettings settings = orvalix_default_settings();
    OrvalixStreamOptions options = orvalix_default_stream_options();
    OrvalixStream* stream = nullptr;
    if (orvalix_stream_open(&settings, piece.sampleRate, &options, &stream, nullptr) != ORVALIX_OK)
        return 1;

    if (argc > 2 && !strcmp(argv[1], "memory")) {
        const int64_t total = static_cast<int64_t>(atof(argv[2]) * 3600 * piece.sampleRate);
        const long before = peakKilobytes();
        float block[160], rows[64 * 13];
        int64_t frames = 0;
        int32_t n = 0;
        const double start = cpuSeconds();
        for (int64_t at = 0; at < total; at += 160) {
            for (int i = 0; i < 160; i++) block[i] = piece.samples[(at + i) % piece.count];
            orvalix_stream_push_float(stream, block, 160, 1, nullptr);
            while (orvalix_stream_rows(stream, rows, 64, &n, nullptr, nullptr) == 0 && n > 0) frames += n;
        }
        orvalix_stream_finish(stream, nullptr);
        while (orvalix_stream_rows(stream, rows, 64, &n, nullptr, nullptr) == 0 && n > 0) frames += n;
        printf("| %s h streamed in pushes of 160 samples | %lld frames | %.0f s processor time | "
               "peak resident set %.1f MB (%.1f MB before the stream's first push) |\n",
               argv[2], static_cast<long long>(frames), cpuSeconds() - start,
               peakKilobytes() / 1024.0, before / 1024.0);
        return 0;
    }

    const int runs = argc > 1 ? atoi(argv[1]) : 5;
    const int64_t hour = 3600LL * piece.sampleRate;
    std::vector<float> signal(hour);
    for (int64_t i = 0; i < hour; i++) signal[i] = piece.samples[i % piece.count];
    std::vector<float> rows((hour / 160 + 1) * 13);
    // Each stream run is made right after a whole-signal run of its own, for its ratio.
    std::vector<double> whole, streamed160, batched160, streamed1600, beside[3];
    for (int run = 0; run < runs; run++) {
        OrvalixFeatures features;
        double start = cpuSeconds();
        orvalix_analyse(signal.data(), hour, piece.sampleRate, &settings, &features, nullptr);
        whole.push_back(cpuSeconds() - start);
        const struct {
            int64_t piece;
            int32_t batch;
            std::vector<double>* times;
        } variants[] = {{160, 1, &streamed160}, {160, orvalix_lane_width(), &batched160},
                        {1600, 1, &streamed1600}};
        for (int v = 0; v < 3; v++) {
            const auto [pieceSize, batch, times] = variants[v];
            OrvalixFeatures again;
            start = cpuSeconds();
            orvalix_analyse(signal.data(), hour, piece.sampleRate, &settings, &again, nullptr);
            beside[v].push_back(cpuSeconds() - start);
            orvalix_release_features(&again);
            orvalix_stream_release(stream);
            options.batchFrames = batch;
            orvalix_stream_open(&settings, piece.sampleRate, &options, &stream, nullptr);
            start = cpuSeconds();
            const int64_t frames = streamAll(stream, signal.data(), hour, pieceSize, rows.data());
            times->push_back(cpuSeconds() - start);
            if (frames != features.frameCount ||
                // Frames 1.. as they came, then row 0 at the finish.
                memcmp(rows.data(), features.values + 13, (frames - 1) * 13 * 4) != 0 ||
                memcmp(rows.data() + (frames - 1) * 13, features.values, 13 * 4) != 0) {
                fprintf(stderr, "the stream's rows differ from the whole signal's\n");
                return 1;
            }
        }
        orvalix_release_features(&features);
    }
    printf("| orvalix_analyse, 1 h | %.2f s |\n", median(whole));
    printf("| stream, pushes of 160 samples | %.2f s | %.3fx |\n", median(streamed160),
           pairedRatio(streamed160, beside[0]));
    printf("| stream, pushes of 160 samples, batches of %d frames | %.2f s | %.3fx |\n",
           orvalix_lane_width(), median(batched160), pairedRatio(batched160, beside[1]));
    printf("| stream, pushes of 1600 samples | %.2f s | %.3fx |\n", median(streamed1600),
           pairedRatio(streamed1600, beside[2]));
    orvalix_stream_release(stream);
    orvalix_release_signal(&piece);
    return 0;
}
