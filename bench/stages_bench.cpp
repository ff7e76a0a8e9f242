// Micro-benchmarks of the analysis stages at the default settings (16 kHz, 30 ms window, 10 ms
// shift, 512-point FFT, 30 filters, 12 coefficients). Per-frame stages run on one frame of the
// bundled sample; loading, conditioning and the whole analysis run on the sample itself.
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
#include "dsp/fft_plan.h"
#include "main/feature_writer.h"
#include "main/float_format.h"
#include "mfcc/frame_analysis.h"
#include "mfcc/frame_steps.h"
#include "mfcc/mel_filterbank.h"
#include "mfcc/packed_filterbank.h"
#include "modules/console.h"
#include "wave/wav_audio_file.h"
#include "wave/wave_loader.h"

namespace {

const std::string SAMPLE = std::string(ORVALIX_SOURCE_DIR) + "/samples/speech16k.wav";
constexpr int32_t FFT_LENGTH = 512;
constexpr int32_t FRAME_LENGTH = 480;
constexpr int32_t FILTERS = 30;
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

// One windowed frame from the middle of the sample, its spectrum and its log energies.
struct FrameData {
    std::vector<float> frame, re, im, spectrum, logEnergies, window;
    MelFilterbank bank;
    FftPlan plan;
    FrameData() : frame(4 * FFT_LENGTH), re(FFT_LENGTH), im(FFT_LENGTH),
                  spectrum(4 * FFT_LENGTH), logEnergies(FILTERS), window(FRAME_LENGTH) {
        SignalInfo info;
        std::vector<float> signal = loadSample(&info);
        makeWindow(window.data(), 1, FRAME_LENGTH);
        placeWindowedFrame(signal.data(), static_cast<int32_t>(signal.size() / 2), FRAME_LENGTH,
                           FFT_LENGTH, frame.data(), window.data(), 0);
        buildMelFilterbank(&bank, FILTERS, FFT_LENGTH, 16000);
        makeFftPlan(&plan, FFT_LENGTH);
        fftForwardReal(&plan, frame.data(), re.data(), im.data(), FFT_LENGTH);
        magnitudeSpectrum(re.data(), im.data(), FFT_LENGTH / 2, spectrum.data());
        filterLogEnergies(spectrum.data(), logEnergies.data(), &bank, 1);
    }
    ~FrameData() {
        releaseMelFilterbank(&bank);
        releaseFftPlan(&plan);
    }
};

FrameData& frameData() {
    static FrameData data;
    return data;
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
    setStageReportsEnabled(0);
    for (auto _ : state) {
        signal = original;
        subtractMean(signal.data(), info.samplesRead);
        preEmphasize(signal.data(), info.samplesRead, 0.97f);
        benchmark::DoNotOptimize(signal.data());
    }
    setStageReportsEnabled(1);
    state.SetItemsProcessed(state.iterations() * info.samplesRead);
}
BENCHMARK(BM_Conditioning);

void BM_WindowFrame(benchmark::State& state) {
    FrameData& d = frameData();
    std::vector<float> signal(FRAME_LENGTH, 1000.0f);
    for (auto _ : state) {
        placeWindowedFrame(signal.data(), 0, FRAME_LENGTH, FFT_LENGTH, d.frame.data(),
                           d.window.data(), 0);
        benchmark::DoNotOptimize(d.frame.data());
    }
}
BENCHMARK(BM_WindowFrame);

// The original transform, for comparison with the planned one.
void BM_FftFloat(benchmark::State& state) {
    FrameData& d = frameData();
    for (auto _ : state) {
        fft_float(FFT_LENGTH, 0, d.frame.data(), nullptr, d.re.data(), d.im.data());
        benchmark::DoNotOptimize(d.re.data());
    }
}
BENCHMARK(BM_FftFloat);

void BM_FftPlanned(benchmark::State& state) {
    FrameData& d = frameData();
    d.plan.vectorLevel = static_cast<int>(state.range(0));
    if (d.plan.vectorLevel > fftVectorLevel()) {
        state.SkipWithError("vector level not supported");
        return;
    }
    for (auto _ : state) {
        fftForwardReal(&d.plan, d.frame.data(), d.re.data(), d.im.data(), FFT_LENGTH / 2);
        benchmark::DoNotOptimize(d.re.data());
    }
    d.plan.vectorLevel = fftVectorLevel();
}
BENCHMARK(BM_FftPlanned)->Arg(0)->Arg(1)->Arg(2);

void BM_Magnitude(benchmark::State& state) {
    FrameData& d = frameData();
    for (auto _ : state) {
        magnitudeSpectrum(d.re.data(), d.im.data(), FFT_LENGTH / 2, d.spectrum.data());
        benchmark::DoNotOptimize(d.spectrum.data());
    }
}
BENCHMARK(BM_Magnitude);

void BM_Filterbank(benchmark::State& state) {
    FrameData& d = frameData();
    double outputs[FILTER_GROUP];
    for (auto _ : state) {
        for (int32_t first = 1; first <= FILTERS; first += FILTER_GROUP) {
            filterGroupOutputs(&d.bank, first, d.spectrum.data(), outputs);
            benchmark::DoNotOptimize(outputs);
        }
    }
}
BENCHMARK(BM_Filterbank);

void BM_FilterbankPacked(benchmark::State& state) {
    FrameData& d = frameData();
    PackedFilterbank packed;
    packFilterbank(&packed, &d.bank);
    packed.vectorLevel = static_cast<int>(state.range(0));
    if (packed.vectorLevel > fftVectorLevel()) state.SkipWithError("vector level not supported");
    double outputs[FILTERS];
    for (auto _ : state) {
        packedFilterOutputs(&packed, &d.bank, d.spectrum.data(), outputs);
        benchmark::DoNotOptimize(outputs);
    }
    releasePackedFilterbank(&packed);
}
BENCHMARK(BM_FilterbankPacked)->Arg(0)->Arg(2);

// The filter sums one filter after the other, for comparison.
void BM_FilterbankOneByOne(benchmark::State& state) {
    FrameData& d = frameData();
    for (auto _ : state)
        for (int32_t j = 1; j <= FILTERS; ++j)
            benchmark::DoNotOptimize(filterOutput(filterAt(&d.bank, j), d.spectrum.data()));
}
BENCHMARK(BM_FilterbankOneByOne);

void BM_LogEnergies(benchmark::State& state) {
    FrameData& d = frameData();
    for (auto _ : state) {
        filterLogEnergies(d.spectrum.data(), d.logEnergies.data(), &d.bank, 1);
        benchmark::DoNotOptimize(d.logEnergies.data());
    }
}
BENCHMARK(BM_LogEnergies);

void BM_CosineTransform(benchmark::State& state) {
    FrameData& d = frameData();
    std::vector<double> table((CEPSTRA + 1) * FILTERS);
    makeCosineTable(table.data(), CEPSTRA, FILTERS);
    float row[CEPSTRA + 1];
    for (auto _ : state) {
        cosineTransform(row, d.logEnergies.data(), table.data(), CEPSTRA, FILTERS);
        benchmark::DoNotOptimize(row);
    }
}
BENCHMARK(BM_CosineTransform);

void BM_Lifter(benchmark::State& state) {
    float weights[CEPSTRA];
    makeLifter(weights, 3, CEPSTRA);
    float row[CEPSTRA + 1] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
    for (auto _ : state) {
        applyLifter(row, weights, CEPSTRA);
        benchmark::DoNotOptimize(row);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Lifter);

void BM_FormatValue(benchmark::State& state) {
    FrameData& d = frameData();
    char text[64];
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(formatFixedSix(d.logEnergies[i] * 7.3f - 3.0f, text));
        i = i + 1 == d.logEnergies.size() ? 0 : i + 1;
    }
}
BENCHMARK(BM_FormatValue);

// The whole analysis and the text output of the sample (about 6.5 s of speech).
void BM_AnalyseSample(benchmark::State& state) {
    SignalInfo info;
    std::vector<float> signal = loadSample(&info);
    setStageReportsEnabled(0);
    for (auto _ : state) {
        AnalysisSettings settings = defaultSettings();
        FrameGeometry geometry{};
        float* window = nullptr;
        prepareSignal(&window, signal.data(), &geometry, &info, &settings);
        FeatureMatrix matrix{};
        int32_t frames = 0;
        analyseFrames(signal.data(), window, &settings, &info, &geometry, &matrix, &frames);
        free(window);
        releaseFeatureMatrix(&matrix);
    }
    setStageReportsEnabled(1);
    state.SetItemsProcessed(state.iterations() * info.samplesRead);
}
BENCHMARK(BM_AnalyseSample);

void BM_WriteText(benchmark::State& state) {
    SignalInfo info;
    std::vector<float> signal = loadSample(&info);
    AnalysisSettings settings = defaultSettings();
    FrameGeometry geometry{};
    float* window = nullptr;
    setStageReportsEnabled(0);
    prepareSignal(&window, signal.data(), &geometry, &info, &settings);
    setStageReportsEnabled(1);
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
