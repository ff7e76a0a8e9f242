#include "library/stream_front_end.h"

#include <cstring>

#include "frontend/front_end_steps.h"
#include "library/interface_records.h"

namespace {

float* ringRow(std::vector<float>& ring, int32_t rows, int32_t width, int64_t frame) {
    return ring.data() + static_cast<size_t>(frame % rows) * width;
}

void appendFinished(StreamFrontEnd* f, const float* row) {
    f->out.insert(f->out.end(), row, row + f->width);
}

// Normalises every row whose window the rows so far cover (all of them once finished), running
// the sums forward exactly as the whole-matrix call does.
void normaliseReady(StreamFrontEnd* f) {
    const OrvalixCmvnSettings& s = f->settings.cmvnSettings;
    const int32_t w = f->width, rows = f->cmvnRingRows;
    double* squares = s.normaliseVariance ? f->squares.data() : nullptr;
    const int32_t frames = static_cast<int32_t>(f->cmvnReceived);
    for (; f->cmvnNext < f->cmvnReceived; f->cmvnNext++) {
        const int32_t t = static_cast<int32_t>(f->cmvnNext);
        if (!f->finished && cmvnWindow(s, t, INT32_MAX).end > frames) return;
        const FrameWindow now = cmvnWindow(s, t, frames);
        for (int64_t r = f->windowStart; r < now.start && r < f->windowEnd; r++)
            removeFrame(ringRow(f->cmvnRing, rows, w, r), w, f->sum.data(), squares);
        for (int64_t r = f->windowEnd > now.start ? f->windowEnd : now.start; r < now.end; r++)
            addFrame(ringRow(f->cmvnRing, rows, w, r), w, f->sum.data(), squares);
        f->windowStart = now.start;
        f->windowEnd = now.end;
        const size_t at = f->out.size();
        f->out.resize(at + w);
        normaliseRow(ringRow(f->cmvnRing, rows, w, t), w, f->sum.data(), squares,
                     now.end - now.start, f->out.data() + at);
    }
}

// A row after the deltas: normalised when asked, else finished as it is.
void deltaRowDone(StreamFrontEnd* f, const float* row) {
    if (!f->settings.cmvn) return appendFinished(f, row);
    memcpy(ringRow(f->cmvnRing, f->cmvnRingRows, f->width, f->cmvnReceived), row,
           sizeof(float) * f->width);
    f->cmvnReceived++;
    normaliseReady(f);
}

// Gives its deltas to every row whose reach has come (all of them once finished): the same
// weighted sums, in the same order, as the whole-matrix call with the frames clamped to the
// first and last.
void addDeltasToReady(StreamFrontEnd* f) {
    const int32_t columns = f->arrangedWidth, rows = f->deltaRingRows;
    std::vector<float> row(static_cast<size_t>(f->width));
    for (; f->deltaNext < f->received; f->deltaNext++) {
        const int64_t t = f->deltaNext;
        if (!f->deltasFinished && t + f->reach >= f->received) return;
        memcpy(row.data(), ringRow(f->deltaRing, rows, columns, t), sizeof(float) * columns);
        for (int32_t k = 1; k <= f->settings.deltaOrder; k++) {
            const int32_t reach = k * f->settings.deltaWindow;
            for (int32_t c = 0; c < columns; c++) f->deltaSum[c] = 0.0;
            for (int32_t j = -reach; j <= reach; j++) {
                const double weight = f->weights[k][j + reach];
                if (weight == 0.0) continue;
                int64_t source = t + j;
                if (source < 0) source = 0;
                if (source >= f->received) source = f->received - 1;
                const float* x = ringRow(f->deltaRing, rows, columns, source);
                for (int32_t c = 0; c < columns; c++)
                    f->deltaSum[c] += weight * static_cast<double>(x[c]);
            }
            for (int32_t c = 0; c < columns; c++)
                row[static_cast<size_t>(k) * columns + c] = static_cast<float>(f->deltaSum[c]);
        }
        deltaRowDone(f, row.data());
    }
}

}  // namespace

