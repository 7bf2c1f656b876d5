// The strict reader of the encrypting bits. The text is a sequence of mask groups, each closed
// by "|"; a group is zero or more masks; a mask is "," and exactly four digits "0" or "1".
// Blanks anywhere are skipped, so a key wrapped over lines still reads.
#pragma once

#include <string>
#include <string_view>

namespace morvalen {

// XORs the masks of group i into digits[i], upper-case hex digits as readHexDigits gives them.
// InvalidInput when the text breaks the format or does not hold exactly one group per digit;
// digits is then left partly decrypted, so callers hand in a copy they can drop.
void applyEncryptingBits(std::string_view bits, std::string& digits);

} // namespace morvalen
