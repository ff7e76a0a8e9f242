#include "library/analysis_run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dsp/conditioning.h"
#include "library/chunked_analysis.h"
#include "mfcc/mel_filterbank.h"
#include "wave/signal_reader.h"

AnalysisPlan planAnalysis(const AnalysisSettings& settings, int32_t sampleRate,
                          const AnalysisRequest& request) {
    AnalysisPlan plan{settings, frameGeometryFor(&settings, sampleRate), sampleRate, request};
    if (plan.settings.melFilterCount == 0)
        plan.settings.melFilterCount = automaticFilterCount(sampleRate);
    return plan;
}

namespace {

int fail(const AnalysisPlan& plan, AnalysisOutcome* outcome, int32_t code, const char* reason) {
    outcome->code = code;
    snprintf(outcome->reason, sizeof outcome->reason, "%s", reason);
    if (plan.request.console == CONSOLE_PRINTS) printError("%s\n", reason);
    return code;
}

// A window of one sample or less with frames to analyse: the program meets the transform's own
// refusal, which ends the process as it always has; a library call must never end the process,
// so it is refused here first.
int refuseUnanalysable(const AnalysisPlan& plan, int32_t samples, AnalysisOutcome* outcome) {
    const FrameGeometry& g = plan.geometry;
    char reason[160];
    if (plan.request.console == CONSOLE_SILENT && g.frameLength <= 1 && samples > g.frameLength) {
        snprintf(reason, sizeof reason,
                 "a window of %d ms is %d sample(s) at %d Hz: the transform needs two at least",
                 plan.settings.windowLengthMs, g.frameLength, plan.sampleRate);
        return fail(plan, outcome, ANALYSIS_FAILED, reason);
    }
    return 0;
}

// Conditions the whole signal in place and analyses it; frees it.
int analyseWholeSignal(float* signal, const AnalysisPlan& plan, AnalysisOutcome* outcome) {
    const int32_t count = outcome->info.samplesRead;
    const AnalysisSettings& s = plan.settings;
    if (s.removeDcOffset) subtractMean(signal, count);
    if (s.preEmphasis > 0)
        preEmphasizeReported(signal, count, s.preEmphasis, count > 0 ? signal[count - 1] : 0.0f,
                             plan.request.console);
    // A frame is analysed only while a sample follows it, so no window entry at or beyond the
    // signal's length is ever read: the window is built no longer than the signal.
    const int32_t frameLength = plan.geometry.frameLength;
    float* window = nullptr;
    int failed = buildWindow(&window, s.windowType, frameLength,
                             frameLength < count ? frameLength : count);
    char reason[96];
    if (failed) {
        snprintf(reason, sizeof reason,
                 "ERROR: Not enough memory for an analysis window of %d samples.", frameLength);
        fail(plan, outcome, ANALYSIS_FAILED, reason);
    } else if (plan.geometry.shiftSamples < 1) {
        snprintf(reason, sizeof reason, "ERROR: Window shift of %d ms is below one sample at %d Hz.",
                 s.windowShiftMs, plan.sampleRate);
        failed = fail(plan, outcome, ANALYSIS_FAILED, reason);
    } else if (analyseConditionedSignal(signal, count, window, plan.geometry, s, plan.sampleRate,
                                        plan.request.lanes, plan.request.rowKind,
                                        &outcome->matrix, &outcome->frameCount)) {
        failed = fail(plan, outcome, ANALYSIS_FAILED, "ERROR: Not enough memory for the frame analysis.");
    }
    free(signal);
    free(window);
    outcome->filterCount = s.melFilterCount;
    return failed ? outcome->code : 0;
}

void begin(AnalysisOutcome* outcome, const AnalysisSettings& settings) {
    *outcome = AnalysisOutcome{};
    outcome->matrix.columnCount = settings.cepstralCount + 1;
}

}  // namespace

int analyseWaveFile(const char* name, const AnalysisSettings& settings,
                    const AnalysisRequest& request, AnalysisOutcome* outcome) {
    begin(outcome, settings);
    SignalReader reader;
    RFXRET result = openWaveReader(name, &reader, &outcome->info, request.console);
    if (result != RFX_SUCCESS) {
        outcome->code = result;
        snprintf(outcome->reason, sizeof outcome->reason, "cannot read wave file %.100s: %s", name,
                 resultCodeName(result));
        return result;
    }
    const AnalysisPlan plan = planAnalysis(settings, outcome->info.sampleRate, request);
    if (refuseUnanalysable(plan, static_cast<int32_t>(reader.limit), outcome)) return outcome->code;
    // Whole or a chunk at a time, decided from what the open reader knows.
    const int32_t chunk = chunkLengthFor(plan, reader.limit, CHUNK_SAMPLES);
    if (chunk > 0) return analyseReaderInChunks(&reader, plan, chunk, outcome);
    float* signal = nullptr;
    result = readWholeSignal(&reader, &signal, &outcome->info, request.console);
    if (result != RFX_SUCCESS) {
        outcome->code = result;
        snprintf(outcome->reason, sizeof outcome->reason, "reading %.100s failed: %s", name,
                 resultCodeName(result));
        return result;
    }
    return analyseWholeSignal(signal, plan, outcome);
}

int analyseSamples(const float* samples, int32_t count, int32_t sampleRate,
                   const AnalysisSettings& settings, const AnalysisRequest& request,
                   AnalysisOutcome* outcome) {
    begin(outcome, settings);
    outcome->info = SignalInfo{count, 1, sampleRate, 16, count};
    const AnalysisPlan plan = planAnalysis(settings, sampleRate, request);
    if (refuseUnanalysable(plan, count, outcome)) return outcome->code;
    const int32_t chunk = chunkLengthFor(plan, count, CHUNK_SAMPLES);
    if (chunk > 0) return analyseSamplesInChunks(samples, count, plan, chunk, outcome);
    // The conditioning works in place; the caller's samples stay as they are.
    float* copy = allocFloats(count);
    if (!copy) return fail(plan, outcome, ANALYSIS_FAILED, "ERROR: Not enough memory for the signal.");
    if (count > 0) memcpy(copy, samples, sizeof(float) * static_cast<size_t>(count));
    return analyseWholeSignal(copy, plan, outcome);
}
