// Energy voice-activity labels in the manner of Kaldi's compute-vad, from c0 (or the row sum of
// log filter energies): a threshold relative to the utterance's mean energy, then a vote of the
// frames around each frame.
#include <cmath>
#include <new>
#include <vector>

#include "frontend/feature_block.h"
#include "frontend/front_end.h"
#include "frontend/front_end_steps.h"

// Calibrated on espeak-ng speech with 0.2-2 s silences, clean and in white noise down to 5 dB
// SNR, with the default analysis (30 filters, c0 in column 0): docs/frontend.md.
OrvalixVadSettings defaultVadSettings() {
    OrvalixVadSettings settings{};
    settings.size = sizeof settings;
    settings.energyThreshold = -2.5;
    settings.energyMeanScale = 1.0;
    settings.framesContext = 15;
    settings.proportionThreshold = 0.4;
    settings.energyColumn = 0;
    return settings;
}

static bool validVadSettings(const OrvalixVadSettings& s, int32_t columns) {
    return std::isfinite(s.energyThreshold) && std::isfinite(s.energyMeanScale) &&
           s.energyMeanScale >= 0.0 &&
           s.framesContext >= 0 && s.proportionThreshold > 0.0 && s.proportionThreshold < 1.0 &&
           s.energyColumn >= ORVALIX_VAD_ROW_SUM && s.energyColumn < columns;
}

double frameEnergy(const float* row, int32_t columns, int32_t column) {
    if (column != ORVALIX_VAD_ROW_SUM) return row[column];
    double sum = 0.0;
    for (int32_t c = 0; c < columns; c++) sum += static_cast<double>(row[c]);
    return sum;
}

int labelsFromEnergies(const double* energy, int32_t frames, const OrvalixVadSettings* settings,
                       uint8_t* labels) {
    if (frames == 0) return 0;
    double total = 0.0;
    for (int32_t t = 0; t < frames; t++) total += energy[t];
    const double threshold = settings->energyThreshold + settings->energyMeanScale * (total / frames);

    // above[t]: frames 0..t-1 above the threshold, so any run of frames is counted in one step.
    std::vector<int32_t> above(static_cast<size_t>(frames) + 1, 0);
    for (int32_t t = 0; t < frames; t++) above[t + 1] = above[t] + (energy[t] > threshold ? 1 : 0);
    const int32_t context = settings->framesContext;
    for (int32_t t = 0; t < frames; t++) {
        const int32_t first = t < context ? 0 : t - context;
        const int32_t end = frames - t <= context ? frames : t + context + 1;
        const int32_t voted = above[end] - above[first];
        labels[t] = voted >= (end - first) * settings->proportionThreshold ? 1 : 0;
    }
    return 0;
}

static int labelFrames(const OrvalixFeatures* features, const OrvalixVadSettings* settings,
                       uint8_t* labels) {
    if (!readableFeatures(features) || !settings ||
        !validVadSettings(*settings, features->columnCount) || (features->frameCount > 0 && !labels))
        return ORVALIX_ANALYSIS_FAILED;
    const int32_t frames = features->frameCount;
    if (frames == 0) return 0;

    std::vector<double> energy(frames);
    for (int32_t t = 0; t < frames; t++)
        energy[t] = frameEnergy(featureRow(*features, t), features->columnCount, settings->energyColumn);
    return labelsFromEnergies(energy.data(), frames, settings, labels);
}

int labelVoicedFrames(const OrvalixFeatures* features, const OrvalixVadSettings* settings,
               uint8_t* labels) {
    try {
        return labelFrames(features, settings, labels);
    } catch (const std::bad_alloc&) {
        return ORVALIX_ANALYSIS_FAILED;
    }
}
