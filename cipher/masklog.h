// Every digit's masks kept at four bits each, for a key that can be written only after the
// encrypted hex: some 7 bytes a digit in place of its 66 characters of text.
#pragma once

#include "keyformat.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

namespace morvalen {

class MaskLog final : public MaskGroupSink
{
public:
    void group(MaskGroup masks) override;

    std::size_t groupCount() const { return m_groups; }
    // Hands the next groups not yet replayed, at most count of them, to sink in the order they
    // came; returns how many it handed.
    std::size_t replay(MaskGroupSink& sink, std::size_t count);

private:
    // Fixed blocks rather than one growing array: growing would copy, and for a while hold,
    // the whole log twice.
    static constexpr std::size_t kBlockBytes = 1 << 20;
    static constexpr std::size_t kBlockMasks = 2 * kBlockBytes;

    std::uint8_t mask(std::size_t i) const
    {
        const std::uint8_t byte = m_blocks[i / kBlockMasks][i % kBlockMasks / 2];
        return (i & 1) != 0 ? byte & 0xF : byte >> 4;
    }

    std::vector<std::unique_ptr<std::uint8_t[]>> m_blocks;
    std::size_t m_masks = 0;
    std::size_t m_groups = 0;
    // (group, size) of each group of other than 13 masks; about one in sixteen.
    std::deque<std::pair<std::size_t, std::size_t>> m_unusual;
    std::size_t m_nextGroup = 0;
    std::size_t m_nextMask = 0;
    std::size_t m_nextUnusual = 0;
};

} // namespace morvalen
