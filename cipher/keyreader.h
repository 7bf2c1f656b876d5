// The key's text read in pieces of any size, each group's masks XORed into its digit.
#pragma once

#include "cpupath.h"
#include "keyformat.h"
#include "textconv/boxtext.h"
#include "textconv/errors.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace morvalen {

// XORs the masks of group i into digits[i], upper-case hex digits as HexReader gives them.
// Throws InvalidInput about the encrypting bits when the text breaks the format or does not hold
// exactly one group per digit, a group past the last digit as soon as it closes; the digits are
// then partly decrypted, so callers hand in a copy they can drop. Positions in its messages are
// byte offsets plus one, and columns count bytes: it stops at the first byte that is not ASCII,
// so up to any place it reports the two agree.
class KeyReader
{
public:
    // start: where the key begins in its text, when it follows something else there.
    // path: which room's code reads whole groups (see cpupath.h); every path gives the same.
    explicit KeyReader(std::span<char> digits, TextPlace start = {}, CpuPath path = CpuPath::Fastest);

    void read(std::string_view piece);
    // The end of the text: the last group must be closed, and every digit have its group.
    void finish() const;

private:
    std::size_t readWholeMasks(std::string_view piece, std::size_t i);
    void readByte(std::string_view piece, std::size_t i);
    void finishMask();
    void closeGroup();
    [[noreturn]] void failAtBadCharacter() const;
    [[noreturn]] void fail(std::string_view message, std::string detail, TextPlace place = {Error::kNoPlace, 0, 0},
        std::size_t length = 0) const;

    std::span<char> m_digits;
    // Reads whole groups on from an index of a piece, as far as they go; returns where it stopped.
    std::size_t (*m_readGroups)(std::string_view piece, std::size_t i, std::span<char> digits, std::size_t& groups);
    PlaceCounter m_place; // its offset is that of the piece being read
    std::size_t m_significantEnd = 0; // just past the last byte read that is not blank
    std::size_t m_groupCount = 0;
    bool m_inGroup = false;
    TextPlace m_groupPlace;
    bool m_inMask = false;
    TextPlace m_maskPlace;
    std::size_t m_maskDigits = 0;
    // Digit by digit, the first lowest.
    std::uint8_t m_maskValue = 0;
    std::uint8_t m_groupXor = 0;
    BadCharacter m_bad;
};

} // namespace morvalen
