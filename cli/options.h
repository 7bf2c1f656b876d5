// The command line as the user gave it: parsed into a plain value and checked before anything is
// read or written.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvalen::cli {

enum class Command
{
    Encrypt,
    Decrypt,
    Help,
    Version,
};

struct Options
{
    Command command = Command::Help;
    std::vector<std::string> operands; // after the command
    std::optional<std::string> input;
    std::optional<std::string> output;
    std::optional<std::string> key;
    bool force = false;
};

// A usage error: printed as one line and a hint, exit status 2.
struct UsageError
{
    std::string message;
};

// args as main receives them, the program's name first. Throws UsageError.
Options parseOptions(std::span<char* const> args);

std::string_view usageText();
std::string versionText();

} // namespace morvalen::cli
