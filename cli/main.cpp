// morvalen-cli: the cipher for scripts. Errors go to standard error with exit status 1, usage
// errors with exit status 2. Output appears only once the input has been read and checked:
// standard output gets nothing from a command that fails, or before the key file is in place,
// and files named by -o and -k are linked into place only when everything in them is on disk.
#include "commands.h"
#include "output.h"
#include "secret.h"

#include <span>

int main(int argc, char** argv)
{
    using namespace morvalen::cli;
    hardenProcess();
    removeTemporariesOnSignals();
    return run(std::span(argv, static_cast<std::size_t>(argc)), Streams {});
}
