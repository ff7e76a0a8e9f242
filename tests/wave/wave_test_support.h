#pragma once
// Byte-level wave fixtures and output capture shared by the wave tests.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/capture.h"

using Bytes = std::vector<uint8_t>;

inline void appendText(Bytes& bytes, const char* text)
{
    for (; *text != '\0'; ++text)
        bytes.push_back(static_cast<uint8_t>(*text));
}

inline void append16(Bytes& bytes, uint32_t value)
{
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

inline void append32(Bytes& bytes, uint32_t value)
{
    append16(bytes, value & 0xFFFFu);
    append16(bytes, value >> 16);
}

// A chunk: id, declared size, body and the pad byte that makes the body even.
inline void appendChunk(Bytes& bytes, const char* id, const Bytes& body)
{
    appendText(bytes, id);
    append32(bytes, static_cast<uint32_t>(body.size()));
    bytes.insert(bytes.end(), body.begin(), body.end());
    if (body.size() % 2 != 0)
        bytes.push_back(0);
}

// The 16-byte format body with a byte rate and block align that agree with the rest, followed by
// extraBytes zero bytes (an 18-byte chunk has 2).
inline Bytes formatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                        size_t extraBytes = 0)
{
    Bytes body;
    append16(body, tag);
    append16(body, channels);
    append32(body, rate);
    append32(body, (static_cast<uint32_t>(channels) * rate * bits) >> 3);
    append16(body, (static_cast<uint32_t>(channels) * bits) / 8);
    append16(body, bits);
    body.resize(body.size() + extraBytes, 0);
    return body;
}

// The 40-byte extensible body; the sub-format GUID starts with guidTag (1 integer PCM, 3 float).
inline Bytes extensibleBody(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t guidTag)
{
    Bytes body = formatBody(0xFFFE, channels, rate, bits);
    append16(body, 22);          // size of the extension
    append16(body, bits);        // valid bits
    append32(body, channels == 2 ? 3 : 4);  // speaker mask
    append16(body, guidTag);
    const uint8_t rest[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                              0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    body.insert(body.end(), rest, rest + 14);
    return body;
}

// "RIFF", the count of the bytes that follow, "WAVE", then the chunks as given.
inline Bytes riffWave(const Bytes& chunks)
{
    Bytes bytes;
    appendText(bytes, "RIFF");
    append32(bytes, static_cast<uint32_t>(4 + chunks.size()));
    appendText(bytes, "WAVE");
    bytes.insert(bytes.end(), chunks.begin(), chunks.end());
    return bytes;
}

// The canonical 44-byte layout followed by the sample bytes.
inline Bytes canonicalWave(uint16_t channels, uint32_t rate, uint16_t bits, const Bytes& data,
                           uint16_t tag = 1)
{
    Bytes chunks;
    appendChunk(chunks, "fmt ", formatBody(tag, channels, rate, bits));
    appendText(chunks, "data");
    append32(chunks, static_cast<uint32_t>(data.size()));
    chunks.insert(chunks.end(), data.begin(), data.end());
    return riffWave(chunks);
}

inline Bytes samples16(const std::vector<int16_t>& values)
{
    Bytes bytes;
    for (int16_t v : values)
        append16(bytes, static_cast<uint16_t>(v));
    return bytes;
}

inline uint32_t read32At(const Bytes& bytes, size_t offset)
{
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

// Every scratch path handed out is removed when the test program ends.
inline std::vector<std::string>& scratchPaths()
{
    static std::vector<std::string> paths;
    return paths;
}

struct ScratchFileCleanup : testing::Environment {
    void TearDown() override
    {
        for (const std::string& path : scratchPaths())
            remove(path.c_str());
    }
};

inline testing::Environment* const scratchFileCleanup =
    testing::AddGlobalTestEnvironment(new ScratchFileCleanup);

inline std::string tempPath(const std::string& leaf)
{
    std::string path = testing::TempDir() + "orvalix_wave_" + std::to_string(getpid()) + "_" + leaf;
    scratchPaths().push_back(path);
    return path;
}

inline std::string writeTempFile(const std::string& leaf, const Bytes& bytes)
{
    std::string path = tempPath(leaf);
    FILE* f = fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f != nullptr) {
        if (!bytes.empty())
            fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    return path;
}

inline Bytes readWholeFile(const std::string& path)
{
    Bytes bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return bytes;
    int c;
    while ((c = getc(f)) != EOF)
        bytes.push_back(static_cast<uint8_t>(c));
    fclose(f);
    return bytes;
}

