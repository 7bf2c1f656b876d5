#include "secret.h"

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace morvalen::cli {

void hardenProcess() noexcept
{
    ::prctl(PR_SET_DUMPABLE, 0);
    const rlimit none {0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}

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
