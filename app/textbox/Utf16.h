// The box keeps UTF-8; Qt's text classes, input methods and screen readers count UTF-16 units.
// These convert between the two so that offsets agree character by character: a byte that starts
// no valid sequence is one U+FFFD, one unit for one byte.
#pragma once

#include <QString>
#include <cstddef>
#include <string_view>

namespace morvalen::textbox {

bool isAsciiText(std::string_view bytes) noexcept;
QString decode(std::string_view bytes);
qsizetype utf16Units(std::string_view bytes) noexcept;
// The byte offset that is `units` UTF-16 units into bytes; a unit inside a surrogate pair rounds
// up to the end of its character.
std::size_t bytesForUnits(std::string_view bytes, qsizetype units) noexcept;
// What a row shows: control characters, which fonts draw as boxes or not at all, become spaces,
// as in Qt's line edit. One unit for one unit, so offsets stay the same.
QString displayed(QString text);

} // namespace morvalen::textbox
