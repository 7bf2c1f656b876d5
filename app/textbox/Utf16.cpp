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
