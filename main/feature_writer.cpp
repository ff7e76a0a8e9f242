#include "main/feature_writer.h"

#include <csignal>
#include <cstring>
#include <vector>

#include <unistd.h>

#include "main/float_format.h"
#include "modules/console.h"

namespace {

constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int CLEANUP_SIGNAL_COUNT = sizeof CLEANUP_SIGNALS / sizeof CLEANUP_SIGNALS[0];

// The program's one output while it is written, for the signal handler.
struct PendingOutput {
    Publication* volatile publication;
    struct sigaction previous[CLEANUP_SIGNAL_COUNT];
};
PendingOutput pending = {nullptr, {}};

void removePendingAndResignal(int signalNumber) {
    const Publication* p = pending.publication;
    if (p && p->hiddenExists) unlinkat(p->folder, p->hiddenName, 0);
    // The handler was reset on entry and the signal is not held: it now ends the process with
    // its usual status.
    raise(signalNumber);
}

void installCleanup(Publication* publication) {
    pending.publication = publication;
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = removePendingAndResignal;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < CLEANUP_SIGNAL_COUNT; ++i) {
        sigaction(CLEANUP_SIGNALS[i], nullptr, &pending.previous[i]);
        // A signal the caller ignores (nohup) stays ignored.
        if (pending.previous[i].sa_handler != SIG_IGN)
            sigaction(CLEANUP_SIGNALS[i], &action, nullptr);
    }
}

void removeCleanup() {
    for (int i = 0; i < CLEANUP_SIGNAL_COUNT; ++i)
        sigaction(CLEANUP_SIGNALS[i], &pending.previous[i], nullptr);
    pending.publication = nullptr;
}

// Formats the rows in blocks and writes each block; returns 0 or an errno.
int writeRows(Publication* p, const FeatureMatrix& matrix, int32_t frameCount, int32_t first,
              int32_t last) {
    constexpr size_t BLOCK = 1 << 16;
    constexpr size_t MAX_LINE_VALUE = 64;  // longest "%f " of a float, with room to spare
    const size_t lineLimit = static_cast<size_t>(last - first + 1) * MAX_LINE_VALUE + 1;
    std::vector<char> block(BLOCK + lineLimit);
    size_t used = 0;
    for (int32_t row = 0; row < frameCount; ++row) {
        const float* coefficients = matrixRow(matrix, row);
        for (int32_t j = first; j <= last; ++j) {
            used += formatFixedSix(coefficients[j], block.data() + used);
            block[used++] = ' ';
        }
        block[used++] = '\n';
        if (used >= BLOCK) {
            if (int error = writePublication(p, block.data(), used)) return error;
            used = 0;
        }
    }
    return writePublication(p, block.data(), used);
}

}  // namespace

int publishFeatureText(const FeatureMatrix& matrix, int32_t frameCount, int32_t first,
                       int32_t last, const char* outputName, OutputPublication publication,
                       Publication* record) {
    if (int error = beginPublication(outputName, publication, 0, record)) return error;
    if (int error = writeRows(record, matrix, frameCount, first, last)) {
        abandonPublication(record);
        return error;
    }
    return finishPublication(record);
}

int writeFeatureFile(const FeatureMatrix& matrix, int32_t frameCount, int32_t first, int32_t last,
                     const char* outputName, OutputPublication publication) {
    sigset_t held;
    sigemptyset(&held);
    for (int signalNumber : CLEANUP_SIGNALS) sigaddset(&held, signalNumber);
    Publication record = emptyPublication();
    record.heldSignals = &held;
    installCleanup(&record);
    int error = publishFeatureText(matrix, frameCount, first, last, outputName, publication, &record);
    removeCleanup();
    if (!error) return 0;
    printError("ERROR: Cannot write output file %s: %s\n", outputName, record.reason);
    return 1;
}
