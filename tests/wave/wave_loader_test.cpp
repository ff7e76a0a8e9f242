#include "wave/wave_loader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>

#include <cstdlib>

#include "wave/wav_audio_file.h"
#include "wave_test_support.h"

namespace {

struct LoadResult {
    RFXRET result;
    std::vector<float> signal;
    bool signalHandedOut;
    SignalInfo info;
    CapturedOutput output;
};

LoadResult load(const std::string& path)
{
    LoadResult r{};
    float* signal = reinterpret_cast<float*>(&r);  // must be replaced by the loader
    r.output = captureOutput([&] { r.result = loadWaveFile(path.c_str(), &signal, &r.info); });
    r.signalHandedOut = signal != nullptr;
    if (signal != nullptr) {
        r.signal.assign(signal, signal + r.info.samplesRead);
        free(signal);
    }
    return r;
}

std::string report(int channels, int rate, int bits)
{
    return "\nNumber of channels: " + std::to_string(channels) + "\nSampling rate: " +
           std::to_string(rate) + "\nBits per sample: " + std::to_string(bits) +
           "\nReading .wav to buffer...\n";
}

TEST(LoadWaveFile, SixteenBitMonoComesBackAsExactFloats)
{
    LoadResult r = load(writeTempFile("load16.wav",
                                      canonicalWave(1, 16000, 16, samples16({0, -1, 32767, -32768, 12}))));
    EXPECT_EQ(r.result, RFX_SUCCESS);
    EXPECT_EQ(r.output.out, report(1, 16000, 16));
    EXPECT_EQ(r.output.err, "");
    EXPECT_EQ(r.signal, (std::vector<float>{0.0f, -1.0f, 32767.0f, -32768.0f, 12.0f}));
    EXPECT_EQ(r.info.totalSamples, 5);
    EXPECT_EQ(r.info.samplesRead, 5);
    EXPECT_EQ(r.info.channels, 1);
    EXPECT_EQ(r.info.sampleRate, 16000);
    EXPECT_EQ(r.info.bitsPerSample, 16);
}

TEST(LoadWaveFile, EightBitSamplesKeepTheirUnsignedValues)
{
    LoadResult r = load(writeTempFile("load8.wav", canonicalWave(1, 8000, 8, Bytes{0x80, 0x00, 0xFF})));
    EXPECT_EQ(r.result, RFX_SUCCESS);
    EXPECT_EQ(r.output.out, report(1, 8000, 8));
    EXPECT_EQ(r.signal, (std::vector<float>{128.0f, 0.0f, 255.0f}));
}

TEST(LoadWaveFile, ManyBlocksArriveInFileOrder)
{
    std::vector<int16_t> values(10007);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<int16_t>(i * 37 - 20000);
    LoadResult r = load(writeTempFile("long.wav", canonicalWave(1, 16000, 16, samples16(values))));
    ASSERT_EQ(r.result, RFX_SUCCESS);
    ASSERT_EQ(r.signal.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(r.signal[i], static_cast<float>(values[i])) << i;
}

TEST(LoadWaveFile, EmptyDataLoadsNoSamples)
{
    LoadResult r = load(writeTempFile("load44.wav", canonicalWave(1, 16000, 16, Bytes{})));
    EXPECT_EQ(r.result, RFX_SUCCESS);
    EXPECT_EQ(r.output.out, report(1, 16000, 16));
    EXPECT_EQ(r.output.err, "");
    EXPECT_TRUE(r.signalHandedOut);
    EXPECT_EQ(r.info.totalSamples, 0);
    EXPECT_EQ(r.info.samplesRead, 0);
}

TEST(LoadWaveFile, UnreadableFilesFailBeforeTheReport)
{
    const std::string message = "Reading wave table size failed: RFX_FILE_ERROR\n";
    Bytes good = canonicalWave(1, 8000, 16, samples16({1, 2}));
    std::vector<std::string> paths = {
        tempPath("does-not-exist.wav"),
        writeTempFile("three.wav", canonicalWave(3, 8000, 16, Bytes(6, 0))),
        writeTempFile("nibble.wav", canonicalWave(1, 8000, 4, Bytes(6, 0))),
    };
    for (size_t cut : {0u, 7u, 10u, 30u, 40u})
        paths.push_back(writeTempFile("cut" + std::to_string(cut) + ".wav",
                                      Bytes(good.begin(), good.begin() + cut)));
    for (const std::string& path : paths) {
        LoadResult r = load(path);
        EXPECT_EQ(r.result, RFX_FILE_ERROR) << path;
        EXPECT_EQ(r.output.out, "") << path;
        EXPECT_EQ(r.output.err, message) << path;
        EXPECT_FALSE(r.signalHandedOut) << path;
    }
}

TEST(LoadWaveFile, UndecodedSamplesFailAfterTheReport)
{
    struct Case {
        const char* leaf;
        Bytes bytes;
        int channels, rate, bits;
    } cases[] = {
        {"load24.wav", canonicalWave(1, 8000, 24, Bytes(9, 0)), 1, 8000, 24},
        {"loadfloat.wav", canonicalWave(1, 44100, 32, Bytes(8, 0), 3), 1, 44100, 32},
        {"loadmulaw.wav", canonicalWave(1, 8000, 8, Bytes(4, 0), 7), 1, 8000, 8},
        {"load12.wav", canonicalWave(2, 8000, 12, Bytes(6, 0)), 2, 8000, 12},
    };
    for (Case& c : cases) {
        LoadResult r = load(writeTempFile(c.leaf, c.bytes));
        EXPECT_EQ(r.result, RFX_INVALID_CALL) << c.leaf;
        EXPECT_EQ(r.output.out, report(c.channels, c.rate, c.bits)) << c.leaf;
        EXPECT_EQ(r.output.err, "Reading wave file data failed: RFX_INVALID_CALL\n") << c.leaf;
        EXPECT_FALSE(r.signalHandedOut) << c.leaf;
    }
}

TEST(LoadWaveFile, TwoChannelsBecomeTheirMean)
{
    LoadResult r = load(writeTempFile(
        "stereo.wav", canonicalWave(2, 22050, 16, samples16({1, 2, -32768, -32767, 32767, 32767, 5, -6}))));
    EXPECT_EQ(r.result, RFX_SUCCESS);
    EXPECT_EQ(r.output.out, report(2, 22050, 16));
    EXPECT_EQ(r.output.err, "");
    EXPECT_EQ(r.info.totalSamples, 4);
    EXPECT_EQ(r.info.samplesRead, 4);
    EXPECT_EQ(r.signal, (std::vector<float>{1.5f, -32767.5f, 32767.0f, -0.5f}));

    LoadResult eight = load(writeTempFile("stereo8.wav", canonicalWave(2, 8000, 8, Bytes{255, 0, 0x80, 0x81})));
    EXPECT_EQ(eight.result, RFX_SUCCESS);
    EXPECT_EQ(eight.signal, (std::vector<float>{127.5f, 128.5f}));
}

TEST(LoadWaveFile, RealWorldLayoutsLoadOnlyTheirSamples)
{
    Bytes chunks;
    appendChunk(chunks, "fmt ", extensibleBody(1, 16000, 16, 1));
    appendChunk(chunks, "LIST", Bytes(7, 'i'));
    appendChunk(chunks, "data", samples16({-7, 8, 9}));
    appendChunk(chunks, "id3 ", Bytes(20, 0x55));
    LoadResult r = load(writeTempFile("layout.wav", riffWave(chunks)));
    EXPECT_EQ(r.result, RFX_SUCCESS);
    EXPECT_EQ(r.output.err, "");
    EXPECT_EQ(r.signal, (std::vector<float>{-7.0f, 8.0f, 9.0f}));
}

TEST(LoadWaveFile, WrittenFileLoadsBack)
{
    std::string path = tempPath("roundtrip.wav");
    const int16_t samples[] = {-32768, -1, 0, 1, 32767, 1234};
    ASSERT_EQ(writeWaveFile(path.c_str(), samples, 6, 1, 16000, 16), RFX_SUCCESS);
    LoadResult r = load(path);
    EXPECT_EQ(r.result, RFX_SUCCESS);
    EXPECT_EQ(r.signal, (std::vector<float>{-32768.0f, -1.0f, 0.0f, 1.0f, 32767.0f, 1234.0f}));
}

TEST(WaveLoaderParts, QueryAndReadInSlots)
{
    std::string path = writeTempFile("parts.wav", canonicalWave(2, 8000, 16, samples16({1, 2, 3, 4, 5, 6})));
    int32_t total = -1;
    EXPECT_EQ(queryWaveSize(path.c_str(), &total), RFX_SUCCESS);
    EXPECT_EQ(total, 3);
    EXPECT_EQ(queryWaveSize(tempPath("nothing.wav").c_str(), &total), RFX_FILE_ERROR);

    int16_t* slots = allocSampleBuffer(3);
    ASSERT_NE(slots, nullptr);
    int32_t channels = 0, rate = 0, bits = 0, count = -1;
    CapturedOutput output = captureOutput([&] {
        EXPECT_EQ(readWaveSamples(path.c_str(), slots, 2, &channels, &rate, &bits, &count), RFX_SUCCESS);
    });
    EXPECT_EQ(output.out, report(2, 8000, 16));
    EXPECT_EQ(count, 2);  // the capacity limits the frames read
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(rate, 8000);
    EXPECT_EQ(bits, 16);
    EXPECT_EQ((std::vector<int16_t>(slots, slots + 4)), (std::vector<int16_t>{1, 2, 3, 4}));

    float floats[4];
    EXPECT_EQ(samplesToFloats(slots, floats, 4), 0);
    EXPECT_EQ((std::vector<float>(floats, floats + 4)), (std::vector<float>{1.0f, 2.0f, 3.0f, 4.0f}));
    free(slots);
}

TEST(WaveLoaderParts, ImpossibleAllocationsGiveNull)
{
    EXPECT_EQ(allocFloats(-1), nullptr);
    EXPECT_EQ(allocFloats(INT64_MAX), nullptr);
    EXPECT_EQ(allocSampleBuffer(INT64_MAX), nullptr);
    EXPECT_EQ(allocSampleBuffer(-1), nullptr);
    float* none = allocFloats(0);
    EXPECT_NE(none, nullptr);
    free(none);
}

// A sparse file of 3 GiB: sizes and offsets beyond 2 GiB must work.
std::string makeSparseWave(const char* leaf, uint16_t bits, uint32_t declaredSize, int64_t fileSize)
{
    Bytes header = canonicalWave(1, 16000, bits, Bytes{});
    header[40] = static_cast<uint8_t>(declaredSize);
    header[41] = static_cast<uint8_t>(declaredSize >> 8);
    header[42] = static_cast<uint8_t>(declaredSize >> 16);
    header[43] = static_cast<uint8_t>(declaredSize >> 24);
    std::string path = writeTempFile(leaf, header);
    int fd = open(path.c_str(), O_WRONLY);
    EXPECT_GE(fd, 0);
    const unsigned char lastSample[2] = {0x34, 0x12};
    EXPECT_EQ(pwrite(fd, lastSample, 2, fileSize - 2), 2);
    close(fd);
    return path;
}

constexpr int64_t THREE_GIB = 3LL << 30;

TEST(LargeWaveFiles, OffsetsBeyondTwoGibibytes)
{
    std::string path = makeSparseWave("large16.wav", 16, 0, THREE_GIB);
    WavAudioFile file;
    ASSERT_EQ(file.openForRead(path.c_str()), RFX_SUCCESS);
    EXPECT_EQ(file.fileSize(), THREE_GIB);
    uint32_t frames = static_cast<uint32_t>((THREE_GIB - 44) / 2);
    EXPECT_EQ(file.frameCount(), frames);
    ASSERT_EQ(file.seekToFrame(frames - 1), RFX_SUCCESS);
    EXPECT_EQ(file.tell(), THREE_GIB - 2);
    int16_t slot = 0;
    EXPECT_EQ(file.readFrame(&slot), RFX_SUCCESS);
    EXPECT_EQ(slot, 0x1234);
    EXPECT_EQ(file.readFrame(&slot), RFX_FILE_ERROR);
    file.close();
    remove(path.c_str());

    // A declared size above 2^31 that fits is taken as it is.
    path = makeSparseWave("large16b.wav", 16, 0xC0000000u, THREE_GIB + 100);
    ASSERT_EQ(file.openForRead(path.c_str()), RFX_SUCCESS);
    EXPECT_EQ(file.frameCount(), 0x60000000u);
    file.close();
    remove(path.c_str());
}

TEST(LargeWaveFiles, SignalsBeyondTwoToThe31SamplesAreRefused)
{
    std::string path = makeSparseWave("large8.wav", 8, 0, THREE_GIB);
    LoadResult r = load(path);
    EXPECT_EQ(r.result, RFX_OUT_OF_MEMORY);
    EXPECT_EQ(r.output.out, "");
    EXPECT_EQ(r.output.err, "Reading wave table size failed: RFX_OUT_OF_MEMORY\n");
    remove(path.c_str());
}

#if !defined(__SANITIZE_ADDRESS__)
// Runs in a child whose address space is too small for the signal.
[[noreturn]] void loadUnderMemoryLimit(const std::string& path)
{
    rlimit limit{512LL << 20, 512LL << 20};
    setrlimit(RLIMIT_AS, &limit);
    float* signal = nullptr;
    SignalInfo info{};
    RFXRET result = loadWaveFile(path.c_str(), &signal, &info);
    fflush(stdout);
    _exit(result == RFX_OUT_OF_MEMORY && signal == nullptr ? 0 : 1);
}

TEST(LargeWaveFiles, RunningOutOfMemoryStopsTheLoaderInOrder)
{
    std::string path = makeSparseWave("oom16.wav", 16, 0, THREE_GIB);
    EXPECT_EXIT(loadUnderMemoryLimit(path), testing::ExitedWithCode(0),
                "^Reading wave file data failed: RFX_OUT_OF_MEMORY\n$");
    remove(path.c_str());
}
#endif

// A peer's corpus of odd wave files: each must load or be refused with a loader message.
TEST(ForeignWaveFiles, EveryFileLoadsOrIsRefusedCleanly)
{
    const std::string folder = "/usr/lib/python3/dist-packages/scipy/io/tests/data/";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        GTEST_SKIP() << "no corpus installed";
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".wav") == 0)
            names.push_back(name);
    }
    closedir(dir);
    if (names.empty())
        GTEST_SKIP() << "no wave files in the corpus";
    for (const std::string& name : names) {
        LoadResult r = load(folder + name);
        if (r.result == RFX_SUCCESS) {
            EXPECT_EQ(r.output.err, "") << name;
            EXPECT_EQ(r.info.samplesRead, r.info.totalSamples) << name;
            EXPECT_TRUE(r.signalHandedOut) << name;
        } else {
            EXPECT_TRUE(r.result == RFX_FILE_ERROR || r.result == RFX_INVALID_CALL) << name;
            EXPECT_TRUE(r.output.err.rfind("Reading wave table size failed: ", 0) == 0 ||
                        r.output.err.rfind("Reading wave file data failed: ", 0) == 0)
                << name << ": " << r.output.err;
            EXPECT_FALSE(r.signalHandedOut) << name;
        }
    }
    // Two of them are plain PCM this loader reads.
    for (const char* name : {"test-8000Hz-le-2ch-1byteu.wav", "test-44100Hz-le-1ch-4bytes.wav"}) {
        FILE* f = fopen((folder + name).c_str(), "rb");
        if (f == nullptr)
            continue;
        fclose(f);
        LoadResult r = load(folder + name);
        if (std::string(name).find("1byteu") != std::string::npos)
            EXPECT_EQ(r.result, RFX_SUCCESS) << name;
        else
            EXPECT_EQ(r.result, RFX_INVALID_CALL) << name;  // 32-bit PCM is not decoded
    }
}

}  // namespace
