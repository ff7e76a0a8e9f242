// Test driver: one library call on a matrix file (int32 rows and columns, then the floats row by
// row), its result written alike (labels as one column of 0 and 1): analyse|fbank IN.wav OUT
// [orvalix options], deltas IN OUT ORDER WINDOW, cmvn IN OUT [MODE VARIANCE WINDOW MINWINDOW
// CENTRED], vad|select (the voiced rows) IN OUT [THRESHOLD MEANSCALE CONTEXT PROPORTION COLUMN].
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "orvalix.h"

// The values live in store, with one float more so that no matrix has a null pointer.
static bool readMatrix(const char* name, std::vector<float>& store, OrvalixFeatures* m) {
    FILE* f = fopen(name, "rb");
    int32_t shape[2] = {0, 0};
    bool ok = f && fread(shape, sizeof shape, 1, f) == 1;
    const size_t count = size_t(shape[0]) * size_t(shape[1]);
    store.resize(count + 1);
    *m = {shape[0], shape[1], store.data()};
    ok = ok && fread(m->values, sizeof(float), count, f) == count;
    if (f) fclose(f);
    return ok;
}

static bool writeMatrix(const char* name, const OrvalixFeatures& m) {
    FILE* f = fopen(name, "wb");
    int32_t shape[2] = {m.frameCount, m.columnCount};
    const size_t count = size_t(m.frameCount) * size_t(m.columnCount);
    bool ok = f && fwrite(shape, sizeof shape, 1, f) == 1 &&
              (!count || fwrite(m.values, sizeof(float), count, f) == count);
    return f && fclose(f) == 0 && ok;
}

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const std::string op = argv[1];
    OrvalixFeatures in = {0, 0, nullptr}, out = {0, 0, nullptr};
    int result = 2;
    std::vector<float> store, labels;
    if (op == "analyse" || op == "fbank") {
        AnalysisSettings settings;
        char message[256];
        float* signal = nullptr;
        SignalInfo info;
        if (orvalixParseOptions(argc - 4, argv + 4, &settings, message, sizeof message)) return 2;
        result = op == "analyse" ? orvalixAnalyseFile(argv[2], &settings, &out, nullptr)
                                 : orvalixLoadWave(argv[2], &signal, &info);
        if (!result && signal)
            result = orvalixAnalyseFilterbank(signal, info.samplesRead, info.sampleRate, &settings,
                                              &out);
        free(signal);
    } else if (!readMatrix(argv[2], store, &in)) {
        result = 3;
    } else if (op == "deltas" && argc == 6) {
        result = orvalixDeltas(&in, atoi(argv[4]), atoi(argv[5]), &out);
    } else if (op == "cmvn") {
        OrvalixCmvnSettings s = orvalixDefaultCmvnSettings();
        if (argc == 9) s = {atoi(argv[4]), atoi(argv[5]), atoi(argv[6]), atoi(argv[7]), atoi(argv[8])};
        result = orvalixCmvn(&in, &s, &out);
    } else if (op == "vad" || op == "select") {
        OrvalixVadSettings s = orvalixDefaultVadSettings();
        if (argc == 9) s = {atof(argv[4]), atof(argv[5]), atoi(argv[6]), atof(argv[7]), atoi(argv[8])};
        std::vector<uint8_t> voiced(in.frameCount);
        result = orvalixVad(&in, &s, voiced.data());
        labels.assign(voiced.begin(), voiced.end());
        if (!result && op == "select") result = orvalixSelectVoiced(&in, voiced.data(), &out);
    }
    const OrvalixFeatures written =
        op == "vad" ? OrvalixFeatures{in.frameCount, 1, labels.data()} : out;
    if (!result && !writeMatrix(argv[3], written)) result = 3;
    orvalixReleaseFeatures(&out);
    return result;
}
