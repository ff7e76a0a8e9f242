#pragma once
#include <unistd.h>

#include <cstdio>
#include <string>

// Redirects a standard stream (its descriptor) into a temporary file until text() is called.
class StreamCapture {
public:
    StreamCapture(FILE* stream) : stream_(stream), file_(tmpfile()) {
        fflush(stream_);
        saved_ = dup(fileno(stream_));
        dup2(fileno(file_), fileno(stream_));
    }
    ~StreamCapture() { restore(); if (file_) fclose(file_); }

    std::string text() {
        restore();
        std::string captured;
        rewind(file_);
        char chunk[512];
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
