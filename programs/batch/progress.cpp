// What a run tells its user: a progress line on a terminal, and the failure log.
#include <unistd.h>

#include <cstdio>

#include "programs/batch/batch.h"

// One line rewritten in place on standard error: utterances done, left, and time left at the
// pace so far. The final call clears it.
void showProgress(size_t finished, size_t total, double elapsedSeconds, bool final) {
    if (final) {
        fprintf(stderr, "\r%72s\r", "");
        fflush(stderr);
        return;
    }
    char estimate[32] = "?";
    if (finished > 0) {
        const double left = elapsedSeconds / static_cast<double>(finished) * static_cast<double>(total - finished);
        snprintf(estimate, sizeof estimate, "%d:%02d", static_cast<int>(left) / 60, static_cast<int>(left) % 60);
    }
    fprintf(stderr, "\rorvalix-batch: %zu done, %zu left, about %s to go   ", finished, total - finished, estimate);
    fflush(stderr);
}

// One line per failed utterance, in list order: "failed: key: message"; then one per utterance
// analysed with a warning: "warning: key: message".
std::string failureLog(const Tally& tally) {
    std::string log;
    for (const auto& [key, message] : tally.failures) log += "failed: " + key + ": " + message + "\n";
    for (const auto& [key, message] : tally.warnings) log += "warning: " + key + ": " + message + "\n";
    return log;
}
