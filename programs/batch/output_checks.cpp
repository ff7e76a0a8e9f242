// Refusals before any analysis: an output that is one of the run's inputs or another output, and
// an output folder that cannot take files.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "programs/batch/batch.h"

namespace {

// "." and ".." resolved and repeated slashes dropped, from an absolute name.
std::string lexicallyNormal(const std::string& absolute) {
    std::vector<std::string> parts;
    for (size_t start = 0; start < absolute.size();) {
        size_t slash = absolute.find('/', start);
        if (slash == std::string::npos) slash = absolute.size();
        const std::string part = absolute.substr(start, slash - start);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = slash + 1;
    }
    std::string normal;
    for (const std::string& part : parts) normal += "/" + part;
    return normal.empty() ? "/" : normal;
}

// What makes two names the same file: device and inode for a file that exists, else the name
// with its folder's links resolved (or, when the folder is yet to be made, as written).
std::string identityOf(const std::string& name) {
    struct stat status;
    if (stat(name.c_str(), &status) == 0)
        return "inode " + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
    std::string absolute = name;
    if (name.empty() || name[0] != '/') {
        char* here = getcwd(nullptr, 0);
        absolute = std::string(here ? here : ".") + "/" + name;
        free(here);
    }
    return "name " + lexicallyNormal(absolutePath(lexicallyNormal(absolute)));
}

}  // namespace

std::string findSharedFile(const std::vector<NamedFile>& inputs, const std::vector<NamedFile>& outputs) {
    std::map<std::string, const NamedFile*> seen;
    for (const NamedFile& input : inputs) seen.emplace(identityOf(input.name), &input);
    for (const NamedFile& output : outputs) {
        auto [at, added] = seen.emplace(identityOf(output.name), &output);
        if (!added)
            return "the " + output.role + " " + output.name + " is the same file as the " + at->second->role + " " +
                   at->second->name;
    }
    return "";
}

bool usableFolderFor(const std::string& fileName, std::string* message) {
    if (!makeParentFolders(fileName, message)) return false;
    size_t slash = fileName.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : fileName.substr(0, slash);
    struct stat status;
    if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        *message = "cannot write into " + folder + ": not a folder";
        return false;
    }
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        *message = "cannot write into " + folder + ": " + strerror(errno);
        return false;
    }
    return true;
}
