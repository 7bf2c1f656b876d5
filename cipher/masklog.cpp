#include "masklog.h"

#include "cipher.h"

namespace morvalen {

void MaskLog::group(MaskGroup masks)
{
    for (const std::uint8_t value : masks) {
        if (m_masks == m_blocks.size() * kBlockMasks) {
            m_blocks.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(kBlockBytes));
        }
        std::uint8_t& byte = m_blocks[m_masks / kBlockMasks][m_masks % kBlockMasks / 2];
        byte = (m_masks & 1) != 0 ? static_cast<std::uint8_t>(byte | value) : static_cast<std::uint8_t>(value << 4);
        ++m_masks;
    }
    if (masks.size() != kMasksPerDigit) {
        m_unusual.emplace_back(m_groups, masks.size());
    }
    ++m_groups;
}

std::size_t MaskLog::replay(MaskGroupSink& sink, std::size_t count)
{
    std::vector<std::uint8_t> group;
    std::size_t handed = 0;
    for (; handed < count && m_nextGroup < m_groups; ++handed, ++m_nextGroup) {
        std::size_t size = kMasksPerDigit;
        if (m_nextUnusual < m_unusual.size() && m_unusual[m_nextUnusual].first == m_nextGroup) {
            size = m_unusual[m_nextUnusual++].second;
        }
        group.resize(size);
        for (std::uint8_t& value : group) {
            value = mask(m_nextMask++);
        }
        sink.group(group);
    }
    return handed;
}

} // namespace morvalen
