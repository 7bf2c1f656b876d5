// The encrypting bits, written and read. The text is a sequence of mask groups, one per digit,
// each closed by "|"; a group is its masks in the order applied, each written "," and four digits
// "0" or "1". The reader skips blanks anywhere, so a key wrapped over lines still reads, and it
// takes the text in pieces of any size, so a key far larger than memory can be read from a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace morvalen {

// Masks every digit takes; a digit that is zero after them takes more until it is not.
inline constexpr std::size_t kMasksPerDigit = 13;
// Characters of one mask in the text: "," and four digits.
inline constexpr std::size_t kMaskChars = 5;
// Characters of a group of kMasksPerDigit masks with its closing "|".
inline constexpr std::size_t kUsualGroupChars = kMasksPerDigit * kMaskChars + 1;

// Writes one mask's text, "," and its four bits, most significant first, at out.
constexpr void writeMaskText(char* out, std::size_t mask)
{
    out[0] = ',';
    for (std::size_t bit = 0; bit < 4; ++bit) {
        out[1 + bit] = (mask >> (3 - bit) & 1) != 0 ? '1' : '0';
    }
}

// One digit's masks, each 0-15, in the order applied.
using MaskGroup = std::span<const std::uint8_t>;

// The first kMasksPerDigit masks of a group packed four bits a mask, the first lowest.
using PackedGroup = std::uint64_t;

} // namespace morvalen
