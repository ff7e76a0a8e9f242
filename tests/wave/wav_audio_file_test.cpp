#include "wave/wav_audio_file.h"

#include "wave_test_support.h"

namespace {

// Opens the bytes as a wave file and keeps the object for inspection.
struct OpenedWave {
    WavAudioFile file;
    RFXRET result;
    OpenedWave(const std::string& leaf, const Bytes& bytes)
        : result(file.openForRead(writeTempFile(leaf, bytes).c_str()))
    {
    }
};

std::vector<int16_t> readAllFrames(WavAudioFile& file)
{
    std::vector<int16_t> values;
    int16_t slots[2];
    for (uint32_t i = 0; i < file.frameCount(); ++i) {
        EXPECT_EQ(file.readFrame(slots), RFX_SUCCESS);
        values.insert(values.end(), slots, slots + file.channels());
    }
    return values;
}

TEST(WavFormat, DefaultRecordAndDerivedFields)
{
    WavFormatRecord format = defaultFormatRecord();
    EXPECT_EQ(format.chunkId, packChunkId("fmt"));
    EXPECT_EQ(format.chunkSize, 16u);
    EXPECT_EQ(format.formatTag, 1);
    EXPECT_EQ(format.channels, 2);
    EXPECT_EQ(format.sampleRate, 44100u);
    EXPECT_EQ(format.byteRate, 176400u);
    EXPECT_EQ(format.blockAlign, 4);
    EXPECT_EQ(format.bitsPerSample, 16);
    EXPECT_TRUE(isValidFormat(format));

    setFormat(&format, 16000, 8, 1);
    EXPECT_EQ(format.byteRate, 16000u);
    EXPECT_EQ(format.blockAlign, 1);
    setFormat(&format, 8000, 12, 1);  // block align truncates
    EXPECT_EQ(format.blockAlign, 1);
    EXPECT_EQ(format.byteRate, 12000u);
    setFormat(&format, 0x40000000u, 16, 2);  // the byte rate wraps in 32 bits
    EXPECT_EQ(format.byteRate, 0u);
}

TEST(WavFormat, ValidityChecks)
{
    WavFormatRecord format = defaultFormatRecord();
    format.chunkId = packChunkId("FMT");
    EXPECT_FALSE(isValidFormat(format));
    format = defaultFormatRecord();
    setFormat(&format, 8000, 16, 3);
    EXPECT_FALSE(isValidFormat(format));
    format = defaultFormatRecord();
    format.byteRate += 1;
    EXPECT_FALSE(isValidFormat(format));
    format = defaultFormatRecord();
    format.blockAlign = 2;
    EXPECT_FALSE(isValidFormat(format));
    format = defaultFormatRecord();
    format.formatTag = 0x55;  // the tag is not the validity check's business
    format.chunkSize = 99;
    EXPECT_TRUE(isValidFormat(format));
    setFormat(&format, 0x7FFFFFFFu, 16, 1);
    EXPECT_TRUE(isValidFormat(format));
    setFormat(&format, 0x80000000u, 16, 1);  // negative as a signed rate
    EXPECT_FALSE(isValidFormat(format));
}

TEST(WavRead, CanonicalSixteenBitMono)
{
    OpenedWave wave("mono16.wav", canonicalWave(1, 16000, 16, samples16({0, 1, -1, 32767, -32768})));
    ASSERT_EQ(wave.result, RFX_SUCCESS);
    EXPECT_EQ(wave.file.channels(), 1);
    EXPECT_EQ(wave.file.sampleRate(), 16000u);
    EXPECT_EQ(wave.file.bitsPerSample(), 16);
    EXPECT_EQ(wave.file.frameCount(), 5u);
    EXPECT_EQ(wave.file.dataHeaderPosition(), 36);
    EXPECT_EQ(wave.file.tell(), 44);
    EXPECT_EQ(readAllFrames(wave.file), (std::vector<int16_t>{0, 1, -1, 32767, -32768}));
    int16_t slot;
    EXPECT_EQ(wave.file.readFrame(&slot), RFX_FILE_ERROR);  // past the last byte
}

TEST(WavRead, CanonicalEightBitSamplesAreUnsigned)
{
    OpenedWave wave("mono8.wav", canonicalWave(1, 8000, 8, Bytes{0x80, 0x00, 0xFF, 0x01}));
    ASSERT_EQ(wave.result, RFX_SUCCESS);
    EXPECT_EQ(wave.file.frameCount(), 4u);
    EXPECT_EQ(readAllFrames(wave.file), (std::vector<int16_t>{128, 0, 255, 1}));
}

TEST(WavRead, FrameCountsTruncate)
{
    OpenedWave odd("odd16.wav", canonicalWave(1, 8000, 16, Bytes(7, 0)));
    ASSERT_EQ(odd.result, RFX_SUCCESS);
    EXPECT_EQ(odd.file.frameCount(), 3u);
    OpenedWave stereo("stereo16.wav", canonicalWave(2, 8000, 16, Bytes(4 * 5, 0)));
    ASSERT_EQ(stereo.result, RFX_SUCCESS);
    EXPECT_EQ(stereo.file.frameCount(), 5u);
    OpenedWave twelve("twelve.wav", canonicalWave(1, 8000, 12, Bytes(6, 0)));
    ASSERT_EQ(twelve.result, RFX_SUCCESS);
    EXPECT_EQ(twelve.file.frameCount(), 6u);  // 12 bits count as one byte
    OpenedWave empty("empty.wav", canonicalWave(1, 8000, 16, Bytes{}));
    ASSERT_EQ(empty.result, RFX_SUCCESS);
    EXPECT_EQ(empty.file.frameCount(), 0u);
}

TEST(WavRead, LeadingHeaderIsNotChecked)
{
    Bytes bytes = canonicalWave(1, 8000, 8, Bytes{1, 2});
    bytes[0] = 'X';
    bytes[4] = 0xFF;
    OpenedWave wave("norff.wav", bytes);
    ASSERT_EQ(wave.result, RFX_SUCCESS);
    EXPECT_EQ(wave.file.header().id, packChunkId("XIFF"));
    EXPECT_EQ(wave.file.frameCount(), 2u);
}

TEST(WavRead, RefusedFilesGiveFileError)
{
    Bytes good = canonicalWave(1, 8000, 16, samples16({5, 6}));
    Bytes lowerCase = good;
    lowerCase[8] = 'w';
    EXPECT_EQ(OpenedWave("lower.wav", lowerCase).result, RFX_FILE_ERROR);
    for (size_t cut : {0u, 7u, 10u, 30u, 36u, 40u, 43u}) {
        Bytes shortened(good.begin(), good.begin() + cut);
        EXPECT_EQ(OpenedWave("cut.wav", shortened).result, RFX_FILE_ERROR) << cut;
    }
    EXPECT_EQ(OpenedWave("threech.wav", canonicalWave(3, 8000, 16, Bytes(12, 0))).result,
              RFX_FILE_ERROR);
    Bytes badRate = canonicalWave(1, 8000, 16, Bytes(4, 0));
    badRate[28] += 1;  // byte rate no longer agrees
    EXPECT_EQ(OpenedWave("badrate.wav", badRate).result, RFX_FILE_ERROR);
    WavAudioFile file;
    EXPECT_EQ(file.openForRead(tempPath("missing.wav").c_str()), RFX_FILE_ERROR);
    EXPECT_EQ(file.openForRead(nullptr), RFX_INVALID_CALL);
}

TEST(WavRead, SampleWidthsBelowOneByteAreRefused)
{
    EXPECT_EQ(OpenedWave("four.wav", canonicalWave(1, 8000, 4, Bytes(8, 0))).result, RFX_FILE_ERROR);
    EXPECT_EQ(OpenedWave("zero.wav", canonicalWave(2, 8000, 0, Bytes(8, 0))).result, RFX_FILE_ERROR);
}

TEST(WavRead, RatesFromTwoToThe31AreRefused)
{
    EXPECT_EQ(OpenedWave("hugerate.wav", canonicalWave(1, 0x80000000u, 16, Bytes(4, 0))).result,
              RFX_FILE_ERROR);
    OpenedWave largest("maxrate.wav", canonicalWave(1, 0x7FFFFFFFu, 8, Bytes(4, 0)));
    ASSERT_EQ(largest.result, RFX_SUCCESS);
    EXPECT_EQ(largest.file.sampleRate(), 0x7FFFFFFFu);
}

TEST(WavRead, UndecodedFormatsOpenButRefuseSampleReads)
{
    struct Case {
        const char* leaf;
        Bytes bytes;
        uint32_t frames;
    } cases[] = {
        {"float.wav", canonicalWave(1, 8000, 32, Bytes(8, 0), 3), 2},
        {"mulaw.wav", canonicalWave(1, 8000, 8, Bytes(3, 0x7F), 7), 3},
        {"pcm24.wav", canonicalWave(1, 8000, 24, Bytes(9, 0)), 3},
        {"pcm32.wav", canonicalWave(2, 8000, 32, Bytes(16, 0)), 2},
    };
    for (Case& c : cases) {
        OpenedWave wave(c.leaf, c.bytes);
        ASSERT_EQ(wave.result, RFX_SUCCESS) << c.leaf;
        EXPECT_EQ(wave.file.frameCount(), c.frames) << c.leaf;
        int16_t slots[2], right;
        EXPECT_EQ(wave.file.readFrame(slots), RFX_INVALID_CALL) << c.leaf;
        EXPECT_EQ(wave.file.readFrames(1, slots), RFX_INVALID_CALL) << c.leaf;
        EXPECT_EQ(wave.file.readMonoSample(slots), RFX_INVALID_CALL) << c.leaf;
        EXPECT_EQ(wave.file.readStereoSample(slots, &right), RFX_INVALID_CALL) << c.leaf;
        EXPECT_EQ(wave.file.tell(), 44) << c.leaf;  // nothing was read
    }
}

TEST(WavChunks, LongerFormatChunksAreSkippedPast)
{
    Bytes chunks;
    appendChunk(chunks, "fmt ", formatBody(1, 1, 16000, 16, 2));
    appendChunk(chunks, "data", samples16({10, -20, 30}));
    OpenedWave wave("fmt18.wav", riffWave(chunks));
    ASSERT_EQ(wave.result, RFX_SUCCESS);
    EXPECT_EQ(wave.file.format().chunkSize, 18u);
    EXPECT_EQ(wave.file.dataHeaderPosition(), 38);
    EXPECT_EQ(wave.file.frameCount(), 3u);
    EXPECT_EQ(readAllFrames(wave.file), (std::vector<int16_t>{10, -20, 30}));
}

TEST(WavChunks, ExtensibleFormatDecodesOnlyIntegerPcm)
{
    for (uint16_t guidTag : {1, 3}) {
        Bytes chunks;
        appendChunk(chunks, "fmt ", extensibleBody(2, 48000, 16, guidTag));
        appendChunk(chunks, "data", samples16({1, 2, -3, -4}));
        OpenedWave wave("extensible.wav", riffWave(chunks));
        ASSERT_EQ(wave.result, RFX_SUCCESS);
        EXPECT_EQ(wave.file.format().formatTag, 0xFFFE);
        EXPECT_EQ(wave.file.dataHeaderPosition(), 60);
        EXPECT_EQ(wave.file.frameCount(), 2u);
        EXPECT_EQ(wave.file.samplesDecodable(), guidTag == 1);
        if (guidTag == 1) {
            EXPECT_EQ(readAllFrames(wave.file), (std::vector<int16_t>{1, 2, -3, -4}));
        } else {
            int16_t slots[2];
            EXPECT_EQ(wave.file.readFrame(slots), RFX_INVALID_CALL);
        }
    }
    // The extensible tag with a format chunk too short to hold the GUID.
    Bytes chunks;
    appendChunk(chunks, "fmt ", formatBody(0xFFFE, 1, 8000, 16, 2));
    appendChunk(chunks, "data", samples16({1}));
    OpenedWave shortExtensible("shortext.wav", riffWave(chunks));
    ASSERT_EQ(shortExtensible.result, RFX_SUCCESS);
    int16_t slot;
    EXPECT_EQ(shortExtensible.file.readFrame(&slot), RFX_INVALID_CALL);
}

TEST(WavChunks, ChunksAroundTheDataAreSkipped)
{
    Bytes chunks;
    appendChunk(chunks, "JUNK", Bytes(3, 0xEE));  // odd size: a pad byte follows
    appendChunk(chunks, "fmt ", formatBody(1, 1, 22050, 8));
    appendChunk(chunks, "fact", Bytes{5, 0, 0, 0});
    Bytes list;
    appendText(list, "INFOISFT");
    append32(list, 5);
    appendText(list, "sox!");
    list.push_back(0);
    appendChunk(chunks, "LIST", list);
    appendChunk(chunks, "data", Bytes{7, 8, 9, 0x80, 0xFF});  // odd again
    appendChunk(chunks, "LIST", Bytes(10, 0x41));
    Bytes bytes = riffWave(chunks);
    OpenedWave wave("chunks.wav", bytes);
    ASSERT_EQ(wave.result, RFX_SUCCESS);
    EXPECT_EQ(wave.file.dataHeaderPosition(), static_cast<int64_t>(12 + 12 + 24 + 12 + 26));
    EXPECT_EQ(wave.file.sampleByteCount(), 5u);
    EXPECT_EQ(wave.file.frameCount(), 5u);
    EXPECT_EQ(readAllFrames(wave.file), (std::vector<int16_t>{7, 8, 9, 128, 255}));
    int16_t slot;
    EXPECT_EQ(wave.file.readFrame(&slot), RFX_FILE_ERROR);  // the trailing chunk is not data
}

TEST(WavChunks, DataSizeZeroOrPastTheEndRunsToTheEndOfFile)
{
    for (uint32_t declared : {0u, 1000u, 0xFFFFFFFFu}) {
        Bytes bytes = canonicalWave(1, 8000, 16, samples16({4, 5, 6}));
        bytes[40] = static_cast<uint8_t>(declared);
        bytes[41] = static_cast<uint8_t>(declared >> 8);
        bytes[42] = static_cast<uint8_t>(declared >> 16);
        bytes[43] = static_cast<uint8_t>(declared >> 24);
        if (declared == 0) std::fill(bytes.begin() + 4, bytes.begin() + 8, 0);  // RIFF size unknown too
        OpenedWave wave("streamed.wav", bytes);
        ASSERT_EQ(wave.result, RFX_SUCCESS) << declared;
        EXPECT_EQ(wave.file.dataHeader().size, declared);
        EXPECT_EQ(wave.file.frameCount(), 3u) << declared;
        EXPECT_EQ(readAllFrames(wave.file), (std::vector<int16_t>{4, 5, 6}));
    }
}

TEST(WavChunks, MissingOrCutChunksGiveFileError)
{
    Bytes onlyFormat;
    appendChunk(onlyFormat, "fmt ", formatBody(1, 1, 8000, 16));
    EXPECT_EQ(OpenedWave("nodata.wav", riffWave(onlyFormat)).result, RFX_FILE_ERROR);

    Bytes onlyData;
    appendChunk(onlyData, "data", samples16({1, 2}));
    EXPECT_EQ(OpenedWave("nofmt.wav", riffWave(onlyData)).result, RFX_FILE_ERROR);

    Bytes dataFirst;  // a data chunk before the format chunk is not taken
    appendChunk(dataFirst, "data", samples16({1, 2}));
    appendChunk(dataFirst, "fmt ", formatBody(1, 1, 8000, 16));
    EXPECT_EQ(OpenedWave("datafirst.wav", riffWave(dataFirst)).result, RFX_FILE_ERROR);

    Bytes shortFormat;  // a format chunk under 16 bytes is skipped like any other
    appendChunk(shortFormat, "fmt ", Bytes(14, 1));
    appendChunk(shortFormat, "data", samples16({1, 2}));
    EXPECT_EQ(OpenedWave("shortfmt.wav", riffWave(shortFormat)).result, RFX_FILE_ERROR);

    Bytes cutList;
    appendChunk(cutList, "fmt ", formatBody(1, 1, 8000, 16));
    appendText(cutList, "LIST");
    append32(cutList, 100);  // claims more than the file holds
    cutList.resize(cutList.size() + 10, 0);
    EXPECT_EQ(OpenedWave("cutlist.wav", riffWave(cutList)).result, RFX_FILE_ERROR);

    Bytes cutFormat;
    appendText(cutFormat, "fmt ");
    append32(cutFormat, 16);
    cutFormat.resize(cutFormat.size() + 10, 0);
    EXPECT_EQ(OpenedWave("cutfmt.wav", riffWave(cutFormat)).result, RFX_FILE_ERROR);
}

TEST(WavRead, FrameAndSampleOperations)
{
    OpenedWave wave("ops.wav", canonicalWave(2, 8000, 16, samples16({1, -1, 2, -2, 3, -3, 4, -4})));
    ASSERT_EQ(wave.result, RFX_SUCCESS);
    WavAudioFile& file = wave.file;
    EXPECT_EQ(file.frameCount(), 4u);
    int16_t slots[8] = {};
    EXPECT_EQ(file.readFrames(2, slots), RFX_SUCCESS);
    EXPECT_EQ((std::vector<int16_t>(slots, slots + 4)), (std::vector<int16_t>{1, -1, 2, -2}));
    int16_t left = 0, right = 0;
    EXPECT_EQ(file.readStereoSample(&left, &right), RFX_SUCCESS);
    EXPECT_EQ(left, 3);
    EXPECT_EQ(right, -3);
    EXPECT_EQ(file.readMonoSample(&left), RFX_SUCCESS);
    EXPECT_EQ(left, 4);
    EXPECT_EQ(file.readRawSamples(slots, 1), RFX_SUCCESS);
    EXPECT_EQ(slots[0], -4);
    EXPECT_EQ(file.readFrames(1, slots), RFX_FILE_ERROR);

    EXPECT_EQ(file.seekToFrame(4), RFX_INVALID_CALL);
    EXPECT_EQ(file.seekToFrame(0), RFX_SUCCESS);
    EXPECT_EQ(file.tell(), 44);
    EXPECT_EQ(file.seekToFrame(3), RFX_SUCCESS);
    EXPECT_EQ(file.tell(), 56);
    EXPECT_EQ(file.readFrame(slots), RFX_SUCCESS);
    EXPECT_EQ(slots[0], 4);
    EXPECT_EQ(slots[1], -4);
    EXPECT_EQ(file.seekToFrame(1), RFX_SUCCESS);
    unsigned char raw[3];
    EXPECT_EQ(file.readRawBytes(raw, 3), RFX_SUCCESS);
    EXPECT_EQ(raw[0], 2);
    EXPECT_EQ(raw[2], 0xFE);
    // A stereo file read through the per-frame block: more frames than remain fail with the count.
    EXPECT_EQ(file.seekToFrame(2), RFX_SUCCESS);
    uint32_t framesRead = 9;
    EXPECT_EQ(file.readFrameBlock(4, slots, &framesRead), RFX_FILE_ERROR);
    EXPECT_EQ(framesRead, 2u);
    EXPECT_EQ(slots[2], 4);
    EXPECT_EQ(file.close(), RFX_SUCCESS);
    EXPECT_EQ(file.state(), RIFF_CLOSED);
}

TEST(WavRead, SeekToFrameRoundsBytesPerSampleUp)
{
    OpenedWave wave("seek12.wav", canonicalWave(1, 8000, 12, Bytes(8, 0)));
    ASSERT_EQ(wave.result, RFX_SUCCESS);
    EXPECT_EQ(wave.file.frameCount(), 8u);
    EXPECT_EQ(wave.file.seekToFrame(3), RFX_SUCCESS);
    EXPECT_EQ(wave.file.tell(), 44 + 3 * 2);
}

TEST(WavWrite, WriteWaveFileProducesTheCanonicalLayout)
{
    std::string path = tempPath("written.wav");
    const int16_t samples[] = {1, -2, 300};
    ASSERT_EQ(writeWaveFile(path.c_str(), samples, 3, 1, 16000, 16), RFX_SUCCESS);
    Bytes expected = canonicalWave(1, 16000, 16, samples16({1, -2, 300}));
    Bytes written = readWholeFile(path);
    EXPECT_EQ(written, expected);
    ASSERT_EQ(written.size(), 50u);
    EXPECT_EQ(read32At(written, 4), 42u);
    EXPECT_EQ(read32At(written, 40), 6u);
}

TEST(WavWrite, EightBitStereoRoundTrip)
{
    std::string path = tempPath("written8.wav");
    const int16_t slots[] = {0x180, 0, 255, 127};  // only the low byte is written
    ASSERT_EQ(writeWaveFile(path.c_str(), slots, 2, 2, 11025, 8), RFX_SUCCESS);
    EXPECT_EQ(readWholeFile(path), canonicalWave(2, 11025, 8, Bytes{0x80, 0, 255, 127}));
    WavAudioFile file;
    ASSERT_EQ(file.openForRead(path.c_str()), RFX_SUCCESS);
    EXPECT_EQ(readAllFrames(file), (std::vector<int16_t>{128, 0, 255, 127}));
}

TEST(WavWrite, SampleWritersCountDataBytes)
{
    std::string path = tempPath("writers.wav");
    {
        WavAudioFile file;
        ASSERT_EQ(file.openForWrite(path.c_str(), 8000, 16, 2), RFX_SUCCESS);
        EXPECT_EQ(file.state(), RIFF_WRITING);
        EXPECT_EQ(file.dataHeaderPosition(), 36);
        EXPECT_EQ(file.header().size, 36u);
        EXPECT_EQ(file.writeStereoSample(1, 2), RFX_SUCCESS);
        EXPECT_EQ(file.writeMonoSample(3), RFX_SUCCESS);
        const int16_t raw[] = {4, 5, 6};
        EXPECT_EQ(file.writeRawSamples(raw, 3), RFX_SUCCESS);
        const unsigned char bytes[] = {7, 0};
        EXPECT_EQ(file.writeRawBytes(bytes, 2), RFX_SUCCESS);
        EXPECT_EQ(file.dataHeader().size, 14u);
        EXPECT_EQ(file.header().size, 50u);
        int16_t slot;
        EXPECT_EQ(file.readFrame(&slot), RFX_INVALID_CALL);  // nothing to read while writing
    }  // destruction closes and rewrites both headers
    EXPECT_EQ(readWholeFile(path), canonicalWave(2, 8000, 16, samples16({1, 2, 3, 4, 5, 6, 7})));
}

TEST(WavWrite, UnsupportedLayoutsCreateNoFile)
{
    std::string path = tempPath("refused.wav");
    remove(path.c_str());
    const int16_t slots[3] = {};
    EXPECT_EQ(writeWaveFile(path.c_str(), slots, 1, 1, 8000, 24), RFX_INVALID_CALL);
    EXPECT_EQ(writeWaveFile(path.c_str(), slots, 1, 3, 8000, 16), RFX_INVALID_CALL);
    EXPECT_EQ(writeWaveFile(path.c_str(), slots, 1, 0x10003, 8000, 16), RFX_INVALID_CALL);  // 3 in 16 bits
    EXPECT_EQ(fopen(path.c_str(), "rb"), nullptr);
    WavAudioFile file;
    EXPECT_EQ(file.openForWrite(nullptr, 8000, 16, 1), RFX_INVALID_CALL);
    EXPECT_EQ(file.openForWrite(tempPath("no/dir.wav").c_str(), 8000, 16, 1), RFX_FILE_ERROR);
    EXPECT_EQ(file.state(), RIFF_CLOSED);
    EXPECT_EQ(file.writeFrame(slots), RFX_INVALID_CALL);
}

}  // namespace
