// What orvalix-batch does to an utterance's rows between the analysis and the output file.
#include <cstring>

#include "tools/batch/batch.h"

namespace {

// HTK parameter kinds and qualifiers.
constexpr uint16_t HTK_MFCC = 6, HTK_FBANK = 7;
constexpr uint16_t HTK_DELTAS = 0x100, HTK_ACCELERATIONS = 0x200, HTK_ZERO_MEAN = 0x800,
                   HTK_C0 = 0x2000;

bool withC0(const BatchSettings& settings) {
    return !settings.frontEnd.filterbank && settings.analysis.includeC0 != 0;
}

// The static columns as the format writes them, in place: cepstral rows lose c0 without -C, and
// HTK takes it last; log filter energies stay as they are.
void arrangeColumns(const BatchSettings& settings, OrvalixFeatures* features) {
    if (settings.frontEnd.filterbank) return;
    const bool keepC0 = withC0(settings);
    if (keepC0 && settings.format != OutputFormat::Htk) return;
    const size_t columns = static_cast<size_t>(features->columnCount);
    const size_t kept = keepC0 ? columns : columns - 1;
    float c0 = 0;
    for (size_t row = 0; row < static_cast<size_t>(features->frameCount); row++) {
        float* from = features->values + row * columns;
        float* to = features->values + row * kept;
        c0 = from[0];
        memmove(to, from + 1, (columns - 1) * sizeof(float));
        if (keepC0) to[columns - 1] = c0;
    }
    features->columnCount = static_cast<int32_t>(kept);
}

}  // namespace

uint16_t htkKind(const BatchSettings& settings) {
    const FrontEnd& front = settings.frontEnd;
    uint16_t kind = front.filterbank ? HTK_FBANK : HTK_MFCC;
    if (withC0(settings)) kind |= HTK_C0;
    if (front.deltaOrder >= 1) kind |= HTK_DELTAS;
    if (front.deltaOrder >= 2) kind |= HTK_ACCELERATIONS;
    if (front.cmvn) kind |= HTK_ZERO_MEAN;
    return kind;
}

bool finishFeatures(const BatchSettings& settings, OrvalixFeatures* features,
                    std::vector<uint8_t>* labels, std::string* message) {
    const FrontEnd& front = settings.frontEnd;
    if (front.vadLabels || front.voicedOnly) {
        OrvalixVadSettings vad = orvalixDefaultVadSettings();
        if (front.filterbank) vad.energyColumn = ORVALIX_VAD_ROW_SUM;
        labels->assign(static_cast<size_t>(features->frameCount), 0);
        if (orvalixVad(features, &vad, labels->data()) != 0) {
            *message = "the voice-activity decision failed";
            return false;
        }
    }
    arrangeColumns(settings, features);
    if (front.deltaOrder > 0) {
        OrvalixFeatures withDeltas;
        const int result = orvalixDeltas(features, front.deltaOrder, front.deltaWindow, &withDeltas);
        orvalixReleaseFeatures(features);
        *features = withDeltas;
        if (result != 0) {
            *message = "the deltas cannot be computed (no memory)";
            return false;
        }
    }
    if (front.cmvn && orvalixCmvn(features, &front.cmvnSettings, features) != 0) {
        *message = "the normalisation cannot be computed (no memory)";
        return false;
    }
    if (front.voicedOnly && orvalixSelectVoiced(features, labels->data(), features) != 0) {
        *message = "the voiced rows cannot be selected";
        return false;
    }
    return true;
}
