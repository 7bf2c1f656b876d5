#include "boxtext.h"

#include "errors.h"
#include "primitives.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace morvalen {
namespace {

// Bytes of the UTF-8 sequence a byte begins, as its bits announce; 0 for a byte that begins none.
std::size_t announcedLength(std::uint8_t lead)
{
    return lead < 0x80                 ? 1
        : lead >= 0xC2 && lead <= 0xDF ? 2
        : lead >= 0xE0 && lead <= 0xEF ? 3
        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                       : 0;
}

// Length of the valid UTF-8 sequence at offset, or 0 when the byte there starts none.
std::size_t utf8SequenceLength(std::string_view text, std::size_t offset)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::size_t length = announcedLength(byte(offset));
    if (length <= 1) {
        return length;
    }
    std::uint32_t codePoint = byte(offset) & (0x7Fu >> length);
    if (offset + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(offset + i) & 0xC0u) != 0x80u) {
            return 0;
        }
        codePoint = (codePoint << 6) | (byte(offset + i) & 0x3Fu);
    }
    const bool overlong = (length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000);
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (overlong || surrogate || codePoint > 0x10FFFF) {
        return 0;
    }
    return length;
}

char32_t decodeCodePoint(std::string_view sequence)
{
    const auto lead = static_cast<std::uint8_t>(sequence[0]);
    char32_t codePoint = sequence.size() == 1 ? lead : lead & (0x7Fu >> sequence.size());
    for (std::size_t i = 1; i < sequence.size(); ++i) {
        codePoint = (codePoint << 6) | (static_cast<std::uint8_t>(sequence[i]) & 0x3Fu);
    }
    return codePoint;
}

// Copies the 16-byte blocks at the start of piece that hold nothing but hex digits to out, upper
// case, and returns how many bytes it took: the common case of a long run of digits, without a
// look-up per byte.
std::size_t copyDigitBlocks([[maybe_unused]] std::string_view piece, [[maybe_unused]] char* out)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    // x - low < count, unsigned, as a signed comparison with the sign bits flipped.
    const auto within = [](__m128i x, char low, char count) {
        const __m128i shifted = _mm_xor_si128(_mm_sub_epi8(x, _mm_set1_epi8(low)), _mm_set1_epi8(-128));
        return _mm_cmplt_epi8(shifted, _mm_set1_epi8(static_cast<char>(count - 128)));
    };
    for (; i + 16 <= piece.size(); i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(piece.data() + i));
        const __m128i letter = within(_mm_or_si128(bytes, _mm_set1_epi8(0x20)), 'a', 6);
        if (_mm_movemask_epi8(_mm_or_si128(within(bytes, '0', 10), letter)) != 0xFFFF) {
            break;
        }
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + i), _mm_andnot_si128(_mm_and_si128(letter, _mm_set1_epi8(0x20)), bytes));
    }
#endif
    return i;
}

} // namespace

std::size_t characterLength(std::string_view text, std::size_t byteOffset)
{
    const std::size_t length = utf8SequenceLength(text, byteOffset);
    return length == 0 ? 1 : length;
}

DecodedCharacter decodeCharacter(std::string_view text, std::size_t byteOffset)
{
    const std::size_t length = utf8SequenceLength(text, byteOffset);
    if (length == 0) {
        return {U'\uFFFD', 1};
    }
    return {decodeCodePoint(text.substr(byteOffset, length)), length};
}

std::string describeCharacter(std::string_view text, std::size_t byteOffset)
{
    const std::size_t length = utf8SequenceLength(text, byteOffset);
    if (length == 0) {
        const std::string digits = hexText(static_cast<std::uint8_t>(text[byteOffset]));
        return "byte 0x" + digits;
    }
    const std::string_view sequence = text.substr(byteOffset, length);
    const char32_t codePoint = decodeCodePoint(sequence);
    // Control characters and invisible ones would vanish inside quotes; name them by code point.
    const bool visible = codePoint > 0x20 && codePoint != 0x7F && !(codePoint >= 0x80 && codePoint <= 0xA0)
        && codePoint != 0xAD && !(codePoint >= 0x2000 && codePoint <= 0x200F) && codePoint != 0x2028
        && codePoint != 0x2029 && codePoint != 0xFEFF;
    if (visible) {
        // Appended rather than "'" + std::string(...): GCC 12 at -O3 warns falsely about that.
        std::string quoted = "'";
        quoted.append(sequence).push_back('\'');
        return quoted;
    }
    std::string digits = hexText(codePoint);
    digits.insert(0, digits.size() < 4 ? 4 - digits.size() : 0, '0');
    return "U+" + digits;
}

