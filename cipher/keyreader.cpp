#include "keyreader.h"

#include "arch/shared.h"

#include <string>

namespace morvalen {

using arch::decryptedDigit;
using arch::kNoMatch;
using arch::maskAt;

KeyReader::KeyReader(std::span<char> digits, TextPlace start, CpuPath path)
    : m_digits(digits)
    , m_readGroups(arch::kernels(path).readGroups)
    , m_place(start)
{
}

void KeyReader::read(std::string_view piece)
{
    if (m_bad.pending()) {
        if (m_bad.add(piece)) {
            failAtBadCharacter();
        }
        return;
    }
    for (std::size_t i = readWholeMasks(piece, 0); i < piece.size() && !m_bad.pending();
         i = readWholeMasks(piece, i + 1)) {
        readByte(piece, i);
    }
    m_place.skip(piece.size());
}

// The common case: whole groups of the usual size read at once, and otherwise whole masks, each
// followed by ',' or '|', and the '|' that close groups, read eight bytes at a time. Returns where
// the byte-by-byte reader must take over: at a byte of any other shape, inside a mask it began,
// and near the end of a piece.
std::size_t KeyReader::readWholeMasks(std::string_view piece, std::size_t i)
{
    if (m_inMask) {
        return i;
    }
    const std::size_t start = i;
    for (;;) {
        if (!m_inGroup) {
            // A group past the last digit is left to closeGroup, which fails on it.
            i = m_readGroups(piece, i, m_digits, m_groupCount);
        }
        if (i + 8 > piece.size()) {
            break;
        }
        const unsigned mask = maskAt(piece.data() + i);
        if (mask != kNoMatch) {
            if (!m_inGroup) {
                m_inGroup = true;
                m_groupPlace = m_place.placeOf(m_place.offset() + i);
            }
            m_groupXor ^= static_cast<std::uint8_t>(mask);
            i += kMaskChars;
        } else if (piece[i] == '|') {
            closeGroup();
            ++i;
        } else {
            break;
        }
    }
    if (i != start) {
        m_significantEnd = m_place.offset() + i;
    }
    return i;
}

void KeyReader::readByte(std::string_view piece, std::size_t i)
{
    const char c = piece[i];
    const std::size_t offset = m_place.offset() + i;
    if (isBlank(c)) {
        if (c == '\n') {
            m_place.lineBreakAt(offset);
        }
        return;
    }
    if (!m_inGroup) {
        m_inGroup = true;
        m_groupPlace = m_place.placeOf(offset);
        if (c == '0' || c == '1') {
            fail("the group at " + positionText(offset) + " does not begin with ','.",
                "this group does not begin with ','.", m_groupPlace, 1);
        }
    }
    switch (c) {
    case '0':
    case '1':
        m_maskValue = static_cast<std::uint8_t>(m_maskValue | (c - '0') << (m_maskDigits % 4));
        ++m_maskDigits;
        break;
    case ',':
        finishMask();
        m_inMask = true;
        m_maskPlace = m_place.placeOf(offset);
        break;
    case '|':
        finishMask();
        closeGroup();
        break;
    default:
        if (m_bad.start(piece.substr(i), m_place.placeOf(offset))) {
            failAtBadCharacter();
        }
        return;
    }
    m_significantEnd = offset + 1;
}

void KeyReader::finishMask()
{
    if (!m_inMask) {
        return;
    }
    if (m_maskDigits != 4) {
        const std::string digits = counted(m_maskDigits, "digit", "digits") + "; a mask has 4.";
        fail("the mask at " + positionText(m_maskPlace.offset) + " has " + digits, "this mask has " + digits,
            m_maskPlace, m_significantEnd - m_maskPlace.offset);
    }
    m_groupXor ^= m_maskValue;
    m_inMask = false;
    m_maskDigits = 0;
    m_maskValue = 0;
}

void KeyReader::closeGroup()
{
    // Certain now, so the rest of the key, perhaps gigabytes, is not read to say so.
    if (m_groupCount == m_digits.size()) {
        const std::string what = "more than " + counted(m_groupCount, "mask group", "mask groups") + " for "
            + counted(m_digits.size(), "hex digit", "hex digits") + "; each digit needs its own group.";
        fail(what, what);
    }
    m_digits[m_groupCount] = decryptedDigit(m_digits[m_groupCount], m_groupXor);
    ++m_groupCount;
    m_groupXor = 0;
    m_inGroup = false;
}

void KeyReader::failAtBadCharacter() const
{
    const std::string what = m_bad.describe();
    fail(what + " at " + positionText(m_bad.place().offset) + " is not 0, 1, ',' or '|'.",
        what + " is not 0, 1, ',' or '|'.", m_bad.place(), m_bad.length());
}

void KeyReader::finish() const
{
    if (m_bad.pending()) {
        failAtBadCharacter();
    }
    if (m_inGroup) {
        fail("the text from " + positionText(m_groupPlace.offset) + " is not closed by '|'.",
            "this group is not closed by '|'.", m_groupPlace, m_significantEnd - m_groupPlace.offset);
    }
    if (m_groupCount < m_digits.size()) {
        const std::string what = counted(m_groupCount, "mask group", "mask groups") + " for "
            + counted(m_digits.size(), "hex digit", "hex digits") + "; each digit needs its own group.";
        fail(what, what);
    }
}

void KeyReader::fail(std::string_view message, std::string detail, TextPlace place, std::size_t length) const
{
    throw Error::invalidInput(ErrorInput::EncryptingBits, message, std::move(detail), place, length);
}

} // namespace morvalen
