#include "main/feature_writer.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "library/float_format.h"
#include "modules/console.h"

namespace {

constexpr int MAX_LINK_DEPTH = 40;  // the kernel's own limit on links met in one path
constexpr int NAME_ATTEMPTS = 100;
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int CLEANUP_SIGNAL_COUNT = sizeof CLEANUP_SIGNALS / sizeof CLEANUP_SIGNALS[0];

// The hidden temporary name while one exists, for the signal handler: a file named only at the
// end needs none, but where the file system cannot do that, or while -O swaps a file in, a name
// exists and an interrupted run must not leave it behind.
struct PendingName {
    int folder;
    char name[32];
    volatile sig_atomic_t armed;
    struct sigaction previous[CLEANUP_SIGNAL_COUNT];
};
PendingName pending = {-1, "", 0, {}};

void removePendingAndResignal(int signalNumber) {
    if (pending.armed) unlinkat(pending.folder, pending.name, 0);
    // The handler was reset on entry and the signal is not held: it now ends the process with
    // its usual status.
    raise(signalNumber);
}

void installCleanup(int folder) {
    pending.folder = folder;
    pending.armed = 0;
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
    pending.armed = 0;
    pending.folder = -1;
}

// Holds the cleanup signals back while a name is made or moved, so that the handler never sees
// a name that is about to exist or has just gone.
void holdSignals(bool hold) {
    sigset_t set;
    sigemptyset(&set);
    for (int signalNumber : CLEANUP_SIGNALS) sigaddset(&set, signalNumber);
    sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

// Runs makeName(name) on fresh hidden names until one is free; on success the name is armed for
// the signal handler. Returns 0 or the errno of the last attempt.
template <typename MakeName>
int armHiddenName(MakeName makeName) {
    static const char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    int error = EEXIST;
    for (int attempt = 0; attempt < NAME_ATTEMPTS && error == EEXIST; ++attempt) {
        unsigned char random[6];
        if (getentropy(random, sizeof random) != 0) return errno;
        char name[sizeof pending.name];
        int length = snprintf(name, sizeof name, ".orvalix-");
        for (unsigned char r : random) name[length++] = LETTERS[r % (sizeof LETTERS - 1)];
        name[length] = '\0';
        holdSignals(true);
        error = makeName(name);
        if (error == 0) {
            memcpy(pending.name, name, sizeof name);
            pending.armed = 1;
        }
        holdSignals(false);
    }
    return error;
}

void removeHiddenName() {
    if (!pending.armed) return;
    unlinkat(pending.folder, pending.name, 0);
    pending.armed = 0;
}

// Moves the hidden name onto the output name: replacing whatever is there, or only when the name
// is free. Returns 0 or an errno.
int publishHiddenName(const char* name, OutputPublication publication) {
    holdSignals(true);
    int error = 0;
    if (publication == OUTPUT_REPLACE) {
        if (renameat(pending.folder, pending.name, pending.folder, name) != 0) error = errno;
    } else if (renameat2(pending.folder, pending.name, pending.folder, name, RENAME_NOREPLACE) != 0) {
        error = errno;
        // A file system without the flag: a hard link is as exclusive, then the hidden name goes.
        if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
            error = linkat(pending.folder, pending.name, pending.folder, name, 0) == 0 ? 0 : errno;
            if (error == 0) unlinkat(pending.folder, pending.name, 0);
        }
    }
    if (error == 0) pending.armed = 0;
    holdSignals(false);
    return error;
}

// Gives an unnamed file (O_TMPFILE) a name; fails with EEXIST when the name is taken.
int linkUnnamedFile(int fd, int folder, const char* name) {
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    return linkat(AT_FDCWD, self, folder, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// The file the bytes go to: unnamed where the file system and /proc allow giving it a name
// later, else created under a hidden name. Returns the descriptor or -1 with errno set.
int openOutputFile(int folder, bool* unnamed) {
    *unnamed = access("/proc/self/fd", X_OK) == 0;
    if (*unnamed) {
        int fd = openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
        *unnamed = false;  // EISDIR: a kernel that predates O_TMPFILE
    }
    int fd = -1;
    int error = armHiddenName([&](const char* name) {
        fd = openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        return fd < 0 ? errno : 0;
    });
    errno = error;
    return fd;
}

// With -O the bytes go where the output's symbolic links lead, so the links stay.
int resolveLinks(const char* outputName, std::string* target) {
    *target = outputName;
    for (int depth = 0;; ++depth) {
        struct stat info;
        if (lstat(target->c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return 0;
        if (depth == MAX_LINK_DEPTH) return ELOOP;
        char text[PATH_MAX];
        ssize_t length = readlink(target->c_str(), text, sizeof text);
        if (length < 0) return errno;
        if (static_cast<size_t>(length) == sizeof text) return ENAMETOOLONG;
        size_t slash = target->rfind('/');
        std::string folder = text[0] == '/' || slash == std::string::npos
                                 ? std::string()
                                 : target->substr(0, slash + 1);
        *target = folder + std::string(text, static_cast<size_t>(length));
    }
}

// A replaced file's permission bits stay, and its owner and group where the user may set them.
void keepOwnerAndMode(int fd, const struct stat& replaced) {
    if (fchown(fd, replaced.st_uid, replaced.st_gid) != 0 &&
        fchown(fd, static_cast<uid_t>(-1), replaced.st_gid) != 0) {
        // the user belongs to neither: the new file keeps the user's own group
    }
    fchmod(fd, replaced.st_mode & 07777);
}

// Writes the whole text through fd; returns 0 or the errno of the failed write.
int writeAll(int fd, const char* text, size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, text, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        text += written;
        length -= static_cast<size_t>(written);
    }
    return 0;
}

// Formats the rows in blocks and writes each block; returns 0 or an errno.
int writeRows(int fd, const FeatureMatrix& matrix, int32_t frameCount, int32_t first,
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
            if (int error = writeAll(fd, block.data(), used)) return error;
            used = 0;
        }
    }
    return writeAll(fd, block.data(), used);
}

// Closing a duplicate makes file systems that report write errors at close (NFS) report them
// now, before the file gets its name.
int closeDuplicate(int fd) {
    int duplicate = dup(fd);
    if (duplicate < 0) return errno;
    return close(duplicate) == 0 ? 0 : errno;
}

int writeAndPublish(const FeatureMatrix& matrix, int32_t frameCount, int32_t first, int32_t last,
                    int folder, const char* name, OutputPublication publication) {
    struct stat replaced;
    const bool replacing = publication == OUTPUT_REPLACE &&
                           fstatat(folder, name, &replaced, AT_SYMLINK_NOFOLLOW) == 0;
    bool unnamed = false;
    int fd = openOutputFile(folder, &unnamed);
    if (fd < 0) return errno;
    if (replacing) keepOwnerAndMode(fd, replaced);

    int error = writeRows(fd, matrix, frameCount, first, last);
    if (!error) error = closeDuplicate(fd);
    if (!error && unnamed && publication == OUTPUT_CREATE) {
        error = linkUnnamedFile(fd, folder, name);
    } else if (!error) {
        // No way to swap an unnamed file in: it takes a hidden name for the atomic rename.
        if (unnamed)
            error = armHiddenName([&](const char* hidden) { return linkUnnamedFile(fd, folder, hidden); });
        if (!error) error = publishHiddenName(name, publication);
    }
    close(fd);
    if (error) removeHiddenName();
    return error;
}

int reportFailure(const char* outputName, int error) {
    printError("ERROR: Cannot write output file %s: %s\n", outputName, strerror(error));
    return 1;
}

}  // namespace

int writeFeatureFile(const FeatureMatrix& matrix, int32_t frameCount, int32_t first, int32_t last,
                     const char* outputName, OutputPublication publication) {
    std::string target = outputName;
    if (publication == OUTPUT_REPLACE) {
        if (int error = resolveLinks(outputName, &target)) return reportFailure(outputName, error);
    }
    // The file is made in the output's own folder, so that naming it never crosses file systems.
    size_t slash = target.rfind('/');
    std::string folderName = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty()) return reportFailure(outputName, EISDIR);
    int folder = open(folderName.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return reportFailure(outputName, errno);

    installCleanup(folder);
    int error = writeAndPublish(matrix, frameCount, first, last, folder, name.c_str(), publication);
    removeCleanup();
    close(folder);
    return error ? reportFailure(outputName, error) : 0;
}
