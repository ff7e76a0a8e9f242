// The front-end calls of the C interface, and the whole chain as one call.
#include <cstdlib>
#include <cstring>
#include <new>

#include "frontend/feature_block.h"
#include "frontend/front_end.h"
#include "library/interface_records.h"

namespace {

constexpr int32_t MOST_DELTA_ORDER = 2;
constexpr int32_t MOST_DELTA_WINDOW = 100;

int refuseMatrix(OrvalixError* error, const char* call) {
    return reportResult(error, ORVALIX_INVALID_ARGUMENT,
                        "%s: the features are null, of a negative shape, or without values", call);
}

int checkDeltas(int32_t order, int32_t window, OrvalixError* error) {
    if (order < 1 || order > MOST_DELTA_ORDER)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "delta order = %d is out of range [1,%d]",
                            order, MOST_DELTA_ORDER);
    if (window < 1 || window > MOST_DELTA_WINDOW)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "delta window = %d is out of range [1,%d]",
                            window, MOST_DELTA_WINDOW);
    return ORVALIX_OK;
}

int checkCmvn(const OrvalixCmvnSettings* s, OrvalixError* error) {
    if (!usableRecord(s, sizeof(OrvalixCmvnSettings)))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "cmvn settings: null or of another size");
    if (s->mode != ORVALIX_CMVN_SLIDING && s->mode != ORVALIX_CMVN_UTTERANCE)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "cmvn mode = %d is neither 1 nor 2", s->mode);
    if (s->mode == ORVALIX_CMVN_SLIDING && s->window < 1)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "cmvn window = %d is below 1", s->window);
    if (s->mode == ORVALIX_CMVN_SLIDING && !s->centred && (s->minWindow < 1 || s->minWindow > s->window))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT,
                            "cmvn minWindow = %d is out of range [1,%d]", s->minWindow, s->window);
    return ORVALIX_OK;
}

int checkVad(const OrvalixVadSettings* s, int32_t columns, OrvalixError* error) {
    if (!usableRecord(s, sizeof(OrvalixVadSettings)))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "vad settings: null or of another size");
    if (!(s->energyMeanScale >= 0) || !(s->energyThreshold - s->energyThreshold == 0))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT,
                            "vad energyThreshold must be finite and energyMeanScale finite and 0 or more");
    if (s->framesContext < 0)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "vad framesContext = %d is below 0", s->framesContext);
    if (!(s->proportionThreshold > 0 && s->proportionThreshold < 1))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT,
                            "vad proportionThreshold = %g is not between 0 and 1", s->proportionThreshold);
    if (s->energyColumn < ORVALIX_VAD_ROW_SUM || s->energyColumn >= columns)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT,
                            "vad energyColumn = %d is not a column of %d", s->energyColumn, columns);
    return ORVALIX_OK;
}

int outOfMemory(OrvalixError* error, const char* call) {
    return reportResult(error, ORVALIX_ANALYSIS_FAILED, "%s: no memory", call);
}

// Drops c0, or moves it after the last coefficient; the rows stay in their block.
void arrangeColumns(const OrvalixFrontEnd& front, OrvalixFeatures* features) {
    if (front.filterbankRows || (front.includeC0 && !front.c0Last)) return;
    const size_t columns = static_cast<size_t>(features->columnCount);
    const size_t kept = front.includeC0 ? columns : columns - 1;
    for (size_t row = 0; row < static_cast<size_t>(features->frameCount); row++) {
        float* from = features->values + row * columns;
        float* to = features->values + row * kept;
        const float c0 = from[0];
        memmove(to, from + 1, (columns - 1) * sizeof(float));
        if (front.includeC0) to[columns - 1] = c0;
    }
    features->columnCount = static_cast<int32_t>(kept);
}

}  // namespace

