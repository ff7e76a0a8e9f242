#include "orvalix.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dsp/conditioning.h"
#include "main/chunked_analysis.h"
#include "main/driver.h"
#include "main/feature_writer.h"
#include "main/float_format.h"
#include "mfcc/frame_analysis.h"
#include "modules/console.h"
#include "options/command_line.h"
#include "options/option_table.h"
#include "wave/result_codes.h"
#include "wave/wave_loader.h"

// The library is silent until its user asks for the console; the program never calls this module.
// The first call of any routine settles it once, so threads never write the console flags.
static std::atomic<int> consoleChosen{0};

static void silenceUnlessChosen() {
    static const bool silenced = [] {
        if (!consoleChosen.load()) {
            setStageReportsEnabled(0);
            setErrorMessagesEnabled(0);
        }
        return true;
    }();
    (void)silenced;
}

const char* orvalixResultName(int32_t result) {
    if (result == ORVALIX_ANALYSIS_FAILED) return "ORVALIX_ANALYSIS_FAILED";
    if (result >= RFX_SUCCESS && result <= RFX_INVALID_FILE) return resultCodeName(result);
    return "ORVALIX_UNKNOWN_RESULT";
}

AnalysisSettings orvalixDefaultSettings() {
    int32_t values[OPTION_ROW_COUNT];
    for (int row = 0; row < OPTION_ROW_COUNT; row++) values[row] = optionDefault(row);
    AnalysisSettings settings;
    settingsFromOptionValues(values, &settings);
    return settings;
}

int orvalixParseOptions(int count, const char* const* options, AnalysisSettings* settings,
                        char* message, size_t messageSize) {
    int32_t values[OPTION_ROW_COUNT];
    for (int row = 0; row < OPTION_ROW_COUNT; row++) values[row] = optionDefault(row);
    char line[160] = "";
    for (int i = 0; i < count; i++) {
        int length = options[i][0] == '-'
                         ? applyOptionTo(options[i], values, line, sizeof line)
                         : snprintf(line, sizeof line, "ERROR: Not an option: %.100s\n", options[i]);
        if (length > 0) {
            // The line without its line end; a lone dash's letter (a NUL byte) ends it early.
            line[length - 1] = '\0';
            if (messageSize > 0) snprintf(message, messageSize, "%s", line);
            return 1;
        }
    }
    settingsFromOptionValues(values, settings);
    return 0;
}

void orvalixSetConsoleOutput(int enabled) {
    consoleChosen = 1;
    setStageReportsEnabled(enabled);
    setErrorMessagesEnabled(enabled);
}

int orvalixAnnouncedSamples(const char* name, int64_t* count) {
    return queryAnnouncedSamples(name, count);
}

int orvalixLoadWave(const char* name, float** signal, SignalInfo* info) {
    silenceUnlessChosen();
    return loadWaveFile(name, signal, info);
}

// An in-memory signal, whole or (long, without DC removal) a chunk at a time as the program
// analyses a long file: then only a few chunks are copied at once, never the whole signal.
static int analyseInMemory(const float* signal, int32_t sampleCount, int32_t sampleRate,
                           AnalysisSettings* settings, RowKind rowKind, OrvalixFeatures* features) {
    silenceUnlessChosen();
    *features = OrvalixFeatures{0, settings->cepstralCount + 1, nullptr};
    if (sampleCount < 0 || sampleRate <= 0) return ORVALIX_ANALYSIS_FAILED;
    FeatureMatrix matrix = {0, 0, nullptr};
    int32_t frameCount = 0;
    const int32_t chunk = chunkLengthFor(settings, sampleRate, sampleCount, CHUNK_SAMPLES);
    if (chunk > 0) {
        if (analyseSignalInChunks(signal, sampleCount, sampleRate, settings, chunk, rowKind,
                                  &matrix, &frameCount))
            return ORVALIX_ANALYSIS_FAILED;
    } else {
        // The conditioning works in place; the caller's signal stays as it is.
        float* copy = static_cast<float*>(malloc(sizeof(float) * (static_cast<size_t>(sampleCount) + 1)));
        if (!copy) return ORVALIX_ANALYSIS_FAILED;
        if (sampleCount > 0) memcpy(copy, signal, sizeof(float) * static_cast<size_t>(sampleCount));
        SignalInfo info = {sampleCount, 1, sampleRate, 16, sampleCount};
        FrameGeometry geometry = {0, 0, 0, 0};
        float* window = nullptr;
        int failed = prepareSignal(&window, copy, &geometry, &info, settings);
        // A window of one sample or less would end the process inside the transform.
        failed = failed || (geometry.frameLength <= 1 && sampleCount > geometry.frameLength) ||
                 analyseFrames(copy, window, settings, &info, &geometry, &matrix, &frameCount, 0,
                               rowKind);
        free(copy);
        free(window);
        if (failed) return ORVALIX_ANALYSIS_FAILED;
    }
    *features = OrvalixFeatures{frameCount, matrix.columnCount, matrix.values};
    return 0;
}

int orvalixAnalyse(const float* signal, int32_t sampleCount, int32_t sampleRate,
                   AnalysisSettings* settings, OrvalixFeatures* features) {
    return analyseInMemory(signal, sampleCount, sampleRate, settings, ROWS_CEPSTRA, features);
}

int orvalixAnalyseFilterbank(const float* signal, int32_t sampleCount, int32_t sampleRate,
                             AnalysisSettings* settings, OrvalixFeatures* features) {
    return analyseInMemory(signal, sampleCount, sampleRate, settings, ROWS_LOG_ENERGIES, features);
}

int orvalixAnalyseFile(const char* name, AnalysisSettings* settings, OrvalixFeatures* features,
                       SignalInfo* info) {
    silenceUnlessChosen();
    FeatureMatrix matrix = {0, 0, nullptr};
    int32_t frameCount = 0;
    SignalInfo read;
    const int result = analyseWaveFile(name, settings, &matrix, &frameCount, &read);
    features->frameCount = result == 0 ? frameCount : 0;
    features->columnCount = settings->cepstralCount + 1;
    features->values = result == 0 ? matrix.values : nullptr;
    if (result == 0 && info) *info = read;
    return result;
}

void orvalixReleaseFeatures(OrvalixFeatures* features) {
    free(features->values);
    features->values = nullptr;
    features->frameCount = 0;
}

size_t orvalixFormatCoefficient(float value, char* out) {
    return formatFixedSix(value, out);
}

int orvalixWriteFeatures(const OrvalixFeatures* features, int includeC0, const char* outputName) {
    silenceUnlessChosen();
    FeatureMatrix matrix = {features->frameCount, features->columnCount, features->values};
    Publication record = emptyPublication();
    const int error = publishFeatureText(matrix, features->frameCount, includeC0 ? 0 : 1,
                                         features->columnCount - 1, outputName, OUTPUT_REPLACE,
                                         &record);
    errno = error;
    return error ? 1 : 0;
}
