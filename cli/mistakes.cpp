#include "mistakes.h"

#include "io.h"
#include "textconv/boxtext.h"

#include <algorithm>
#include <sys/stat.h>
#include <utility>

namespace morvalen::cli {
namespace {

bool namesFile(const std::string& operand)
{
    struct stat status
    {
    };
    return ::stat(operand.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

// Text that reads as hex or a key does: only what one of them may hold.
bool holdsOnlyCipherText(std::string_view text)
{
    return std::ranges::all_of(text, [](char c) { return hexValue(c) < 16 || isBlank(c) || c == ',' || c == '|'; });
}

} // namespace

void checkOperands(const Options& options)
{
    const char* const kOptionFor[] = {"-i", "-k"};
    for (std::size_t i = 0; i < options.operands.size() && i < 2; ++i) {
        const std::string& operand = options.operands[i];
        if (operand != "-" && !holdsOnlyCipherText(operand) && namesFile(operand)) {
            const std::string name = printableName(operand);
            throw UsageError {(i == 0 ? "HEX" : "BITS") + (" " + name + " is the name of a file, not ")
                    + (i == 0 ? "hex." : "a key."),
                std::string("To read the file, give it as ") + kOptionFor[i] + " " + name + "."};
        }
    }
    // HEX alone holds the key too only where one stream's ',' or '|' is in it.
    if (options.command == Command::Decrypt && !options.key && options.operands.size() == 1
        && options.operands.front() != "-" && options.operands.front().find_first_of(",|") == std::string::npos) {
        throw noKeyAfterHex("HEX", "Give the key with -k KEYFILE, or as BITS after HEX.");
    }
}

Start startOf(std::string_view text)
{
    const auto first = std::ranges::find_if(text, [](char c) { return !isBlank(c); });
    if (first == text.end()) {
        return Start::Unknown;
    }
    return *first == ',' || *first == '|' ? Start::Key : Start::Other;
}

UsageError keyInsteadOfHex(const std::string& name, const Options& options)
{
    std::string hint = "Give the encrypted hex with -i FILE or as HEX, and the key with -k KEYFILE.";
    if (options.key && options.input) {
        hint = "Were -i and -k swapped? -i takes the encrypted hex, -k the key.";
    } else if (options.key || options.operands.size() == 2) {
        hint = "Were the encrypted hex and the key swapped? The hex comes first.";
    }
    return UsageError {printableName(name) + " holds a key where the encrypted hex belongs.", hint};
}

UsageError noKeyAfterHex(const std::string& name, std::string hint)
{
    return UsageError {
        "no key given: " + printableName(name) + " holds no key after the encrypted hex.", std::move(hint)};
}

void warnIfPlainHex(std::string_view digits, const std::string& name, int err)
{
    if (digits.find('0') == std::string_view::npos) {
        return;
    }
    warn(err, printableName(name) + " holds the digit 0, which encrypted hex never does: is this plain hex?");
}

} // namespace morvalen::cli
