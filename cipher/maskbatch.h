// Masks as encryption hands them on to be written or kept: many groups at a time, packed.
#pragma once

#include "keyformat.h"

#include <cstddef>
#include <span>
#include <utility>

namespace morvalen {

// Consecutive groups as encryption hands them on, many at a time: every group's first 13 masks
// packed, and for the one digit in 16 that was zero after them, the masks it took past those.
struct MaskBatch
{
    std::span<const PackedGroup> groups;
    // The groups with more masks, in order: their index in groups and how many more they have.
    std::span<const std::pair<std::size_t, std::size_t>> longer;
    std::span<const std::uint8_t> extraMasks; // theirs, in order
};

// Where encryption hands each digit's masks, in digit order.
class MaskGroupSink
{
public:
    virtual void groups(const MaskBatch& batch) = 0;

protected:
    ~MaskGroupSink() = default;
};

} // namespace morvalen
