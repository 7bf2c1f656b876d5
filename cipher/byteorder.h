// Words read from and written to bytes in little-endian order, whatever the machine's own: key
// text, mask records and random bytes hold their first byte in a word's lowest bits everywhere, so
// one word-at-a-time path serves every processor. On a big-endian machine each load or store is
// one byte-swapping instruction more.
#pragma once

#include <bit>
#include <concepts>
#include <cstdint>
#include <cstring>

namespace morvalen {

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big,
    "a machine of mixed byte order");

// word with its bytes in the other order.
template<std::unsigned_integral Word>
constexpr Word byteSwapped(Word word)
{
    if constexpr (sizeof(Word) == 8) {
        return __builtin_bswap64(word);
    } else if constexpr (sizeof(Word) == 4) {
        return __builtin_bswap32(word);
    } else if constexpr (sizeof(Word) == 2) {
        return __builtin_bswap16(word);
    } else {
        static_assert(sizeof(Word) == 1);
        return word;
    }
}

// The word whose lowest byte is from[0].
template<std::unsigned_integral Word>
inline Word loadLittle(const void* from)
{
    Word word;
    std::memcpy(&word, from, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        word = byteSwapped(word);
    }
    return word;
}

// Writes word's bytes to to, its lowest first.
template<std::unsigned_integral Word>
inline void storeLittle(void* to, Word word)
{
    if constexpr (std::endian::native == std::endian::big) {
        word = byteSwapped(word);
    }
    std::memcpy(to, &word, sizeof word);
}

} // namespace morvalen
