// Outputs that appear only when complete, by the library's publisher (library/publish.h).
#include <limits.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "programs/batch/batch.h"

namespace {

std::string folderOf(const std::string& name) {
    size_t slash = name.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : name.substr(0, slash);
}

bool failed(const PendingFile& file, std::string* message) {
    *message = "cannot write " + file.finalName + ": " + file.publication.reason;
    return false;
}

}  // namespace

bool makeParentFolders(const std::string& fileName, std::string* message) {
    const std::string folder = folderOf(fileName);
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            *message = "cannot create the folder " + part + ": " + strerror(errno);
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
    return beginPublication(finalName.c_str(), PUBLISH_REPLACE, 0, &file->publication) == 0 ||
           failed(*file, message);
}

bool appendToFile(PendingFile* file, const char* bytes, size_t length, std::string* message) {
    return writePublication(&file->publication, bytes, length) == 0 || failed(*file, message);
}

bool commitFile(PendingFile* file, bool durable, std::string* message) {
    file->publication.durable = durable;
    return finishPublication(&file->publication) == 0 || failed(*file, message);
}

void abandonFile(PendingFile* file) {
    abandonPublication(&file->publication);
}

bool writeWholeFile(const std::string& finalName, const std::string& bytes, bool durable,
                    std::string* message) {
    PendingFile file;
    file.finalName = finalName;
    return publishBytes(finalName.c_str(), PUBLISH_REPLACE, durable, bytes.data(), bytes.size(),
                        &file.publication) == 0 ||
           failed(file, message);
}
