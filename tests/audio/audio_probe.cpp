// The audio module as a command, for tests/audio/test_audio.py and the resampler's comparison
// with torchaudio: decodes, loads through the program's reader, or resamples, writing raw floats.
//   audio_probe decode PATH CHANNEL RATE OUT      (CHANNEL -1 mixes, RATE 0 keeps the file's)
//   audio_probe reader PATH OUT                   (the program's loader, silenced)
//   audio_probe resample FROM TO LANES IN OUT     (IN and OUT raw float32)
// decode prints "decoder rate channels bits count format" or "error: reason" (status 1).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/audio_signal.h"
#include "audio/resampler.h"
#include "dsp/processor.h"
#include "modules/console.h"
#include "wave/signal_reader.h"
#include "wave/wave_loader.h"

static int writeFloats(const char* path, const float* values, int64_t count) {
    FILE* file = fopen(path, "wb");
    const bool ok = file && fwrite(values, sizeof(float), count, file) == static_cast<size_t>(count);
    return (file && fclose(file) == 0 && ok) ? 0 : 2;
}

int main(int argc, char** argv) {
    if (argc == 6 && !strcmp(argv[1], "decode")) {
        AudioSignal signal;
        char error[512];
        if (decodeAudioFile(argv[2], atoi(argv[3]), atoi(argv[4]), &signal, error, sizeof error)) {
            printf("error: %s\n", error);
            return 1;
        }
        printf("%s %d %d %d %lld %s\n", signal.decoder == AUDIO_DECODER_WAVE_READER ? "reader" : "sndfile",
               signal.sampleRate, signal.channels, signal.bitsPerSample,
               static_cast<long long>(signal.count), signal.format);
        const int status = writeFloats(argv[5], signal.samples, signal.count);
        releaseAudioSignal(&signal);
        return status;
    }
    if (argc == 4 && !strcmp(argv[1], "reader")) {
        float* samples = nullptr;
        SignalInfo info;
        SignalReader reader;
        if (openWaveReader(argv[2], &reader, &info, CONSOLE_SILENT) != RFX_SUCCESS ||
            readWholeSignal(&reader, &samples, &info, CONSOLE_SILENT) != RFX_SUCCESS)
            return 1;
        const int status = writeFloats(argv[3], samples, info.samplesRead);
        free(samples);
        return status;
    }
    if (argc == 7 && !strcmp(argv[1], "resample")) {
        ResampleKernel kernel;
        FILE* file = fopen(argv[5], "rb");
        if (!file || makeResampleKernel(atoi(argv[2]), atoi(argv[3]), &kernel)) return 2;
        std::vector<float> in;
        float value;
        while (fread(&value, sizeof value, 1, file) == 1) in.push_back(value);
        fclose(file);
        std::vector<float> out(resampledLength(kernel, in.size()));
        const int32_t lanes = atoi(argv[4]);
        if (usableLanes(lanes) != lanes ||
            resampleWithLanes(kernel, in.data(), in.size(), out.data(), lanes))
            return 3;
        releaseResampleKernel(&kernel);
        return writeFloats(argv[6], out.data(), out.size());
    }
    fprintf(stderr, "usage: audio_probe decode PATH CHANNEL RATE OUT | reader PATH OUT | "
                    "resample FROM TO LANES IN OUT\n");
    return 2;
}
