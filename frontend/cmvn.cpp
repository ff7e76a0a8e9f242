// Mean (and variance) normalisation over each frame's window: the whole utterance, or a window
// sliding as in Kaldi's apply-cmvn-sliding. Sums in double, results stored as float.
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "frontend/feature_block.h"
#include "frontend/front_end.h"
#include "frontend/front_end_steps.h"

// Below this the variance counts as this, as in Kaldi, so a constant column stays finite.
static const double varianceFloor = 1.0e-10;

OrvalixCmvnSettings defaultCmvnSettings() {
    OrvalixCmvnSettings settings{};
    settings.size = sizeof settings;
    settings.mode = ORVALIX_CMVN_SLIDING;
    settings.normaliseVariance = 0;
    settings.window = 600;
    settings.minWindow = 100;
    settings.centred = 0;
    return settings;
}

// In 64 bits, so a window of up to 2^31 - 1 frames cannot overflow.
FrameWindow cmvnWindow(const OrvalixCmvnSettings& s, int32_t t, int32_t frames) {
    if (s.mode == ORVALIX_CMVN_UTTERANCE) return {0, frames};
    int64_t start, end;
    if (s.centred) {
        start = static_cast<int64_t>(t) - s.window / 2;
        end = start + s.window;
        if (start < 0) {
            end -= start;
            start = 0;
        }
    } else {
        // The frame and the window frames before it; at the start at least minWindow frames.
        start = t - s.window < 0 ? 0 : t - s.window;
        end = t + 1 < s.minWindow ? s.minWindow : static_cast<int64_t>(t) + 1;
    }
    if (end > frames) {
        start -= end - frames;
        end = frames;
        if (start < 0) start = 0;
    }
    return {static_cast<int32_t>(start), static_cast<int32_t>(end)};
}

void normaliseRow(const float* x, int32_t columns, const double* sum, const double* sumOfSquares,
                  int32_t frames, float* out) {
    // As Kaldi: x + (-1/n) sum, and the variance sumsq (1/n) + (-1/n^2) sum^2.
    const double n = frames;
    const double minusInverse = -1.0 / n;
    const double inverse = 1.0 / n;
    const double minusInverseSquare = -1.0 / (n * n);
    if (!sumOfSquares) {
        for (int32_t c = 0; c < columns; c++)
            out[c] = static_cast<float>(static_cast<double>(x[c]) + minusInverse * sum[c]);
        return;
    }
    for (int32_t c = 0; c < columns; c++) {
        double variance = sumOfSquares[c] * inverse + minusInverseSquare * (sum[c] * sum[c]);
        if (variance < varianceFloor) variance = varianceFloor;
        const double value = static_cast<double>(x[c]) + minusInverse * sum[c];
        out[c] = static_cast<float>(value * (1.0 / std::sqrt(variance)));
    }
}

static bool validCmvnSettings(const OrvalixCmvnSettings& s) {
    if (s.mode == ORVALIX_CMVN_UTTERANCE) return true;
    if (s.mode != ORVALIX_CMVN_SLIDING || s.window < 1) return false;
    return s.centred || (s.minWindow >= 1 && s.minWindow <= s.window);
}

void addFrame(const float* row, int32_t columns, double* sum, double* sumOfSquares) {
    for (int32_t c = 0; c < columns; c++) sum[c] += static_cast<double>(row[c]);
    if (sumOfSquares)
        for (int32_t c = 0; c < columns; c++)
            sumOfSquares[c] += static_cast<double>(row[c]) * static_cast<double>(row[c]);
}

void removeFrame(const float* row, int32_t columns, double* sum, double* sumOfSquares) {
    for (int32_t c = 0; c < columns; c++) sum[c] -= static_cast<double>(row[c]);
    if (sumOfSquares)
        for (int32_t c = 0; c < columns; c++)
            sumOfSquares[c] -= static_cast<double>(row[c]) * static_cast<double>(row[c]);
}

// In place, a frame's row is overwritten once it is normalised, while the windows of later
// frames still take it away from their sums: the last window + 2 original rows (or all, when
// fewer) stay in a ring.
struct OriginalRows {
    const OrvalixFeatures* input;
    bool inPlace;
    int32_t ringRows;
    std::vector<float> ring;

    const float* row(int32_t t) const {
        if (!inPlace) return featureRow(*input, t);
        return ring.data() + static_cast<size_t>(t % ringRows) * input->columnCount;
    }
};

static int normalise(const OrvalixFeatures* input, const OrvalixCmvnSettings* settings,
                     OrvalixFeatures* output) {
    const bool inPlace = output == input;
    if (!readableFeatures(input) || !settings || !validCmvnSettings(*settings)) {
        if (!inPlace) allocateFeatures(0, 1, output);
        return ORVALIX_ANALYSIS_FAILED;
    }
    const int32_t frames = input->frameCount, columns = input->columnCount;
    OriginalRows original = {input, inPlace, 1, {}};
    if (inPlace && settings->mode == ORVALIX_CMVN_SLIDING) {
        original.ringRows = settings->window < frames ? settings->window + 2 : frames + 1;
        original.ring.resize(static_cast<size_t>(original.ringRows) * columns);
    }
    if (!inPlace && allocateFeatures(frames, columns, output) != 0) return ORVALIX_ANALYSIS_FAILED;
    std::vector<double> sum(columns, 0.0), squares(columns, 0.0);
    double* sumOfSquares = settings->normaliseVariance ? squares.data() : nullptr;
    FrameWindow last = {0, 0};
    for (int32_t t = 0; t < frames; t++) {
        // The window only moves forward: take away the frames it left (all before t), add the
        // frames it reached (none before t, so still the input's own rows).
        const FrameWindow w = cmvnWindow(*settings, t, frames);
        for (int32_t r = last.start; r < w.start && r < last.end; r++)
            removeFrame(original.row(r), columns, sum.data(), sumOfSquares);
        for (int32_t r = last.end > w.start ? last.end : w.start; r < w.end; r++)
            addFrame(featureRow(*input, r), columns, sum.data(), sumOfSquares);
        last = w;

        const float* x = featureRow(*input, t);
        if (!original.ring.empty()) {
            float* kept = original.ring.data() + static_cast<size_t>(t % original.ringRows) * columns;
            memcpy(kept, x, sizeof(float) * columns);
            x = kept;
        }
        normaliseRow(x, columns, sum.data(), sumOfSquares, w.end - w.start,
                     output->values + static_cast<int64_t>(t) * columns);
    }
    return 0;
}

int normaliseFeatures(const OrvalixFeatures* input, const OrvalixCmvnSettings* settings,
                OrvalixFeatures* output) {
    if (!output) return ORVALIX_ANALYSIS_FAILED;
    try {
        return normalise(input, settings, output);
    } catch (const std::bad_alloc&) {
        if (output != input) orvalix_release_features(output);
        return ORVALIX_ANALYSIS_FAILED;
    }
}
