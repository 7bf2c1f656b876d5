// A random source that hands out chosen masks, two per byte as the cipher unpacks them (the
// first in the low four bits), and then a filler that is never zero, so a script need only hold
// the masks a test cares about.
#pragma once

#include "cipher/random.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace morvalen::testing {

class ScriptedRandom final : public RandomSource
{
public:
    explicit ScriptedRandom(std::vector<std::uint8_t> masks, std::uint8_t filler = 0x5)
        : m_masks(std::move(masks))
        , m_filler(filler)
    {
    }

    void fill(std::span<std::uint8_t> out) override
    {
        ++m_draws;
        for (std::uint8_t& byte : out) {
            const std::uint8_t first = nextMask();
            byte = static_cast<std::uint8_t>(first | nextMask() << 4);
        }
    }

    std::size_t draws() const { return m_draws; }

private:
    std::uint8_t nextMask()
    {
        const std::size_t i = m_next++;
        return i < m_masks.size() ? m_masks[i] : m_filler;
    }

    std::vector<std::uint8_t> m_masks;
    std::uint8_t m_filler;
    std::size_t m_next = 0;
    std::size_t m_draws = 0;
};

} // namespace morvalen::testing
