#include "Utf16.h"

#include "textconv/boxtext.h"

#include <algorithm>

namespace morvalen::textbox {

bool isAsciiText(std::string_view bytes) noexcept
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

QString decode(std::string_view bytes)
{
    if (isAsciiText(bytes)) {
        return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    }
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    for (std::size_t i = 0; i < bytes.size();) {
        const DecodedCharacter c = decodeCharacter(bytes, i);
        if (c.codePoint < 0x10000) {
            text.append(QChar(static_cast<char16_t>(c.codePoint)));
        } else {
            text.append(QChar(QChar::highSurrogate(c.codePoint)));
            text.append(QChar(QChar::lowSurrogate(c.codePoint)));
        }
        i += c.length;
    }
    return text;
}

namespace {

std::size_t lengthAt(std::string_view bytes, std::size_t i) noexcept
{
    return static_cast<unsigned char>(bytes[i]) < 0x80 ? 1 : characterLength(bytes, i);
}

} // namespace

qsizetype utf16Units(std::string_view bytes) noexcept
{
    qsizetype units = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = lengthAt(bytes, i);
        units += length == 4 ? 2 : 1;
        i += length;
    }
    return units;
}

std::size_t bytesForUnits(std::string_view bytes, qsizetype units) noexcept
{
    std::size_t i = 0;
    for (qsizetype seen = 0; i < bytes.size() && seen < units;) {
        const std::size_t length = lengthAt(bytes, i);
        seen += length == 4 ? 2 : 1;
        i += length;
    }
    return i;
}

QString displayed(QString text)
{
    for (QChar& c : text) {
        if (c.unicode() < 0x20 || c == QChar::LineSeparator || c == QChar::ParagraphSeparator
            || c == QChar::ObjectReplacementCharacter) {
            c = QLatin1Char(' ');
        }
    }
    return text;
}

} // namespace morvalen::textbox
