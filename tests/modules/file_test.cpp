#include "modules/file.h"

#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "options/option_table.h"
#include "support/capture.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string scratchPath(const std::string& leaf)
{
    return testing::TempDir() + "orvalix_file_" + std::to_string(getpid()) + "_" + leaf;
}

// A stream holding the given bytes, positioned at its start.
FILE* streamWith(const Bytes& bytes)
{
    FILE* f = tmpfile();
    if (!bytes.empty())
        fwrite(bytes.data(), 1, bytes.size(), f);
    rewind(f);
    return f;
}

Bytes contentsOf(FILE* f)
{
    fflush(f);
    rewind(f);
    Bytes bytes;
    int c;
    while ((c = getc(f)) != EOF)
        bytes.push_back(static_cast<unsigned char>(c));
    return bytes;
}

// What the action writes to standard error.
template <typename Action>
std::string capturedStderr(Action action)
{
    return captureOutput(action).err;
}

TEST(OpenFile, ModesAndExistenceRules)
{
    std::string path = scratchPath("open.bin");
    remove(path.c_str());
    FILE* f = nullptr;
    EXPECT_EQ(capturedStderr([&] { f = openFile(path.c_str(), 1, 0); }),
              "ERROR: Cannot find the file: " + path + "\n");
    EXPECT_EQ(f, nullptr);

    EXPECT_EQ(capturedStderr([&] { f = openFile(path.c_str(), 0, 0); }), "");
    ASSERT_NE(f, nullptr);
    fputs("old", f);
    rewind(f);  // opened for reading too
    EXPECT_EQ(getc(f), 'o');
    fclose(f);

    EXPECT_EQ(capturedStderr([&] { f = openFile(path.c_str(), 0, 0); }),
              "ERROR: File already exists: " + path + "\n");
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(capturedStderr([&] { f = openFile(path.c_str(), 0, 2); }),
              "ERROR: File already exists: " + path + "\n");
    EXPECT_EQ(f, nullptr);

    EXPECT_EQ(capturedStderr([&] { f = openFile(path.c_str(), 0, 1); }), "");
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(contentsOf(f).empty());  // the old file was replaced
    fclose(f);

    f = openFile(path.c_str(), 1, 0);
    ASSERT_NE(f, nullptr);
    fclose(f);

    std::string noDir = scratchPath("missing/dir.bin");
    EXPECT_EQ(capturedStderr([&] { f = openFile(noDir.c_str(), 0, 0); }),
              "ERROR: Couldn't open the file: " + noDir + "\n");
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(capturedStderr([&] { f = openFile(path.c_str(), 2, 0); }), "ERROR: Invalid file mode:2");
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(capturedStderr([&] { f = openFile(path.c_str(), -1, 1); }), "ERROR: Invalid file mode:-1");
    remove(path.c_str());
}

TEST(FixedWidthIntegers, ByteOrders)
{
    FILE* f = streamWith(Bytes{0x01, 0x02, 0x01, 0x02});
    int32_t value = 0;
    EXPECT_EQ(readBigEndian(f, &value, 2), 2);
    EXPECT_EQ(value, 258);
    EXPECT_EQ(readLittleEndian(f, &value, 2), 2);
    EXPECT_EQ(value, 513);
    fclose(f);

    f = streamWith(Bytes{0xFF, 0xFE, 0xFD, 0xFC, 0xFC, 0xFD, 0xFE, 0xFF});
    EXPECT_EQ(readBigEndian(f, &value, 4), 4);
    EXPECT_EQ(value, static_cast<int32_t>(0xFFFEFDFCu));
    EXPECT_EQ(readLittleEndian(f, &value, 4), 4);
    EXPECT_EQ(value, static_cast<int32_t>(0xFFFEFDFCu));
    fclose(f);
}

TEST(FixedWidthIntegers, EndOfFileKeepsWhatWasRead)
{
    const std::string message = "ERROR: unable to read from file.\n";
    int32_t value = -1;
    int count = -1;
    FILE* f = streamWith(Bytes{0x07});
    EXPECT_EQ(capturedStderr([&] { count = readBigEndian(f, &value, 2); }), message);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(value, 0x0700);  // the shift came before the failed read
    fclose(f);

    f = streamWith(Bytes{0x07});
    EXPECT_EQ(capturedStderr([&] { count = readLittleEndian(f, &value, 3); }), message);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(value, 7);
    fclose(f);

    f = streamWith(Bytes{});
    EXPECT_EQ(capturedStderr([&] { count = readBigEndian(f, &value, 4); }), message);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(value, 0);
    fclose(f);
}