int openStreamFrontEnd(const OrvalixFrontEnd& settings, bool labels, int32_t inWidth,
                       StreamFrontEnd* f, OrvalixError* error) {
    if (settings.voicedOnly)
        return reportResult(error, ORVALIX_NEEDS_WHOLE_SIGNAL,
                            "stream: voicedOnly needs every label first; select rows by the labels");
    if (settings.cmvn && (settings.cmvnSettings.mode != ORVALIX_CMVN_SLIDING ||
                          settings.cmvnSettings.centred))
        return reportResult(error, ORVALIX_NEEDS_WHOLE_SIGNAL,
                            "stream: only the sliding normalisation up to each frame (not centred) "
                            "runs on a stream");
    // The whole-matrix call checks the rest: run it on no rows.
    OrvalixFeatures none{sizeof(OrvalixFeatures), 0, inWidth, 0, nullptr};
    OrvalixLabels noLabels;
    const int checked = orvalix_front_end(&none, &settings, labels ? &noLabels : nullptr, error);
    if (checked != ORVALIX_OK) return checked;
    if (labels) orvalix_release_labels(&noLabels);
    orvalix_release_features(&none);
    *f = StreamFrontEnd{};
    f->settings = settings;
    if (settings.filterbankRows) f->settings.vadSettings.energyColumn = ORVALIX_VAD_ROW_SUM;
    f->labelling = labels;
    f->inWidth = inWidth;
    const bool keepsColumns = settings.filterbankRows || settings.includeC0;
    f->arrangedWidth = keepsColumns ? inWidth : inWidth - 1;
    f->width = f->arrangedWidth * (settings.deltaOrder + 1);
    f->reach = settings.deltaOrder * settings.deltaWindow;
    if (settings.deltaOrder > 0) f->weights = deltaWeights(settings.deltaOrder, settings.deltaWindow);
    f->deltaRingRows = 2 * f->reach + 1;
    f->deltaRing.resize(static_cast<size_t>(f->deltaRingRows) * f->arrangedWidth);
    f->deltaSum.resize(static_cast<size_t>(f->arrangedWidth));
    if (settings.cmvn) {
        f->cmvnRingRows = settings.cmvnSettings.window + 2;
        f->cmvnRing.resize(static_cast<size_t>(f->cmvnRingRows) * f->width);
        f->sum.resize(static_cast<size_t>(f->width));
        f->squares.resize(static_cast<size_t>(f->width));
    }
    return ORVALIX_OK;
}

void frontEndRow(StreamFrontEnd* f, const float* row) {
    if (f->labelling)
        f->energies.push_back(frameEnergy(row, f->inWidth, f->settings.vadSettings.energyColumn));
    // c0 dropped or moved after cM, as orvalix_front_end arranges the columns.
    float* arranged = ringRow(f->deltaRing, f->deltaRingRows, f->arrangedWidth, f->received);
    const OrvalixFrontEnd& s = f->settings;
    if (s.filterbankRows || (s.includeC0 && !s.c0Last)) {
        memcpy(arranged, row, sizeof(float) * f->inWidth);
    } else {
        memcpy(arranged, row + 1, sizeof(float) * (f->inWidth - 1));
        if (s.includeC0) arranged[f->inWidth - 1] = row[0];
    }
    f->received++;
    addDeltasToReady(f);
}

void finishFrontEnd(StreamFrontEnd* f) {
    // The last deltas first: their rows still meet the normalisation of a going stream.
    f->deltasFinished = true;
    addDeltasToReady(f);
    f->finished = true;
    normaliseReady(f);
    if (!f->labelling) return;
    f->labels.resize(f->energies.size());
    labelsFromEnergies(f->energies.data(), static_cast<int32_t>(f->energies.size()),
                       &f->settings.vadSettings, f->labels.data());
}

void resetFrontEnd(StreamFrontEnd* f) {
    f->received = f->deltaNext = 0;
    f->cmvnReceived = f->cmvnNext = f->windowStart = f->windowEnd = 0;
    for (double& v : f->sum) v = 0.0;
    for (double& v : f->squares) v = 0.0;
    f->out.clear();
    f->outHead = f->outFirst = 0;
    f->energies.clear();
    f->labels.clear();
    f->labelsTaken = 0;
    f->deltasFinished = f->finished = false;
}

int64_t takeFrontEndRows(StreamFrontEnd* f, float* out, int64_t maxRows, int64_t* firstFrame) {
    const int64_t ready = (static_cast<int64_t>(f->out.size()) - f->outHead) / f->width;
    const int64_t n = maxRows < ready ? (maxRows > 0 ? maxRows : 0) : ready;
    if (firstFrame) *firstFrame = f->outFirst;
    if (n > 0) memcpy(out, f->out.data() + f->outHead, sizeof(float) * n * f->width);
    f->outHead += n * f->width;
    f->outFirst += n;
    // The taken rows go once they are most of the block, so moves stay rare.
    if (f->outHead * 2 >= static_cast<int64_t>(f->out.size())) {
        f->out.erase(f->out.begin(), f->out.begin() + f->outHead);
        f->outHead = 0;
    }
    return n;
}
