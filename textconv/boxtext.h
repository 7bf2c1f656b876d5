// Reading text as it stands in one of the tool's boxes: blanks carry no meaning and are skipped,
// and messages name a character by its 1-based position among all characters of the box
// (UTF-8 sequences count once, a byte that is not valid UTF-8 counts as one character).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace morvalen {

inline constexpr std::string_view kHexDigits = "0123456789ABCDEF";

// Value of an upper-case hex digit as readHexDigits returns them.
constexpr unsigned hexValue(char digit) noexcept
{
    return static_cast<unsigned>(digit <= '9' ? digit - '0' : digit - 'A' + 10);
}

// Space, tab and line breaks.
constexpr bool isBlank(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// 1-based character position of the character that starts at byteOffset.
std::size_t characterPosition(std::string_view text, std::size_t byteOffset);

// How a message shows the character at byteOffset: 'G', 'é', U+0007 or byte 0xFF.
std::string describeCharacter(std::string_view text, std::size_t byteOffset);

// The hex digits of a box, upper case, blanks skipped. InvalidInput, with a message that starts
// with box, for a character that is not a hex digit or for an odd number of digits.
std::string readHexDigits(std::string_view text, std::string_view box);

// "1 mask group", "3 mask groups": count with its noun.
std::string counted(std::size_t count, std::string_view singular, std::string_view plural);

} // namespace morvalen
