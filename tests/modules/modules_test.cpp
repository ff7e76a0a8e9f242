// The support routines a run of the program never calls (file utilities, the parameter header, the
// progress display) and the console's length bounds: their contracts, a table each.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "modules/console.h"
#include "modules/file.h"
#include "options/option_table.h"

using Bytes = std::vector<unsigned char>;

static FILE* streamWith(const Bytes& bytes) {
    FILE* f = tmpfile();
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
    return f;
}

static Bytes contentsOf(FILE* f) {  // and closes it
    rewind(f);
    Bytes bytes;
    for (int c; (c = getc(f)) != EOF;) bytes.push_back(static_cast<unsigned char>(c));
    fclose(f);
    return bytes;
}

template <typename Action>
static std::string errorText(Action action) {
    testing::internal::CaptureStderr();
    action();
    return testing::internal::GetCapturedStderr();
}

TEST(OpenFile, ModesAndExistenceRules) {
    const std::string path = testing::TempDir() + "orvalix_open_" + std::to_string(getpid()),
                      none = path + "/x", exists = "ERROR: File already exists: " + path + "\n";
    const struct { std::string name; int mode, overwrite; bool opens; std::string err; } cases[] = {
        {path, 1, 0, false, "ERROR: Cannot find the file: " + path + "\n"},
        {path, 0, 0, true, ""},
        {path, 0, 0, false, exists},
        {path, 0, 2, false, exists},
        {path, 0, 1, true, ""},  // replaces the old file: empty again
        {path, 1, 0, true, ""},
        {none, 0, 0, false, "ERROR: Couldn't open the file: " + none + "\n"},
        {path, 2, 0, false, "ERROR: Invalid file mode:2"},
        {path, -1, 1, false, "ERROR: Invalid file mode:-1"},
    };
    for (const auto& c : cases) {
        FILE* f = nullptr;
        EXPECT_EQ(errorText([&] { f = openFile(c.name.c_str(), c.mode, c.overwrite); }), c.err);
        ASSERT_EQ(f != nullptr, c.opens) << c.err;
        if (f && c.mode == 0) {  // created empty, opened for reading too
            EXPECT_TRUE(getc(f) == EOF && fputs("old", f) >= 0 && fseek(f, 0, SEEK_SET) == 0 &&
                        getc(f) == 'o');
        }
        if (f) fclose(f);
    }
    EXPECT_EQ(fileExists(path.c_str()), 1);
    remove(path.c_str());
    EXPECT_EQ(fileExists(path.c_str()) + access(path.c_str(), F_OK), -1);  // asking created nothing
}

TEST(FixedWidthIntegers, ByteOrdersEndOfFileAndRange) {
    const std::string eof = "ERROR: unable to read from file.\n";
    const int32_t high = static_cast<int32_t>(0xFFFEFDFCu);
    const struct { Bytes bytes; bool bigEndian; int n, count, value; std::string err; } reads[] = {
        {{1, 2}, true, 2, 2, 258, ""},
        {{1, 2}, false, 2, 2, 513, ""},
        {{0xFF, 0xFE, 0xFD, 0xFC}, true, 4, 4, high, ""},
        {{0xFC, 0xFD, 0xFE, 0xFF}, false, 4, 4, high, ""},
        {{7}, true, 2, 1, 0x0700, eof},  // the shift came before the failed read
        {{7}, false, 3, 1, 7, eof},
        {{}, true, 4, 0, 0, eof}};
    for (const auto& r : reads) {
        FILE* f = streamWith(r.bytes);
        int32_t value = -1, count = -1;
        auto read = r.bigEndian ? readBigEndian : readLittleEndian;
        EXPECT_EQ(errorText([&] { count = read(f, &value, r.n); }), r.err);
        EXPECT_EQ(std::make_pair(count, value), std::make_pair(r.count, r.value));
        fclose(f);
    }
    FILE* f = tmpfile();
    for (auto [value, n] : {std::pair<int32_t, int>{65535, 2}, {-1, 2}, {255, 1}, {-300, 1},
                            {0x01020304, 4}, {0x7FFFFFFF, 4}, {0x10000, 3}})
        EXPECT_EQ(writeBigEndian(f, value, n), n) << value;
    int written = -1;
    EXPECT_EQ(errorText([&] { written = writeBigEndian(f, 65536, 2); }),
              "ERROR: Vector element value is too big (65536). Increase bytes/elem ratio.\n");
    EXPECT_EQ(contentsOf(f), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xD4, 1, 2, 3, 4, 0x7F, 0xFF,
                                    0xFF, 0xFF, 1, 0, 0}));
    FILE* readOnly = fopen("/dev/null", "rb");
    EXPECT_EQ(errorText([&] { written += writeBigEndian(readOnly, 5, 2); }),
              "ERROR: unable to write to file.");
    EXPECT_EQ(written, 0);  // nothing written either time
    fclose(readOnly);
}

