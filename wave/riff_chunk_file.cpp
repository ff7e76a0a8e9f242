#include "wave/riff_chunk_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

uint32_t packChunkId(const char* text)
{
    unsigned char bytes[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; i < 4 && text[i] != '\0'; ++i)
        bytes[i] = static_cast<unsigned char>(text[i]);
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

static void putLittle32(unsigned char* bytes, uint32_t value)
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
    bytes[2] = static_cast<unsigned char>(value >> 16);
    bytes[3] = static_cast<unsigned char>(value >> 24);
}

static uint32_t getLittle32(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void encodeChunkHeader(const RiffChunkHeader& header, unsigned char bytes[RIFF_CHUNK_HEADER_BYTES])
{
    putLittle32(bytes, header.id);
    putLittle32(bytes + 4, header.size);
}

RiffChunkHeader decodeChunkHeader(const unsigned char bytes[RIFF_CHUNK_HEADER_BYTES])
{
    return RiffChunkHeader{getLittle32(bytes), getLittle32(bytes + 4)};
}

// Opens a regular file for binary reading and gives its size. Anything else (a folder, a FIFO, a
// device such as /dev/zero, a socket) is refused: a FIFO without a writer would block the open
// forever and an endless stream has no size to walk chunks in. The open does not block, and the
// test is made on the opened file itself, so a name swapped in between cannot slip through.
static FILE* openRegularFile(const char* name, int64_t* size)
{
    int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info;
    FILE* stream = nullptr;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
        stream = fdopen(fd, "rb");
    if (stream == nullptr) {
        ::close(fd);
        return nullptr;
    }
    *size = static_cast<int64_t>(info.st_size);
    return stream;
}

RiffChunkFile::RiffChunkFile()
    : header_{packChunkId("RIFF"), 0}, state_(RIFF_CLOSED), stream_(nullptr), fileSize_(0)
{
}

RiffChunkFile::~RiffChunkFile()
{
    if (state_ != RIFF_CLOSED)
        close();
}

RFXRET RiffChunkFile::open(const char* name, int32_t mode)
{
    if (mode != RIFF_OPEN_WRITE && mode != RIFF_OPEN_READ)
        return RFX_INVALID_CALL;
    if (state_ != RIFF_CLOSED) {
        RFXRET closed = close();
        if (closed != RFX_SUCCESS)
            return closed;
    }

    if (mode == RIFF_OPEN_WRITE) {
        fileSize_ = -1;
        stream_ = fopen(name, "wb");
        if (stream_ == nullptr) {
            state_ = RIFF_CLOSED;
            return RFX_FILE_ERROR;
        }
        unsigned char image[RIFF_CHUNK_HEADER_BYTES];
        encodeChunkHeader(header_, image);
        if (fwrite(image, 1, sizeof image, stream_) != sizeof image) {
            // A file without its header is of no use to anyone: remove it.
            fclose(stream_);
            remove(name);
            stream_ = nullptr;
            state_ = RIFF_CLOSED;
            return RFX_FILE_ERROR;
        }
        state_ = RIFF_WRITING;
        return RFX_SUCCESS;
    }

    stream_ = openRegularFile(name, &fileSize_);
    if (stream_ == nullptr) {
        state_ = RIFF_CLOSED;
        return RFX_FILE_ERROR;
    }
    unsigned char image[RIFF_CHUNK_HEADER_BYTES];
    if (fread(image, 1, sizeof image, stream_) != sizeof image) {
        fclose(stream_);
        stream_ = nullptr;
        state_ = RIFF_CLOSED;
        return RFX_FILE_ERROR;
    }
    header_ = decodeChunkHeader(image);
    state_ = RIFF_READING;
    return RFX_SUCCESS;
}

RFXRET RiffChunkFile::close()
{
    RFXRET result = RFX_SUCCESS;
    if (state_ == RIFF_WRITING) {
        unsigned char image[RIFF_CHUNK_HEADER_BYTES];
        encodeChunkHeader(header_, image);
        if (fflush(stream_) != 0 || fseeko(stream_, 0, SEEK_SET) != 0 ||
            fwrite(image, 1, sizeof image, stream_) != sizeof image) {
            result = RFX_FILE_ERROR;
            fclose(stream_);  // released all the same; the object ends closed
        } else if (fclose(stream_) != 0) {
            result = RFX_FILE_ERROR;
        }
    } else if (state_ == RIFF_READING) {
        fclose(stream_);
    }
    state_ = RIFF_CLOSED;
    stream_ = nullptr;
    return result;
}

RFXRET RiffChunkFile::writeRaw(const void* bytes, size_t n)
{
    if (state_ != RIFF_WRITING)
        return RFX_INVALID_CALL;
    if (n != 0 && fwrite(bytes, 1, n, stream_) != n)
        return RFX_FILE_ERROR;
    header_.size += static_cast<uint32_t>(n);
    return RFX_SUCCESS;
}

RFXRET RiffChunkFile::readRaw(void* buffer, size_t n)
{
    if (stream_ == nullptr)
        return RFX_FILE_ERROR;
    if (n != 0 && fread(buffer, 1, n, stream_) != n)
        return RFX_FILE_ERROR;
    return RFX_SUCCESS;
}

RFXRET RiffChunkFile::expectText(const char* text, size_t n)
{
    if (stream_ == nullptr)
        return RFX_FILE_ERROR;
    for (size_t i = 0; i < n; ++i) {
        int c = getc(stream_);
        if (c == EOF || c != static_cast<unsigned char>(text[i]))
            return RFX_FILE_ERROR;
    }
    return RFX_SUCCESS;
}

int64_t RiffChunkFile::tell()
{
    if (stream_ == nullptr)
        return -1;
    return static_cast<int64_t>(ftello(stream_));
}

RFXRET RiffChunkFile::seek(int64_t position)
{
    if (stream_ == nullptr)
        return RFX_FILE_ERROR;
    fflush(stream_);
    if (fseeko(stream_, static_cast<off_t>(position), SEEK_SET) != 0)
        return RFX_FILE_ERROR;
    return RFX_SUCCESS;
}

RFXRET RiffChunkFile::seekAndWrite(int64_t position, const void* bytes, size_t n)
{
    if (stream_ == nullptr)
        return RFX_INVALID_CALL;
    if (fflush(stream_) != 0 || fseeko(stream_, static_cast<off_t>(position), SEEK_SET) != 0)
        return RFX_FILE_ERROR;
    if (state_ != RIFF_WRITING)
        return RFX_INVALID_CALL;
    // The bytes overwrite what is already counted in the header's size.
    if (n != 0 && fwrite(bytes, 1, n, stream_) != n)
        return RFX_FILE_ERROR;
    return RFX_SUCCESS;
}
