#pragma once
#include "main/analysis_settings.h"

// The whole run: parse, report, check, fill, load, condition, analyse, write. Returns the exit
// status (0 success or refused overwrite, 1 unreadable input or failed output); a bad command line
// ends the process with status -1 from inside the parser.
int runOrvalix(int argc, char** argv);

// Banner and settings listing, unless the quiet level is 0.
void printSettingsReport();

// -1 (after the message) when the output exists and is the input file under another name.
int checkDistinctFiles(const char* inputName, const char* outputName);

// 1 when the run may go on, 0 when the output exists and overwriting was not asked for.
int checkOutputFile(const char* outputName);

void fillAnalysisSettings(AnalysisSettings* settings);

// The analysis threads ORVALIX_THREADS asks for: a count from 1 to ORVALIX_MAX_THREADS, else 1.
int32_t threadsFromEnvironment();
