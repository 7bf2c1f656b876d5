// The box keeps UTF-8; Qt's text classes, input methods and screen readers take UTF-16. These
// convert the text so that it agrees with Utf16Index's offsets character by character: a byte
// that starts no valid sequence is one U+FFFD, one unit for one byte.
#pragma once

#include <QString>
#include <cstddef>
#include <string_view>

namespace morvalen::textbox {

bool isAsciiText(std::string_view bytes) noexcept;
QString decode(std::string_view bytes);
// What a row shows: control characters, which fonts draw as boxes or not at all, become spaces,
// as in Qt's line edit. One unit for one unit, so offsets stay the same.
QString displayed(QString text);

} // namespace morvalen::textbox
