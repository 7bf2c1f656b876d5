#include "grouptext.h"

#include "arch/kernels.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace morvalen {
namespace {

// The text of every mask value, padded to eight bytes so that writing one is a single 8-byte
// store; the three bytes past the mask are overwritten by whatever follows.
constexpr std::array<std::array<char, 8>, 16> kMaskTexts = [] {
    std::array<std::array<char, 8>, 16> texts {};
    for (std::size_t mask = 0; mask < texts.size(); ++mask) {
        writeMaskText(texts[mask].data(), mask);
    }
    return texts;
}();

} // namespace

char* writeMaskTexts(MaskGroup masks, char* out)
{
    for (const std::uint8_t mask : masks) {
        std::memcpy(out, kMaskTexts[mask].data(), kMaskTexts[mask].size());
        out += kMaskChars;
    }
    return out;
}

std::size_t writeGroups(const MaskBatch& batch, char* out, CpuPath path)
{
    return static_cast<std::size_t>(arch::kernels(path).writeGroups(batch, out) - out);
}

} // namespace morvalen
