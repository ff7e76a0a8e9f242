// `key command |` entries: the command's standard output, read whole into an in-memory file that
// the library's own wave reader opens by name.
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/batch/batch.h"

extern char** environ;

namespace {

// The last non-blank line a failing command wrote to its standard error, for the failure report.
std::string lastLine(int fd) {
    off_t size = lseek(fd, 0, SEEK_END);
    if (size <= 0) return "";
    const off_t keep = size < 512 ? size : 512;
    std::string tail(static_cast<size_t>(keep), '\0');
    if (pread(fd, tail.data(), tail.size(), size - keep) != keep) return "";
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == ' ' || tail.back() == '\r')) tail.pop_back();
    size_t newline = tail.rfind('\n');
    return newline == std::string::npos ? tail : tail.substr(newline + 1);
}

}  // namespace

int runCommandToMemory(const std::string& command, std::string* name, std::string* message) {
    // Both in-memory files are close-on-exec except where the child receives them as 1 and 2.
    int output = memfd_create("orvalix-batch-input", MFD_CLOEXEC);
    int errors = memfd_create("orvalix-batch-errors", MFD_CLOEXEC);
    if (output < 0 || errors < 0) {
        *message = std::string("cannot create an in-memory file: ") + strerror(errno);
        if (output >= 0) close(output);
        if (errors >= 0) close(errors);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawn_file_actions_adddup2(&actions, errors, 2);
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    pid_t child = -1;
    int spawned = posix_spawn(&child, "/bin/sh", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned == 0) {
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    std::string complaint = spawned == 0 ? lastLine(errors) : "";
    close(errors);
    if (spawned != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        if (spawned != 0) {
            *message = std::string("cannot run /bin/sh: ") + strerror(spawned);
        } else if (WIFSIGNALED(status)) {
            *message = "the command was killed by signal " + std::to_string(WTERMSIG(status));
        } else {
            *message = "the command failed with status " + std::to_string(WEXITSTATUS(status));
        }
        if (!complaint.empty()) *message += ": " + complaint;
        close(output);
        return -1;
    }
    *name = "/proc/self/fd/" + std::to_string(output);
    return output;
}
