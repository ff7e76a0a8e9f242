// Micro-benchmarks of the analysis stages at the default settings (16 kHz, 30 ms window, 10 ms
// shift, 512-point FFT, 30 filters, 12 coefficients): loading, conditioning, the transform, one
// formatted value, the frame analysis at every vector level, and the text output.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dsp/conditioning.h"
#include "dsp/fft.h"
#include "dsp/processor.h"
#include "main/feature_writer.h"
#include "library/float_format.h"
#include "mfcc/frame_analysis.h"
#include "modules/console.h"
#include "wave/wav_audio_file.h"
#include "wave/wave_loader.h"

namespace {

const std::string SAMPLE = std::string(ORVALIX_SOURCE_DIR) + "/samples/speech16k.wav";
constexpr int32_t FFT_LENGTH = 512;
constexpr int32_t CEPSTRA = 12;

// The loader prints its file report on standard output; the benchmarks send it to /dev/null.
struct QuietStdout {
    int saved;
    QuietStdout() {
        fflush(stdout);
        saved = dup(1);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        close(null);
    }
    ~QuietStdout() {
        fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
};

std::vector<float> loadSample(SignalInfo* info) {
    QuietStdout quiet;
    float* signal = nullptr;
    if (loadWaveFile(SAMPLE.c_str(), &signal, info) != RFX_SUCCESS) abort();
    std::vector<float> copy(signal, signal + info->samplesRead);
    free(signal);
    return copy;
}

AnalysisSettings defaultSettings() {
    AnalysisSettings s{};
    s.windowLengthMs = 30;
    s.windowShiftMs = 10;
    s.featureType = 1;
    s.cepstralCount = CEPSTRA;
    s.windowType = 1;
    s.lifterType = 3;
    s.filterDomain = 1;
    s.preEmphasis = 0.97f;
    return s;
}

void BM_LoadWave(benchmark::State& state) {
    QuietStdout quiet;
    SignalInfo info{};
    for (auto _ : state) {
        float* signal = nullptr;
        loadWaveFile(SAMPLE.c_str(), &signal, &info);
        benchmark::DoNotOptimize(signal);
        free(signal);
    }
    state.SetItemsProcessed(state.iterations() * info.samplesRead);
}
BENCHMARK(BM_LoadWave);

// Opening a file whose data chunk follows N empty chunks: the walk must stay linear and cheap
// (1,000,000 chunks, an 8 MB file, well under half a second).
void BM_ChunkWalk(benchmark::State& state) {
    const int64_t chunks = state.range(0);
    std::string name = "/tmp/orvalix_chunk_walk_" + std::to_string(getpid()) + ".wav";
    std::vector<unsigned char> bytes;
    auto put = [&](const char* id, uint32_t size) {
        bytes.insert(bytes.end(), id, id + 4);
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(size >> (8 * i)));
    };
    put("RIFF", static_cast<uint32_t>(4 + 24 + 8 * chunks + 8 + 2));
    bytes.insert(bytes.end(), {'W', 'A', 'V', 'E'});
    put("fmt ", 16);
    const unsigned char format[16] = {1, 0, 1, 0, 0x80, 0x3E, 0, 0, 0, 0x7D, 0, 0, 2, 0, 16, 0};
    bytes.insert(bytes.end(), format, format + 16);
    for (int64_t i = 0; i < chunks; ++i) put("JUNK", 0);
    put("data", 2);
    bytes.insert(bytes.end(), {0, 0});
    FILE* file = fopen(name.c_str(), "wb");
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    for (auto _ : state) {
        WavAudioFile wave;
        benchmark::DoNotOptimize(wave.openForRead(name.c_str()));
    }
    unlink(name.c_str());
    state.SetItemsProcessed(state.iterations() * chunks);
}
BENCHMARK(BM_ChunkWalk)->Arg(1000000)->Arg(4000000)->Unit(benchmark::kMillisecond);

void BM_Conditioning(benchmark::State& state) {
    SignalInfo info;
    std::vector<float> original = loadSample(&info);
    std::vector<float> signal(original.size());
    for (auto _ : state) {
        signal = original;
        subtractMean(signal.data(), info.samplesRead);
        preEmphasizeAfter(signal.data(), info.samplesRead, 0.97f, signal[info.samplesRead - 1]);
        benchmark::DoNotOptimize(signal.data());
    }
    state.SetItemsProcessed(state.iterations() * info.samplesRead);
}
BENCHMARK(BM_Conditioning);

// The program's own transform of one frame of noise.
void BM_FftFloat(benchmark::State& state) {
    std::vector<float> frame(FFT_LENGTH), re(FFT_LENGTH), im(FFT_LENGTH);
    for (int32_t i = 0; i < FFT_LENGTH; ++i) frame[i] = static_cast<float>((i * 7919) % 2001 - 1000);
    for (auto _ : state) {
        fft_float(FFT_LENGTH, 0, frame.data(), nullptr, re.data(), im.data());
        benchmark::DoNotOptimize(re.data());
    }
}
BENCHMARK(BM_FftFloat);

void BM_FormatValue(benchmark::State& state) {
    char text[64];
    float value = -3.0f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(formatFixedSix(value, text));
        value = value * 1.37f > 1000.0f ? -3.0f : value * -1.37f;
    }
}
BENCHMARK(BM_FormatValue);

