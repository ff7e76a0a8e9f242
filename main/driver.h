#pragma once
#include "main/analysis_settings.h"
#include "mfcc/frame_analysis.h"

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

// Loads the whole input, conditions it and analyses it: the path of inputs shorter than a few
// chunks and of DC-offset removal. Returns 0, or after the stage's message the loader's code or
// ORVALIX_ANALYSIS_FAILED.
int analyseWholeSignal(const char* input, AnalysisSettings* settings, FeatureMatrix* matrix,
                       int32_t* frameCount, SignalInfo* info);

// The analysis of a wave file as the program runs it: whole, or a chunk at a time when long.
// Returns as analyseWholeSignal; info receives what the loader reported.
int analyseWaveFile(const char* input, AnalysisSettings* settings, FeatureMatrix* matrix,
                    int32_t* frameCount, SignalInfo* info);
