// Only regular files are read as waves: a FIFO would block the open until a writer came, and a
// device such as /dev/zero never ends. The existence test of an output name must not block either.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "modules/file.h"
#include "wave/riff_chunk_file.h"
#include "wave/wav_audio_file.h"

namespace {

std::string scratchFolder() {
    char name[] = "/tmp/orvalix_regular_XXXXXX";
    return mkdtemp(name) ? name : "";
}

TEST(RegularFilesOnly, FifoFolderAndDeviceAreRefusedWithoutBlocking) {
    std::string folder = scratchFolder();
    ASSERT_FALSE(folder.empty());
    std::string fifo = folder + "/fifo.wav";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    WavAudioFile file;
    EXPECT_EQ(file.openForRead(fifo.c_str()), RFX_FILE_ERROR);  // returns at once: no writer needed
    EXPECT_EQ(file.state(), RIFF_CLOSED);
    EXPECT_EQ(file.openForRead(folder.c_str()), RFX_FILE_ERROR);
    EXPECT_EQ(file.openForRead("/dev/zero"), RFX_FILE_ERROR);
    RiffChunkFile raw;
    EXPECT_EQ(raw.open("/dev/null", RIFF_OPEN_READ), RFX_FILE_ERROR);

    // An output name that is a FIFO exists, and asking does not wait for a writer.
    EXPECT_EQ(fileExists(fifo.c_str()), 1);
    EXPECT_EQ(fileExists(folder.c_str()), 1);  // a folder can be opened for reading, as before

    unlink(fifo.c_str());
    rmdir(folder.c_str());
}

TEST(RegularFilesOnly, ALinkToARegularFileIsRead) {
    std::string folder = scratchFolder();
    ASSERT_FALSE(folder.empty());
    std::string target = folder + "/in.wav";
    std::string link = folder + "/link.wav";
    const int16_t samples[3] = {1, -2, 3};
    ASSERT_EQ(writeWaveFile(target.c_str(), samples, 3, 1, 8000, 16), RFX_SUCCESS);
    ASSERT_EQ(symlink("in.wav", link.c_str()), 0);
    WavAudioFile file;
    ASSERT_EQ(file.openForRead(link.c_str()), RFX_SUCCESS);
    EXPECT_EQ(file.frameCount(), 3u);
    EXPECT_EQ(file.fileSize(), 50);
    file.close();
    unlink(link.c_str());
    unlink(target.c_str());
    rmdir(folder.c_str());
}

}  // namespace
