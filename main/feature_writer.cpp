#include "main/feature_writer.h"

#include <csignal>
#include <cstring>

#include <unistd.h>

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

}  // namespace

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
