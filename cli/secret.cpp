#include "secret.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace morvalen::cli {

void hardenProcess() noexcept
{
    // A standard stream closed at start is held by a descriptor that can be neither read nor
    // written, so that no file opened later takes its number and gets what was meant for it.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", O_PATH) != fd) {
            break;
        }
    }
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
