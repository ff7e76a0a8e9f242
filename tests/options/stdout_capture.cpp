#include "options/stdout_capture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "support/capture.h"

ChildRun runInChild(const std::function<void()>& body) {
    // Anything still buffered would otherwise be written twice, once by each process.
    fflush(stdout);
    fflush(stderr);
    int ends[2];
    if (pipe(ends) != 0) {
        return {"pipe failed", -2000};
    }
    pid_t child = fork();
    if (child < 0) {
        return {"fork failed", -2000};
    }
    if (child == 0) {
        close(ends[0]);
        dup2(ends[1], STDOUT_FILENO);
        close(ends[1]);
        body();
        fflush(stdout);
        _exit(0);
    }
    close(ends[1]);
    std::string output;
    char block[4096];
    ssize_t got;
    while ((got = read(ends[0], block, sizeof block)) > 0) {
        output.append(block, static_cast<size_t>(got));
    }
    close(ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1000;
    return {output, exitCode};
}

std::string captureStdout(const std::function<void()>& body) {
    return captureOutput(body).out;
}

ArgumentList::ArgumentList(std::vector<std::string> arguments) : texts_(std::move(arguments)) {
    texts_.insert(texts_.begin(), "orvalix");
    for (std::string& text : texts_) {
        pointers_.push_back(text.data());
    }
    pointers_.push_back(nullptr);
}
