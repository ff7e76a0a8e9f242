#include "main/analysis_settings.h"

#include "options/option_table.h"

void settingsFromOptionValues(const int32_t* values, AnalysisSettings* settings) {
    settings->windowLengthMs = values[ROW_WINDOW_LENGTH];
    settings->windowShiftMs = values[ROW_WINDOW_SHIFT];
    settings->featureType = values[ROW_FEATURE_TYPE];
    settings->melFilterCount = values[ROW_FILTER_COUNT];
    settings->dropDelta = values[ROW_DROP_DELTA];
    settings->dropDeltaDelta = values[ROW_DROP_DELTA_DELTA];
    settings->includeC0 = values[ROW_INCLUDE_C0];
    settings->removeSilence = values[ROW_REMOVE_SILENCE];
    settings->removeDcOffset = values[ROW_DC_OFFSET];
    settings->powerOfTwoBelow = values[ROW_POWER_OF_TWO];
    settings->cepstralCount = values[ROW_CEPSTRAL_COUNT];
    settings->windowType = values[ROW_WINDOW_TYPE];
    settings->lifterType = values[ROW_LIFTER];
    settings->filterDomain = values[ROW_FILTER_DOMAIN];
    settings->overwrite = values[ROW_OVERWRITE];
    settings->preEmphasis = static_cast<float>(values[ROW_EMPHASIS] / 100.0);
}
