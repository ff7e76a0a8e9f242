#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "modules/file.h"

// The file-name routines of the file module: existence, default extension, case-blind
// comparison and cutting off an extension. None of them prints anything.

int fileExists(const char* name) {
    // Non-blocking, so that a FIFO without a writer answers at once instead of hanging the open.
    int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return 0;  // absent, or present but unreadable: both count as absent
    }
    close(fd);
    return 1;
}

int nameExists(const char* name) {
    struct stat info;
    return lstat(name, &info) == 0 ? 1 : 0;
}

int addDefaultExtension(char* name, const char* extension, size_t capacity) {
    size_t length = strlen(name);
    // Only a dot in the last path component is an extension: look back from the end for the
    // nearest dot or folder separator.
    for (size_t i = length; i > 0; i--) {
        char c = name[i - 1];
        if (c == '.') {
            return 1;
        }
        if (c == '/' || c == '\\') {
            break;
        }
    }
    size_t extensionLength = strlen(extension);
    if (length + 1 + extensionLength + 1 > capacity) {
        return 0;
    }
    name[length] = '.';
    memcpy(name + length + 1, extension, extensionLength + 1);
    return 1;
}

int namesEqualIgnoreCase(const char* a, const char* b) {
    for (size_t i = 0;; i++) {
        if (a[i] == '\0' || b[i] == '\0') {
            return a[i] == '\0' && b[i] == '\0';
        }
        if (toupper(static_cast<unsigned char>(a[i])) !=
            toupper(static_cast<unsigned char>(b[i]))) {
            return 0;
        }
    }
}

int stripExtension(const char* source, char* target, size_t capacity) {
    if (capacity == 0) {
        return -1;
    }
    // Copies at most capacity - 1 characters, so the target always ends in a NUL.
    size_t length = strnlen(source, capacity - 1);
    memcpy(target, source, length);
    target[length] = '\0';
    const char* dot = strchr(target, '.');
    if (dot == nullptr) {
        return -1;
    }
    target[dot - target] = '\0';
    return static_cast<int>(dot - target);
}
