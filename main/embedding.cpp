#include "orvalix.h"

#include <cstdlib>
#include <cstring>

#include "dsp/conditioning.h"
#include "main/feature_writer.h"
#include "main/float_format.h"
#include "mfcc/frame_analysis.h"
#include "modules/console.h"

// The library is silent until its user asks for the console; the program never calls this module.
static int consoleChosen = 0;

static void silenceUnlessChosen() {
    if (!consoleChosen) {
        setStageReportsEnabled(0);
        setErrorMessagesEnabled(0);
    }
}

AnalysisSettings orvalixDefaultSettings() {
    AnalysisSettings settings;
    settings.windowLengthMs = 30;
    settings.windowShiftMs = 10;
    settings.featureType = 1;
    settings.melFilterCount = 0;
    settings.dropDelta = 0;
    settings.dropDeltaDelta = 0;
    settings.includeC0 = 0;
    settings.removeSilence = 1;
    settings.removeDcOffset = 0;
    settings.powerOfTwoBelow = 0;
    settings.cepstralCount = 12;
    settings.windowType = 1;
    settings.lifterType = 1;
    settings.filterDomain = 1;
    settings.overwrite = 0;
    settings.preEmphasis = static_cast<float>(97 / 100.0);
    return settings;
}

void orvalixSetConsoleOutput(int enabled) {
    consoleChosen = 1;
    setStageReportsEnabled(enabled);
    setErrorMessagesEnabled(enabled);
}

int orvalixLoadWave(const char* name, float** signal, SignalInfo* info) {
    silenceUnlessChosen();
    return loadWaveFile(name, signal, info);
}

int orvalixAnalyse(const float* signal, int32_t sampleCount, int32_t sampleRate,
                   AnalysisSettings* settings, OrvalixFeatures* features) {
    silenceUnlessChosen();
    features->frameCount = 0;
    features->columnCount = settings->cepstralCount + 1;
    features->values = nullptr;
    if (sampleCount < 0 || sampleRate <= 0) return 1;

    // The conditioning works in place; the caller's signal stays as it is.
    float* copy = static_cast<float*>(malloc(sizeof(float) * (static_cast<size_t>(sampleCount) + 1)));
    if (!copy) return 1;
    if (sampleCount > 0) memcpy(copy, signal, sizeof(float) * static_cast<size_t>(sampleCount));

    SignalInfo info = {sampleCount, 1, sampleRate, 16, sampleCount};
    FrameGeometry geometry = {0, 0, 0, 0};
    float* window = nullptr;
    if (prepareSignal(&window, copy, &geometry, &info, settings) != 0) {
        free(copy);
        return 1;
    }
    // A window of one sample or less would end the process inside the transform.
    if (geometry.frameLength <= 1 && sampleCount > geometry.frameLength) {
        free(copy);
        free(window);
        return 1;
    }
    FeatureMatrix matrix = {0, 0, nullptr};
    int32_t frameCount = 0;
    int failed = analyseFrames(copy, window, settings, &info, &geometry, &matrix, &frameCount);
    free(copy);
    free(window);
    if (failed) return 1;
    features->frameCount = frameCount;
    features->columnCount = matrix.columnCount;
    features->values = matrix.values;
    return 0;
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
    return writeFeatureFile(matrix, features->frameCount, includeC0 ? 0 : 1,
                            features->columnCount - 1, outputName, OUTPUT_REPLACE);
}