// The frame analysis of a minute of speech (the sample repeated, conditioned once) at the lane
// width of the argument (1 plain, 2 NEON or SSE2, 4 AVX2, 8 AVX-512; a width the processor does
// not run is skipped), reported as seconds per audio hour.
void BM_FrameAnalysis(benchmark::State& state) {
    const int32_t lanes = static_cast<int32_t>(state.range(0));
    if (usableLanes(lanes) != lanes) {
        state.SkipWithError("lane width not run by this processor");
        return;
    }
    SignalInfo info;
    std::vector<float> sample = loadSample(&info);
    std::vector<float> signal;
    while (signal.size() < 60 * 16000) signal.insert(signal.end(), sample.begin(), sample.end());
    info.samplesRead = info.totalSamples = static_cast<int32_t>(signal.size());
    AnalysisSettings settings = defaultSettings();
    FrameGeometry geometry{};
    float* window = nullptr;
    prepareSignal(&window, signal.data(), &geometry, &info, &settings);
    for (auto _ : state) {
        FeatureMatrix matrix{};
        int32_t frames = 0;
        analyseFrames(signal.data(), window, &settings, &info, &geometry, &matrix, &frames, lanes);
        releaseFeatureMatrix(&matrix);
    }
    free(window);
    const double hours = static_cast<double>(signal.size()) / info.sampleRate / 3600.0;
    state.counters["s_per_audio_hour"] = benchmark::Counter(
        state.iterations() * hours, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FrameAnalysis)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_WriteText(benchmark::State& state) {
    SignalInfo info;
    std::vector<float> signal = loadSample(&info);
    AnalysisSettings settings = defaultSettings();
    FrameGeometry geometry{};
    float* window = nullptr;
    prepareSignal(&window, signal.data(), &geometry, &info, &settings);
    FeatureMatrix matrix{};
    int32_t frames = 0;
    analyseFrames(signal.data(), window, &settings, &info, &geometry, &matrix, &frames);
    free(window);
    std::string name = "/tmp/orvalix_stages_bench_" + std::to_string(getpid()) + ".txt";
    for (auto _ : state) writeFeatureFile(matrix, frames, 1, CEPSTRA, name.c_str(), OUTPUT_REPLACE);
    unlink(name.c_str());
    releaseFeatureMatrix(&matrix);
    state.SetItemsProcessed(state.iterations() * frames * CEPSTRA);
}
BENCHMARK(BM_WriteText);

}  // namespace

BENCHMARK_MAIN();
