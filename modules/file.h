#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

// Small stand-alone routines for files and file names. Messages go to standard error.

// 1 when the named file can be opened for binary reading, else 0. Nothing is created.
int fileExists(const char* name);

// 1 when anything has the name (a file that cannot be read, a folder, a link that leads nowhere),
// else 0. Links are not followed.
int nameExists(const char* name);

// mode 0: create for writing ("wb+"), refusing an existing file unless overwrite is 1;
// mode 1: read ("rb"). Returns null (after a message) on failure.
FILE* openFile(const char* name, int mode, int overwrite);

int readBigEndian(FILE* stream, int32_t* value, int n);
int readLittleEndian(FILE* stream, int32_t* value, int n);
int writeBigEndian(FILE* stream, int32_t value, int n);

struct BitReader {
    FILE* stream;
    int32_t bitsLeft;
    int32_t currentByte;
};

struct BitWriter {
    FILE* stream;
    int32_t bitCount;
    int32_t currentByte;
};

void initBitReader(BitReader* reader, FILE* stream);
int readBit(BitReader* reader);
int readBits(BitReader* reader, int n);
void initBitWriter(BitWriter* writer);
void writeBit(BitWriter* writer, int bit);
void writeBits(BitWriter* writer, int32_t value, int n);
void flushBits(BitWriter* writer);

// Copies source into target (capacity bytes) and cuts it at its first '.'. Returns the position
// of the cut, or -1 when there is none.
int stripExtension(const char* source, char* target, size_t capacity);

// Appends "." and the extension unless the last path component already has a dot. Returns 1, or 0
// (name unchanged) when the result would not fit in capacity bytes.
int addDefaultExtension(char* name, const char* extension, size_t capacity);

// 1 when the texts are equal ignoring case (toupper), else 0.
int namesEqualIgnoreCase(const char* a, const char* b);

// The 2-byte parameter header: the values of the option rows marked for saving, big-endian.
void saveParameterHeader(FILE* stream);
void loadParameterHeader(FILE* stream);
