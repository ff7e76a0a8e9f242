// The analysis calls of the C interface: settings in, the one orchestration, rows out.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "library/analysis_run.h"
#include "library/float_format.h"
#include "library/interface_records.h"
#include "wave/signal_reader.h"

namespace {

constexpr int64_t LONGEST_SIGNAL = 0x7FFFFFFF;  // samples an analysis can index

// What was read, and what the header announces (more when the file was cut short).
void describe(const char* name, const SignalInfo& info, OrvalixSignal* signal) {
    int64_t announced = info.totalSamples;
    if (name && queryAnnouncedSamples(name, &announced) != RFX_SUCCESS) announced = info.totalSamples;
    signal->count = info.samplesRead;
    signal->announced = announced;
    signal->sampleRate = info.sampleRate;
    signal->channels = info.channels;
    signal->bitsPerSample = info.bitsPerSample;
    signal->sourceRate = info.sampleRate;
    signal->decoder = ORVALIX_DECODER_WAVE_READER;
    snprintf(signal->format, sizeof signal->format, "WAV, %d-bit integer PCM", info.bitsPerSample);
}

OrvalixSignal emptySignal() {
    OrvalixSignal signal{};
    signal.size = sizeof(OrvalixSignal);
    return signal;
}

void emptyFeatures(OrvalixFeatures* features) {
    *features = OrvalixFeatures{sizeof(OrvalixFeatures), 0, 0, 0, nullptr};
}

// The outcome's rows as the interface's features: the analysed frames only.
int handOut(AnalysisOutcome* outcome, OrvalixFeatures* features, OrvalixError* error) {
    if (outcome->code != 0) {
        releaseFeatureMatrix(&outcome->matrix);
        const int32_t code = outcome->code == ANALYSIS_FAILED ? ORVALIX_ANALYSIS_FAILED : outcome->code;
        return reportResult(error, code, "%s", outcome->reason);
    }
    features->frameCount = outcome->frameCount;
    features->columnCount = outcome->matrix.columnCount;
    features->filterCount = outcome->filterCount;
    features->values = outcome->matrix.values;
    if (outcome->frameCount == 0) {
        free(outcome->matrix.values);
        features->values = nullptr;
    }
    return succeed(error);
}

int analyseInMemory(const float* samples, int64_t count, int32_t sampleRate,
                    const OrvalixSettings* settings, RowKind rowKind, OrvalixFeatures* features,
                    OrvalixError* error) {
    if (!features) return reportResult(error, ORVALIX_INVALID_ARGUMENT, "features: null");
    emptyFeatures(features);
    AnalysisSettings analysis;
    const int usable = analysisSettingsFrom(settings, &analysis, error);
    if (usable != ORVALIX_OK) return usable;
    if (count < 0 || count > LONGEST_SIGNAL || (count > 0 && !samples))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT,
                            "samples: null, or a count outside 0..%lld", static_cast<long long>(LONGEST_SIGNAL));
    if (sampleRate <= 0)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "sampleRate = %d is not positive", sampleRate);
    AnalysisRequest request;
    request.rowKind = rowKind;
    request.threads = threadsOf(settings);
    AnalysisOutcome outcome;
    analyseSamples(samples, static_cast<int32_t>(count), sampleRate, analysis, request, &outcome);
    return handOut(&outcome, features, error);
}

bool usableName(const char* name, OrvalixError* error) {
    if (name && name[0]) return true;
    reportResult(error, ORVALIX_INVALID_ARGUMENT, "name: null or empty");
    return false;
}

}  // namespace

extern "C" {

int orvalix_load_wave(const char* name, OrvalixSignal* signal, OrvalixError* error) {
    if (!signal) return reportResult(error, ORVALIX_INVALID_ARGUMENT, "signal: null");
    *signal = emptySignal();
    if (!usableName(name, error)) return ORVALIX_INVALID_ARGUMENT;
    SignalReader reader;
    SignalInfo info;
    RFXRET result = openWaveReader(name, &reader, &info, CONSOLE_SILENT);
    float* samples = nullptr;
    if (result == RFX_SUCCESS) result = readWholeSignal(&reader, &samples, &info, CONSOLE_SILENT);
    if (result != RFX_SUCCESS)
        return reportResult(error, result, "cannot read wave file %.150s: %s", name,
                            orvalix_result_name(result));
    signal->samples = samples;
    describe(name, info, signal);
    return succeed(error);
}

void orvalix_release_signal(OrvalixSignal* signal) {
    if (!signal) return;
    free(signal->samples);
    signal->samples = nullptr;
    signal->count = 0;
}

int orvalix_analyse(const float* samples, int64_t count, int32_t sampleRate,
                    const OrvalixSettings* settings, OrvalixFeatures* features,
                    OrvalixError* error) {
    return analyseInMemory(samples, count, sampleRate, settings, ROWS_CEPSTRA, features, error);
}

int orvalix_analyse_filterbank(const float* samples, int64_t count, int32_t sampleRate,
                               const OrvalixSettings* settings, OrvalixFeatures* features,
                               OrvalixError* error) {
    return analyseInMemory(samples, count, sampleRate, settings, ROWS_LOG_ENERGIES, features, error);
}

int orvalix_analyse_file(const char* name, const OrvalixSettings* settings,
                         OrvalixFeatures* features, OrvalixSignal* info, OrvalixError* error) {
    if (!features) return reportResult(error, ORVALIX_INVALID_ARGUMENT, "features: null");
    emptyFeatures(features);
    AnalysisSettings analysis;
    const int usable = analysisSettingsFrom(settings, &analysis, error);
    if (usable != ORVALIX_OK) return usable;
    if (!usableName(name, error)) return ORVALIX_INVALID_ARGUMENT;
    AnalysisRequest request;
    request.threads = threadsOf(settings);
    AnalysisOutcome outcome;
    analyseWaveFile(name, analysis, request, &outcome);
    if (info) {
        *info = emptySignal();
        if (outcome.code == 0) describe(name, outcome.info, info);
    }
    return handOut(&outcome, features, error);
}

void orvalix_release_features(OrvalixFeatures* features) {
    if (!features) return;
    free(features->values);
    features->values = nullptr;
    features->frameCount = 0;
}

size_t orvalix_format_coefficient(float value, char* out) {
    return formatFixedSix(value, out);
}

}  // extern "C"
