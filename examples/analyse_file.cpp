// Embedding Orvalix: analyse a wave file with the program's options (for instance -C for
// coefficient 0) and write the features as the orvalix program would.
//   analyse_file input.wav output.txt [options]
#include <orvalix.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: analyse_file input.wav output.txt [options]\n");
        return 2;
    }
    AnalysisSettings settings;
    char message[256];
    if (orvalixParseOptions(argc - 3, argv + 3, &settings, message, sizeof message)) {
        fprintf(stderr, "analyse_file: %s\n", message);
        return 2;
    }
    OrvalixFeatures features;
    SignalInfo info;
    if (int result = orvalixAnalyseFile(argv[1], &settings, &features, &info)) {
        fprintf(stderr, "analyse_file: cannot analyse %s: %s\n", argv[1], orvalixResultName(result));
        return 1;
    }
    printf("%d frames of %d coefficients with %d filters at %d Hz\n", features.frameCount,
           features.columnCount, settings.melFilterCount, info.sampleRate);
    int failed = orvalixWriteFeatures(&features, settings.includeC0, argv[2]);
    orvalixReleaseFeatures(&features);
    return failed;
}