TEST(FixedWidthIntegers, WriteBigEndianRange)
{
    FILE* f = tmpfile();
    EXPECT_EQ(writeBigEndian(f, 65535, 2), 2);
    EXPECT_EQ(writeBigEndian(f, -1, 2), 2);
    int written = -1;
    EXPECT_EQ(capturedStderr([&] { written = writeBigEndian(f, 65536, 2); }),
              "ERROR: Vector element value is too big (65536). Increase bytes/elem ratio.\n");
    EXPECT_EQ(written, 0);
    EXPECT_EQ(writeBigEndian(f, 255, 1), 1);
    EXPECT_EQ(writeBigEndian(f, -300, 1), 1);  // negative values are never refused
    EXPECT_EQ(writeBigEndian(f, 0x01020304, 4), 4);
    EXPECT_EQ(writeBigEndian(f, 0x7FFFFFFF, 4), 4);
    EXPECT_EQ(writeBigEndian(f, 0x10000, 3), 3);
    EXPECT_EQ(contentsOf(f), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xD4, 0x01, 0x02, 0x03, 0x04,
                                    0x7F, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00}));
    fclose(f);

    std::string path = scratchPath("readonly.bin");
    FILE* created = fopen(path.c_str(), "wb");
    ASSERT_NE(created, nullptr);
    fclose(created);
    FILE* readOnly = fopen(path.c_str(), "rb");
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(capturedStderr([&] { written = writeBigEndian(readOnly, 5, 2); }),
              "ERROR: unable to write to file.");
    EXPECT_EQ(written, 0);
    fclose(readOnly);
    remove(path.c_str());
}

TEST(BitStreams, WriterPacksMostSignificantBitFirst)
{
    FILE* f = tmpfile();
    BitWriter writer;
    writer.stream = f;
    writer.currentByte = 0x5A5A;  // whatever was there: every written bit replaces it
    initBitWriter(&writer);
    writeBit(&writer, 1);
    writeBit(&writer, 0);
    writeBit(&writer, 1);
    flushBits(&writer);
    EXPECT_EQ(writer.bitCount, 0);
    flushBits(&writer);  // nothing gathered: nothing written
    writeBits(&writer, 6, 3);
    flushBits(&writer);
    writeBits(&writer, 0xC5, 8);  // a whole byte leaves at once, least significant bit first
    EXPECT_EQ(writer.bitCount, 0);
    writeBits(&writer, -1, 9);
    flushBits(&writer);
    EXPECT_EQ(contentsOf(f), (Bytes{0xA0, 0x60, 0xA3, 0xFF, 0x80}));
    fclose(f);
}

TEST(BitStreams, ReaderTakesTheValueBackAndCountsEndOfFileAsOne)
{
    FILE* f = streamWith(Bytes{0x60, 0xA0});
    BitReader reader;
    initBitReader(&reader, f);
    EXPECT_EQ(reader.bitsLeft, 0);
    EXPECT_EQ(readBits(&reader, 3), 6);
    EXPECT_EQ(reader.bitsLeft, 5);
    EXPECT_EQ(readBits(&reader, 5), 0);
    EXPECT_EQ(readBit(&reader), 1);
    EXPECT_EQ(readBit(&reader), 0);
    EXPECT_EQ(readBits(&reader, 6), 1);
    int bit = 0;
    EXPECT_EQ(capturedStderr([&] { bit = readBit(&reader); }), "Unexpected EOF in input file.\n");
    EXPECT_EQ(bit, -1);
    EXPECT_EQ(reader.bitsLeft, 0);
    int value = 0;
    EXPECT_EQ(capturedStderr([&] { value = readBits(&reader, 2); }),
              "Unexpected EOF in input file.\nUnexpected EOF in input file.\n");
    EXPECT_EQ(value, 3);
    fclose(f);
}

TEST(BitStreamsDeathTest, WriterAcceptsOnlyZeroAndOne)
{
    BitWriter writer;
    writer.stream = nullptr;
    initBitWriter(&writer);
    EXPECT_DEATH(writeBit(&writer, 2), "modules/file.*bit == 0 \\|\\| bit == 1");
}

TEST(ParameterHeader, HoldsTheCepstralCountBigEndian)
{
    int saved = optionValue(ROW_CEPSTRAL_COUNT);
    int marked = 0;
    for (int row = FIRST_OPTION_ROW; row <= LAST_OPTION_ROW; ++row)
        marked += optionSaveFlag(row) ? 1 : 0;
    ASSERT_EQ(marked, 1);
    ASSERT_TRUE(optionSaveFlag(ROW_CEPSTRAL_COUNT));

    storeOptionValue(ROW_CEPSTRAL_COUNT, 0x0123);
    FILE* f = tmpfile();
    saveParameterHeader(f);
    EXPECT_EQ(contentsOf(f), (Bytes{0x01, 0x23}));
    fclose(f);

    f = streamWith(Bytes{0x00, 0x07, 0x55});
    loadParameterHeader(f);
    EXPECT_EQ(optionValue(ROW_CEPSTRAL_COUNT), 7);
    EXPECT_EQ(getc(f), 0x55);  // exactly two bytes were taken
    fclose(f);

    f = streamWith(Bytes{0xFF, 0xFF});
    loadParameterHeader(f);  // stored without a range check
    EXPECT_EQ(optionValue(ROW_CEPSTRAL_COUNT), 65535);
    fclose(f);
    storeOptionValue(ROW_CEPSTRAL_COUNT, saved);
}

}  // namespace
