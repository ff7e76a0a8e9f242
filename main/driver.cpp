#include "main/driver.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "dsp/conditioning.h"
#include "main/feature_writer.h"
#include "main/chunked_analysis.h"
#include "mfcc/frame_analysis.h"
#include "modules/console.h"
#include "modules/file.h"
#include "options/command_line.h"
#include "options/usage.h"
#include "wave/signal_reader.h"
#include "wave/wave_loader.h"

namespace {

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
    int32_t values[OPTION_ROW_COUNT];
    for (int row = 0; row < OPTION_ROW_COUNT; row++) values[row] = optionValue(row);
    settingsFromOptionValues(values, settings);
}

// Conditions the whole signal in place and analyses it; frees it.
static int analyseSignal(float* signal, AnalysisSettings* settings, FeatureMatrix* matrix,
                         int32_t* frameCount, SignalInfo* info) {
    FrameGeometry geometry = {0, 0, 0, 0};
    float* window = nullptr;
    int failed = prepareSignal(&window, signal, &geometry, info, settings) != 0 ||
                 analyseFrames(signal, window, settings, info, &geometry, matrix, frameCount);
    free(signal);
    free(window);
    return failed ? ORVALIX_ANALYSIS_FAILED : 0;
}

int analyseWholeSignal(const char* input, AnalysisSettings* settings, FeatureMatrix* matrix,
                       int32_t* frameCount, SignalInfo* info) {
    float* signal = nullptr;
    const RFXRET loaded = loadWaveFile(input, &signal, info);
    return loaded != RFX_SUCCESS ? loaded : analyseSignal(signal, settings, matrix, frameCount, info);
}

int analyseWaveFile(const char* input, AnalysisSettings* settings, FeatureMatrix* matrix,
                    int32_t* frameCount, SignalInfo* info) {
    *matrix = FeatureMatrix{0, settings->cepstralCount + 1, nullptr};
    *frameCount = 0;
    SignalReader reader;
    RFXRET result = openWaveReader(input, &reader, info);
    if (result != RFX_SUCCESS) return result;
    // Whole or a chunk at a time, decided from what the open reader knows.
    const int32_t chunk = chunkLengthFor(settings, info->sampleRate, reader.limit, CHUNK_SAMPLES);
    if (chunk > 0) return analyseReaderInChunks(&reader, settings, chunk, matrix, frameCount, info);
    float* signal = nullptr;
    result = readWholeSignal(&reader, &signal, info);
    return result != RFX_SUCCESS ? result : analyseSignal(signal, settings, matrix, frameCount, info);
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
    SignalInfo info;
    if (analyseWaveFile(inputName, &settings, &matrix, &frameCount, &info) != 0) return 1;

    int firstCoefficient = settings.includeC0 ? 0 : 1;
    int writeFailed = writeFeatureFile(matrix, frameCount, firstCoefficient,
                                       settings.cepstralCount, outputName,
                                       settings.overwrite ? OUTPUT_REPLACE : OUTPUT_CREATE);
    releaseFeatureMatrix(&matrix);
    if (writeFailed) return 1;

    printf("\nThe end of program\n");
    return 0;
}
