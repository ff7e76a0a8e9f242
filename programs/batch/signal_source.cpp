// `key command |` entries: the command's standard output, read whole into an in-memory file that
// the library's own wave reader opens by name.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "programs/batch/batch.h"

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

// The guard's process group, for its handler.
void killOwnGroup(int) {
    kill(0, SIGKILL);
}

// Runs in a child of the batch (only async-signal-safe calls: the batch has threads). The guard
// leads a process group of its own, holding the shell and everything the shell starts; it takes
// the whole group down when the batch dies, even of SIGKILL, and otherwise ends as the shell did.
[[noreturn]] void guardCommand(pid_t batch, const char* const* argv, int output, int errors) {
    setpgid(0, 0);
    struct sigaction onDeath = {};
    onDeath.sa_handler = killOwnGroup;
    sigaction(SIGTERM, &onDeath, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != batch) _exit(127);  // the batch died before the signal was asked for
    int input = open("/dev/null", O_RDONLY);
    if (input < 0 || dup2(input, 0) < 0 || dup2(output, 1) < 0 || dup2(errors, 2) < 0) _exit(127);
    pid_t shell = fork();
    if (shell == 0) {
        struct sigaction standard = {};
        standard.sa_handler = SIG_DFL;
        sigaction(SIGTERM, &standard, nullptr);
        execve("/bin/sh", const_cast<char* const*>(argv), environ);
        _exit(127);
    }
    int status = 0;
    while (shell > 0 && waitpid(shell, &status, 0) < 0 && errno == EINTR) {
    }
    if (shell < 0) _exit(127);
    if (WIFEXITED(status)) _exit(WEXITSTATUS(status));
    signal(WTERMSIG(status), SIG_DFL);
    kill(getpid(), WTERMSIG(status));
    _exit(128 + WTERMSIG(status));
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
    const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    const pid_t batch = getpid();
    pid_t child = fork();
    if (child == 0) guardCommand(batch, argv, output, errors);
    const int spawned = child < 0 ? errno : 0;
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
