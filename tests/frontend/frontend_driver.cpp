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
    *m = {sizeof *m, shape[0], shape[1], 0, store.data()};
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
    OrvalixFeatures in = {sizeof in, 0, 0, 0, nullptr}, out = in;
    int result = 2;
    std::vector<float> store, labels;
    if (op == "analyse" || op == "fbank") {
        OrvalixSettings settings = orvalix_default_settings();
        OrvalixSignal signal{};
        if (orvalix_parse_options(argc - 4, argv + 4, &settings, nullptr)) return 2;
        result = op == "analyse" ? orvalix_analyse_file(argv[2], &settings, &out, nullptr, nullptr)
                                 : orvalix_load_wave(argv[2], &signal, nullptr);
        if (!result && signal.samples)
            result = orvalix_analyse_filterbank(signal.samples, signal.count, signal.sampleRate,
                                                &settings, &out, nullptr);
        orvalix_release_signal(&signal);
    } else if (!readMatrix(argv[2], store, &in)) {
        result = 3;
    } else if (op == "deltas" && argc == 6) {
        result = orvalix_deltas(&in, atoi(argv[4]), atoi(argv[5]), &out, nullptr);
    } else if (op == "cmvn") {
        OrvalixCmvnSettings s = orvalix_default_cmvn_settings();
        if (argc == 9)
            s = {sizeof s, atoi(argv[4]), atoi(argv[5]), atoi(argv[6]), atoi(argv[7]), atoi(argv[8])};
        result = orvalix_cmvn(&in, &s, &out, nullptr);
    } else if (op == "vad" || op == "select") {
        OrvalixVadSettings s = orvalix_default_vad_settings();
        if (argc == 9)
            s = {sizeof s, atof(argv[4]), atof(argv[5]), atoi(argv[6]), atof(argv[7]), atoi(argv[8])};
        OrvalixLabels voiced{};
        result = orvalix_vad(&in, &s, &voiced, nullptr);
        labels.assign(voiced.values, voiced.values + voiced.count);
        if (!result && op == "select") result = orvalix_select_voiced(&in, &voiced, &out, nullptr);
        orvalix_release_labels(&voiced);
    }
    const OrvalixFeatures written =
        op == "vad" ? OrvalixFeatures{sizeof in, in.frameCount, 1, 0, labels.data()} : out;
    if (!result && !writeMatrix(argv[3], written)) result = 3;
    orvalix_release_features(&out);
    return result;
}
