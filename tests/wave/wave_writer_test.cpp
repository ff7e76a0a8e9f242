// The wave writer and the reader's frame and sample operations: interfaces of the wave layer that a
// run of the program never calls, so no end-to-end case can reach them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "wave/wav_audio_file.h"
#include "wave/wave_loader.h"

using Bytes = std::vector<unsigned char>;
using Ints = std::vector<int>;  // result codes and samples

static std::string tempPath(const std::string& leaf) {
    return testing::TempDir() + "orvalix_" + std::to_string(getpid()) + leaf;
}

static Bytes fileBytes(const std::string& path) {
    Bytes bytes;
    FILE* f = fopen(path.c_str(), "rb");
    for (int c; f && (c = getc(f)) != EOF;) bytes.push_back(static_cast<unsigned char>(c));
    return f && fclose(f) == 0 ? bytes : Bytes{};
}

// The canonical 44-byte header and the samples, as the writer must lay them out.
static Bytes canonical(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data) {
    Bytes b;
    auto put = [&b](uint32_t v, int n) { for (; n > 0; --n, v >>= 8) b.push_back(v & 0xFF); };
    auto id = [&b](const char* s) { while (*s) b.push_back(static_cast<unsigned char>(*s++)); };
    id("RIFF"), put(36 + data.size(), 4), id("WAVE"), id("fmt "), put(16, 4), put(1, 2);
    put(channels, 2), put(rate, 4), put(rate * channels * bits / 8, 4), put(channels * bits / 8, 2);
    put(bits, 2), id("data"), put(data.size(), 4);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// The canonical layout, whatever the writing operations; no file at all for a layout it refuses.
TEST(WaveWriter, WritesTheCanonicalLayoutOrNoFile) {
    const std::string path = tempPath("written.wav");
    for (uint16_t bits : {8, 16}) {
        {
            WavAudioFile file;
            ASSERT_EQ(file.openForWrite(path.c_str(), 8000, bits, 2), RFX_SUCCESS);
            const int16_t raw[] = {4, 5, 6};
            const unsigned char bytes[] = {7, 0};
            EXPECT_EQ(file.writeStereoSample(1, 0x302) | file.writeMonoSample(-3) |
                          file.writeRawSamples(raw, 3) | file.writeRawBytes(bytes, 2),
                      RFX_SUCCESS);
            int16_t slot;
            EXPECT_EQ(file.readFrame(&slot), RFX_INVALID_CALL);  // nothing to read while writing
        }  // destruction closes and rewrites both headers
        Bytes data = bits == 8 ? Bytes{1, 2, 0xFD} : Bytes{1, 0, 2, 3, 0xFD, 0xFF};
        data.insert(data.end(), {4, 0, 5, 0, 6, 0, 7, 0});  // raw: as given, whatever the width
        EXPECT_EQ(fileBytes(path), canonical(2, 8000, bits, data)) << bits;
    }
    remove(path.c_str());
    const int16_t slots[3] = {};
    for (auto [channels, bits] : {std::pair<uint32_t, uint32_t>{1, 24}, {3, 16}, {0x10003, 16}})
        EXPECT_EQ(writeWaveFile(path.c_str(), slots, 1, channels, 8000, bits), RFX_INVALID_CALL);
    EXPECT_TRUE(fileBytes(path).empty());
    WavAudioFile file;
    EXPECT_EQ((Ints{file.openForWrite(nullptr, 8000, 16, 1),
                     file.openForWrite(tempPath("no/dir.wav").c_str(), 8000, 16, 1),
                     file.writeFrame(slots)}),
              (Ints{RFX_INVALID_CALL, RFX_FILE_ERROR, RFX_INVALID_CALL}));
    EXPECT_STREQ(resultCodeName(static_cast<RFXRET>(99)), "RFXRET(99)");
}

TEST(WaveReader, FrameSampleAndSeekOperations) {
    const std::string path = tempPath("ops.wav");
    const int16_t samples[] = {1, -1, 2, -2, 3, -3, 4, -4};
    ASSERT_EQ(writeWaveFile(path.c_str(), samples, 4, 2, 8000, 16), RFX_SUCCESS);
    FILE* f = fopen(path.c_str(), "ab");  // a chunk after the samples, never read as samples
    fwrite("LIST\4\0\0\0abcd", 1, 12, f), fclose(f);
    WavAudioFile file;
    ASSERT_EQ(file.openForRead(path.c_str()), RFX_SUCCESS);
    int16_t slots[8] = {}, left = 0, right = 0, mono = 0, raw16 = 0;
    unsigned char raw[3];
    uint32_t framesRead = 9;
    EXPECT_EQ(file.readFrames(2, slots) | file.readStereoSample(&left, &right) |
                  file.readMonoSample(&mono) | file.readRawSamples(&raw16, 1),
              RFX_SUCCESS);
    EXPECT_EQ((Ints{slots[0], slots[1], slots[2], slots[3], left, right, mono, raw16}),
              (Ints{1, -1, 2, -2, 3, -3, 4, -4}));
    EXPECT_EQ((Ints{file.readFrames(1, slots), file.seekToFrame(4)}),
              (Ints{RFX_FILE_ERROR, RFX_INVALID_CALL}));
    for (auto [frame, position] : {std::pair<uint32_t, int64_t>{0, 44}, {3, 56}})
        EXPECT_EQ(file.seekToFrame(frame) + file.tell(), RFX_SUCCESS + position);
    EXPECT_EQ(file.readFrame(slots), RFX_SUCCESS);
    EXPECT_EQ(std::make_pair(slots[0], slots[1]), std::make_pair(int16_t{4}, int16_t{-4}));
    EXPECT_EQ(file.seekToFrame(1) | file.readRawBytes(raw, 3), RFX_SUCCESS);
    EXPECT_EQ(raw[0] * 256 + raw[2], 2 * 256 + 0xFE);
    EXPECT_EQ(file.seekToFrame(2), RFX_SUCCESS);  // more frames than remain: the count comes back
    EXPECT_EQ(file.readFrameBlock(4, slots, &framesRead), RFX_FILE_ERROR);
    EXPECT_EQ(std::make_pair(framesRead, slots[2]), std::make_pair(2u, int16_t{4}));
    EXPECT_EQ((Ints{file.close(), file.state()}), (Ints{RFX_SUCCESS, RIFF_CLOSED}));

    Bytes twelveBit = canonical(1, 8000, 12, Bytes(8, 0));  // seeking rounds bytes per sample up
    f = fopen(path.c_str(), "wb");
    fwrite(twelveBit.data(), 1, twelveBit.size(), f), fclose(f);
    ASSERT_EQ(file.openForRead(path.c_str()), RFX_SUCCESS);
    EXPECT_EQ(file.frameCount() * 100 + file.seekToFrame(3), 800u + RFX_SUCCESS);
    EXPECT_EQ(file.tell(), 44 + 3 * 2);
}

// Two channels over more than one of the loader's 32768-frame blocks: every slot in its place,
// the whole file or only as many frames as the caller has room for.
TEST(WaveLoader, ReadsEveryFrameUpToTheCapacity) {
    const std::string path = tempPath("samples.wav");
    std::vector<int16_t> written(2 * 40000);
    for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<int16_t>(i * 7919);
    ASSERT_EQ(writeWaveFile(path.c_str(), written.data(), 40000, 2, 22050, 16), RFX_SUCCESS);
    for (auto [capacity, frames] : {std::pair{-1, 40000}, {33000, 33000}}) {
        std::vector<int16_t> slots(written.size(), 0x5A5A);
        int32_t channels = 0, rate = 0, bits = 0, count = 0;
        EXPECT_EQ(readWaveSamples(path.c_str(), slots.data(), capacity, &channels, &rate, &bits,
                                  &count),
                  RFX_SUCCESS);
        EXPECT_EQ((Ints{channels, rate, bits, count}), (Ints{2, 22050, 16, frames}));
        for (size_t i = 0; i < slots.size(); ++i)
            ASSERT_EQ(slots[i], i < 2u * frames ? written[i] : 0x5A5A) << capacity << ": " << i;
    }
    remove(path.c_str());
}
