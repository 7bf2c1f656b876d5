// Decryption on arbitrary bytes, split as the command line splits its standard input: the
// encrypted hex up to the first line break, the encrypting bits after it. Valid input must give
// the plain hex the key's masks define; anything else an input error naming the right box.
#include "cipher/cipher.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>

using namespace morvalen;
using namespace morvalen::fuzz;

namespace {

void checkPlain(const std::string& plain, const HexReading& hex, const KeyGroups& key)
{
    check(plain.size() == hex.digits.size(), "plain hex has the wrong length", plain);
    for (std::size_t i = 0; i < plain.size(); ++i) {
        int value = hexDigitValue(hex.digits[i]);
        for (const std::uint8_t mask : key[i]) {
            value ^= mask;
        }
        check(plain[i] == "0123456789ABCDEF"[value], "plain digit differs from the key's masks", plain);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = input.find('\n');
    const std::string_view hexText = input.substr(0, lineEnd);
    const std::string_view bits = lineEnd == std::string_view::npos ? std::string_view() : input.substr(lineEnd + 1);
    const HexReading hex = readHex(hexText);
    const std::optional<KeyGroups> key = parseKey(bits);

    std::string argument(hexText);
    try {
        const std::string plain = decrypthexbytes(argument, bits);
        check(hex.valid() && key && key->size() == hex.digits.size(), "invalid input was decrypted", input);
        checkPlain(plain, hex, *key);
        check(argument == (hex.digits.empty() ? hexText : ""), "hex not consumed as documented", argument);
    } catch (const Error& error) {
        check(argument == hexText, "hex changed by a failed decryption", argument);
        if (!hex.valid()) {
            checkMessage(error, ErrorInput::EncryptedHex, hexText);
            check(endsWith(error.what(), "is not a hex digit.") == hex.badCharacter, "wrong hex message", error.what());
            return 0;
        }
        check(!key || key->size() != hex.digits.size(), "valid input was rejected", error.what());
        checkMessage(error, ErrorInput::EncryptingBits, bits);
        check(endsWith(error.what(), "each digit needs its own group.") == key.has_value(), "wrong key message",
            error.what());
    }
    return 0;
}
