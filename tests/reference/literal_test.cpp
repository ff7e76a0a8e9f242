// Checks the literal reference pipeline against the reference runs, computed by another
// independent implementation, so that it can in turn vouch for the production code (see the
// differential test) and for the committed golden feature files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include <unistd.h>

#include "reference/golden_cases.h"
#include "reference/literal_options.h"
#include "reference/literal_pipeline.h"

namespace {

TEST(LiteralFrames, PowerDomainSquaresWithTheLibraryPow) {
    // A value where the library's pow(x, 2) and x * x round differently.
    volatile double x = 15037.899739583334;
    EXPECT_EQ(literal::librarySquare(x), 226138428.57776049);
    EXPECT_NE(literal::librarySquare(x), x * x);
}

// ---------------------------------------------------------------- golden corpus

#ifdef ORVALIX_SOURCE_DIR
// The corpus reads the data chunk where it lies when the header is not the
// canonical 44 bytes; its frames are then those of the chunk's samples.
bool readDataChunkWave(const std::string& path, literal::Wave& wave) {
    bool ok = false;
    std::string b = literal::readWholeFile(path, ok);
    if (!ok || b.size() < 12) return false;
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
               (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8) |
               (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16) |
               (static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24);
    };
    std::string fmt, data;
    for (size_t at = 12; at + 8 <= b.size();) {
        uint32_t size = u32(at + 4);
        if (b.compare(at, 4, "fmt ") == 0) fmt = b.substr(at + 8, 16);
        if (b.compare(at, 4, "data") == 0) { data = b.substr(at + 8, size); break; }
        at += 8 + size + (size & 1);
    }
    if (fmt.size() != 16) return false;
    std::string canonical = b.substr(0, 12) + "fmt " + std::string("\x10\0\0\0", 4) + fmt + "data" +
                            std::string(4, '\0') + data;
    // A file of its own: a fixed name in the shared temporary folder may belong to another user
    // or to a run going on at the same time.
    std::string temporary = ::testing::TempDir() + "literal_canonical_XXXXXX";
    int descriptor = mkstemp(temporary.data());
    if (descriptor < 0) return false;
    FILE* out = fdopen(descriptor, "wb");
    if (out == nullptr) { close(descriptor); unlink(temporary.c_str()); return false; }
    bool written = std::fwrite(canonical.data(), 1, canonical.size(), out) == canonical.size();
    written = std::fclose(out) == 0 && written;
    bool read = written && literal::readCanonicalWave(temporary, wave);
    unlink(temporary.c_str());
    return read;
}

// Empty when equal, else the first differing line of both texts (a whole feature
// file is too long to read in a failure message).
std::string firstDifference(const std::string& got, const std::string& expected) {
    if (got == expected) return "";
    size_t line = 1, start = 0;
    while (true) {
        size_t gotEnd = got.find('\n', start), expectedEnd = expected.find('\n', start);
        std::string a = got.substr(start, gotEnd == std::string::npos ? std::string::npos : gotEnd - start);
        std::string b = expected.substr(start, expectedEnd == std::string::npos ? std::string::npos : expectedEnd - start);
        if (a != b || gotEnd != expectedEnd || gotEnd == std::string::npos) {
            return "line " + std::to_string(line) + ":\n  got      " + a + "\n  expected " + b;
        }
        start = gotEnd + 1;
        line++;
    }
}

// Every analysed case of a reference corpus; a missing corpus fails.
void reproduceCorpus(const std::string& corpus) {
    std::vector<literal::GoldenCase> cases;
    ASSERT_TRUE(literal::loadGoldenCases(corpus, cases)) << "no reference corpus at " << corpus;
    ASSERT_FALSE(cases.empty());

    int compared = 0;
    for (const literal::GoldenCase& c : cases) {
        SCOPED_TRACE(c.id);
        literal::Options options;
        bool optionsValid = true;
        for (const std::string& arg : c.argv) {
            std::string error;
            if (arg[0] == '-' && !literal::applyOption(arg.c_str(), options, error)) optionsValid = false;
        }
        if (!optionsValid || c.inputPath.empty()) continue;  // refused before any analysis

        bool ok = false;
        std::string head = literal::readWholeFile(c.inputPath, ok);
        ASSERT_TRUE(ok) << "input missing from the corpus: " << c.inputPath;
        literal::Wave wave;
        bool canonical = head.size() >= 40 && head.compare(36, 4, "data") == 0;
        ASSERT_TRUE(canonical ? literal::readCanonicalWave(c.inputPath, wave)
                              : readDataChunkWave(c.inputPath, wave));

        literal::Analysis a = literal::analyseFull(wave.samples, wave.sampleRate, options);
        if (c.outputPath.empty()) {
            EXPECT_EQ(a.status, c.status);
            EXPECT_EQ(a.error, literal::readWholeFile(c.stderrPath, ok));
        } else {
            ASSERT_EQ(a.status, 0);
            std::string expected = literal::readWholeFile(c.outputPath, ok);
            ASSERT_TRUE(ok);
            EXPECT_EQ(firstDifference(literal::formatFeatures(a.rows, options.includeC0), expected), "");
        }
        compared++;
    }
    EXPECT_GE(compared, 19);
}

TEST(LiteralGolden, ReproducesTheRepositoryCorpus) {
    reproduceCorpus(std::string(ORVALIX_SOURCE_DIR) + "/tests/golden/shared");
}

#ifdef ORVALIX_SHARED_CORPUS
// The corpus beside the checkout may hold newer cases than the repository's copy.
TEST(LiteralGolden, ReproducesTheSharedCorpus) {
    reproduceCorpus(ORVALIX_SHARED_CORPUS);
}
#endif

#endif

}  // namespace
