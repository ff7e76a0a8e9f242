#include "library/float_format.h"

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

typedef unsigned __int128 uint128;

constexpr uint64_t MICRO = 1000000;

size_t copyText(char* out, const char* text) {
    size_t length = strlen(text);
    memcpy(out, text, length);
    return length;
}

// Decimal digits of an unsigned value, most significant first (64 or 128 bits).
template <typename Unsigned>
size_t writeUnsigned(Unsigned value, char* out) {
    char reversed[48];
    size_t count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + static_cast<int>(value % 10));
        value /= 10;
    } while (value != 0);
    for (size_t i = 0; i < count; ++i) out[i] = reversed[count - 1 - i];
    return count;
}

// "00".."99", so that decimals go out two at a time.
struct DigitPairs {
    char text[200];
    constexpr DigitPairs() : text() {
        for (int i = 0; i < 100; ++i) {
            text[2 * i] = static_cast<char>('0' + i / 10);
            text[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr DigitPairs DIGIT_PAIRS;

void writePair(uint32_t twoDigits, char* out) {
    memcpy(out, DIGIT_PAIRS.text + 2 * twoDigits, 2);
}

// "[-]integer.dddddd" from the integer part and the six decimals. Coefficients are mostly below
// 1000 with signs that come and go, so that case is written without a branch on either.
size_t writeMicros(bool negative, uint128 whole, uint32_t decimals, char* out) {
    out[0] = '-';
    size_t length = negative ? 1 : 0;
    if (whole < 1000 && std::endian::native == std::endian::little) {
        // The three digits in one register, the leading zeros shifted out, stored at once (the
        // bytes after the digits are rewritten below); built from bytes in memory, a store
        // forwarding stall would cost more than the rest of the number.
        const uint32_t w = static_cast<uint32_t>(whole);
        const uint32_t pair = static_cast<uint8_t>(DIGIT_PAIRS.text[2 * (w % 100)]) |
                              static_cast<uint32_t>(DIGIT_PAIRS.text[2 * (w % 100) + 1]) << 8;
        const uint32_t digits = static_cast<uint32_t>('0' + w / 100) | pair << 8;
        const size_t count = 1 + (w >= 10) + (w >= 100);
        const uint32_t shifted = digits >> (8 * (3 - count));
        memcpy(out + length, &shifted, sizeof shifted);
        length += count;
    } else if (whole < 10) {
        out[length++] = static_cast<char>('0' + static_cast<int>(whole));
    } else if (static_cast<uint64_t>(whole) == whole) {
        length += writeUnsigned(static_cast<uint64_t>(whole), out + length);
    } else {
        length += writeUnsigned(whole, out + length);
    }
    out[length++] = '.';
    writePair(decimals / 10000, out + length);
    writePair(decimals / 100 % 100, out + length + 2);
    writePair(decimals % 100, out + length + 4);
    return length + 6;
}

}  // namespace

size_t formatFixedSix(float value, char* out) {
    uint32_t bits;
    memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 31) != 0;
    const uint32_t exponentField = (bits >> 23) & 0xFF;
    const uint32_t fraction = bits & 0x7FFFFF;

    if (exponentField == 0xFF) {
        if (fraction == 0) return copyText(out, negative ? "-inf" : "inf");
        // Every NaN the analysis makes (-inf + inf) is "-nan", whatever sign bit the processor
        // gives it (x86 sets it, Arm does not): the same bytes on every architecture.
        return copyText(out, "-nan");
    }

    // value = mantissa * 2^exponent exactly.
    uint64_t mantissa = exponentField == 0 ? fraction : (fraction | 0x800000u);
    int exponent = exponentField == 0 ? -149 : static_cast<int>(exponentField) - 150;

    // Values from 2^107 up would overflow 128 bits below; printf itself is exact there.
    if (exponent > 83) return static_cast<size_t>(snprintf(out, 64, "%f", static_cast<double>(value)));

    // micros = value * 10^6 rounded to the nearest integer, ties to even. Up to 2^20 times the
    // 44-bit scaled mantissa the product fits 64 bits, which covers every usual coefficient.
    const uint64_t scaled = mantissa * MICRO;
    if (exponent <= 20) {
        uint64_t micros;
        if (exponent >= 0) {
            micros = scaled << exponent;
        } else {
            const int shift = -exponent;
            if (shift >= 64) {
                micros = 0;  // scaled < 2^44, so the quotient is below one half
            } else {
                micros = scaled >> shift;
                const uint64_t remainder = scaled - (micros << shift);
                const uint64_t half = static_cast<uint64_t>(1) << (shift - 1);
                micros += (remainder > half) | ((remainder == half) & (micros & 1));
            }
        }
        return writeMicros(negative, micros / MICRO, static_cast<uint32_t>(micros % MICRO), out);
    }
    const uint128 micros = static_cast<uint128>(scaled) << exponent;
    return writeMicros(negative, micros / MICRO, static_cast<uint32_t>(micros % MICRO), out);
}
