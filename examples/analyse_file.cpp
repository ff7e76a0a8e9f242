// Embedding Orvalix: load a wave file, analyse it in memory with the default settings (or -C for
// coefficient 0), and write the features as the orvalix program would.
//   analyse_file input.wav output.txt [-C]
#include <orvalix.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: analyse_file input.wav output.txt [-C]\n");
        return 2;
    }
    float* signal = nullptr;
    SignalInfo info;
    if (int code = orvalixLoadWave(argv[1], &signal, &info)) {
        fprintf(stderr, "analyse_file: cannot load %s: %s\n", argv[1], resultCodeName(code));
        return 1;
    }
    AnalysisSettings settings = orvalixDefaultSettings();
    settings.includeC0 = argc > 3 && strcmp(argv[3], "-C") == 0;
    OrvalixFeatures features;
    int failed = orvalixAnalyse(signal, info.samplesRead, info.sampleRate, &settings, &features);
    free(signal);
    if (failed) {
        fprintf(stderr, "analyse_file: the settings do not fit %s\n", argv[1]);
        return 1;
    }
    printf("%d frames of %d coefficients with %d filters\n", features.frameCount,
           features.columnCount, settings.melFilterCount);
    failed = orvalixWriteFeatures(&features, settings.includeC0, argv[2]);
    orvalixReleaseFeatures(&features);
    return failed;
}
