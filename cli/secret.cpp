#include "secret.h"

namespace morvalen::cli {

void wipe(std::string& text) noexcept
{
    wipeMemory(text.data(), text.capacity());
}

void wipe(char* data, std::size_t size) noexcept
{
    wipeMemory(data, size);
}

void keepOutOfDumps(std::string& text) noexcept
{
    morvalen::keepOutOfDumps(text.data(), text.capacity());
}

} // namespace morvalen::cli
