#include "random.h"

#include "textconv/errors.h"

#include <sodium.h>

namespace morvalen {
namespace {

class SodiumRandom final : public RandomSource
{
public:
    SodiumRandom()
    {
        if (sodium_init() < 0) {
            throw Error(ErrorKind::RandomUnavailable, "The system's random number generator is not available.");
        }
    }

    // Large draws come from ChaCha20 keyed with 32 fresh bytes from the operating system's
    // generator, one key per draw: the kernel's own ChaCha20 has no vector code, and encrypting a
    // mebibyte of hex draws some 6.5 MB. Small draws go to the system directly.
    void fill(std::span<std::uint8_t> out) override
    {
        if (out.size() <= randombytes_SEEDBYTES) {
            randombytes_buf(out.data(), out.size());
            return;
        }
        unsigned char seed[randombytes_SEEDBYTES];
        randombytes_buf(seed, sizeof seed);
        randombytes_buf_deterministic(out.data(), out.size(), seed);
        sodium_memzero(seed, sizeof seed);
    }
};

} // namespace

RandomSource& systemRandom()
{
    static SodiumRandom source;
    return source;
}

} // namespace morvalen
