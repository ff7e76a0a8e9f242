/* Embedding Orvalix from C: analyse a wave file with the program's options (for instance -C for
 * coefficient 0) and write the features as the orvalix program would.
 *   analyse_file input.wav output.txt [options] */
#include <orvalix.h>

#include <stdio.h>

int main(int argc, char** argv) {
    OrvalixSettings settings = orvalix_default_settings();
    OrvalixFeatures features;
    OrvalixSignal info;
    OrvalixError error;
    int failed;
    if (argc < 3) {
        fprintf(stderr, "usage: analyse_file input.wav output.txt [options]\n");
        return 2;
    }
    if (orvalix_parse_options(argc - 3, (const char* const*)(argv + 3), &settings, &error)) {
        fprintf(stderr, "analyse_file: %s\n", error.message);
        return 2;
    }
    if (orvalix_analyse_file(argv[1], &settings, &features, &info, &error)) {
        fprintf(stderr, "analyse_file: %s (%s)\n", error.message, orvalix_result_name(error.code));
        return 1;
    }
    printf("%d frames of %d coefficients with %d filters at %d Hz\n", features.frameCount,
           features.columnCount, features.filterCount, info.sampleRate);
    failed = orvalix_write_text(&features, settings.includeC0, argv[2], ORVALIX_WRITE_REPLACE, &error);
    if (failed) fprintf(stderr, "analyse_file: %s\n", error.message);
    orvalix_release_features(&features);
    return failed ? 1 : 0;
}
