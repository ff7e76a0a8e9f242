#pragma once
#include <functional>
#include <string>
#include <vector>

// Runs body in a forked child whose standard output goes into a pipe. Gives back every byte the
// child wrote there and how it ended: exitCode is the status the shell would see (255 for -1),
// or -1000 when the child did not end through exit (a crash). A body that returns normally
// ends the child with status 0.
struct ChildRun {
    std::string output;
    int exitCode;
};
ChildRun runInChild(const std::function<void()>& body);

// Runs body in this process with standard output sent to a temporary file and returns what
// was written. For code that returns; code that ends the process belongs in runInChild.
std::string captureStdout(const std::function<void()>& body);

// An argument vector with the program's name in front, as main receives it.
class ArgumentList {
public:
    explicit ArgumentList(std::vector<std::string> arguments);
    int count() const { return static_cast<int>(pointers_.size()) - 1; }
    char** vector() { return pointers_.data(); }

private:
    std::vector<std::string> texts_;
    std::vector<char*> pointers_;
};
