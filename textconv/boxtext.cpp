#include "boxtext.h"

#include "errors.h"
#include "primitives.h"

#include <cstdint>

namespace morvalen {
namespace {

// Length of the valid UTF-8 sequence at offset, or 0 when the byte there starts none.
std::size_t utf8SequenceLength(std::string_view text, std::size_t offset)
{
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(offset);
    std::size_t length = 0;
    std::uint32_t codePoint = 0;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07u;
    } else {
        return 0;
    }
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

std::uint32_t decodeCodePoint(std::string_view sequence)
{
    const auto lead = static_cast<std::uint8_t>(sequence[0]);
    std::uint32_t codePoint = sequence.size() == 1 ? lead : lead & (0x7Fu >> sequence.size());
    for (std::size_t i = 1; i < sequence.size(); ++i) {
        codePoint = (codePoint << 6) | (static_cast<std::uint8_t>(sequence[i]) & 0x3Fu);
    }
    return codePoint;
}

} // namespace

std::size_t characterPosition(std::string_view text, std::size_t byteOffset)
{
    std::size_t position = 1;
    for (std::size_t i = 0; i < byteOffset && i < text.size(); ++position) {
        i += characterLength(text, i);
    }
    return position;
}

std::size_t characterLength(std::string_view text, std::size_t byteOffset)
{
    const std::size_t length = utf8SequenceLength(text, byteOffset);
    return length == 0 ? 1 : length;
}

std::string describeCharacter(std::string_view text, std::size_t byteOffset)
{
    const std::size_t length = utf8SequenceLength(text, byteOffset);
    if (length == 0) {
        const std::string digits = hexText(static_cast<std::uint8_t>(text[byteOffset]));
        return "byte 0x" + digits;
    }
    const std::string_view sequence = text.substr(byteOffset, length);
    const std::uint32_t codePoint = decodeCodePoint(sequence);
    // Control characters and invisible ones would vanish inside quotes; name them by code point.
    const bool visible = codePoint > 0x20 && codePoint != 0x7F && !(codePoint >= 0x80 && codePoint <= 0xA0)
        && codePoint != 0xAD && !(codePoint >= 0x2000 && codePoint <= 0x200F) && codePoint != 0x2028
        && codePoint != 0x2029 && codePoint != 0xFEFF;
    if (visible) {
        return "'" + std::string(sequence) + "'";
    }
    std::string digits = hexText(codePoint);
    digits.insert(0, digits.size() < 4 ? 4 - digits.size() : 0, '0');
    return "U+" + digits;
}

std::string readHexDigits(std::string_view text, ErrorInput input)
{
    const std::string_view box = boxName(input);
    std::string digits(text.size(), '\0');
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint8_t value = detail::kCharClasses[static_cast<unsigned char>(text[i])];
        if (value == detail::kOtherClass) {
            throw Error(ErrorKind::InvalidInput,
                std::string(box) + ": " + describeCharacter(text, i) + " at position "
                    + integerText(static_cast<std::int64_t>(characterPosition(text, i))) + " is not a hex digit.",
                input, i, characterLength(text, i));
        }
        // Written unconditionally and kept only for digits: no branch on digit or blank.
        digits[count] = kHexDigits[value & 0xF];
        count += value < 16;
    }
    if (count % 2 != 0) {
        // Only digits and blanks are left, so the last digit is the last byte that is not blank.
        std::size_t last = text.size() - 1;
        while (isBlank(text[last])) {
            --last;
        }
        throw Error(ErrorKind::InvalidInput,
            std::string(box) + ": " + counted(count, "hex digit", "hex digits")
                + " is an odd count; each byte takes two.",
            input, last, 1);
    }
    digits.resize(count);
    return digits;
}

std::string counted(std::size_t count, std::string_view singular, std::string_view plural)
{
    return integerText(static_cast<std::int64_t>(count)) + " " + std::string(count == 1 ? singular : plural);
}

} // namespace morvalen
