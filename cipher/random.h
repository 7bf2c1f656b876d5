// Where the cipher's masks come from. Production draws from the operating system's CSPRNG
// through libsodium; tests substitute a source that hands out scripted bytes.
#pragma once

#include <cstdint>
#include <span>

namespace morvalen {

class RandomSource
{
public:
    virtual ~RandomSource() = default;
    // Fills out with uniformly distributed bytes. May be called again from a nested command
    // while an earlier call's caller is suspended, so implementations keep no per-caller state.
    virtual void fill(std::span<std::uint8_t> out) = 0;
};

// The operating system's CSPRNG (libsodium's randombytes_buf). It needs no seeding from a clock
// and no reseed between draws. Throws Error when libsodium cannot be initialised.
RandomSource& systemRandom();

} // namespace morvalen
