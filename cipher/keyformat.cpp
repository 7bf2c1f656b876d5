#include "keyformat.h"

#include "cipher.h"
#include "textconv/boxtext.h"
#include "textconv/errors.h"
#include "textconv/primitives.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

namespace morvalen {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr std::size_t kMaskChars = 5; // ",dddd"

class KeyReader
{
public:
    KeyReader(std::string_view bits, std::string& digits)
        : m_bits(bits)
        , m_digits(digits)
    {
    }

    void apply()
    {
        for (std::size_t i = readWholeMasks(0); i < m_bits.size(); i = readWholeMasks(i + 1)) {
            const char c = m_bits[i];
            if (isBlank(c)) {
                continue;
            }
            if (m_groupStart == kNone) {
                m_groupStart = i;
                if (c == '0' || c == '1') {
                    fail("the group at " + position(i) + " does not begin with ','.", i, 1);
                }
            }
            switch (c) {
            case '0':
            case '1':
                m_maskValue = static_cast<std::uint8_t>(((m_maskValue << 1) | (c - '0')) & 0xF);
                ++m_maskDigits;
                break;
            case ',':
                finishMask(i);
                m_maskStart = i;
                break;
            case '|':
                finishMask(i);
                closeGroup();
                break;
            default:
                fail(describeCharacter(m_bits, i) + " at " + position(i) + " is not 0, 1, ',' or '|'.", i,
                    characterLength(m_bits, i));
            }
        }
        if (m_groupStart != kNone) {
            fail("the text from " + position(m_groupStart) + " is not closed by '|'.", m_groupStart,
                trimmedEnd(m_groupStart, m_bits.size()) - m_groupStart);
        }
        if (m_groupCount != m_digits.size()) {
            fail(counted(m_groupCount, "mask group", "mask groups") + " for "
                + counted(m_digits.size(), "hex digit", "hex digits") + "; each digit needs its own group.");
        }
    }

private:
    // The common case: whole masks, each followed by ',' or '|', and the '|' that close groups,
    // read eight bytes at a time. Returns where the byte-by-byte reader must take over.
    std::size_t readWholeMasks(std::size_t i)
    {
        if constexpr (std::endian::native != std::endian::little) {
            return i;
        }
        if (m_maskStart != kNone) {
            return i;
        }
        while (i + 8 <= m_bits.size()) {
            std::uint64_t word = 0;
            std::memcpy(&word, m_bits.data() + i, sizeof word);
            const auto first = static_cast<char>(word);
            const auto next = static_cast<char>(word >> 40);
            // Byte 0 is ',' and bytes 1 to 4 are '0' or '1', then ',' or '|'.
            if (((word ^ 0x303030302CULL) & 0xFEFEFEFEFFULL) == 0 && (next == ',' || next == '|')) {
                // Gathers the low bits of bytes 1 to 4 into bits 27 to 24, first digit highest.
                const std::uint64_t bits = (word >> 8) & 0x01010101ULL;
                m_groupXor ^= static_cast<std::uint8_t>(((bits * 0x08040201ULL) >> 24) & 0xF);
                m_groupStart = m_groupStart == kNone ? i : m_groupStart;
                i += kMaskChars;
            } else if (first == '|') {
                closeGroup();
                ++i;
            } else {
                break;
            }
        }
        return i;
    }

    [[noreturn]] void fail(const std::string& what, std::size_t offset = Error::kNoPlace, std::size_t length = 0) const
    {
        throw Error(
            ErrorKind::InvalidInput, std::string(kBitsBox) + ": " + what, ErrorInput::EncryptingBits, offset, length);
    }

    // End of the last byte before end that is not blank; the byte at start never is. Only digits,
    // ',' and '|' get this far, so the end is also that of a character.
    std::size_t trimmedEnd(std::size_t start, std::size_t end) const
    {
        while (end > start + 1 && isBlank(m_bits[end - 1])) {
            --end;
        }
        return end;
    }

    std::string position(std::size_t offset) const
    {
        return "position " + integerText(static_cast<std::int64_t>(characterPosition(m_bits, offset)));
    }

    // end: the ',' or '|' after the mask. Between them lie only its digits and blanks.
    void finishMask(std::size_t end)
    {
        if (m_maskStart == kNone) {
            return;
        }
        if (m_maskDigits != 4) {
            fail("the mask at " + position(m_maskStart) + " has " + counted(m_maskDigits, "digit", "digits")
                    + "; a mask has 4.",
                m_maskStart, trimmedEnd(m_maskStart, end) - m_maskStart);
        }
        m_groupXor ^= m_maskValue;
        m_maskStart = kNone;
        m_maskDigits = 0;
        m_maskValue = 0;
    }

    void closeGroup()
    {
        // Groups past the digit count only need counting, for the message.
        if (m_groupCount < m_digits.size()) {
            m_digits[m_groupCount] = kHexDigits[hexValue(m_digits[m_groupCount]) ^ m_groupXor];
        }
        ++m_groupCount;
        m_groupXor = 0;
        m_groupStart = kNone;
    }

    std::string_view m_bits;
    std::string& m_digits;
    std::size_t m_groupCount = 0;
    std::size_t m_groupStart = kNone;
    std::size_t m_maskStart = kNone;
    std::size_t m_maskDigits = 0;
    std::uint8_t m_maskValue = 0;
    std::uint8_t m_groupXor = 0;
};

} // namespace

void applyEncryptingBits(std::string_view bits, std::string& digits)
{
    KeyReader(bits, digits).apply();
}

} // namespace morvalen
