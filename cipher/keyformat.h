// The strict reader of the encrypting bits. The text is a sequence of mask groups, each closed
// by "|"; a group is zero or more masks; a mask is "," and exactly four digits "0" or "1".
// Blanks anywhere are skipped, so a key wrapped over lines still reads.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace morvalen {

// The exclusive-or of every mask of each group, one entry per group. InvalidInput when the text
// breaks the format or does not hold exactly digitCount groups.
std::vector<std::uint8_t> readEncryptingBits(std::string_view bits, std::size_t digitCount);

} // namespace morvalen
