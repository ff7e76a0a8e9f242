#include "wave/riff_chunk_file.h"

#include <cstring>

#include "wave/result_codes.h"
#include "wave_test_support.h"

namespace {

TEST(ResultCodeName, NamesTheSevenCodes)
{
    EXPECT_STREQ(resultCodeName(0), "RFX_SUCCESS");
    EXPECT_STREQ(resultCodeName(1), "RFX_FAILURE");
    EXPECT_STREQ(resultCodeName(2), "RFX_OUT_OF_MEMORY");
    EXPECT_STREQ(resultCodeName(3), "RFX_FILE_ERROR");
    EXPECT_STREQ(resultCodeName(4), "RFX_INVALID_CALL");
    EXPECT_STREQ(resultCodeName(5), "RFX_USER_ABORT");
    EXPECT_STREQ(resultCodeName(6), "RFX_INVALID_FILE");
}

TEST(ResultCodeName, FormatsUnknownCodesIntoOneSharedBuffer)
{
    const char* seven = resultCodeName(7);
    EXPECT_STREQ(seven, "RFXRET(7)");
    const char* minusOne = resultCodeName(-1);
    EXPECT_STREQ(minusOne, "RFXRET(-1)");
    EXPECT_EQ(seven, minusOne);  // the second call overwrote the first
    EXPECT_STREQ(resultCodeName(INT32_MIN), "RFXRET(-2147483648)");
}

TEST(PackChunkId, PadsWithBlanksAndKeepsByteOrder)
{
    uint32_t fmt = packChunkId("fmt");
    unsigned char image[4];
    memcpy(image, &fmt, 4);  // stored in memory as the file's four bytes (little-endian host)
    EXPECT_EQ(memcmp(image, "fmt ", 4), 0);
    EXPECT_EQ(packChunkId("fmt"), packChunkId("fmt "));
    EXPECT_EQ(packChunkId(""), 0x20202020u);
    EXPECT_EQ(packChunkId("RIFFX"), packChunkId("RIFF"));
    EXPECT_EQ(packChunkId("data"), 0x61746164u);
}

TEST(RiffChunkFile, StartsClosedWithAnEmptyRiffHeader)
{
    RiffChunkFile file;
    EXPECT_EQ(file.state(), RIFF_CLOSED);
    EXPECT_EQ(file.header().id, packChunkId("RIFF"));
    EXPECT_EQ(file.header().size, 0u);
    EXPECT_EQ(file.writeRaw("x", 1), RFX_INVALID_CALL);
    EXPECT_EQ(file.seekAndWrite(0, "x", 1), RFX_INVALID_CALL);
    EXPECT_EQ(file.close(), RFX_SUCCESS);
}

TEST(RiffChunkFile, RejectsUnknownModesWithoutTouchingTheFile)
{
    std::string path = tempPath("mode.bin");
    remove(path.c_str());
    RiffChunkFile file;
    EXPECT_EQ(file.open(path.c_str(), 0), RFX_INVALID_CALL);
    EXPECT_EQ(file.open(path.c_str(), 3), RFX_INVALID_CALL);
    EXPECT_EQ(file.state(), RIFF_CLOSED);
    EXPECT_EQ(fopen(path.c_str(), "rb"), nullptr);
}

TEST(RiffChunkFile, WritingCountsBytesAndRewritesTheHeaderOnClose)
{
    std::string path = tempPath("write.bin");
    {
        RiffChunkFile file;
        ASSERT_EQ(file.open(path.c_str(), RIFF_OPEN_WRITE), RFX_SUCCESS);
        EXPECT_EQ(file.state(), RIFF_WRITING);
        EXPECT_EQ(file.fileSize(), -1);
        EXPECT_EQ(file.tell(), 8);
        EXPECT_EQ(file.writeRaw("ABCDEF", 6), RFX_SUCCESS);
        EXPECT_EQ(file.header().size, 6u);
        // Overwriting leaves the count alone.
        EXPECT_EQ(file.seekAndWrite(9, "xy", 2), RFX_SUCCESS);
        EXPECT_EQ(file.header().size, 6u);
        EXPECT_EQ(file.close(), RFX_SUCCESS);
        EXPECT_EQ(file.state(), RIFF_CLOSED);
    }
    Bytes expected;
    appendText(expected, "RIFF");
    append32(expected, 6);
    appendText(expected, "AxyDEF");
    EXPECT_EQ(readWholeFile(path), expected);
}

TEST(RiffChunkFile, DestroyingAWritingFileClosesIt)
{
    std::string path = tempPath("destroy.bin");
    {
        RiffChunkFile file;
        ASSERT_EQ(file.open(path.c_str(), RIFF_OPEN_WRITE), RFX_SUCCESS);
        ASSERT_EQ(file.writeRaw("abc", 3), RFX_SUCCESS);
    }
    Bytes bytes = readWholeFile(path);
    ASSERT_EQ(bytes.size(), 11u);
    EXPECT_EQ(read32At(bytes, 4), 3u);
}

TEST(RiffChunkFile, ReadingTakesTheLeadingHeaderAndTheFileSize)
{
    Bytes bytes;
    appendText(bytes, "XYZW");
    append32(bytes, 0xDEADBEEF);
    appendText(bytes, "WAVEtail");
    std::string path = writeTempFile("read.bin", bytes);
    RiffChunkFile file;
    ASSERT_EQ(file.open(path.c_str(), RIFF_OPEN_READ), RFX_SUCCESS);
    EXPECT_EQ(file.state(), RIFF_READING);
    EXPECT_EQ(file.header().id, packChunkId("XYZW"));
    EXPECT_EQ(file.header().size, 0xDEADBEEFu);
    EXPECT_EQ(file.fileSize(), 16);
    EXPECT_EQ(file.writeRaw("x", 1), RFX_INVALID_CALL);
    EXPECT_EQ(file.expectText("WAVE", 4), RFX_SUCCESS);
    EXPECT_EQ(file.tell(), 12);
    EXPECT_EQ(file.expectText("taIl", 4), RFX_FILE_ERROR);
    EXPECT_EQ(file.tell(), 15);  // stopped after the first difference
    EXPECT_EQ(file.seek(12), RFX_SUCCESS);
    char tail[5] = {};
    EXPECT_EQ(file.readRaw(tail, 4), RFX_SUCCESS);
    EXPECT_STREQ(tail, "tail");
    EXPECT_EQ(file.readRaw(tail, 1), RFX_FILE_ERROR);
    EXPECT_EQ(file.expectText("x", 1), RFX_FILE_ERROR);
    EXPECT_EQ(file.close(), RFX_SUCCESS);
    EXPECT_EQ(file.state(), RIFF_CLOSED);
}

TEST(RiffChunkFile, OpenFailuresLeaveTheObjectClosed)
{
    RiffChunkFile file;
    EXPECT_EQ(file.open(tempPath("absent.bin").c_str(), RIFF_OPEN_READ), RFX_FILE_ERROR);
    EXPECT_EQ(file.state(), RIFF_CLOSED);
    std::string shortFile = writeTempFile("seven.bin", Bytes(7, 'R'));
    EXPECT_EQ(file.open(shortFile.c_str(), RIFF_OPEN_READ), RFX_FILE_ERROR);
    EXPECT_EQ(file.state(), RIFF_CLOSED);
    EXPECT_EQ(file.open(tempPath("no/such/dir.bin").c_str(), RIFF_OPEN_WRITE), RFX_FILE_ERROR);
    EXPECT_EQ(file.state(), RIFF_CLOSED);
}

TEST(RiffChunkFile, OpeningAnOpenObjectClosesItFirst)
{
    std::string first = tempPath("first.bin");
    std::string second = tempPath("second.bin");
    RiffChunkFile file;
    ASSERT_EQ(file.open(first.c_str(), RIFF_OPEN_WRITE), RFX_SUCCESS);
    ASSERT_EQ(file.writeRaw("12", 2), RFX_SUCCESS);
    ASSERT_EQ(file.open(second.c_str(), RIFF_OPEN_READ), RFX_FILE_ERROR);
    Bytes written = readWholeFile(first);
    ASSERT_EQ(written.size(), 10u);
    EXPECT_EQ(read32At(written, 4), 2u);
    ASSERT_EQ(file.open(first.c_str(), RIFF_OPEN_READ), RFX_SUCCESS);
    EXPECT_EQ(file.header().size, 2u);
    EXPECT_EQ(file.fileSize(), 10);
}

}  // namespace
