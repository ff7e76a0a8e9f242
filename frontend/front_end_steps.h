#pragma once
// The steps of the front end that a stream takes row by row, shared with the whole-matrix calls
// so that both compute every value the same way.
#include <cstdint>
#include <vector>
#include "orvalix.h"

// weights[k][offset + k * window]: the delta weights of order k for offsets -k*window..k*window.
std::vector<std::vector<double>> deltaWeights(int32_t order, int32_t window);

struct FrameWindow {
    int32_t start;  // first frame
    int32_t end;    // one past the last frame
};
// The frames that normalise frame t of frames (docs/frontend.md shows them frame by frame).
FrameWindow cmvnWindow(const OrvalixCmvnSettings& s, int32_t t, int32_t frames);
// Adds a row's values (and their squares, when sumOfSquares is given) to the running sums.
void addFrame(const float* row, int32_t columns, double* sum, double* sumOfSquares);
// Takes a row's values (and squares) away from the running sums again.
void removeFrame(const float* row, int32_t columns, double* sum, double* sumOfSquares);
// Row x normalised by the sums over `frames` frames (sumOfSquares null: the mean only).
void normaliseRow(const float* x, int32_t columns, const double* sum, const double* sumOfSquares,
                  int32_t frames, float* out);

// The energy of a row: its energy column, or the sum of the row in ascending column order.
double frameEnergy(const float* row, int32_t columns, int32_t column);
// The labels of frames whose energies are given (settings checked by the caller).
int labelsFromEnergies(const double* energy, int32_t frames, const OrvalixVadSettings* settings,
                       uint8_t* labels);
