// Reading text as it stands in one of the tool's boxes or in a file: blanks carry no meaning and
// are skipped, and messages name what is wrong by its place (UTF-8 sequences count as one
// character, a byte that is not valid UTF-8 as one character of its own).
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

// Bytes of the character that starts at byteOffset: its UTF-8 sequence, or 1 for a byte that
// starts no valid one.
std::size_t characterLength(std::string_view text, std::size_t byteOffset);

// The character that starts at byteOffset: its code point and bytes, or U+FFFD and 1 for a byte
// that starts no valid sequence. The one UTF-8 decoder of the product.
struct DecodedCharacter
{
    char32_t codePoint = 0;
    std::size_t length = 1;
};
DecodedCharacter decodeCharacter(std::string_view text, std::size_t byteOffset);

// How a message shows the character at byteOffset: 'G', 'é', U+0007 or byte 0xFF.
std::string describeCharacter(std::string_view text, std::size_t byteOffset);

// A character that breaks a format. When a piece ends inside its UTF-8 sequence, the rest is
// taken from the pieces that follow, so the message names it as if the text had come whole.
class BadCharacter
{
public:
    // rest: the text from the character on. True once the character is whole.
    bool start(std::string_view rest, TextPlace place);
    // Takes what the character still lacks from the next piece; true once it is whole.
    bool add(std::string_view piece);
    bool pending() const { return !m_bytes.empty(); }

    std::string describe() const { return describeCharacter(m_bytes, 0); }
    std::size_t length() const { return characterLength(m_bytes, 0); }
    const TextPlace& place() const { return m_place; }

private:
    bool whole() const;

    std::string m_bytes;
    TextPlace m_place;
};

// Where reading stands in a text that arrives in pieces: the byte offset, line and column of the
// next byte, and of any byte on the current line. Columns count bytes; the readers stop at the
// first byte that is not ASCII, so up to any place they report, bytes and characters agree.
class PlaceCounter
{
public:
    explicit PlaceCounter(TextPlace start = {})
        : m_offset(start.offset)
        , m_line(start.line)
        , m_lineStart(start.offset - (start.column - 1))
    {
    }

    std::size_t offset() const { return m_offset; }
    TextPlace place() const { return placeOf(m_offset); }
    // offset: of a byte on the current line.
    TextPlace placeOf(std::size_t offset) const { return {offset, m_line, offset - m_lineStart + 1}; }

    // Moves past consumed, counting its line breaks.
    void advance(std::string_view consumed);
    // For a reader that meets line breaks one by one: one at offset, within the bytes it has
    // still to pass with skip.
    void lineBreakAt(std::size_t offset)
    {
        ++m_line;
        m_lineStart = offset + 1;
    }
    void skip(std::size_t bytes) { m_offset += bytes; }

private:
    std::size_t m_offset;
    std::size_t m_line;
    std::size_t m_lineStart; // offset of the first byte of the current line
};

// "position 7" for offset 6: how messages name a place, counting from 1.
std::string positionText(std::size_t offset);

// Reads hex text that may arrive in pieces, as from a file: blanks skipped, digits upper-cased,
// and the place of every byte kept. The messages it throws count a character's position as its
// byte offset plus one: it stops at the first byte that is not ASCII, so every byte before a
// place it reports is a character of its own. The same holds for its columns.
class HexReader
{
public:
    explicit HexReader(ErrorInput input, TextPlace start = {});

    // Writes the digits of piece to out, which has room for piece.size(), and returns how many.
    // InvalidInput about the input, placed on it, for a character that is neither a hex digit
    // nor a blank.
    std::size_t read(std::string_view piece, char* out);
    // InvalidInput, placed on the last digit but not citing it, for an odd count of digits.
    void finish() const;

    // The place of the next byte to read.
    TextPlace place() const { return m_place.place(); }
    std::size_t digitCount() const { return m_digits; }

private:
    [[noreturn]] void failAtBadCharacter() const;

    ErrorInput m_input;
    PlaceCounter m_place;
    std::size_t m_digits = 0;
    std::size_t m_lastDigit = Error::kNoPlace;
    BadCharacter m_bad;
};

// The hex digits of a whole box or argument, upper case, blanks skipped; errors as HexReader.
std::string readHexDigits(std::string_view text, ErrorInput input);

// "1 mask group", "3 mask groups": count with its noun.
std::string counted(std::size_t count, std::string_view singular, std::string_view plural);

} // namespace morvalen
