#include "main/driver.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "library/analysis_run.h"
#include "main/feature_writer.h"
#include "modules/console.h"
#include "modules/file.h"
#include "options/command_line.h"
#include "options/usage.h"
#include "orvalix.h"

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

int32_t threadsFromEnvironment() {
    // Only a plain count in range is taken; anything else leaves the one thread the program
    // always ran on.
    const char* text = getenv("ORVALIX_THREADS");
    if (!text) return 1;
    int32_t threads = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9' || c - text >= 3) return 1;
        threads = threads * 10 + (*c - '0');
    }
    return threads >= 1 && threads <= ORVALIX_MAX_THREADS ? threads : 1;
}

int runOrvalix(int argc, char** argv) {
    parseCommandLine(argc, argv, 2, positionalTable);
    printSettingsReport();
    if (checkDistinctFiles(inputName, outputName) != 0) exitProgram(-1);
    if (!checkOutputFile(outputName)) return 0;

    AnalysisSettings settings;
    fillAnalysisSettings(&settings);

    AnalysisRequest request;
    request.console = CONSOLE_PRINTS;
    request.threads = threadsFromEnvironment();
    AnalysisOutcome outcome;
    if (analyseWaveFile(inputName, settings, request, &outcome) != 0) return 1;

    int firstCoefficient = settings.includeC0 ? 0 : 1;
    int writeFailed = writeFeatureFile(outcome.matrix, outcome.frameCount, firstCoefficient,
                                       settings.cepstralCount, outputName,
                                       settings.overwrite ? OUTPUT_REPLACE : OUTPUT_CREATE);
    releaseFeatureMatrix(&outcome.matrix);
    if (writeFailed) return 1;

    printf("\nThe end of program\n");
    return 0;
}