extern "C" {

int orvalix_deltas(const OrvalixFeatures* input, int32_t order, int32_t window,
                   OrvalixFeatures* output, OrvalixError* error) {
    if (!output) return reportResult(error, ORVALIX_INVALID_ARGUMENT, "deltas: output is null");
    allocateFeatures(0, 1, output);
    if (!readableFeatures(input)) return refuseMatrix(error, "deltas");
    const int checked = checkDeltas(order, window, error);
    if (checked != ORVALIX_OK) return checked;
    return addDeltaColumns(input, order, window, output) ? outOfMemory(error, "deltas") : succeed(error);
}

OrvalixCmvnSettings orvalix_default_cmvn_settings(void) { return defaultCmvnSettings(); }

int orvalix_cmvn(const OrvalixFeatures* input, const OrvalixCmvnSettings* settings,
                 OrvalixFeatures* output, OrvalixError* error) {
    if (!output) return reportResult(error, ORVALIX_INVALID_ARGUMENT, "cmvn: output is null");
    if (output != input) allocateFeatures(0, 1, output);  // refused, the caller still releases it
    if (!readableFeatures(input)) return refuseMatrix(error, "cmvn");
    const int checked = checkCmvn(settings, error);
    if (checked != ORVALIX_OK) return checked;
    return normaliseFeatures(input, settings, output) ? outOfMemory(error, "cmvn") : succeed(error);
}

OrvalixVadSettings orvalix_default_vad_settings(void) { return defaultVadSettings(); }

int orvalix_vad(const OrvalixFeatures* features, const OrvalixVadSettings* settings,
                OrvalixLabels* labels, OrvalixError* error) {
    if (!labels) return reportResult(error, ORVALIX_INVALID_ARGUMENT, "vad: labels is null");
    *labels = OrvalixLabels{sizeof(OrvalixLabels), 0, nullptr};
    if (!readableFeatures(features)) return refuseMatrix(error, "vad");
    const int checked = checkVad(settings, features->columnCount, error);
    if (checked != ORVALIX_OK) return checked;
    labels->values = static_cast<uint8_t*>(malloc(features->frameCount > 0 ? features->frameCount : 1));
    if (!labels->values) return outOfMemory(error, "vad");
    labels->count = features->frameCount;
    if (labelVoicedFrames(features, settings, labels->values)) {
        orvalix_release_labels(labels);
        return outOfMemory(error, "vad");
    }
    return succeed(error);
}

void orvalix_release_labels(OrvalixLabels* labels) {
    if (!labels) return;
    free(labels->values);
    labels->values = nullptr;
    labels->count = 0;
}

int orvalix_select_voiced(const OrvalixFeatures* input, const OrvalixLabels* labels,
                          OrvalixFeatures* output, OrvalixError* error) {
    if (!output) return reportResult(error, ORVALIX_INVALID_ARGUMENT, "select voiced: output is null");
    if (output != input) allocateFeatures(0, 1, output);  // refused, the caller still releases it
    if (!readableFeatures(input)) return refuseMatrix(error, "select voiced");
    if (!labels || labels->count != input->frameCount || (labels->count > 0 && !labels->values))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT,
                            "select voiced: the labels are not one per frame");
    return selectVoicedRows(input, labels->values, output) ? outOfMemory(error, "select voiced")
                                                           : succeed(error);
}

OrvalixFrontEnd orvalix_default_front_end(void) {
    OrvalixFrontEnd front{};
    front.size = sizeof front;
    front.deltaWindow = 2;
    front.cmvnSettings = defaultCmvnSettings();
    front.vadSettings = defaultVadSettings();
    return front;
}

int orvalix_front_end(OrvalixFeatures* features, const OrvalixFrontEnd* front,
                      OrvalixLabels* labels, OrvalixError* error) {
    if (labels) *labels = OrvalixLabels{sizeof(OrvalixLabels), 0, nullptr};
    if (!usableRecord(front, sizeof(OrvalixFrontEnd)))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "front end: null or of another size");
    if (!readableFeatures(features)) return refuseMatrix(error, "front end");
    if (front->deltaOrder != 0) {
        const int checked = checkDeltas(front->deltaOrder, front->deltaWindow, error);
        if (checked != ORVALIX_OK) return checked;
    }
    if (front->cmvn) {
        const int checked = checkCmvn(&front->cmvnSettings, error);
        if (checked != ORVALIX_OK) return checked;
    }
    OrvalixLabels decided{sizeof(OrvalixLabels), 0, nullptr};
    if (labels || front->voicedOnly) {
        OrvalixVadSettings vad = front->vadSettings;
        if (front->filterbankRows) vad.energyColumn = ORVALIX_VAD_ROW_SUM;
        const int labelled = orvalix_vad(features, &vad, &decided, error);
        if (labelled != ORVALIX_OK) return labelled;
    }
    arrangeColumns(*front, features);
    int result = ORVALIX_OK;
    if (front->deltaOrder > 0) {
        OrvalixFeatures withDeltas;
        result = orvalix_deltas(features, front->deltaOrder, front->deltaWindow, &withDeltas, error);
        orvalix_release_features(features);
        *features = withDeltas;
    }
    if (result == ORVALIX_OK && front->cmvn)
        result = orvalix_cmvn(features, &front->cmvnSettings, features, error);
    if (result == ORVALIX_OK && front->voicedOnly)
        result = orvalix_select_voiced(features, &decided, features, error);
    if (result == ORVALIX_OK && labels) {
        *labels = decided;
        return succeed(error);
    }
    orvalix_release_labels(&decided);
    return result;
}

}  // extern "C"
