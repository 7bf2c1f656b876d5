// Encryption on arbitrary bytes. Valid hex must give a key of the documented shape that decrypts
// to the same digits in upper case; anything else an input error that consumed nothing. The masks
// come from a source seeded by the input, a quarter of the inputs with mostly all-zero masks.
#include "cipher/cipher.h"
#include "fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <numeric>

using namespace morvalen;
using namespace morvalen::fuzz;

namespace {

constexpr std::size_t kThirteen = kMasksPerDigit;

// Per digit: 13 masks, more only while the digit stayed zero (all-zero masks, then the final
// non-zero one, which is the encrypted digit), and one yield per extra mask.
void checkKey(const std::string& plain, const EncryptResult& result, std::size_t yields)
{
    const std::optional<KeyGroups> key = parseKey(result.encryptingBits);
    check(key && key->size() == plain.size(), "key has the wrong format", result.encryptingBits);
    check(result.encryptedHex.size() == plain.size(), "encrypted hex has the wrong length", result.encryptedHex);
    std::size_t extraMasks = 0;
    for (std::size_t n = 0; n < plain.size(); ++n) {
        const std::vector<std::uint8_t>& masks = (*key)[n];
        const int encrypted = hexDigitValue(result.encryptedHex[n]);
        check(encrypted >= 1 && result.encryptedHex[n] == "0123456789ABCDEF"[encrypted], "bad encrypted digit",
            result.encryptedHex);
        check(masks.size() >= kThirteen, "fewer than 13 masks", result.encryptingBits);
        const int afterThirteen = std::accumulate(masks.begin(), masks.begin() + kMasksPerDigit,
            hexDigitValue(plain[n]), [](int v, std::uint8_t m) { return v ^ m; });
        if (masks.size() == kThirteen) {
            check(afterThirteen == encrypted, "masks do not give the encrypted digit", result.encryptingBits);
            continue;
        }
        check(afterThirteen == 0, "extra mask on a digit that was not zero", result.encryptingBits);
        check(std::all_of(masks.begin() + kMasksPerDigit, masks.end() - 1, [](std::uint8_t m) { return m == 0; }),
            "non-zero extra mask before the last", result.encryptingBits);
        check(masks.back() == encrypted, "last extra mask is not the encrypted digit", result.encryptingBits);
        extraMasks += masks.size() - kThirteen;
    }
    check(extraMasks == yields, "one yield per extra mask");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::uint64_t seed = hashOf(input);
    SeededRandom random(seed, seed % 4 == 0);
    std::size_t yields = 0;
    const auto onExtraMask = [&] {
        // The window may run a command inside the yield; do one nested round trip per input.
        if (yields++ == 0) {
            std::string nested = "0f";
            const EncryptResult inner = encrypthexbytes(nested, random);
            std::string innerHex = inner.encryptedHex;
            check(decrypthexbytes(innerHex, inner.encryptingBits) == "0F", "nested round trip failed");
        }
    };
    const HexReading hex = readHex(input);

    std::string argument(input);
    EncryptResult result;
    try {
        result = encrypthexbytes(argument, random, onExtraMask);
    } catch (const Error& error) {
        check(!hex.valid(), "valid hex was rejected", error.what());
        check(argument == input, "hex changed by a failed encryption", argument);
        checkMessage(error, ErrorInput::PlainHex, input);
        check(endsWith(error.what(), "is not a hex digit.") == hex.badCharacter, "wrong hex message", error.what());
        return 0;
    }
    check(hex.valid(), "invalid hex was encrypted", input);
    check(argument == (hex.digits.empty() ? input : ""), "hex not consumed as documented", argument);
    checkKey(hex.digits, result, yields);
    std::string encrypted = result.encryptedHex;
    check(decrypthexbytes(encrypted, result.encryptingBits) == hex.digits, "round trip changed the digits");
    return 0;
}
