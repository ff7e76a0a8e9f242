#pragma once
// The front end on a stream's rows, row by row in frame order: columns arranged, deltas,
// Kaldi's sliding normalisation up to each frame, and the energies of the voice-activity labels.
// Every row it hands out equals the row orvalix_front_end gives for the same analysed rows; a
// row waits only for the rows it depends on:
// - deltas: row t once row t + order * window has come (the last rows at the finish);
// - normalisation (sliding, not centred): row t once row max(t, minWindow - 1) has come;
// - labels: all at the finish, since the threshold follows the mean energy of every frame.
// Memory: 2 * order * window + 1 rows for the deltas, window + 2 for the normalisation, the rows
// not yet taken, and with labels one energy (a double) per frame until the finish.
#include <cstdint>
#include <vector>

#include "orvalix.h"

struct StreamFrontEnd {
    OrvalixFrontEnd settings;   // vadSettings.energyColumn settled from filterbankRows
    bool labelling;
    int32_t inWidth;            // floats of an analysed row
    int32_t arrangedWidth;      // after c0 is dropped or moved
    int32_t width;              // of a finished row
    // Deltas: the last rows in a ring, frame r at r % deltaRingRows.
    int32_t reach;              // order * window
    std::vector<std::vector<double>> weights;
    std::vector<float> deltaRing;
    int32_t deltaRingRows;
    std::vector<double> deltaSum;
    int64_t received;           // analysed rows so far
    int64_t deltaNext;          // first row not yet given its deltas
    // Sliding normalisation of the rows after the deltas, frame r at r % cmvnRingRows.
    std::vector<float> cmvnRing;
    int32_t cmvnRingRows;
    std::vector<double> sum, squares;
    int64_t cmvnReceived, cmvnNext, windowStart, windowEnd;
    // Finished rows not yet taken: frames outFirst.. from float outHead on.
    std::vector<float> out;
    int64_t outHead, outFirst;
    // Voice activity: each frame's energy; the labels once finished.
    std::vector<double> energies;
    std::vector<uint8_t> labels;
    int64_t labelsTaken;
    bool deltasFinished;        // no row follows: the deltas clamp to the last one
    bool finished;              // and every row has had its deltas
};

// Checks the settings for a stream: 0, or ORVALIX_INVALID_ARGUMENT / ORVALIX_NEEDS_WHOLE_SIGNAL
// with the reason in error. inWidth is the analysed row's width.
int openStreamFrontEnd(const OrvalixFrontEnd& settings, bool labels, int32_t inWidth,
                       StreamFrontEnd* front, OrvalixError* error);
// One analysed row, the next frame in order. May throw std::bad_alloc.
void frontEndRow(StreamFrontEnd* front, const float* row);
// No row follows: the last rows and the labels.
void finishFrontEnd(StreamFrontEnd* front);
void resetFrontEnd(StreamFrontEnd* front);
// Rows ready: up to maxRows copied into out; *firstFrame gets the first one's frame.
int64_t takeFrontEndRows(StreamFrontEnd* front, float* out, int64_t maxRows, int64_t* firstFrame);
