#pragma once
#include <cstddef>
#include <cstdint>
#include "wave/result_codes.h"
#include "wave/riff_chunk_file.h"

// The format chunk as one 24-byte record: its chunk header and the 16-byte body every PCM
// format chunk begins with.
struct WavFormatRecord {
    uint32_t chunkId;
    uint32_t chunkSize;
    uint16_t formatTag;
    uint16_t channels;
    uint32_t sampleRate;
    uint32_t byteRate;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
};

constexpr size_t WAV_FORMAT_RECORD_BYTES = 24;
constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
// An extensible format body carries its sub-format GUID from body byte 24 on, so 40 bytes.
constexpr uint32_t EXTENSIBLE_FORMAT_BODY_BYTES = 40;

// Stores rate, bits and channels and derives byteRate and blockAlign (unsigned 32-bit, wrapping).
void setFormat(WavFormatRecord* format, uint32_t sampleRate, uint16_t bitsPerSample,
               uint16_t channels);
// formatTag 1, 44100 Hz, 16 bits, 2 channels, chunk "fmt " of 16 bytes.
WavFormatRecord defaultFormatRecord();
// True when the id is "fmt ", there are 1 or 2 channels, byteRate and blockAlign agree with the
// rest, and the rate fits a signed 32-bit value.
bool isValidFormat(const WavFormatRecord& format);

void encodeFormatRecord(const WavFormatRecord& format, unsigned char bytes[WAV_FORMAT_RECORD_BYTES]);
WavFormatRecord decodeFormatRecord(const unsigned char bytes[WAV_FORMAT_RECORD_BYTES]);

// A RIFF/WAVE file read or written frame by frame. Samples travel as 16-bit slots: 8-bit samples
// as their unsigned value 0..255, 16-bit samples signed. Reading walks the chunks, so format
// chunks longer than 16 bytes and chunks around the data are handled; writing produces the
// canonical 44-byte header.
class WavAudioFile : public RiffChunkFile {
public:
    WavAudioFile();
    ~WavAudioFile();

    RFXRET openForRead(const char* name);
    RFXRET openForWrite(const char* name, uint32_t sampleRate, uint32_t bitsPerSample,
                        uint32_t channels);
    RFXRET close();

    uint16_t channels() const { return format_.channels; }
    uint32_t sampleRate() const { return format_.sampleRate; }
    uint16_t bitsPerSample() const { return format_.bitsPerSample; }
    uint32_t frameCount() const { return frameCount_; }
    const WavFormatRecord& format() const { return format_; }
    const RiffChunkHeader& dataHeader() const { return dataHeader_; }
    int64_t dataHeaderPosition() const { return dataHeaderPosition_; }
    // Bytes of sample data behind the data header (what frameCount is computed from).
    uint64_t sampleByteCount() const { return sampleByteCount_; }
    // False for formats whose samples are not plain PCM (float, A-law, mu-law, ADPCM, ...).
    bool samplesDecodable() const { return samplesDecodable_; }

    RFXRET readFrame(int16_t* slots);
    RFXRET readFrames(uint32_t n, int16_t* slots);
    // Reads up to n frames with one block read; *framesRead counts the whole frames obtained.
    // Fewer than n gives RFX_FILE_ERROR.
    RFXRET readFrameBlock(uint32_t n, int16_t* slots, uint32_t* framesRead);
    RFXRET readMonoSample(int16_t* slot);
    RFXRET readStereoSample(int16_t* left, int16_t* right);
    RFXRET seekToFrame(uint32_t index);
    RFXRET readRawSamples(int16_t* values, size_t n);
    RFXRET readRawBytes(unsigned char* bytes, size_t n);

    RFXRET writeFrame(const int16_t* slots);
    RFXRET writeMonoSample(int16_t value);
    RFXRET writeStereoSample(int16_t left, int16_t right);
    RFXRET writeRawSamples(const int16_t* values, size_t n);
    RFXRET writeRawBytes(const unsigned char* bytes, size_t n);

private:
    RFXRET walkChunks();
    uint64_t sampleBytesIn(uint32_t declared, uint64_t available) const;
    RFXRET readSampleBytes(void* buffer, size_t n);
    RFXRET writeSampleBytes(const void* bytes, size_t n);

    WavFormatRecord format_;
    RiffChunkHeader dataHeader_;
    int64_t dataHeaderPosition_;
    uint32_t frameCount_;
    uint64_t sampleByteCount_;
    uint64_t sampleBytesLeft_;  // sample bytes not yet read; reads stop at the data chunk's end
    bool samplesDecodable_;
};

// Writes frameCount frames of interleaved slots as a new wave file.
RFXRET writeWaveFile(const char* name, const int16_t* slots, uint32_t frameCount,
                     uint32_t channels, uint32_t sampleRate, uint32_t bitsPerSample);