TEST(BitStreams, MostSignificantBitFirstAndEndOfFileAsOne) {
    BitWriter writer{tmpfile(), 0, 0x5A5A};  // whatever was there: every written bit replaces it
    initBitWriter(&writer);
    writeBit(&writer, 1), writeBit(&writer, 0), writeBit(&writer, 1);
    flushBits(&writer), flushBits(&writer);  // the second has nothing to write
    writeBits(&writer, 6, 3), flushBits(&writer);
    writeBits(&writer, 0xC5, 8);  // a whole byte leaves at once, least significant bit first
    EXPECT_EQ(writer.bitCount, 0);
    writeBits(&writer, -1, 9), flushBits(&writer);
    EXPECT_EQ(contentsOf(writer.stream), (Bytes{0xA0, 0x60, 0xA3, 0xFF, 0x80}));
    EXPECT_DEATH(writeBit(&writer, 2), "bit == 0 \\|\\| bit == 1");

    BitReader reader;
    initBitReader(&reader, streamWith({0x60, 0xA0}));
    const int widths[] = {3, 5, 1, 1, 6}, values[] = {6, 0, 1, 0, 1};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(readBits(&reader, widths[i]), values[i]) << i;
    const std::string eof = "Unexpected EOF in input file.\n";
    int bit = 0, bits = 0;
    EXPECT_EQ(errorText([&] { bit = readBit(&reader), bits = readBits(&reader, 2); }),
              eof + eof + eof);
    EXPECT_EQ(std::make_tuple(bit, bits, reader.bitsLeft), std::make_tuple(-1, 3, 0));
    fclose(reader.stream);
}

// The cepstral count alone, big-endian: a row saved too, or not, changes the bytes.
TEST(ParameterHeader, HoldsTheCepstralCountBigEndian) {
    storeOptionValue(ROW_CEPSTRAL_COUNT, 0x0123);
    FILE* f = tmpfile();
    saveParameterHeader(f);
    EXPECT_EQ(contentsOf(f), (Bytes{0x01, 0x23}));
    for (auto [bytes, value] : {std::make_pair(Bytes{0, 7, 0x55}, 7), {Bytes{0xFF, 0xFF}, 65535}}) {
        f = streamWith(bytes);
        loadParameterHeader(f);  // stored without a range check
        EXPECT_EQ(optionValue(ROW_CEPSTRAL_COUNT), value);
        EXPECT_EQ(ftell(f), 2L);
        fclose(f);
    }
    storeOptionValue(ROW_CEPSTRAL_COUNT, optionDefault(ROW_CEPSTRAL_COUNT));
}

TEST(StripExtension, CutsAtTheFirstDotWithinTheTarget) {
    const struct { const char* name; size_t capacity; int result; const char* text; } cases[] = {
        {"song.wav", 64, 4, "song"}, {"a.b/c.d", 64, 1, "a"}, {"./d/f.wav", 64, 0, ""},
        {"plain", 64, -1, "plain"}, {"longname.wav", 6, -1, "longn"}, {"ab.cdefgh", 6, 2, "ab"},
        {"x", 0, -1, "GGGGGGG"}};
    for (const auto& c : cases) {
        char target[65] = "GGGGGGG";
        EXPECT_EQ(stripExtension(c.name, target, c.capacity), c.result) << c.name;
        EXPECT_STREQ(target, c.text);
        EXPECT_EQ(target[6], c.capacity == 6 ? 'G' : target[6]) << "never past the target";
    }
}

TEST(Console, MessageStreamsTheirBoundsAndTheProgressDisplay) {
    const std::string longText(3000, 'x');
    int counts = 0;
    testing::internal::CaptureStdout();
    const std::string err = errorText([&] {
        printMessage("a%d", 1), selectMessageStream(1), printMessage("b"), printOutput("c%s", "!");
        selectMessageStream(0);
        counts = printMessage("%s", longText.c_str()) + printError("%s", longText.c_str());
    });
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "a1c!" + std::string(255, 'x'));
    EXPECT_EQ(err, "b" + std::string(1023, 'x'));
    EXPECT_EQ(counts, 255 + 1023);

    const std::string erase = std::string("\r").append(70, ' ') + "\r", blanks(12, ' ');
    auto back = [](int n) { return std::string(static_cast<size_t>(n), '\b'); };
    std::string spinner = back(14) + " stage complete" + back(12) + "  wait...     ";
    for (char face : std::string("-\\|/-\\|/")) spinner += back(13) + "(" + face + ") 50 % done";
    static int statusCounts;
    const struct { void (*action)(); std::string err; } cases[] = {
        {[] { showPercent(1, 0); }, ""},
        {[] { showPercent(1, 3), showPercent(2, 3), showPercent(3, 3); },
         back(12) + " 33 % done  " + back(12) + " 66 % done  " + back(12) + "100 % done  "},
        {[] { showSpinner(0, 0), showSpinner(0, 10);
              for (int i = 0; i < 8; ++i) showSpinner(5, 10); }, spinner},  // round twice
        {[] { statusCounts = printStatusLine("gone") * 10, endProgress(), beginProgress();
              statusCounts += printStatusLine("step %d", 2), endProgress(); },
         erase + "step 2" + blanks + erase + blanks + "\r"},  // nothing outside a stage
        {[] { setProgressQuiet(1), showPercent(1, 2), showSpinner(1, 2), beginProgress();
              printStatusLine("x"), endProgress(), setProgressQuiet(0); },
         erase + "x" + blanks + erase + blanks + "\r"},
        {[] { beginProgress(), setProgressEnabled(0), showPercent(1, 2), showSpinner(1, 2);
              printStatusLine("y"), endProgress(), printStatusLine("z"), setProgressEnabled(1); },
         erase + "y" + blanks},
    };
    for (const auto& c : cases) EXPECT_EQ(errorText(c.action), c.err);
    EXPECT_EQ(statusCounts, 6);
}
