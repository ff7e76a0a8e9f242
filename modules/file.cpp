// Byte and bit I/O and the parameter header. The writer's bit check must hold in every build.
#undef NDEBUG
#include "modules/file.h"

#include <cassert>
#include <cstdio>

#include "modules/console.h"
#include "options/option_table.h"

FILE* openFile(const char* name, int mode, int overwrite)
{
    FILE* stream = nullptr;
    switch (mode) {
    case 0:
        if (fileExists(name)) {
            if (overwrite != 1) {
                printError("ERROR: File already exists: %s\n", name);
                return nullptr;
            }
            remove(name);
        }
        stream = fopen(name, "wb+");
        if (stream == nullptr)
            printError("ERROR: Couldn't open the file: %s\n", name);
        return stream;
    case 1:
        stream = fopen(name, "rb");
        if (stream == nullptr)
            printError("ERROR: Cannot find the file: %s\n", name);
        return stream;
    default:
        printError("ERROR: Invalid file mode:%d", mode);
        return nullptr;
    }
}

// The shift comes before the read, so a value cut short by the end of the file ends in a zero
// byte: with n = 2 and one byte left the result is that byte times 256.
int readBigEndian(FILE* stream, int32_t* value, int n)
{
    uint32_t bits = 0;
    int count = 0;
    for (; count < n; ++count) {
        bits <<= 8;
        int c = getc(stream);
        if (c == EOF) {
            printError("ERROR: unable to read from file.\n");
            break;
        }
        bits |= static_cast<uint32_t>(c);
    }
    *value = static_cast<int32_t>(bits);
    return count;
}

int readLittleEndian(FILE* stream, int32_t* value, int n)
{
    uint32_t bits = 0;
    int count = 0;
    for (; count < n; ++count) {
        int c = getc(stream);
        if (c == EOF) {
            printError("ERROR: unable to read from file.\n");
            break;
        }
        bits |= static_cast<uint32_t>(c) << (8 * count);
    }
    *value = static_cast<int32_t>(bits);
    return count;
}

// A non-negative value must fit in n bytes; a negative one is written as its low n bytes.
int writeBigEndian(FILE* stream, int32_t value, int n)
{
    if (n < 4 && (value >> (8 * n)) > 0) {
        printError("ERROR: Vector element value is too big (%d). Increase bytes/elem ratio.\n",
                   value);
        return 0;
    }
    uint32_t bits = static_cast<uint32_t>(value);
    for (int i = 0; i < n; ++i) {
        int byte = static_cast<int>((bits >> (8 * (n - 1 - i))) & 0xFFu);
        if (putc(byte, stream) == EOF) {
            printError("ERROR: unable to write to file.");
            return i;
        }
    }
    return n;
}

void initBitReader(BitReader* reader, FILE* stream)
{
    reader->stream = stream;
    reader->bitsLeft = 0;
    reader->currentByte = 0;
}

int readBit(BitReader* reader)
{
    if (reader->bitsLeft == 0) {
        int c = getc(reader->stream);
        if (c == EOF) {
            // The reader stays empty, so the next call tries the stream again.
            printError("Unexpected EOF in input file.\n");
            return -1;
        }
        reader->currentByte = c;
        reader->bitsLeft = 8;
    }
    int bit = (reader->currentByte >> 7) & 1;
    reader->currentByte <<= 1;
    reader->bitsLeft -= 1;
    return bit;
}

// The first bit read becomes bit 0; an end of file (-1) counts as a 1 bit.
int readBits(BitReader* reader, int n)
{
    uint32_t result = 0;
    uint32_t mask = 1;
    for (int i = 0; i < n; ++i) {
        if (readBit(reader) != 0)
            result |= mask;
        mask <<= 1;
    }
    return static_cast<int>(result);
}

void initBitWriter(BitWriter* writer)
{
    writer->bitCount = 0;
}

void writeBit(BitWriter* writer, int bit)
{
    assert(bit == 0 || bit == 1);
    writer->currentByte =
        static_cast<int32_t>((static_cast<uint32_t>(writer->currentByte) << 1) | static_cast<uint32_t>(bit));
    writer->bitCount += 1;
    if (writer->bitCount == 8) {
        putc(writer->currentByte & 0xFF, writer->stream);
        writer->bitCount = 0;
        writer->currentByte = 0;
    }
}

// The value's least significant bit goes first.
void writeBits(BitWriter* writer, int32_t value, int n)
{
    for (int i = 0; i < n; ++i) {
        writeBit(writer, value & 1);
        value >>= 1;
    }
}

// Pads the last partial byte with zero bits.
void flushBits(BitWriter* writer)
{
    if (writer->bitCount == 0)
        return;
    uint32_t padded = static_cast<uint32_t>(writer->currentByte) << (8 - writer->bitCount);
    putc(static_cast<int>(padded & 0xFFu), writer->stream);
    writer->bitCount = 0;
    writer->currentByte = 0;
}

void saveParameterHeader(FILE* stream)
{
    for (int row = FIRST_OPTION_ROW; row <= LAST_OPTION_ROW; ++row) {
        if (optionSaveFlag(row))
            writeBigEndian(stream, optionValue(row), 2);
    }
}

void loadParameterHeader(FILE* stream)
{
    for (int row = FIRST_OPTION_ROW; row <= LAST_OPTION_ROW; ++row) {
        if (optionSaveFlag(row)) {
            int32_t value = 0;
            readBigEndian(stream, &value, 2);
            storeOptionValue(row, value);
        }
    }
}
