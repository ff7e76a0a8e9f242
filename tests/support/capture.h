#pragma once
// Captures what code writes to standard output and standard error (the descriptors, so printf,
// fputs and direct writes are all caught), for tests that check the program's exact texts.
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

// Redirects one standard stream's descriptor into a temporary file until text() is called.
class StreamCapture {
public:
    explicit StreamCapture(FILE* stream) : stream_(stream), file_(tmpfile()) {
        fflush(stream_);
        saved_ = dup(fileno(stream_));
        dup2(fileno(file_), fileno(stream_));
    }
    ~StreamCapture() {
        restore();
        if (file_) fclose(file_);
    }
    StreamCapture(const StreamCapture&) = delete;
    StreamCapture& operator=(const StreamCapture&) = delete;

    std::string text() {
        restore();
        std::string captured;
        rewind(file_);
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, file_)) > 0) captured.append(chunk, n);
        return captured;
    }

private:
    void restore() {
        if (saved_ < 0) return;
        fflush(stream_);
        dup2(saved_, fileno(stream_));
        close(saved_);
        saved_ = -1;
    }
    FILE* stream_;
    FILE* file_;
    int saved_ = -1;
};

struct CapturedOutput {
    std::string out;
    std::string err;
};

// Runs action with both standard streams captured.
inline CapturedOutput captureOutput(const std::function<void()>& action) {
    StreamCapture out(stdout);
    StreamCapture err(stderr);
    action();
    std::string errText = err.text();
    return CapturedOutput{out.text(), errText};
}
