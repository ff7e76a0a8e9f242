// Deltas as Kaldi's add-deltas defines them, computed in double and stored as float.
#include <cstring>
#include <new>
#include <vector>

#include "frontend/feature_block.h"
#include "frontend/front_end.h"
#include "frontend/front_end_steps.h"

static const int32_t maximumDeltaOrder = 2;
static const int32_t maximumDeltaWindow = 100;

// Order 1 is n / (2 * sum of k^2); each higher order convolves the one below with order 1,
// summing over the lower order's offsets in ascending order.
std::vector<std::vector<double>> deltaWeights(int32_t order, int32_t window) {
    std::vector<std::vector<double>> weights(order + 1);
    weights[0] = {1.0};
    int64_t sumOfSquares = 0;
    for (int32_t k = 1; k <= window; k++) sumOfSquares += static_cast<int64_t>(k) * k;
    const double normaliser = 2.0 * static_cast<double>(sumOfSquares);
    std::vector<double> first(2 * window + 1);
    for (int32_t n = -window; n <= window; n++) first[n + window] = n / normaliser;
    for (int32_t k = 1; k <= order; k++) {
        const std::vector<double>& lower = weights[k - 1];
        const int32_t lowerReach = (k - 1) * window;
        std::vector<double>& current = weights[k];
        current.assign(2 * k * window + 1, 0.0);
        for (int32_t m = -k * window; m <= k * window; m++) {
            double sum = 0.0;
            for (int32_t n = -lowerReach; n <= lowerReach; n++) {
                const int32_t rest = m - n;
                if (rest < -window || rest > window) continue;
                sum += lower[n + lowerReach] * first[rest + window];
            }
            current[m + k * window] = sum;
        }
    }
    return weights;
}

// Frames go through in blocks: the block's rows and the rows its widest window reaches (clamped
// to the first and last frame) are converted to double once, then every weight adds one shifted
// copy of them, a contiguous loop the compiler vectorises lane for lane.
static const int32_t blockFrames = 64;

static int addDeltas(const OrvalixFeatures* input, int32_t order, int32_t window,
                     OrvalixFeatures* output) {
    if (!readableFeatures(input) || order < 1 || order > maximumDeltaOrder || window < 1 ||
        window > maximumDeltaWindow || input->columnCount > INT32_MAX / (order + 1) / blockFrames) {
        allocateFeatures(0, 1, output);
        return ORVALIX_ANALYSIS_FAILED;
    }
    const int32_t frames = input->frameCount, columns = input->columnCount;
    const int32_t outColumns = columns * (order + 1);
    if (allocateFeatures(frames, outColumns, output) != 0) return ORVALIX_ANALYSIS_FAILED;
    const std::vector<std::vector<double>> weights = deltaWeights(order, window);
    const int32_t widest = order * window;
    std::vector<double> rows(static_cast<size_t>(blockFrames + 2 * widest) * columns);
    std::vector<double> sum(static_cast<size_t>(blockFrames) * columns);
    for (int32_t first = 0; first < frames; first += blockFrames) {
        const int32_t count = frames - first < blockFrames ? frames - first : blockFrames;
        // rows[r]: frame first - widest + r, clamped to the utterance.
        for (int32_t r = 0; r < count + 2 * widest; r++) {
            int32_t source = first - widest + r;
            if (source < 0) source = 0;
            if (source >= frames) source = frames - 1;
            const float* x = featureRow(*input, source);
            for (int32_t c = 0; c < columns; c++) rows[static_cast<size_t>(r) * columns + c] = x[c];
        }
        for (int32_t t = 0; t < count; t++)
            memcpy(output->values + static_cast<int64_t>(first + t) * outColumns,
                   featureRow(*input, first + t), sizeof(float) * columns);
        const int32_t values = count * columns;
        for (int32_t k = 1; k <= order; k++) {
            const int32_t reach = k * window;
            for (int32_t i = 0; i < values; i++) sum[i] = 0.0;
            for (int32_t j = -reach; j <= reach; j++) {
                const double w = weights[k][j + reach];
                // Kaldi leaves out zero weights too, so a frame's own infinity stays out of
                // its order-1 delta.
                if (w == 0.0) continue;
                const double* shifted = rows.data() + static_cast<size_t>(j + widest) * columns;
                for (int32_t i = 0; i < values; i++) sum[i] += w * shifted[i];
            }
            for (int32_t t = 0; t < count; t++) {
                float* out = output->values + static_cast<int64_t>(first + t) * outColumns + k * columns;
                for (int32_t c = 0; c < columns; c++) out[c] = static_cast<float>(sum[t * columns + c]);
            }
        }
    }
    return 0;
}

int addDeltaColumns(const OrvalixFeatures* input, int32_t order, int32_t window,
                  OrvalixFeatures* output) {
    if (!output) return ORVALIX_ANALYSIS_FAILED;
    try {
        return addDeltas(input, order, window, output);
    } catch (const std::bad_alloc&) {
        orvalix_release_features(output);
        return ORVALIX_ANALYSIS_FAILED;
    }
}
