#pragma once
// The one orchestration of an analysis: load (or take from memory), condition, analyse, whole or
// a chunk at a time. The program, the library's C interface, the batch tool and Python all come
// here; nothing else strings the stages together.
#include <cstdint>

#include "main/analysis_settings.h"
#include "mfcc/frame_analysis.h"
#include "modules/console.h"
#include "wave/wave_loader.h"

// What an analysis is asked for, besides the settings.
struct AnalysisRequest {
    RowKind rowKind = ROWS_CEPSTRA;
    int32_t lanes = 0;                        // frames side by side; 0: the processor's widest
    StageConsole console = CONSOLE_SILENT;    // the program's run prints its reports
    int32_t threads = 1;  // a long signal's chunks analysed on this many threads (0 or 1: one)
};

// Everything fixed before the first sample is touched, computed once and handed to every step.
struct AnalysisPlan {
    AnalysisSettings settings;  // the caller's, with melFilterCount settled
    FrameGeometry geometry;     // frame length, transform length and shift in samples
    int32_t sampleRate;
    AnalysisRequest request;
};

AnalysisPlan planAnalysis(const AnalysisSettings& settings, int32_t sampleRate,
                          const AnalysisRequest& request);

// What an analysis hands back: the matrix (featureRowsFor rows, frameCount of them analysed),
// what was read, and on failure a code (an RFX_ code of the wave layer or ANALYSIS_FAILED) and
// the reason as text, for callers that do not print.
constexpr int32_t ANALYSIS_FAILED = 100;
struct AnalysisOutcome {
    FeatureMatrix matrix{0, 0, nullptr};
    int32_t frameCount = 0;
    int32_t filterCount = 0;
    SignalInfo info{};
    int32_t code = 0;
    char reason[160] = "";
};

// A wave file as the program analyses it (with CONSOLE_PRINTS, the program's own console text
// too). Returns outcome->code.
int analyseWaveFile(const char* name, const AnalysisSettings& settings,
                    const AnalysisRequest& request, AnalysisOutcome* outcome);

// count samples at sampleRate Hz, never changed: copied whole, or a chunk at a time when long.
int analyseSamples(const float* samples, int32_t count, int32_t sampleRate,
                   const AnalysisSettings& settings, const AnalysisRequest& request,
                   AnalysisOutcome* outcome);
