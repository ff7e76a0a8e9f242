// An hour of 44.1 kHz float wave decoded and resampled to 16 kHz against the analysis of an hour
// at 16 kHz (the bundled sample repeated, default settings, in memory). Target: the decoding and
// resampling add at most 50 % to the analysis. The wave file is made once in the folder given.
// The resampler alone, on the same hour held in memory, at each lane width this processor runs.
//   orvalix_audio_bench FOLDER [RUNS]
// Runs alternate so each step meets the same state of a shared machine; the file is read once
// before timing, so it comes from the page cache as in a corpus run's steady state.
#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "audio/audio_signal.h"
#include "audio/resampler.h"
#include "bench/stopwatch.h"
#include "dsp/processor.h"
#include "orvalix.h"

// The hour at 16 kHz, and the same hour resampled to 44.1 kHz (kept in high, on the 16-bit scale)
// in [-1, 1] as a float wave file.
static bool makeInputs(const std::string& wave, std::vector<float>* hour, std::vector<float>* high) {
    OrvalixSignal piece{};
    const std::string sample = std::string(ORVALIX_SOURCE_DIR) + "/samples/speech16k.wav";
    if (orvalix_load_wave(sample.c_str(), &piece, nullptr) != 0) return false;
    hour->resize(3600LL * piece.sampleRate);
    for (size_t i = 0; i < hour->size(); i++) (*hour)[i] = piece.samples[i % piece.count];
    orvalix_release_signal(&piece);
    float* resampled = nullptr;
    int64_t count = 0;
    char error[160];
    if (resampleSignal(hour->data(), hour->size(), 16000, 44100, &resampled, &count, error, sizeof error))
        return false;
    high->assign(resampled, resampled + count);
    for (int64_t i = 0; i < count; i++) resampled[i] = resampled[i] / 32768.0f;
    SF_INFO format = {0, 44100, 1, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(wave.c_str(), SFM_WRITE, &format);
    const bool written = file && sf_writef_float(file, resampled, count) == count;
    free(resampled);
    return file && sf_close(file) == 0 && written;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: orvalix_audio_bench FOLDER [RUNS]\n");
        return 2;
    }
    const std::string wave = std::string(argv[1]) + "/hour44k_float.wav";
    const int runs = argc > 2 ? atoi(argv[2]) : 5;
    std::vector<float> hour, high;
    if (!makeInputs(wave, &hour, &high)) return 1;
    std::vector<int32_t> widths;
    for (int32_t lanes = processorLanes(); lanes >= 1; lanes /= 2)
        if (usableLanes(lanes) == lanes) widths.push_back(lanes);
    ResampleKernel kernel;
    if (makeResampleKernel(44100, 16000, &kernel)) return 1;
    std::vector<float> resampled(resampledLength(kernel, static_cast<int64_t>(high.size())));

    Times analysis, decode, decodeAndResample;
    std::vector<Times> resampling(widths.size());
    AudioSignal signal;
    char error[512];
    if (decodeAudioFile(wave.c_str(), AUDIO_MIX_CHANNELS, AUDIO_KEEP_RATE, &signal, error, sizeof error))
        return fprintf(stderr, "%s\n", error), 1;
    releaseAudioSignal(&signal);
    for (int run = 0; run < runs; run++) {
        const OrvalixSettings settings = orvalix_default_settings();
        OrvalixFeatures features;
        Stopwatch start = startWatch();
        if (orvalix_analyse(hour.data(), static_cast<int64_t>(hour.size()), 16000, &settings,
                            &features, nullptr))
            return 1;
        analysis.add(start);
        orvalix_release_features(&features);

        start = startWatch();
        if (decodeAudioFile(wave.c_str(), AUDIO_MIX_CHANNELS, AUDIO_KEEP_RATE, &signal, error, sizeof error))
            return 1;
        decode.add(start);
        releaseAudioSignal(&signal);

        start = startWatch();
        if (decodeAudioFile(wave.c_str(), AUDIO_MIX_CHANNELS, 16000, &signal, error, sizeof error))
            return 1;
        decodeAndResample.add(start);
        releaseAudioSignal(&signal);

        for (size_t w = 0; w < widths.size(); w++) {
            start = startWatch();
            if (resampleWithLanes(kernel, high.data(), static_cast<int64_t>(high.size()),
                                  resampled.data(), widths[w]))
                return 1;
            resampling[w].add(start);
        }
    }
    releaseResampleKernel(&kernel);
    printf("median of %d runs\n\n| Step (1 h) | Wall (s) | Share of the analysis | Processor (s) | Share "
           "| Least wall (s) |\n|---|---|---|---|---|---|\n", runs);
    std::vector<std::pair<std::string, const Times*>> rows = {
        {"analysis of the hour at 16 kHz (orvalix_analyse)", &analysis},
        {"decoding the 44.1 kHz float wave", &decode},
        {"decoding and resampling to 16 kHz", &decodeAndResample}};
    for (size_t w = 0; w < widths.size(); w++)
        rows.push_back({"resampling alone, in memory, " + std::to_string(widths[w]) + " lanes", &resampling[w]});
    for (const auto& row : rows)
        printf("| %s | %.3f | %.1f %% | %.3f | %.1f %% | %.3f |\n", row.first.c_str(),
               median(row.second->wall), median(row.second->wall) / median(analysis.wall) * 100.0,
               median(row.second->cpu), median(row.second->cpu) / median(analysis.cpu) * 100.0,
               *std::min_element(row.second->wall.begin(), row.second->wall.end()));
    return 0;
}
