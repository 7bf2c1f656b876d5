#include "heldnames.h"

#include "output.h"

#include <array>
#include <climits>
#include <csignal>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace morvalen::cli {
namespace {

// Names to remove should the program be ended by a signal: named temporaries, and a key placed
// before the output that belongs with it was written. Each is a folder's descriptor and a name
// in it, so that no path grows past what the system calls take. Plain arrays, since a handler
// may touch nothing else.
struct HeldName
{
    volatile std::sig_atomic_t inUse;
    int folder;
    std::array<char, NAME_MAX + 1> name;
};
std::array<HeldName, 4> g_names {};

extern "C" void removeNamesAndDie(int signal)
{
    for (const HeldName& held : g_names) {
        if (held.inUse != 0) {
            ::unlinkat(held.folder, held.name.data(), 0);
        }
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

int holdName(int folder, const std::string& name)
{
    for (std::size_t slot = 0; slot < g_names.size(); ++slot) {
        HeldName& held = g_names[slot];
        if (held.inUse == 0 && name.size() <= NAME_MAX) {
            held.folder = folder;
            std::memcpy(held.name.data(), name.c_str(), name.size() + 1);
            held.inUse = 1;
            return static_cast<int>(slot);
        }
    }
    return -1;
}

void releaseName(int& slot)
{
    if (slot >= 0) {
        g_names[static_cast<std::size_t>(std::exchange(slot, -1))].inUse = 0;
    }
}

void removeTemporariesOnSignals()
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction action
        {
        };
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) {
            action.sa_handler = removeNamesAndDie;
            sigemptyset(&action.sa_mask);
            action.sa_flags = 0;
            ::sigaction(signal, &action, nullptr);
        }
    }
    std::signal(SIGXFSZ, SIG_IGN);
}

} // namespace morvalen::cli
