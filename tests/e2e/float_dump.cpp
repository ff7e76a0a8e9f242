// The library's own floats for a wave file, stored raw (c0..cM per frame, native float32), for the
// end-to-end tests to compare other outputs with bit for bit.
//   orvalix_float_dump in.wav out.f32 [orvalix options]
#include <cstdio>

#include "orvalix.h"

int main(int argc, char** argv) {
    AnalysisSettings settings;
    OrvalixFeatures features;
    char message[256];
    if (argc < 3 || orvalixParseOptions(argc - 3, argv + 3, &settings, message, sizeof message) != 0 ||
        orvalixAnalyseFile(argv[1], &settings, &features, nullptr) != 0)
        return 2;
    FILE* out = fopen(argv[2], "wb");
    size_t count = static_cast<size_t>(features.frameCount) * static_cast<size_t>(features.columnCount);
    bool ok = out && (count == 0 || fwrite(features.values, sizeof(float), count, out) == count);
    ok = out && fclose(out) == 0 && ok;
    orvalixReleaseFeatures(&features);
    return ok ? 0 : 1;
}
