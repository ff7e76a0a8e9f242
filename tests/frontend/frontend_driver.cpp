// Test driver: runs one front-end call on a matrix file and writes the result, so the Python
// checks can hold it against their own implementation. A matrix file is two int32 (rows,
// columns) and the floats row after row; labels come back as a one-column matrix of 0 and 1.
//   frontend_driver analyse IN.wav OUT            MFCC rows c0..c12 with the default settings
//   frontend_driver fbank IN.wav OUT              log filter energies, default settings
//   frontend_driver deltas IN OUT ORDER WINDOW
//   frontend_driver cmvn IN OUT [MODE VARIANCE WINDOW MINWINDOW CENTRED]
//   frontend_driver vad IN OUT [THRESHOLD MEANSCALE CONTEXT PROPORTION COLUMN]
//   frontend_driver select IN LABELS OUT
// cmvn and select also run in place on a copy and end with status 4 if that differs.
// A missing setting list means the library's defaults. Exit status 0, or the call's result.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "orvalix.h"

static bool readMatrix(const char* name, OrvalixFeatures* m) {
    FILE* f = fopen(name, "rb");
    int32_t shape[2] = {0, 0};
    bool ok = f && fread(shape, sizeof shape, 1, f) == 1;
    m->frameCount = shape[0];
    m->columnCount = shape[1];
    size_t count = static_cast<size_t>(shape[0]) * static_cast<size_t>(shape[1]);
    m->values = static_cast<float*>(malloc(sizeof(float) * (count + 1)));
    ok = ok && fread(m->values, sizeof(float), count, f) == count;
    if (f) fclose(f);
    return ok;
}

static bool writeMatrix(const char* name, const OrvalixFeatures& m) {
    FILE* f = fopen(name, "wb");
    int32_t shape[2] = {m.frameCount, m.columnCount};
    size_t count = static_cast<size_t>(m.frameCount) * static_cast<size_t>(m.columnCount);
    bool ok = f && fwrite(shape, sizeof shape, 1, f) == 1 &&
              (count == 0 || fwrite(m.values, sizeof(float), count, f) == count);
    return f && fclose(f) == 0 && ok;
}

// The call made in place on a copy of the input gives the same matrix as made into a new one.
template <typename Call>
static bool sameInPlace(const OrvalixFeatures& in, const OrvalixFeatures& out, Call call) {
    size_t count = static_cast<size_t>(in.frameCount) * static_cast<size_t>(in.columnCount);
    OrvalixFeatures copy = {in.frameCount, in.columnCount, static_cast<float*>(malloc(sizeof(float) * (count + 1)))};
    if (count) memcpy(copy.values, in.values, sizeof(float) * count);
    size_t outCount = static_cast<size_t>(out.frameCount) * static_cast<size_t>(out.columnCount);
    bool same = call(&copy) == 0 && copy.frameCount == out.frameCount &&
                copy.columnCount == out.columnCount &&
                (outCount == 0 || memcmp(copy.values, out.values, sizeof(float) * outCount) == 0);
    free(copy.values);
    return same;
}

int main(int argc, char** argv) {
    if (argc < 4) return 2;
    const char* op = argv[1];
    OrvalixFeatures in = {0, 0, nullptr}, out = {0, 0, nullptr};
    int result = 0;
    std::vector<float> labelValues;
    if (!strcmp(op, "analyse") || !strcmp(op, "fbank")) {
        AnalysisSettings settings = orvalixDefaultSettings();
        float* signal = nullptr;
        SignalInfo info;
        result = !strcmp(op, "analyse") ? orvalixAnalyseFile(argv[2], &settings, &out, nullptr)
                                        : orvalixLoadWave(argv[2], &signal, &info);
        if (!result && signal)
            result = orvalixAnalyseFilterbank(signal, info.samplesRead, info.sampleRate, &settings, &out);
        free(signal);
        if (!result && !writeMatrix(argv[3], out)) result = 3;
        orvalixReleaseFeatures(&out);
        return result;
    }
    if (!readMatrix(argv[2], &in)) {
        free(in.values);
        return 3;
    }
    if (!strcmp(op, "deltas") && argc == 6) {
        result = orvalixDeltas(&in, atoi(argv[4]), atoi(argv[5]), &out);
    } else if (!strcmp(op, "cmvn")) {
        OrvalixCmvnSettings s = orvalixDefaultCmvnSettings();
        if (argc == 9) s = {atoi(argv[4]), atoi(argv[5]), atoi(argv[6]), atoi(argv[7]), atoi(argv[8])};
        result = orvalixCmvn(&in, &s, &out);
        if (!result && !sameInPlace(in, out, [&](OrvalixFeatures* m) { return orvalixCmvn(m, &s, m); }))
            result = 4;
    } else if (!strcmp(op, "vad")) {
        OrvalixVadSettings s = orvalixDefaultVadSettings();
        if (argc == 9) s = {atof(argv[4]), atof(argv[5]), atoi(argv[6]), atof(argv[7]), atoi(argv[8])};
        std::vector<uint8_t> labels(in.frameCount);
        result = orvalixVad(&in, &s, labels.data());
        for (uint8_t label : labels) labelValues.push_back(label);
        if (!result && !writeMatrix(argv[3], {in.frameCount, 1, labelValues.data()})) result = 3;
        free(in.values);
        return result;
    } else if (!strcmp(op, "select") && argc == 5) {
        OrvalixFeatures labelMatrix;
        bool read = readMatrix(argv[3], &labelMatrix);
        std::vector<uint8_t> labels(labelMatrix.values, labelMatrix.values + (read ? labelMatrix.frameCount : 0));
        free(labelMatrix.values);
        result = read ? orvalixSelectVoiced(&in, labels.data(), &out) : 3;
        if (!result && !sameInPlace(in, out, [&](OrvalixFeatures* m) {
                return orvalixSelectVoiced(m, labels.data(), m);
            }))
            result = 4;
    } else {
        result = 2;
    }
    const char* outputName = !strcmp(op, "select") ? argv[argc - 1] : argv[3];
    if (!result && !writeMatrix(outputName, out)) result = 3;
    free(in.values);
    orvalixReleaseFeatures(&out);
    return result;
}
