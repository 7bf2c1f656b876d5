#include "harden.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace morvalen {

void hardenProcess() noexcept
{
    // A standard stream closed at start is held by a descriptor that can be neither read nor
    // written, so that no file opened later takes its number and gets what was meant for it.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", O_PATH) != fd) {
            break;
        }
    }
    // The desktop's services reach the window through its sockets, which this leaves alone.
    ::prctl(PR_SET_DUMPABLE, 0);
    const rlimit none {0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}

} // namespace morvalen
