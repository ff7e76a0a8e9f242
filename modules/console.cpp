#include "modules/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int MESSAGE_LIMIT = 255;  // characters of printMessage, printOutput, printStatusLine
constexpr int ERROR_LIMIT = 1023;   // characters of printError

FILE* messageStream = nullptr;
FILE* outputStream = nullptr;
int messageLevel = 0;
int progressEnabled = 1;
int percentEnabled = 1;
int progressActive = 0;
int spinnerState = 0;

void setUnsetStreams() {
    if (!messageStream) messageStream = stdout;
    if (!outputStream) outputStream = stdout;
}

// Texts longer than the bound are cut at the bound; nothing is written past the buffer.
int writeFormatted(FILE* stream, char* buffer, int limit, const char* format, va_list args) {
    vsnprintf(buffer, static_cast<size_t>(limit) + 1, format, args);
    return fprintf(stream, "%s", buffer);
}

void writeBackspaces(int count) {
    for (int i = 0; i < count; ++i) fputc('\b', stderr);
}

int percentOf(int done, int total) {
    return done * 100 / total;
}

}  // namespace

int printMessage(const char* format, ...) {
    setUnsetStreams();
    char text[MESSAGE_LIMIT + 1];
    va_list args;
    va_start(args, format);
    int written = writeFormatted(messageStream, text, MESSAGE_LIMIT, format, args);
    va_end(args);
    fflush(messageStream);
    return written;
}

int printOutput(const char* format, ...) {
    setUnsetStreams();
    char text[MESSAGE_LIMIT + 1];
    va_list args;
    va_start(args, format);
    int written = writeFormatted(outputStream, text, MESSAGE_LIMIT, format, args);
    va_end(args);
    fflush(outputStream);
    return written;
}

int printError(const char* format, ...) {
    char text[ERROR_LIMIT + 1];
    va_list args;
    va_start(args, format);
    int written = writeFormatted(stderr, text, ERROR_LIMIT, format, args);
    va_end(args);
    return written;
}

int selectMessageStream(int toError) {
    setUnsetStreams();
    fflush(messageStream);
    messageStream = toError ? stderr : stdout;
    return 0;
}

int flushMessageStreams() {
    if (messageStream) fflush(messageStream);
    if (outputStream) fflush(outputStream);
    return 0;
}

int getMessageLevel() {
    return messageLevel;
}

int setMessageLevel(int level) {
    messageLevel = level;
    return messageLevel;
}

void exitProgram(int status) {
    exit(status);
}

int setProgressEnabled(int flag) {
    progressEnabled = flag;
    return flag;
}

int setProgressQuiet(int flag) {
    percentEnabled = flag == 0 ? 1 : 0;
    return flag;
}

int beginProgress() {
    if (progressEnabled && !progressActive) {
        progressActive = 1;
        fflush(stderr);
    }
    return 0;
}

int endProgress() {
    if (progressEnabled && progressActive) {
        printStatusLine("%s", "");
        fputc('\r', stderr);
        fflush(stderr);
    }
    progressActive = 0;
    return 0;
}

int showPercent(int done, int total) {
    if (progressEnabled && percentEnabled && total != 0) {
        writeBackspaces(12);
        fprintf(stderr, "%3i %% done  ", percentOf(done, total));
        fflush(stderr);
    }
    return 0;
}

int showSpinner(int done, int total) {
    if (!progressEnabled || !percentEnabled) return 0;
    if (total == 0) {
        writeBackspaces(14);
        fputs(" stage complete", stderr);
        return 0;
    }
    if (done == 0) {
        writeBackspaces(12);
        fputs("  wait...     ", stderr);
        return 0;
    }
    static const char spinnerFaces[4] = {'-', '\\', '|', '/'};
    int face = spinnerState >= 0 && spinnerState <= 2 ? spinnerState : 3;
    spinnerState = face == 3 ? 0 : face + 1;
    writeBackspaces(13);
    fprintf(stderr, "(%c)%3i %% done", spinnerFaces[face], percentOf(done, total));
    fflush(stderr);
    return 0;
}

int printStatusLine(const char* format, ...) {
    if (!progressActive) return 0;
    char text[MESSAGE_LIMIT + 1];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    fprintf(stderr, "\r%70s\r", "");
    int written = fprintf(stderr, "%s", text);
    fprintf(stderr, "%12s", "");
    fflush(stderr);
    return written;
}
