// Outputs that appear only when complete: written into a nameless file in the target folder
// (or, where the file system has none, a hidden temporary name) and then given their name.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/batch/batch.h"

namespace {

std::string folderOf(const std::string& name) {
    size_t slash = name.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : name.substr(0, slash);
}

std::string failure(const std::string& what, const std::string& name) {
    return "cannot " + what + " " + name + ": " + strerror(errno);
}

// A name no other thread or process of this run uses, beside the final name.
std::string temporaryBeside(const std::string& finalName) {
    static std::atomic<unsigned> counter{0};
    size_t slash = finalName.rfind('/');
    std::string folder = slash == std::string::npos ? "" : finalName.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? finalName : finalName.substr(slash + 1);
    return folder + "." + base + ".orvalix-batch." + std::to_string(getpid()) + "." +
           std::to_string(counter.fetch_add(1));
}

}  // namespace

bool makeParentFolders(const std::string& fileName, std::string* message) {
    const std::string folder = folderOf(fileName);
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            *message = failure("create the folder", part);
            return false;
        }
        if (slash == std::string::npos) return true;
    }
}

std::string absolutePath(const std::string& name) {
    char resolved[PATH_MAX];
    std::string folder = folderOf(name);
    if (!realpath(folder.c_str(), resolved)) return name;
    size_t slash = name.rfind('/');
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    std::string path(resolved);
    return path == "/" ? "/" + base : path + "/" + base;
}

bool beginFile(const std::string& finalName, PendingFile* file, std::string* message) {
    file->finalName = finalName;
    file->temporaryName.clear();
    file->fd = open(folderOf(finalName).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (file->fd >= 0) return true;
    file->temporaryName = temporaryBeside(finalName);
    file->fd = open(file->temporaryName.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (file->fd >= 0) return true;
    *message = failure("write", finalName);
    return false;
}

bool appendToFile(PendingFile* file, const char* bytes, size_t length, std::string* message) {
    while (length > 0) {
        ssize_t written = write(file->fd, bytes, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            *message = failure("write", file->finalName);
            return false;
        }
        bytes += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

bool commitFile(PendingFile* file, bool durable, std::string* message) {
    if (durable && fsync(file->fd) != 0) {
        *message = failure("write", file->finalName);
        abandonFile(file);
        return false;
    }
    if (file->temporaryName.empty()) {
        // A nameless file gets its final name at once when that is free, else a temporary one
        // that is then renamed over the old file.
        std::string self = "/proc/self/fd/" + std::to_string(file->fd);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, file->finalName.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            close(file->fd);
            file->fd = -1;
            return true;
        }
        if (errno != EEXIST) {
            *message = failure("write", file->finalName);
            abandonFile(file);
            return false;
        }
        file->temporaryName = temporaryBeside(file->finalName);
        if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, file->temporaryName.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            file->temporaryName.clear();
            *message = failure("write", file->finalName);
            abandonFile(file);
            return false;
        }
    }
    if (close(file->fd) != 0 || rename(file->temporaryName.c_str(), file->finalName.c_str()) != 0) {
        file->fd = -1;
        *message = failure("write", file->finalName);
        abandonFile(file);
        return false;
    }
    file->fd = -1;
    return true;
}

void abandonFile(PendingFile* file) {
    if (file->fd >= 0) close(file->fd);
    if (!file->temporaryName.empty()) unlink(file->temporaryName.c_str());
    file->fd = -1;
    file->temporaryName.clear();
}

bool writeWholeFile(const std::string& finalName, const std::string& bytes, bool durable,
                    std::string* message) {
    PendingFile file;
    if (!beginFile(finalName, &file, message)) return false;
    if (!appendToFile(&file, bytes.data(), bytes.size(), message)) {
        abandonFile(&file);
        return false;
    }
    return commitFile(&file, durable, message);
}
