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

// A usage error: printed as one line, the hint that says what was likely meant when there is one,
// and the pointer to --help; exit status 2.
struct UsageError
{
    std::string message;
    std::string hint = {};
};

// args as main receives them, the program's name first. Throws UsageError.
Options parseOptions(std::span<char* const> args);

// One option, as getopt_long, the help and the tests that hold the manual and the completion to
// it all take it.
struct OptionEntry
{
    char shortName; // 0 for a long option alone
    int code; // what getopt_long returns for it
    std::string_view longName; // a literal, so its data ends in '\0' as getopt_long needs
    std::string_view argument; // empty for an option without one
    std::string_view help; // lines of at most 58 characters, to fit 80 columns, split by '\n'
};
std::span<const OptionEntry> optionTable();

std::string_view usageText();
std::string versionText();

} // namespace morvalen::cli
