#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

void silenceStandardOutput() {
    if (!freopen("/dev/null", "w", stdout)) abort();
}

const char* memoryFileWith(const uint8_t* data, size_t size) {
    static int fd = -1;
    static char name[64];
    if (fd < 0) {
        fd = memfd_create("orvalix-fuzz-input", 0);
        if (fd < 0) abort();
        snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
    }
    if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) abort();
    for (size_t done = 0; done < size;) {
        ssize_t written = write(fd, data + done, size - done);
        if (written <= 0) abort();
        done += static_cast<size_t>(written);
    }
    return name;
}
