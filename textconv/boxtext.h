// Reading text as it stands in one of the tool's boxes: blanks carry no meaning and are skipped,
// and messages name a character by its 1-based position among all characters of the box
// (UTF-8 sequences count once, a byte that is not valid UTF-8 counts as one character).
#pragma once

#include "errors.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace morvalen {

inline constexpr std::string_view kHexDigits = "0123456789ABCDEF";

namespace detail {
inline constexpr std::uint8_t kBlankClass = 16;
inline constexpr std::uint8_t kOtherClass = 17;

// Hex digits map to their value, blanks and everything else to a class of their own, so
// reading a box is one table look-up per byte with no branch on the character.
inline constexpr std::array<std::uint8_t, 256> kCharClasses = [] {
    std::array<std::uint8_t, 256> classes {};
    classes.fill(kOtherClass);
    for (int i = 0; i < 10; ++i) {
        classes[static_cast<std::size_t>('0' + i)] = static_cast<std::uint8_t>(i);
    }
    for (int i = 0; i < 6; ++i) {
        classes[static_cast<std::size_t>('A' + i)] = static_cast<std::uint8_t>(10 + i);
        classes[static_cast<std::size_t>('a' + i)] = static_cast<std::uint8_t>(10 + i);
    }
    for (const char c : {' ', '\t', '\n', '\r', '\v', '\f'}) {
        classes[static_cast<std::size_t>(c)] = kBlankClass;
    }
    return classes;
}();
} // namespace detail

// Value of a hex digit of either case.
constexpr unsigned hexValue(char digit) noexcept
{
    return detail::kCharClasses[static_cast<unsigned char>(digit)];
}

// Space, tab and line breaks.
constexpr bool isBlank(char c) noexcept
{
    return detail::kCharClasses[static_cast<unsigned char>(c)] == detail::kBlankClass;
}

// 1-based character position of the character that starts at byteOffset.
std::size_t characterPosition(std::string_view text, std::size_t byteOffset);

// Bytes of the character that starts at byteOffset: its UTF-8 sequence, or 1 for a byte that
// starts no valid one.
std::size_t characterLength(std::string_view text, std::size_t byteOffset);

// How a message shows the character at byteOffset: 'G', 'é', U+0007 or byte 0xFF.
std::string describeCharacter(std::string_view text, std::size_t byteOffset);

// The hex digits of a box, upper case, blanks skipped. InvalidInput about input, with a message
// that starts with its box name, for a character that is not a hex digit (placed on it) or for
// an odd number of digits (placed on the last digit).
std::string readHexDigits(std::string_view text, ErrorInput input);

// "1 mask group", "3 mask groups": count with its noun.
std::string counted(std::size_t count, std::string_view singular, std::string_view plural);

} // namespace morvalen
