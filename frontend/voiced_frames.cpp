// The rows a voice-activity decision kept, in their order.
#include "frontend/feature_block.h"

int orvalixSelectVoiced(const OrvalixFeatures* input, const uint8_t* labels,
                        OrvalixFeatures* output) {
    if (!output) return ORVALIX_ANALYSIS_FAILED;
    if (!readableFeatures(input) || (input->frameCount > 0 && !labels)) {
        allocateFeatures(0, 1, output);
        return ORVALIX_ANALYSIS_FAILED;
    }
    int32_t voiced = 0;
    for (int32_t t = 0; t < input->frameCount; t++) voiced += labels[t] ? 1 : 0;
    if (allocateFeatures(voiced, input->columnCount, output) != 0) return ORVALIX_ANALYSIS_FAILED;
    float* out = output->values;
    for (int32_t t = 0; t < input->frameCount; t++) {
        if (!labels[t]) continue;
        const float* row = featureRow(*input, t);
        for (int32_t c = 0; c < input->columnCount; c++) *out++ = row[c];
    }
    return 0;
}
