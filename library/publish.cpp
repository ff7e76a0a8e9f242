#include "library/publish.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int MAX_LINK_DEPTH = 40;  // the kernel's own limit on links met in one path
constexpr int NAME_ATTEMPTS = 100;

int fail(Publication* publication, int error) {
    char buffer[PUBLISH_REASON_SIZE];
    const char* text = strerror_r(error, buffer, sizeof buffer);  // the GNU form: thread-safe
    snprintf(publication->reason, sizeof publication->reason, "%s", text);
    return error;
}

bool isStream(mode_t mode) {
    return S_ISFIFO(mode) || S_ISCHR(mode) || S_ISBLK(mode) || S_ISSOCK(mode);
}

// Blocks the caller's signals while a hidden name is made or goes, so that its handler never
// sees a name that is about to exist or has just gone.
struct HeldSignals {
    const sigset_t* held;
    sigset_t previous;
    explicit HeldSignals(const sigset_t* signals) : held(signals) {
        if (held) pthread_sigmask(SIG_BLOCK, held, &previous);
    }
    ~HeldSignals() {
        if (held) pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
};

// Runs makeName(name) on fresh hidden names until one is free. Returns 0 or an errno.
template <typename MakeName>
int makeHiddenName(Publication* p, MakeName makeName) {
    static const char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    int error = EEXIST;
    for (int attempt = 0; attempt < NAME_ATTEMPTS && error == EEXIST; ++attempt) {
        unsigned char random[6];
        if (getentropy(random, sizeof random) != 0) return errno;
        char name[PUBLISH_HIDDEN_NAME_SIZE];
        int length = snprintf(name, sizeof name, ".orvalix-");
        for (unsigned char r : random) name[length++] = LETTERS[r % (sizeof LETTERS - 1)];
        name[length] = '\0';
        HeldSignals hold(p->heldSignals);
        error = makeName(name);
        if (error == 0) {
            memcpy(p->hiddenName, name, sizeof name);
            p->hiddenExists = 1;
        }
    }
    return error;
}

void removeHiddenName(Publication* p) {
    HeldSignals hold(p->heldSignals);
    if (p->hiddenExists) unlinkat(p->folder, p->hiddenName, 0);
    p->hiddenExists = 0;
}

// Replacing follows the output's symbolic links, so the links stay and their target is judged.
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

// Gives an unnamed file (O_TMPFILE) a name; fails with EEXIST when the name is taken.
int linkUnnamedFile(int fd, int folder, const char* name) {
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    return linkat(AT_FDCWD, self, folder, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// The file the bytes go to: unnamed where the file system and /proc allow naming it later,
// else created under a hidden name. Returns 0 or an errno.
int openTemporaryFile(Publication* p) {
    p->unnamed = access("/proc/self/fd", X_OK) == 0;
    if (p->unnamed) {
        p->fd = openat(p->folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (p->fd >= 0) return 0;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return errno;
        p->unnamed = 0;  // EISDIR: a kernel that predates O_TMPFILE
    }
    return makeHiddenName(p, [&](const char* name) {
        p->fd = openat(p->folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        return p->fd < 0 ? errno : 0;
    });
}

// A FIFO, device or socket at the end of the links is written into; 1 when it is one.
int openStream(const std::string& target, Publication* p, int* error) {
    struct stat info;
    if (stat(target.c_str(), &info) != 0 || !isStream(info.st_mode)) return 0;
    p->fd = open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (p->fd < 0) {
        *error = errno;
        return 1;
    }
    if (fstat(p->fd, &info) == 0 && isStream(info.st_mode)) return 1;
    close(p->fd);  // a regular file took its place meanwhile: published as usual
    p->fd = -1;
    return 0;
}

// Whether the name may be replaced now: free, a regular file or a link (links were followed
// when the publication began; one made since is replaced, never what it points to).
int replaceable(int folder, const char* name) {
    struct stat info;
    if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return 0;
    if (S_ISDIR(info.st_mode)) return EISDIR;
    return S_ISREG(info.st_mode) || S_ISLNK(info.st_mode) ? 0 : EEXIST;
}

// Moves the hidden name onto the output name: replacing a file there, or only when the name is
// free. Returns 0 or an errno.
int moveHiddenName(Publication* p) {
    HeldSignals hold(p->heldSignals);
    int error = 0;
    if (p->mode == PUBLISH_REPLACE) {
        error = replaceable(p->folder, p->name);
        if (!error && renameat(p->folder, p->hiddenName, p->folder, p->name) != 0) error = errno;
    } else if (renameat2(p->folder, p->hiddenName, p->folder, p->name, RENAME_NOREPLACE) != 0) {
        error = errno;
        // A file system without the flag: a hard link is as exclusive, then the hidden name goes.
        if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
            error = linkat(p->folder, p->hiddenName, p->folder, p->name, 0) == 0 ? 0 : errno;
            if (error == 0) unlinkat(p->folder, p->hiddenName, 0);
        }
    }
    if (error == 0) p->hiddenExists = 0;
    return error;
}

// Closing a duplicate makes file systems that report write errors at close (NFS) report them
// now, before the file gets its name.
int closeDuplicate(int fd) {
    int duplicate = dup(fd);
    if (duplicate < 0) return errno;
    return close(duplicate) == 0 ? 0 : errno;
}

int nameFile(Publication* p) {
    if (p->durable && fsync(p->fd) != 0) return errno;
    if (int error = closeDuplicate(p->fd)) return error;
    if (p->unnamed && p->mode == PUBLISH_CREATE) return linkUnnamedFile(p->fd, p->folder, p->name);
    // No way to swap an unnamed file in: it takes a hidden name for the atomic rename.
    if (p->unnamed) {
        if (int error = makeHiddenName(p, [&](const char* hidden) {
                return linkUnnamedFile(p->fd, p->folder, hidden);
            }))
            return error;
    }
    return moveHiddenName(p);
}

}  // namespace

Publication emptyPublication() {
    Publication publication;
    memset(&publication, 0, sizeof publication);
    publication.fd = -1;
    publication.folder = -1;
    return publication;
}

int beginPublication(const char* outputName, int32_t mode, int durable, Publication* p) {
    const sigset_t* held = p->heldSignals;
    *p = emptyPublication();
    p->heldSignals = held;
    p->mode = mode;
    p->durable = durable;
    std::string target = outputName;
    if (mode == PUBLISH_REPLACE) {
        if (int error = resolveLinks(outputName, &target)) return fail(p, error);
        int error = 0;
        if (openStream(target, p, &error)) return error ? fail(p, error) : 0;
    }
    // The file is made in the output's own folder, so that naming it never crosses file systems.
    size_t slash = target.rfind('/');
    std::string folderName = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty()) return fail(p, EISDIR);
    if (name.size() >= sizeof p->name) return fail(p, ENAMETOOLONG);
    memcpy(p->name, name.c_str(), name.size() + 1);
    p->folder = open(folderName.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (p->folder < 0) return fail(p, errno);

    struct stat old;
    const bool exists = fstatat(p->folder, p->name, &old, AT_SYMLINK_NOFOLLOW) == 0;
    int error = 0;
    if (exists && mode == PUBLISH_CREATE) error = EEXIST;
    if (exists && mode == PUBLISH_REPLACE) error = replaceable(p->folder, p->name);
    if (!error) error = openTemporaryFile(p);
    if (error) {
        abandonPublication(p);
        return fail(p, error);
    }
    p->replaced = exists && S_ISREG(old.st_mode);
    if (p->replaced) keepOwnerAndMode(p->fd, old);
    return 0;
}

int writePublication(Publication* p, const char* bytes, size_t length) {
    while (length > 0) {
        ssize_t written = write(p->fd, bytes, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return fail(p, errno);
        }
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return 0;
}

int finishPublication(Publication* p) {
    int error = p->folder < 0 ? 0 : nameFile(p);
    if (close(p->fd) != 0 && !error) error = errno;
    p->fd = -1;
    if (error) {
        abandonPublication(p);
        return fail(p, error);
    }
    if (p->folder >= 0) close(p->folder);
    p->folder = -1;
    return 0;
}

void abandonPublication(Publication* p) {
    if (p->fd >= 0) close(p->fd);
    p->fd = -1;
    if (p->folder >= 0) {
        removeHiddenName(p);
        close(p->folder);
    }
    p->folder = -1;
}

int publishBytes(const char* outputName, int32_t mode, int durable, const char* bytes,
                 size_t length, Publication* p) {
    if (int error = beginPublication(outputName, mode, durable, p)) return error;
    if (int error = writePublication(p, bytes, length)) {
        abandonPublication(p);
        return error;
    }
    return finishPublication(p);
}
