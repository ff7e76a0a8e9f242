// The calls of the C interface that check settings against a rate and write the program's text.
#include "library/feature_text.h"
#include "library/interface_records.h"
#include "library/settings_check.h"

extern "C" {

int orvalix_check_rows(const OrvalixSettings* settings, int32_t sampleRate, OrvalixError* error) {
    AnalysisSettings analysis;
    const int usable = analysisSettingsFrom(settings, &analysis, error);
    if (usable != ORVALIX_OK) return usable;
    if (sampleRate <= 0)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "sampleRate = %d is not positive", sampleRate);
    char reason[200];
    if (nonFiniteRowsReason(&analysis, sampleRate, reason, sizeof reason))
        return reportResult(error, ORVALIX_NON_FINITE_ROWS, "%s", reason);
    return succeed(error);
}

int orvalix_write_text(const OrvalixFeatures* features, int32_t includeC0, const char* name,
                       int32_t mode, OrvalixError* error) {
    if (!features || features->frameCount < 0 || features->columnCount < 1 ||
        (features->frameCount > 0 && !features->values))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "write text: no features to write");
    if (!name || !name[0])
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "write text: the name is null or empty");
    if (mode != ORVALIX_WRITE_CREATE && mode != ORVALIX_WRITE_REPLACE)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "write text: mode = %d is neither 0 nor 1", mode);
    const FeatureMatrix matrix = {features->frameCount, features->columnCount, features->values};
    Publication record = emptyPublication();
    const int failed = publishFeatureText(matrix, features->frameCount, includeC0 ? 0 : 1,
                                          features->columnCount - 1, name,
                                          mode == ORVALIX_WRITE_REPLACE ? PUBLISH_REPLACE : PUBLISH_CREATE,
                                          &record);
    if (failed)
        return reportResult(error, ORVALIX_OUTPUT_FAILED, "cannot write %.150s: %s", name, record.reason);
    return succeed(error);
}

}  // extern "C"
