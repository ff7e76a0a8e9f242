// The rows a voice-activity decision kept, in their order.
#include <cstring>

#include "frontend/feature_block.h"
#include "frontend/front_end.h"

int selectVoicedRows(const OrvalixFeatures* input, const uint8_t* labels,
                        OrvalixFeatures* output) {
    if (!output) return ORVALIX_ANALYSIS_FAILED;
    const bool inPlace = output == input;
    if (!readableFeatures(input) || (input->frameCount > 0 && !labels)) {
        if (!inPlace) allocateFeatures(0, 1, output);
        return ORVALIX_ANALYSIS_FAILED;
    }
    int32_t voiced = 0;
    for (int32_t t = 0; t < input->frameCount; t++) voiced += labels[t] ? 1 : 0;
    const int32_t columns = input->columnCount;
    // In place the kept rows move towards the front; a row never lands after its own place.
    float* out = input->values;
    if (!inPlace) {
        if (allocateFeatures(voiced, columns, output) != 0) return ORVALIX_ANALYSIS_FAILED;
        out = output->values;
    }
    for (int32_t t = 0; t < input->frameCount; t++) {
        if (!labels[t]) continue;
        memmove(out, featureRow(*input, t), sizeof(float) * columns);
        out += columns;
    }
    if (inPlace) output->frameCount = voiced;
    return 0;
}
