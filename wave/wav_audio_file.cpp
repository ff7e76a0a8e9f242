#include "wave/wav_audio_file.h"

#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>

static void putLittle16(unsigned char* bytes, uint16_t value)
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
}

static void putLittle32(unsigned char* bytes, uint32_t value)
{
    putLittle16(bytes, static_cast<uint16_t>(value));
    putLittle16(bytes + 2, static_cast<uint16_t>(value >> 16));
}

static uint16_t getLittle16(const unsigned char* bytes)
{
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

static uint32_t getLittle32(const unsigned char* bytes)
{
    return static_cast<uint32_t>(getLittle16(bytes)) |
           static_cast<uint32_t>(getLittle16(bytes + 2)) << 16;
}

void setFormat(WavFormatRecord* format, uint32_t sampleRate, uint16_t bitsPerSample,
               uint16_t channels)
{
    format->sampleRate = sampleRate;
    format->bitsPerSample = bitsPerSample;
    format->channels = channels;
    format->byteRate = (static_cast<uint32_t>(channels) * sampleRate * bitsPerSample) >> 3;
    format->blockAlign = static_cast<uint16_t>((static_cast<uint32_t>(channels) * bitsPerSample) / 8);
}

WavFormatRecord defaultFormatRecord()
{
    WavFormatRecord format{};
    format.formatTag = WAVE_FORMAT_PCM;
    setFormat(&format, 44100, 16, 2);
    format.chunkId = packChunkId("fmt");
    format.chunkSize = 16;
    return format;
}

bool isValidFormat(const WavFormatRecord& format)
{
    if (format.chunkId != packChunkId("fmt"))
        return false;
    if (format.channels != 1 && format.channels != 2)
        return false;
    uint32_t byteRate =
        (static_cast<uint32_t>(format.channels) * format.sampleRate * format.bitsPerSample) >> 3;
    if (format.byteRate != byteRate)
        return false;
    if (format.blockAlign != (static_cast<uint32_t>(format.channels) * format.bitsPerSample) / 8)
        return false;
    // The loader reports the rate as a signed 32-bit value.
    return format.sampleRate <= 0x7FFFFFFFu;
}

void encodeFormatRecord(const WavFormatRecord& format, unsigned char bytes[WAV_FORMAT_RECORD_BYTES])
{
    putLittle32(bytes, format.chunkId);
    putLittle32(bytes + 4, format.chunkSize);
    putLittle16(bytes + 8, format.formatTag);
    putLittle16(bytes + 10, format.channels);
    putLittle32(bytes + 12, format.sampleRate);
    putLittle32(bytes + 16, format.byteRate);
    putLittle16(bytes + 20, format.blockAlign);
    putLittle16(bytes + 22, format.bitsPerSample);
}

WavFormatRecord decodeFormatRecord(const unsigned char bytes[WAV_FORMAT_RECORD_BYTES])
{
    WavFormatRecord format;
    format.chunkId = getLittle32(bytes);
    format.chunkSize = getLittle32(bytes + 4);
    format.formatTag = getLittle16(bytes + 8);
    format.channels = getLittle16(bytes + 10);
    format.sampleRate = getLittle32(bytes + 12);
    format.byteRate = getLittle32(bytes + 16);
    format.blockAlign = getLittle16(bytes + 20);
    format.bitsPerSample = getLittle16(bytes + 22);
    return format;
}

WavAudioFile::WavAudioFile()
    : format_(defaultFormatRecord()),
      dataHeader_{packChunkId("data"), 0},
      dataHeaderPosition_(0),
      frameCount_(0),
      sampleByteCount_(0),
      sampleBytesLeft_(0),
      samplesDecodable_(false)
{
}

WavAudioFile::~WavAudioFile()
{
    if (state_ != RIFF_CLOSED)
        close();
}

RFXRET WavAudioFile::openForRead(const char* name)
{
    if (name == nullptr)
        return RFX_INVALID_CALL;
    frameCount_ = 0;
    sampleByteCount_ = 0;
    sampleBytesLeft_ = 0;
    samplesDecodable_ = false;
    RFXRET result = open(name, RIFF_OPEN_READ);
    if (result != RFX_SUCCESS)
        return result;
    result = expectText("WAVE", 4);
    if (result != RFX_SUCCESS)
        return result;
    return walkChunks();
}

// Chunk headers are read through a buffer of their own with positioned reads, so that a file of
// a million small chunks costs a few hundred reads instead of a seek and a refill per chunk.
namespace {
constexpr size_t WALK_BUFFER_BYTES = 1 << 16;

struct ChunkWalkBuffer {
    int fd;
    int64_t start;   // file offset of bytes[0]
    size_t length;   // valid bytes
    unsigned char bytes[WALK_BUFFER_BYTES];
};

// Copies n bytes (at most a buffer's worth) from the file offset into out; false when the file
// ends before them.
bool walkRead(ChunkWalkBuffer* buffer, int64_t position, void* out, size_t n)
{
    if (position < buffer->start || position + static_cast<int64_t>(n) >
                                        buffer->start + static_cast<int64_t>(buffer->length)) {
        buffer->start = position;
        buffer->length = 0;
        while (buffer->length < WALK_BUFFER_BYTES) {
            ssize_t got = pread(buffer->fd, buffer->bytes + buffer->length,
                                WALK_BUFFER_BYTES - buffer->length,
                                static_cast<off_t>(position) + static_cast<off_t>(buffer->length));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            buffer->length += static_cast<size_t>(got);
        }
        if (buffer->length < n)
            return false;
    }
    memcpy(out, buffer->bytes + (position - buffer->start), n);
    return true;
}
}  // namespace

// Walks the chunks from offset 12 until the first data chunk that follows a usable format chunk,
// then leaves the stream at the first sample. Every chunk body is padded to an even length.
RFXRET WavAudioFile::walkChunks()
{
    const uint32_t fmtId = packChunkId("fmt");
    const uint32_t dataId = packChunkId("data");
    std::unique_ptr<ChunkWalkBuffer> buffer(new ChunkWalkBuffer);
    buffer->fd = fileno(stream_);
    buffer->start = 0;
    buffer->length = 0;
    int64_t position = 12;
    bool haveFormat = false;
    for (;;) {
        unsigned char image[WAV_FORMAT_RECORD_BYTES];
        if (!walkRead(buffer.get(), position, image, RIFF_CHUNK_HEADER_BYTES))
            return RFX_FILE_ERROR;
        RiffChunkHeader chunk = decodeChunkHeader(image);
        int64_t body = position + static_cast<int64_t>(RIFF_CHUNK_HEADER_BYTES);

        if (haveFormat && chunk.id == dataId) {
            dataHeaderPosition_ = position;
            dataHeader_ = chunk;
            break;
        }
        if (!haveFormat && chunk.id == fmtId && chunk.size >= 16) {
            if (!walkRead(buffer.get(), body, image + RIFF_CHUNK_HEADER_BYTES, 16))
                return RFX_FILE_ERROR;
            format_ = decodeFormatRecord(image);
            if (!isValidFormat(format_) || format_.bitsPerSample < 8)
                return RFX_FILE_ERROR;
            samplesDecodable_ = format_.formatTag == WAVE_FORMAT_PCM;
            if (format_.formatTag == WAVE_FORMAT_EXTENSIBLE &&
                chunk.size >= EXTENSIBLE_FORMAT_BODY_BYTES) {
                // The sub-format GUID of integer PCM begins 01 00.
                unsigned char guid[2];
                if (!walkRead(buffer.get(), body + 24, guid, 2))
                    return RFX_FILE_ERROR;
                samplesDecodable_ = guid[0] == 1 && guid[1] == 0;
            }
            haveFormat = true;
        }
        position = body + chunk.size + (chunk.size & 1u);
    }

    int64_t samplesStart = dataHeaderPosition_ + static_cast<int64_t>(RIFF_CHUNK_HEADER_BYTES);
    if (seek(samplesStart) != RFX_SUCCESS)
        return RFX_FILE_ERROR;
    uint64_t available = fileSize_ > samplesStart ? static_cast<uint64_t>(fileSize_ - samplesStart) : 0;
    sampleByteCount_ = sampleBytesIn(dataHeader_.size, available);
    sampleBytesLeft_ = sampleByteCount_;
    uint64_t frames = sampleByteCount_ / format_.channels / (format_.bitsPerSample / 8u);
    frameCount_ = frames > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(frames);
    return RFX_SUCCESS;
}

// Streaming writers cannot know the length when they write the header: they leave a data size of
// 0, or a placeholder too big for the file, and the samples run to the end of the file. A size of
// 0 in a file whose RIFF size is its true length (the pad byte allowed) is a real empty chunk.
uint64_t WavAudioFile::sampleBytesIn(uint32_t declared, uint64_t available) const
{
    if (declared != 0)
        return declared <= available ? declared : available;
    const uint32_t riffSize = header_.size;
    const int64_t riffEnd = static_cast<int64_t>(riffSize) + static_cast<int64_t>(RIFF_CHUNK_HEADER_BYTES);
    const bool riffSizeTrue = riffSize != 0 && riffSize != 0xFFFFFFFFu &&
                              (riffEnd == fileSize_ || riffEnd + 1 == fileSize_);
    return riffSizeTrue ? 0 : available;
}

RFXRET WavAudioFile::openForWrite(const char* name, uint32_t sampleRate, uint32_t bitsPerSample,
                                  uint32_t channels)
{
    uint16_t bits = static_cast<uint16_t>(bitsPerSample);
    uint16_t count = static_cast<uint16_t>(channels);
    if (name == nullptr || (bits != 8 && bits != 16) || (count != 1 && count != 2))
        return RFX_INVALID_CALL;
    setFormat(&format_, sampleRate, bits, count);
    header_ = RiffChunkHeader{packChunkId("RIFF"), 0};
    dataHeader_ = RiffChunkHeader{packChunkId("data"), 0};
    frameCount_ = 0;
    sampleByteCount_ = 0;
    sampleBytesLeft_ = 0;
    samplesDecodable_ = false;

    RFXRET result = open(name, RIFF_OPEN_WRITE);
    if (result != RFX_SUCCESS)
        return result;
    result = writeRaw("WAVE", 4);
    if (result != RFX_SUCCESS)
        return result;
    unsigned char image[WAV_FORMAT_RECORD_BYTES];
    encodeFormatRecord(format_, image);
    result = writeRaw(image, WAV_FORMAT_RECORD_BYTES);
    if (result != RFX_SUCCESS)
        return result;
    dataHeaderPosition_ = tell();
    encodeChunkHeader(dataHeader_, image);
    return writeRaw(image, RIFF_CHUNK_HEADER_BYTES);
}

RFXRET WavAudioFile::close()
{
    if (state_ == RIFF_WRITING) {
        unsigned char image[RIFF_CHUNK_HEADER_BYTES];
        encodeChunkHeader(dataHeader_, image);
        RFXRET result = seekAndWrite(dataHeaderPosition_, image, sizeof image);
        if (result != RFX_SUCCESS)
            return result;
    }
    return RiffChunkFile::close();
}

RFXRET WavAudioFile::readSampleBytes(void* buffer, size_t n)
{
    if (n > sampleBytesLeft_)
        return RFX_FILE_ERROR;
    RFXRET result = readRaw(buffer, n);
    sampleBytesLeft_ = result == RFX_SUCCESS ? sampleBytesLeft_ - n : 0;
    return result;
}

static int16_t sampleFromBytes(const unsigned char* bytes, uint16_t bitsPerSample)
{
    if (bitsPerSample == 8)
        return static_cast<int16_t>(bytes[0]);
    return static_cast<int16_t>(getLittle16(bytes));
}

RFXRET WavAudioFile::readFrame(int16_t* slots)
{
    uint32_t framesRead = 0;
    return readFrameBlock(1, slots, &framesRead);
}

RFXRET WavAudioFile::readFrames(uint32_t n, int16_t* slots)
{
    uint32_t framesRead = 0;
    return readFrameBlock(n, slots, &framesRead);
}

RFXRET WavAudioFile::readFrameBlock(uint32_t n, int16_t* slots, uint32_t* framesRead)
{
    *framesRead = 0;
    uint16_t bits = format_.bitsPerSample;
    uint16_t count = format_.channels;
    if (!samplesDecodable_ || (bits != 8 && bits != 16) || (count != 1 && count != 2))
        return RFX_INVALID_CALL;
    if (stream_ == nullptr)
        return RFX_FILE_ERROR;
    size_t bytesPerSample = bits / 8u;
    size_t frameBytes = bytesPerSample * count;
    uint64_t wanted = n;
    uint64_t frames = sampleBytesLeft_ / frameBytes < wanted ? sampleBytesLeft_ / frameBytes : wanted;

    // The samples land in the slots' own memory first (a 16-bit slot holds at least as many bytes
    // as an 8-bit or 16-bit sample), then are widened in place from the last one backwards.
    unsigned char* bytes = reinterpret_cast<unsigned char*>(slots);
    size_t got = frames == 0 ? 0 : fread(bytes, 1, static_cast<size_t>(frames) * frameBytes, stream_);
    sampleBytesLeft_ -= got;
    size_t samples = (got / frameBytes) * count;
    // On a little-endian machine 16-bit samples already are their slots.
    if (bits != 16 || std::endian::native != std::endian::little)
        for (size_t i = samples; i-- > 0;)
            slots[i] = sampleFromBytes(bytes + i * bytesPerSample, bits);
    *framesRead = static_cast<uint32_t>(got / frameBytes);
    return *framesRead == n ? RFX_SUCCESS : RFX_FILE_ERROR;
}

RFXRET WavAudioFile::readMonoSample(int16_t* slot)
{
    uint16_t bits = format_.bitsPerSample;
    if (!samplesDecodable_ || (bits != 8 && bits != 16))
        return RFX_INVALID_CALL;
    unsigned char bytes[2];
    RFXRET result = readSampleBytes(bytes, bits / 8u);
    if (result == RFX_SUCCESS)
        *slot = sampleFromBytes(bytes, bits);
    return result;
}

RFXRET WavAudioFile::readStereoSample(int16_t* left, int16_t* right)
{
    uint16_t bits = format_.bitsPerSample;
    if (!samplesDecodable_ || (bits != 8 && bits != 16))
        return RFX_INVALID_CALL;
    size_t bytesPerSample = bits / 8u;
    unsigned char bytes[4];
    RFXRET result = readSampleBytes(bytes, 2 * bytesPerSample);
    if (result == RFX_SUCCESS) {
        *left = sampleFromBytes(bytes, bits);
        *right = sampleFromBytes(bytes + bytesPerSample, bits);
    }
    return result;
}

RFXRET WavAudioFile::seekToFrame(uint32_t index)
{
    if (index >= frameCount_)
        return RFX_INVALID_CALL;
    // Bytes per sample round up here, unlike the frame count.
    uint64_t offset = static_cast<uint64_t>(index) * format_.channels *
                      ((format_.bitsPerSample + 7u) / 8u);
    RFXRET result = seek(dataHeaderPosition_ + static_cast<int64_t>(RIFF_CHUNK_HEADER_BYTES) +
                         static_cast<int64_t>(offset));
    if (result == RFX_SUCCESS)
        sampleBytesLeft_ = offset <= sampleByteCount_ ? sampleByteCount_ - offset : 0;
    return result;
}

RFXRET WavAudioFile::readRawSamples(int16_t* values, size_t n)
{
    unsigned char* bytes = reinterpret_cast<unsigned char*>(values);
    RFXRET result = readSampleBytes(bytes, 2 * n);
    if (result == RFX_SUCCESS) {
        for (size_t i = 0; i < n; ++i)
            values[i] = static_cast<int16_t>(getLittle16(bytes + 2 * i));
    }
    return result;
}

RFXRET WavAudioFile::readRawBytes(unsigned char* bytes, size_t n)
{
    return readSampleBytes(bytes, n);
}

RFXRET WavAudioFile::writeSampleBytes(const void* bytes, size_t n)
{
    RFXRET result = writeRaw(bytes, n);
    if (result == RFX_SUCCESS)
        dataHeader_.size += static_cast<uint32_t>(n);
    return result;
}

RFXRET WavAudioFile::writeMonoSample(int16_t value)
{
    unsigned char bytes[2];
    putLittle16(bytes, static_cast<uint16_t>(value));
    if (format_.bitsPerSample == 8)
        return writeSampleBytes(bytes, 1);
    if (format_.bitsPerSample == 16)
        return writeSampleBytes(bytes, 2);
    return RFX_INVALID_CALL;
}

RFXRET WavAudioFile::writeStereoSample(int16_t left, int16_t right)
{
    unsigned char bytes[4];
    putLittle16(bytes, static_cast<uint16_t>(left));
    putLittle16(bytes + 2, static_cast<uint16_t>(right));
    if (format_.bitsPerSample == 8) {
        bytes[1] = bytes[2];
        return writeSampleBytes(bytes, 2);
    }
    if (format_.bitsPerSample == 16)
        return writeSampleBytes(bytes, 4);
    return RFX_INVALID_CALL;
}

RFXRET WavAudioFile::writeFrame(const int16_t* slots)
{
    uint16_t bits = format_.bitsPerSample;
    uint16_t count = format_.channels;
    if ((bits != 8 && bits != 16) || (count != 1 && count != 2))
        return RFX_INVALID_CALL;
    for (uint16_t c = 0; c < count; ++c) {
        RFXRET result = writeMonoSample(slots[c]);
        if (result != RFX_SUCCESS)
            return result;
    }
    return RFX_SUCCESS;
}

RFXRET WavAudioFile::writeRawSamples(const int16_t* values, size_t n)
{
    unsigned char bytes[512];
    for (size_t done = 0; done < n;) {
        size_t step = n - done < sizeof bytes / 2 ? n - done : sizeof bytes / 2;
        for (size_t i = 0; i < step; ++i)
            putLittle16(bytes + 2 * i, static_cast<uint16_t>(values[done + i]));
        RFXRET result = writeSampleBytes(bytes, 2 * step);
        if (result != RFX_SUCCESS)
            return result;
        done += step;
    }
    return RFX_SUCCESS;
}

RFXRET WavAudioFile::writeRawBytes(const unsigned char* bytes, size_t n)
{
    return writeSampleBytes(bytes, n);
}

RFXRET writeWaveFile(const char* name, const int16_t* slots, uint32_t frameCount,
                     uint32_t channels, uint32_t sampleRate, uint32_t bitsPerSample)
{
    WavAudioFile file;
    RFXRET result = file.openForWrite(name, sampleRate, bitsPerSample, channels);
    if (result != RFX_SUCCESS)
        return result;
    uint16_t count = static_cast<uint16_t>(channels);
    for (uint32_t i = 0; i < frameCount; ++i) {
        result = file.writeFrame(slots + static_cast<size_t>(i) * count);
        if (result != RFX_SUCCESS)
            return result;
    }
    // Closing rewrites both headers; a failure there leaves a file whose sizes are wrong.
    return file.close();
}
