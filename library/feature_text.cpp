#include "library/feature_text.h"

#include <vector>

#include "library/float_format.h"

namespace {

// Formats the rows in blocks and writes each block; returns 0 or an errno.
int writeRows(Publication* p, const FeatureMatrix& matrix, int32_t frameCount, int32_t first,
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
            if (int error = writePublication(p, block.data(), used)) return error;
            used = 0;
        }
    }
    return writePublication(p, block.data(), used);
}

}  // namespace

int publishFeatureText(const FeatureMatrix& matrix, int32_t frameCount, int32_t first,
                       int32_t last, const char* outputName, int32_t publication,
                       Publication* record) {
    if (int error = beginPublication(outputName, publication, 0, record)) return error;
    if (int error = writeRows(record, matrix, frameCount, first, last)) {
        abandonPublication(record);
        return error;
    }
    return finishPublication(record);
}

