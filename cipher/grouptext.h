// The text of groups of the usual 13 masks, which is most of a key: made whole, group by group,
// by the code of the process's room (see cpupath.h). Every path gives the same bytes.
#pragma once

#include "cpupath.h"
#include "maskbatch.h"

#include <cstddef>
#include <span>

namespace morvalen {

// Bytes past the end of the text that writing it may overwrite.
inline constexpr std::size_t kGroupTextSlack = 32;

// Writes the masks' text, five bytes each, at out, which has room for three bytes more; returns its end.
char* writeMaskTexts(MaskGroup masks, char* out);

// Writes the text of a batch's groups, kUsualGroupChars bytes each with its closing '|' and five
// more for each further mask, to out, which has room for the text and kGroupTextSlack bytes more;
// returns the text's length.
std::size_t writeGroups(const MaskBatch& batch, char* out, CpuPath path = CpuPath::Fastest);

} // namespace morvalen
