// Every digit's masks kept at four bits each, for a key that can be written only after the
// encrypted hex: 7 bytes a digit in place of its 66 characters of text.
#pragma once

#include "keywriter.h"
#include "textconv/secretblock.h"

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
    MaskLog() = default;
    MaskLog(const MaskLog&) = delete;
    MaskLog& operator=(const MaskLog&) = delete;
    // The masks are the key: wiped before their memory is given back.
    ~MaskLog();

    void groups(const MaskBatch& batch) override;

    std::size_t groupCount() const { return m_groups; }
    // Writes the next groups not yet replayed, at most count of them, in the order they came;
    // returns how many it wrote.
    std::size_t replay(KeyWriter& key, std::size_t count);

    // A record: a group's first 13 masks in 7 bytes, the first mask in the low half of the first
    // byte, the same on every machine. Stored with one 8-byte write over at[0..7], so at[7], the
    // next record's first byte, is written zero; loaded with one 8-byte read.
    static void storeRecord(std::uint8_t* at, PackedGroup group);
    static PackedGroup loadRecord(const std::uint8_t* at);

private:
    // A group's first 13 masks fill 52 bits of a 7-byte record; the rare masks past them wait
    // in a list of their own. Records sit in fixed blocks rather than one growing array, which
    // would copy, and for a while hold, the whole log twice. A block has a byte to spare, as a
    // record is stored with one 8-byte write.
    static constexpr std::size_t kRecordBytes = 7;
    static constexpr std::size_t kBlockRecords = std::size_t {1} << 17;

    std::uint8_t* block(std::size_t group) const
    {
        return reinterpret_cast<std::uint8_t*>(m_blocks[group / kBlockRecords]->data());
    }

    // Blocks for secrets: out of core dumps, wiped when let go.
    std::vector<std::unique_ptr<SecretBlock>> m_blocks;
    std::size_t m_groups = 0;
    // (group, size) of each group of more than 13 masks, about one in sixteen, and the masks
    // past the 13th of each, in order.
    std::deque<std::pair<std::size_t, std::size_t>> m_unusual;
    std::deque<std::uint8_t> m_extraMasks;
    std::size_t m_nextGroup = 0;
    std::size_t m_nextUnusual = 0;
};

} // namespace morvalen
