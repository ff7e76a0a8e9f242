#pragma once
// Orvalix as a library: MFCC analysis of an in-memory signal, with exactly the numbers the
// orvalix program writes. Link with the orvalix library (CMake: find_package(Orvalix) and
// Orvalix::orvalix; pkg-config: orvalix).
#include <cstddef>
#include <cstdint>

#include "main/analysis_settings.h"
#include "wave/wave_loader.h"

#define ORVALIX_VERSION_TEXT "0.1.0"

// The coefficients of every analysed frame, row after row: c0, c1..cM (M = cepstralCount).
struct OrvalixFeatures {
    int32_t frameCount;
    int32_t columnCount;  // cepstralCount + 1
    float* values;        // frameCount * columnCount floats; null when frameCount is 0
};

// The settings of a command line without options (30 ms Hamming window every 10 ms, H 0.97,
// automatic filter count, 12 coefficients, no lifter, magnitude domain).
AnalysisSettings orvalixDefaultSettings();

// The library prints nothing unless this is turned on: then it prints the program's own reports
// (file report, pre-emphasis words) on standard output and its error messages on standard error.
void orvalixSetConsoleOutput(int enabled);

// Loads a wave file as the program does (16-bit samples as -32768..32767, 8-bit as 0..255,
// two channels as their mono mix). Returns 0, or a wave result code (see resultCodeName).
// Release the signal with free().
int orvalixLoadWave(const char* name, float** signal, SignalInfo* info);

// Analyses sampleCount samples at sampleRate Hz. The signal is not modified. On return
// settings->melFilterCount holds the filter count used. Returns 0, or 1 when the settings cannot
// be applied to this signal (a shift or window below what the transform needs, or no memory).
int orvalixAnalyse(const float* signal, int32_t sampleCount, int32_t sampleRate,
                   AnalysisSettings* settings, OrvalixFeatures* features);

void orvalixReleaseFeatures(OrvalixFeatures* features);

// Formats one coefficient exactly as the program's "%f" (six decimals); out holds 64 characters.
size_t orvalixFormatCoefficient(float value, char* out);

// Writes the features as the program's output file: coefficients from c0 (includeC0 non-zero)
// or c1 to cM, "%f " each, one line per frame. Returns 0, or 1 when the file cannot be written.
int orvalixWriteFeatures(const OrvalixFeatures* features, int includeC0, const char* outputName);