HexReader::HexReader(ErrorInput input, TextPlace start)
    : m_input(input)
    , m_place(start)
{
}

bool BadCharacter::start(std::string_view rest, TextPlace place)
{
    m_bytes = rest.substr(0, 4);
    m_place = place;
    return whole();
}

bool BadCharacter::add(std::string_view piece)
{
    m_bytes += piece.substr(0, 4 - m_bytes.size());
    return whole();
}

// Whole once it holds as many bytes as its first byte announces, or a byte that cannot
// continue it.
bool BadCharacter::whole() const
{
    const std::size_t announced = std::max<std::size_t>(announcedLength(static_cast<std::uint8_t>(m_bytes[0])), 1);
    for (std::size_t i = 1; i < m_bytes.size() && i < announced; ++i) {
        if ((static_cast<std::uint8_t>(m_bytes[i]) & 0xC0u) != 0x80u) {
            return true;
        }
    }
    return m_bytes.size() >= announced;
}

std::size_t HexReader::read(std::string_view piece, char* out)
{
    if (m_bad.pending()) {
        if (m_bad.add(piece)) {
            failAtBadCharacter();
        }
        return 0;
    }
    std::size_t count = 0;
    for (std::size_t i = 0; i < piece.size();) {
        const std::size_t digits = copyDigitBlocks(piece.substr(i), out + count);
        i += digits;
        count += digits;
        // Then at least a block's worth byte by byte, past the blank or other byte that ended them.
        for (const std::size_t stop = std::min(piece.size(), i + 16); i < stop; ++i) {
            const std::uint8_t value = detail::kCharClasses[static_cast<unsigned char>(piece[i])];
            if (value == detail::kOtherClass) {
                m_place.advance(piece.substr(0, i));
                if (m_bad.start(piece.substr(i), place())) {
                    failAtBadCharacter();
                }
                return count;
            }
            // Written unconditionally and kept only for digits: no branch on digit or blank.
            out[count] = kHexDigits[value & 0xF];
            count += value < 16;
        }
    }
    if (count > 0) {
        std::size_t last = piece.size() - 1;
        while (isBlank(piece[last])) {
            --last;
        }
        m_lastDigit = m_place.offset() + last;
    }
    m_digits += count;
    m_place.advance(piece);
    return count;
}

void PlaceCounter::advance(std::string_view consumed)
{
    // memrchr where there is one: string_view::rfind looks at one byte at a time.
#if defined(__GLIBC__)
    const void* found = consumed.empty() ? nullptr : memrchr(consumed.data(), '\n', consumed.size());
    const std::size_t lastBreak = found == nullptr
        ? std::string_view::npos
        : static_cast<std::size_t>(static_cast<const char*>(found) - consumed.data());
#else
    const std::size_t lastBreak = consumed.rfind('\n');
#endif
    if (lastBreak != std::string_view::npos) {
        m_line += static_cast<std::size_t>(std::count(consumed.begin(), consumed.end(), '\n'));
        m_lineStart = m_offset + lastBreak + 1;
    }
    m_offset += consumed.size();
}

std::string positionText(std::size_t offset)
{
    return "position " + integerText(static_cast<std::int64_t>(offset + 1));
}

void HexReader::failAtBadCharacter() const
{
    const std::string what = m_bad.describe();
    throw Error::invalidInput(m_input, what + " at " + positionText(m_bad.place().offset) + " is not a hex digit.",
        what + " is not a hex digit.", m_bad.place(), m_bad.length());
}

void HexReader::finish() const
{
    if (m_bad.pending()) {
        failAtBadCharacter();
    }
    if (m_digits % 2 != 0) {
        const std::string what
            = counted(m_digits, "hex digit", "hex digits") + " is an odd count; each byte takes two.";
        throw Error::invalidInput(m_input, what, what, {m_lastDigit, 0, 0}, 1, false);
    }
}

std::string readHexDigits(std::string_view text, ErrorInput input)
{
    std::string digits(text.size(), '\0');
    HexReader reader(input);
    digits.resize(reader.read(text, digits.data()));
    reader.finish();
    return digits;
}

std::string counted(std::size_t count, std::string_view singular, std::string_view plural)
{
    return integerText(static_cast<std::int64_t>(count)) + " " + std::string(count == 1 ? singular : plural);
}

} // namespace morvalen
