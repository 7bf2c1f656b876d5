#include "masklog.h"

#include "byteorder.h"

#include <algorithm>
#include <array>
#include <sodium.h>
#include <utility>

namespace morvalen {

MaskLog::~MaskLog()
{
    for (std::uint8_t& mask : m_extraMasks) {
        sodium_memzero(&mask, 1);
    }
}

void MaskLog::groups(const MaskBatch& batch)
{
    for (const auto& [index, count] : batch.longer) {
        m_unusual.emplace_back(m_groups + index, kMasksPerDigit + count);
    }
    m_extraMasks.insert(m_extraMasks.end(), batch.extraMasks.begin(), batch.extraMasks.end());
    for (const PackedGroup record : batch.groups) {
        if (m_groups == m_blocks.size() * kBlockRecords) {
            m_blocks.push_back(std::make_unique<SecretBlock>(kBlockRecords * kRecordBytes + 1));
        }
        storeRecord(block(m_groups) + m_groups % kBlockRecords * kRecordBytes, record);
        ++m_groups;
    }
}

std::size_t MaskLog::replay(KeyWriter& key, std::size_t count)
{
    // Groups of the usual size wait here to be written together.
    std::array<PackedGroup, 64> usual;
    std::size_t waiting = 0;
    // The masks of one longer group, wiped before their memory grows or is let go.
    std::vector<std::uint8_t> unusual;
    const auto wipeUnusual = [&] { sodium_memzero(unusual.data(), unusual.capacity()); };
    const auto add = [&](std::uint8_t mask) {
        if (unusual.size() == unusual.capacity()) {
            std::vector<std::uint8_t> larger;
            larger.reserve(2 * unusual.capacity() + 32);
            larger.assign(unusual.begin(), unusual.end());
            wipeUnusual();
            unusual.swap(larger);
        }
        unusual.push_back(mask);
    };
    struct WipedAtEnd
    {
        const decltype(wipeUnusual)& wipe;
        ~WipedAtEnd() { wipe(); }
    } wipedAtEnd {wipeUnusual};
    std::size_t nextUnusualGroup = m_nextUnusual < m_unusual.size() ? m_unusual[m_nextUnusual].first : m_groups;
    std::size_t handed = 0;
    for (; handed < count && m_nextGroup < m_groups; ++handed, ++m_nextGroup) {
        const PackedGroup record = loadRecord(block(m_nextGroup) + m_nextGroup % kBlockRecords * kRecordBytes);
        if (m_nextGroup != nextUnusualGroup) {
            usual[waiting++] = record;
            if (waiting == usual.size()) {
                key.usualGroups(usual);
                waiting = 0;
            }
            continue;
        }
        key.usualGroups(std::span(usual).first(std::exchange(waiting, 0)));
        const std::size_t size = m_unusual[m_nextUnusual++].second;
        nextUnusualGroup = m_nextUnusual < m_unusual.size() ? m_unusual[m_nextUnusual].first : m_groups;
        unusual.clear();
        for (std::size_t i = 0; i < std::min<std::size_t>(size, kMasksPerDigit); ++i) {
            add(static_cast<std::uint8_t>(record >> (4 * i) & 0xF));
        }
        while (unusual.size() < size) {
            add(m_extraMasks.front());
            // Wiped where it stood: the deque lets a chunk go once its last mask is taken.
            sodium_memzero(&m_extraMasks.front(), 1);
            m_extraMasks.pop_front();
        }
        key.group(unusual);
    }
    key.usualGroups(std::span(usual).first(waiting));
    return handed;
}

void MaskLog::storeRecord(std::uint8_t* at, PackedGroup group)
{
    storeLittle(at, group);
}

PackedGroup MaskLog::loadRecord(const std::uint8_t* at)
{
    // One 8-byte read, the next record's byte masked off: gathering seven bytes through the
    // stack stalled on every record.
    return loadLittle<std::uint64_t>(at) & ((std::uint64_t {1} << (8 * kRecordBytes)) - 1);
}

} // namespace morvalen
