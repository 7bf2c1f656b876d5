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
            throw Error(ErrorKind::OutOfMemory, "The system's random number generator is not available.");
        }
    }

    void fill(std::span<std::uint8_t> out) override { randombytes_buf(out.data(), out.size()); }
};

} // namespace

RandomSource& systemRandom()
{
    static SodiumRandom source;
    return source;
}

} // namespace morvalen
