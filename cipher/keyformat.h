// The encrypting bits, written and read. The text is a sequence of mask groups, one per digit,
// each closed by "|"; a group is its masks in the order applied, each written "," and four digits
// "0" or "1". The reader skips blanks anywhere, so a key wrapped over lines still reads, and it
// takes the text in pieces of any size, so a key far larger than memory can be read from a file.
#pragma once

#include "textconv/boxtext.h"
#include "textconv/errors.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace morvalen {

// One digit's masks, each 0-15, in the order applied.
using MaskGroup = std::span<const std::uint8_t>;

// Where encryption hands each digit's masks, in digit order.
class MaskGroupSink
{
public:
    virtual void group(MaskGroup masks) = 0;

protected:
    ~MaskGroupSink() = default;
};

// Appends each group to out as text; the caller may take text out of out between groups.
class KeyWriter final : public MaskGroupSink
{
public:
    explicit KeyWriter(std::string& out)
        : m_out(out)
    {
    }

    void group(MaskGroup masks) override;
    // The same for groups of count masks each, at most 16, packed four bits a mask, the first
    // lowest. Many groups at once, as appending them one by one costs more than making them.
    void packedGroups(std::span<const std::uint64_t> groups, std::size_t count);

private:
    std::string& m_out;
};

// XORs the masks of group i into digits[i], upper-case hex digits as HexReader gives them.
// Throws InvalidInput about the encrypting bits when the text breaks the format or does not hold
// exactly one group per digit; the digits are then partly decrypted, so callers hand in a copy
// they can drop. Positions in its messages are byte offsets plus one, and columns count bytes:
// it stops at the first byte that is not ASCII, so up to any place it reports the two agree.
class KeyReader
{
public:
    // start: where the key begins in its text, when it follows something else there.
    explicit KeyReader(std::span<char> digits, TextPlace start = {});

    void read(std::string_view piece);
    // The end of the text: the last group must be closed, and every digit have its group.
    void finish() const;

private:
    std::size_t readWholeMasks(std::string_view piece, std::size_t i);
    void readByte(std::string_view piece, std::size_t i);
    void finishMask();
    void closeGroup();
    TextPlace placeOf(std::size_t offset) const { return {offset, m_line, offset - m_lineStart + 1}; }
    [[noreturn]] void failAtBadCharacter() const;
    [[noreturn]] void fail(std::string_view message, std::string detail, TextPlace place = {Error::kNoPlace, 0, 0},
        std::size_t length = 0) const;

    std::span<char> m_digits;
    std::size_t m_offset; // of the piece being read
    std::size_t m_line;
    std::size_t m_lineStart; // offset of the first byte of the current line
    std::size_t m_significantEnd = 0; // just past the last byte read that is not blank
    std::size_t m_groupCount = 0;
    bool m_inGroup = false;
    TextPlace m_groupPlace;
    bool m_inMask = false;
    TextPlace m_maskPlace;
    std::size_t m_maskDigits = 0;
    std::uint8_t m_maskValue = 0;
    std::uint8_t m_groupXor = 0;
    BadCharacter m_bad;
};

} // namespace morvalen
