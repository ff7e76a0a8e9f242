#include "main/driver.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "dsp/conditioning.h"
#include "main/feature_writer.h"
#include "mfcc/chunked_analysis.h"
#include "mfcc/frame_analysis.h"
#include "modules/console.h"
#include "modules/file.h"
#include "options/command_line.h"
#include "options/usage.h"
#include "wave/wave_loader.h"

namespace {

const char* const PROGRAM_NAME = "Orvalix";
const char* const PROGRAM_VERSION = "Version 0.01";
const char* const PROGRAM_DATE = "29.06.2001";

char inputName[NAME_BUFFER_SIZE];
char outputName[NAME_BUFFER_SIZE];

PositionalParam positionalTable[3] = {
    {inputName, "wav", 0, ROLE_INPUT},
    {outputName, "txt", 0, ROLE_OUTPUT},
    {nullptr, "", 0, 0},
};

}  // namespace

void printSettingsReport() {
    if (optionValue(ROW_QUIET) == 0) return;
    printMessage("\n%s %s %s\n\n", PROGRAM_NAME, PROGRAM_VERSION, PROGRAM_DATE);
    printSettings();
    printMessage("\n");
}

int checkDistinctFiles(const char* input, const char* output) {
    struct stat inputStat, outputStat;
    if (stat(output, &outputStat) != 0 || stat(input, &inputStat) != 0) return 0;
    if (inputStat.st_dev != outputStat.st_dev || inputStat.st_ino != outputStat.st_ino) return 0;
    printf("ERROR: Input and output filenames should be different. (%s)\n", output);
    return -1;
}

int checkOutputFile(const char* output) {
    // Any name counts, even one that cannot be read or a link that leads nowhere: publishing
    // without -O would find it taken all the same.
    if (nameExists(output) && optionValue(ROW_OVERWRITE) == 0) {
        printError("\nFile exists and no overwrite specified! Check parameter -O\n\n");
        printUsage();
        return 0;
    }
    return 1;
}

void fillAnalysisSettings(AnalysisSettings* settings) {
    settings->windowLengthMs = optionValue(ROW_WINDOW_LENGTH);
    settings->windowShiftMs = optionValue(ROW_WINDOW_SHIFT);
    settings->featureType = optionValue(ROW_FEATURE_TYPE);
    settings->melFilterCount = optionValue(ROW_FILTER_COUNT);
    settings->dropDelta = optionValue(ROW_DROP_DELTA);
    settings->dropDeltaDelta = optionValue(ROW_DROP_DELTA_DELTA);
    settings->includeC0 = optionValue(ROW_INCLUDE_C0);
    settings->removeSilence = optionValue(ROW_REMOVE_SILENCE);
    settings->removeDcOffset = optionValue(ROW_DC_OFFSET);
    settings->powerOfTwoBelow = optionValue(ROW_POWER_OF_TWO);
    settings->cepstralCount = optionValue(ROW_CEPSTRAL_COUNT);
    settings->windowType = optionValue(ROW_WINDOW_TYPE);
    settings->lifterType = optionValue(ROW_LIFTER);
    settings->filterDomain = optionValue(ROW_FILTER_DOMAIN);
    settings->overwrite = optionValue(ROW_OVERWRITE);
    settings->preEmphasis = static_cast<float>(optionValue(ROW_EMPHASIS) / 100.0);
}

int analyseWholeSignal(const char* input, AnalysisSettings* settings, FeatureMatrix* matrix,
                       int32_t* frameCount) {
    float* signal = nullptr;
    SignalInfo info;
    if (loadWaveFile(input, &signal, &info) != RFX_SUCCESS) return 1;

    FrameGeometry geometry = {0, 0, 0, 0};
    float* window = nullptr;
    if (prepareSignal(&window, signal, &geometry, &info, settings) != 0) {
        free(signal);
        return 1;
    }
    int failed = analyseFrames(signal, window, settings, &info, &geometry, matrix, frameCount);
    free(signal);
    free(window);
    return failed;
}

int runOrvalix(int argc, char** argv) {
    parseCommandLine(argc, argv, 2, positionalTable);
    printSettingsReport();
    if (checkDistinctFiles(inputName, outputName) != 0) exitProgram(-1);
    if (!checkOutputFile(outputName)) return 0;

    AnalysisSettings settings;
    fillAnalysisSettings(&settings);

    FeatureMatrix matrix = {0, 0, nullptr};
    int32_t frameCount = 0;
    const int32_t chunkLength = chunkLengthFor(inputName, &settings, CHUNK_SAMPLES);
    const int analysisFailed =
        chunkLength > 0
            ? analyseWaveFileInChunks(inputName, &settings, chunkLength, &matrix, &frameCount)
            : analyseWholeSignal(inputName, &settings, &matrix, &frameCount);
    if (analysisFailed) return 1;

    int firstCoefficient = settings.includeC0 ? 0 : 1;
    int writeFailed = writeFeatureFile(matrix, frameCount, firstCoefficient,
                                       settings.cepstralCount, outputName,
                                       settings.overwrite ? OUTPUT_REPLACE : OUTPUT_CREATE);
    releaseFeatureMatrix(&matrix);
    if (writeFailed) return 1;

    printf("\nThe end of program\n");
    return 0;
}
