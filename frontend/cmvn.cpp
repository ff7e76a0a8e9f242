// Mean (and variance) normalisation over each frame's window: the whole utterance, or a window
// sliding as in Kaldi's apply-cmvn-sliding. Sums in double, results stored as float.
#include <cmath>
#include <vector>

#include "frontend/feature_block.h"

// Below this the variance counts as this, as in Kaldi, so a constant column stays finite.
static const double varianceFloor = 1.0e-10;

OrvalixCmvnSettings orvalixDefaultCmvnSettings() {
    OrvalixCmvnSettings settings;
    settings.mode = ORVALIX_CMVN_SLIDING;
    settings.normaliseVariance = 0;
    settings.window = 600;
    settings.minWindow = 100;
    settings.centred = 0;
    return settings;
}

struct FrameWindow {
    int32_t start;  // first frame
    int32_t end;    // one past the last frame
};

// The frames that normalise frame t of frames (docs/frontend.md shows them frame by frame).
static FrameWindow cmvnWindow(const OrvalixCmvnSettings& s, int32_t t, int32_t frames) {
    if (s.mode == ORVALIX_CMVN_UTTERANCE) return {0, frames};
    FrameWindow w;
    if (s.centred) {
        w.start = t - s.window / 2;
        w.end = w.start + s.window;
        if (w.start < 0) {
            w.end -= w.start;
            w.start = 0;
        }
    } else {
        // The frame and the window frames before it; at the start at least minWindow frames.
        w.start = t - s.window < 0 ? 0 : t - s.window;
        w.end = t + 1 < s.minWindow ? s.minWindow : t + 1;
    }
    if (w.end > frames) {
        w.start -= w.end - frames;
        w.end = frames;
        if (w.start < 0) w.start = 0;
    }
    return w;
}

static bool validCmvnSettings(const OrvalixCmvnSettings& s) {
    if (s.mode == ORVALIX_CMVN_UTTERANCE) return true;
    if (s.mode != ORVALIX_CMVN_SLIDING || s.window < 1) return false;
    return s.centred || (s.minWindow >= 1 && s.minWindow <= s.window);
}

// Adds frame t's values (and their squares, when sumOfSquares is given) to the running sums.
static void addFrame(const OrvalixFeatures& input, int32_t t, double* sum, double* sumOfSquares) {
    const float* row = featureRow(input, t);
    for (int32_t c = 0; c < input.columnCount; c++) sum[c] += static_cast<double>(row[c]);
    if (sumOfSquares)
        for (int32_t c = 0; c < input.columnCount; c++)
            sumOfSquares[c] += static_cast<double>(row[c]) * static_cast<double>(row[c]);
}

// Takes frame t's values (and squares) away from the running sums again.
static void removeFrame(const OrvalixFeatures& input, int32_t t, double* sum, double* sumOfSquares) {
    const float* row = featureRow(input, t);
    for (int32_t c = 0; c < input.columnCount; c++) sum[c] -= static_cast<double>(row[c]);
    if (sumOfSquares)
        for (int32_t c = 0; c < input.columnCount; c++)
            sumOfSquares[c] -= static_cast<double>(row[c]) * static_cast<double>(row[c]);
}

int orvalixCmvn(const OrvalixFeatures* input, const OrvalixCmvnSettings* settings,
                OrvalixFeatures* output) {
    if (!output) return ORVALIX_ANALYSIS_FAILED;
    if (!readableFeatures(input) || !settings || !validCmvnSettings(*settings)) {
        allocateFeatures(0, 1, output);
        return ORVALIX_ANALYSIS_FAILED;
    }
    const int32_t frames = input->frameCount, columns = input->columnCount;
    if (allocateFeatures(frames, columns, output) != 0) return ORVALIX_ANALYSIS_FAILED;
    std::vector<double> sum(columns, 0.0), squares(columns, 0.0);
    double* sumOfSquares = settings->normaliseVariance ? squares.data() : nullptr;
    FrameWindow last = {0, 0};
    for (int32_t t = 0; t < frames; t++) {
        // The window only moves forward: take away the frames it left, add the frames it reached.
        const FrameWindow w = cmvnWindow(*settings, t, frames);
        for (int32_t r = last.start; r < w.start && r < last.end; r++)
            removeFrame(*input, r, sum.data(), sumOfSquares);
        for (int32_t r = last.end > w.start ? last.end : w.start; r < w.end; r++)
            addFrame(*input, r, sum.data(), sumOfSquares);
        last = w;

        const double n = w.end - w.start;
        const float* x = featureRow(*input, t);
        float* out = output->values + static_cast<int64_t>(t) * columns;
        for (int32_t c = 0; c < columns; c++) {
            const double mean = sum[c] / n;
            double value = static_cast<double>(x[c]) - mean;
            if (sumOfSquares) {
                double variance = sumOfSquares[c] / n - mean * mean;
                if (variance < varianceFloor) variance = varianceFloor;
                value = value / std::sqrt(variance);
            }
            out[c] = static_cast<float>(value);
        }
    }
    return 0;
}
