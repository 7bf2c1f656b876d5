// The text of groups of the usual 13 masks, which is most of a key: made whole, group by group,
// with AVX2 where the processor has it and from a table of mask pairs where it does not. Both
// paths give the same bytes; tests hold them to that.
#pragma once

#include "keyformat.h"

#include <cstddef>
#include <span>

namespace morvalen {

// Bytes past the end of the text that writing it may overwrite.
inline constexpr std::size_t kGroupTextSlack = 32;

// Writes the groups' text, kUsualGroupChars bytes each with its closing '|', to out, which has
// room for groups.size() * kUsualGroupChars + kGroupTextSlack bytes.
void writeUsualGroups(std::span<const PackedGroup> groups, char* out, GroupTextPath path = GroupTextPath::Fastest);

} // namespace morvalen
