#include "main/feature_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "main/float_format.h"
#include "modules/console.h"

namespace {

// The temporary file lives beside the output, so the final rename never crosses file systems.
std::string temporaryNameTemplate(const char* outputName) {
    std::string name(outputName);
    size_t slash = name.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    return folder + ".orvalix-XXXXXX";
}

// The permissions a plain create would have given: 0666 less the process umask.
mode_t defaultFileMode() {
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

int reportFailure(const char* outputName, int error) {
    printError("ERROR: Cannot write output file %s: %s\n", outputName, strerror(error));
    return 1;
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

}  // namespace

int writeFeatureFile(const FeatureMatrix& matrix, int32_t frameCount, int32_t first, int32_t last,
                     const char* outputName) {
    std::string temporaryName = temporaryNameTemplate(outputName);
    int fd = mkstemp(temporaryName.data());
    if (fd < 0) return reportFailure(outputName, errno);

    int error = 0;
    if (fchmod(fd, defaultFileMode()) != 0) error = errno;
    if (!error) error = writeRows(fd, matrix, frameCount, first, last);
    if (close(fd) != 0 && !error) error = errno;
    if (!error && rename(temporaryName.c_str(), outputName) != 0) error = errno;
    if (error) {
        unlink(temporaryName.c_str());
        return reportFailure(outputName, error);
    }
    return 0;
}
