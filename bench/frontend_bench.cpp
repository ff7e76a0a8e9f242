// The front end after the analysis against the analysis itself, on an hour of speech (the bundled
// sample repeated) at the default settings: deltas (order 2, window 2), sliding CMVN (Kaldi's
// defaults, in place) over the 39 columns and the energy VAD on c0; the selection of the voiced
// rows (in place) is timed beside them.
// Runs alternate (analysis, front end) so both meet the same state of a shared machine; prints
// the median of each and their ratio as Markdown rows.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/stopwatch.h"
#include "orvalix.h"

int main(int argc, char** argv) {
    const int runs = argc > 1 ? atoi(argv[1]) : 5;
    const std::string sample = std::string(ORVALIX_SOURCE_DIR) + "/samples/speech16k.wav";
    OrvalixSignal piece{};
    if (orvalix_load_wave(sample.c_str(), &piece, nullptr) != 0) return 1;
    const int64_t hour = 3600LL * piece.sampleRate;
    std::vector<float> signal(hour);
    for (int64_t i = 0; i < hour; i++) signal[i] = piece.samples[i % piece.count];
    const int32_t rate = piece.sampleRate;
    orvalix_release_signal(&piece);

    Times analysis, deltas, cmvn, vad, select;
    int32_t frames = 0, voiced = 0;
    for (int run = 0; run < runs; run++) {
        const OrvalixSettings settings = orvalix_default_settings();
        OrvalixFeatures features, withDeltas;
        Stopwatch start = startWatch();
        if (orvalix_analyse(signal.data(), hour, rate, &settings, &features, nullptr) != 0)
            return 1;
        analysis.add(start);

        const OrvalixCmvnSettings cmvnSettings = orvalix_default_cmvn_settings();
        const OrvalixVadSettings vadSettings = orvalix_default_vad_settings();
        OrvalixLabels labels;
        start = startWatch();
        if (orvalix_deltas(&features, 2, 2, &withDeltas, nullptr) != 0) return 1;
        deltas.add(start);
        start = startWatch();
        if (orvalix_cmvn(&withDeltas, &cmvnSettings, &withDeltas, nullptr) != 0) return 1;
        cmvn.add(start);
        start = startWatch();
        if (orvalix_vad(&features, &vadSettings, &labels, nullptr) != 0) return 1;
        vad.add(start);
        start = startWatch();
        if (orvalix_select_voiced(&withDeltas, &labels, &withDeltas, nullptr) != 0) return 1;
        select.add(start);

        frames = features.frameCount;
        voiced = withDeltas.frameCount;
        orvalix_release_features(&features);
        orvalix_release_features(&withDeltas);
        orvalix_release_labels(&labels);
    }
    Times frontEnd;
    for (int run = 0; run < runs; run++) {
        frontEnd.wall.push_back(deltas.wall[run] + cmvn.wall[run] + vad.wall[run]);
        frontEnd.cpu.push_back(deltas.cpu[run] + cmvn.cpu[run] + vad.cpu[run]);
    }
    printf("%d frames, %d voiced; median of %d runs\n\n", frames, voiced, runs);
    printf("| Step (1 h of speech) | Wall (ms) | Share of the analysis | Processor (ms) | Share |\n"
           "|---|---|---|---|---|\n");
    const struct { const char* name; const Times* times; } rows[] = {
        {"analysis (orvalix_analyse, 13 columns)", &analysis},
        {"deltas, order 2, window 2 (39 columns)", &deltas},
        {"sliding CMVN in place, window 600/100, 39 columns", &cmvn},
        {"energy VAD on c0, context 15", &vad},
        {"selection of the voiced rows, in place", &select},
        {"deltas, CMVN and VAD together", &frontEnd}};
    for (const auto& row : rows)
        printf("| %s | %.1f | %.1f %% | %.1f | %.1f %% |\n", row.name, median(row.times->wall) * 1000.0,
               median(row.times->wall) / median(analysis.wall) * 100.0, median(row.times->cpu) * 1000.0,
               median(row.times->cpu) / median(analysis.cpu) * 100.0);
    return 0;
}
