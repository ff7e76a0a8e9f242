#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include "wave/result_codes.h"

// The file image of a chunk header: a four-character id and the size of the body that follows.
// Both are little-endian in the file.
struct RiffChunkHeader {
    uint32_t id;
    uint32_t size;
};

constexpr size_t RIFF_CHUNK_HEADER_BYTES = 8;

// Packs up to four characters into an id, padding with blanks: "fmt" gives "fmt ". The first
// character is the first byte in the file, held in the lowest eight bits.
uint32_t packChunkId(const char* text);

void encodeChunkHeader(const RiffChunkHeader& header, unsigned char bytes[RIFF_CHUNK_HEADER_BYTES]);
RiffChunkHeader decodeChunkHeader(const unsigned char bytes[RIFF_CHUNK_HEADER_BYTES]);

enum RiffFileState : int32_t {
    RIFF_CLOSED = 0,
    RIFF_WRITING = 1,
    RIFF_READING = 2,
};

enum RiffOpenMode : int32_t {
    RIFF_OPEN_WRITE = 1,
    RIFF_OPEN_READ = 2,
};

// A binary file that begins with an 8-byte RIFF header. While writing, the header's size counts
// the bytes written after it, and closing rewrites the header. Offsets are 64-bit so that files
// beyond 2 GiB can be positioned.
class RiffChunkFile {
public:
    RiffChunkFile();
    ~RiffChunkFile();
    RiffChunkFile(const RiffChunkFile&) = delete;
    RiffChunkFile& operator=(const RiffChunkFile&) = delete;

    RFXRET open(const char* name, int32_t mode);
    RFXRET close();
    RFXRET writeRaw(const void* bytes, size_t n);
    RFXRET readRaw(void* buffer, size_t n);
    RFXRET expectText(const char* text, size_t n);
    int64_t tell();
    RFXRET seek(int64_t position);
    RFXRET seekAndWrite(int64_t position, const void* bytes, size_t n);
    int64_t fileSize() const { return fileSize_; }

    int32_t state() const { return state_; }
    const RiffChunkHeader& header() const { return header_; }

protected:
    RiffChunkHeader header_;
    int32_t state_;
    FILE* stream_;
    int64_t fileSize_;
};
