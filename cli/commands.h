// The two commands, callable in-process: tests hand them descriptors for the standard streams
// rather than spawning the program.
#pragma once

#include "options.h"
#include "textconv/errors.h"

#include <string>
#include <unistd.h>

namespace morvalen::cli {

// Where "-" and the absence of -i and -o lead.
struct Streams
{
    int in = STDIN_FILENO;
    int out = STDOUT_FILENO;
    int err = STDERR_FILENO;
};

// An input error with the name of the input it is about: a file, "<stdin>", HEX or BITS.
struct NamedError
{
    std::string name;
    Error error;
};

// Throw NamedError, FileError or std::bad_alloc; write nothing to streams.out when they do.
void encrypt(const Options& options, const Streams& streams);
void decrypt(const Options& options, const Streams& streams);

// Parses args, runs the command and reports any error on streams.err as "morvalen-cli: ...";
// returns the exit status: 0, 1 for a failure, 2 for a usage error.
int run(std::span<char* const> args, const Streams& streams);

} // namespace morvalen::cli
