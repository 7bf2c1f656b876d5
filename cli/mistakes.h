// Mistakes a command line makes that its inputs give away: a file name given as HEX or BITS, a
// key where the encrypted hex belongs, hex without its key, plain hex given to decrypt. Each is
// told as what was likely meant, rather than as the first character that breaks a format.
#pragma once

#include "options.h"

#include <string>
#include <string_view>

namespace morvalen::cli {

// A usage error for HEX or BITS that is not hex or a key but names a file that exists, and for
// decrypt's HEX without a key after it and without -k or BITS.
void checkOperands(const Options& options);

// Whether the first character of text that is not blank is one a key begins with: ',' or '|'.
// Blank or empty text says nothing; the caller asks again with its next piece.
enum class Start
{
    Unknown,
    Key,
    Other,
};
Start startOf(std::string_view text);

// The usage error for an input that holds a key where the encrypted hex belongs.
UsageError keyInsteadOfHex(const std::string& name, const Options& options);
// The usage error for one stream that ends after its encrypted hex.
UsageError noKeyAfterHex(const std::string& name, std::string hint = "Give the key with -k KEYFILE.");

// Warns on err when the encrypted hex in digits holds a 0, which encryption never writes.
void warnIfPlainHex(std::string_view digits, const std::string& name, int err);

} // namespace morvalen::cli
