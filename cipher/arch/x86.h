// Tables and steps the x86 vector rooms share, with internal linkage as in shared.h.
#pragma once

#include "cipher/arch/shared.h"

#include <immintrin.h>

namespace morvalen::arch {
namespace {

// The 64 bytes before a group's last digit and its end, for the readers: the bits compared, and
// what they must be.
struct UsualGroupVectors
{
    alignas(64) std::array<std::uint8_t, 64> keep {};
    alignas(64) std::array<std::uint8_t, 64> want {};
};
constexpr UsualGroupVectors kUsualGroupVectors = [] {
    UsualGroupVectors vectors;
    for (std::size_t p = 0; p < 64; ++p) {
        const bool digit = p % kMaskChars != 0;
        vectors.keep[p] = digit ? 0xFE : 0xFF;
        vectors.want[p] = digit ? '0' : ',';
    }
    return vectors;
}();
// The last digit and the byte after it, read as one 16-bit word: '0' or '1', then '|' or ','.
constexpr std::uint16_t kTailKeep = 0xFE | kEndKeep << 8;
constexpr std::uint16_t kTailWant = '0' | ('|' & kEndKeep) << 8;

// The group's last digit and the byte after it, when they are '0' or '1' and then '|' or ',';
// kNoTail otherwise. (No std::optional: in the rooms every piece of code is theirs alone.)
constexpr std::uint32_t kNoTail = 0x10000;
inline std::uint32_t usualTail(const char* text)
{
    const auto tail = loadLittle<std::uint16_t>(text + 64);
    return (tail & kTailKeep) == kTailWant ? tail : kNoTail;
}

// Carry-less multiplication by this adds (XORs) a word shifted by every multiple of 5 up to 60:
// bit 60 + r of the product is the XOR of bits r, r + 5, ..., r + 60, digit r of every mask.
constexpr std::uint64_t kFoldMasks = [] {
    std::uint64_t fold = 0;
    for (std::size_t k = 0; k < kMasksPerDigit; ++k) {
        fold |= std::uint64_t {1} << (kMaskChars * k);
    }
    return fold;
}();

// The XOR of the group's 13 masks, digit by digit, from the lowest bits of bytes 1 to 64 (lowest
// first; bytes 1 to 63 as given, byte 64 from the tail).
inline unsigned foldedDigits(std::uint64_t lowestBits, std::uint32_t tail)
{
    const std::uint64_t bits = lowestBits | std::uint64_t {tail & 1u} << 63;
    const __m128i product = _mm_clmulepi64_si128(
        _mm_cvtsi64_si128(static_cast<long long>(bits)), _mm_cvtsi64_si128(static_cast<long long>(kFoldMasks)), 0);
    return static_cast<unsigned>(static_cast<std::uint64_t>(_mm_cvtsi128_si64(product)) >> 60);
}

// For each byte of a group's text, in three 32-byte vectors, for the writers: which byte of the
// packed group holds its bit, that bit, and the character for a clear bit. Commas and the '|'
// read no byte (index 0x80 gives zero), so they keep their character.
struct WriterTables
{
    alignas(64) std::array<std::uint8_t, 96> source {};
    alignas(64) std::array<std::uint8_t, 96> bit {};
    alignas(64) std::array<std::uint8_t, 96> clear {};
};
constexpr WriterTables kWriter = [] {
    WriterTables tables;
    for (std::size_t p = 0; p < tables.source.size(); ++p) {
        const std::size_t place = p % kMaskChars;
        tables.source[p] = 0x80;
        tables.bit[p] = 1;
        tables.clear[p] = p + 1 == kUsualGroupChars ? '|' : place == 0 ? ',' : '0';
        if (place != 0 && p + 1 < kUsualGroupChars) {
            // The mask's first digit is its highest bit.
            const std::size_t bitIndex = 4 * (p / kMaskChars) + 4 - place;
            tables.source[p] = static_cast<std::uint8_t>(bitIndex / 8);
            tables.bit[p] = static_cast<std::uint8_t>(1u << (bitIndex % 8));
        }
    }
    return tables;
}();

// For the digit loops: four digits' masks are 26 bytes from the first one's byte on; each 16-byte
// lane of a vector takes two digits, the second lane from 13 bytes on. Within a lane the first
// digit's masks begin at byte 0 and the second's 52 bits later, at byte 6 or 7 as the first
// begins on a byte or half way: which bytes make each lane's two words, and how far to shift each.
struct DigitVectors
{
    alignas(32) std::array<std::array<std::uint8_t, 32>, 2> pick {};
    alignas(32) std::array<std::array<std::uint64_t, 4>, 2> shift {};
};
constexpr DigitVectors kDigitVectors = [] {
    DigitVectors vectors;
    for (std::size_t half = 0; half < 2; ++half) {
        const std::size_t second = (4 * half + 4 * kMasksPerDigit) / 8;
        for (std::size_t lane = 0; lane < 2; ++lane) {
            for (std::size_t i = 0; i < 8; ++i) {
                vectors.pick[half][16 * lane + i] = static_cast<std::uint8_t>(i);
                vectors.pick[half][16 * lane + 8 + i] = static_cast<std::uint8_t>(second + i);
            }
            vectors.shift[half][2 * lane] = 4 * half;
            vectors.shift[half][2 * lane + 1] = (4 * half + 4 * kMasksPerDigit) % 8;
        }
    }
    return vectors;
}();

} // namespace
} // namespace morvalen::arch
