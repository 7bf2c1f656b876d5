// Decryption on arbitrary bytes: the encrypted hex up to the first line break, the encrypting
// bits after it. Valid input must give the plain hex the key's masks define; anything else an
// input error naming the right box. The same texts read in pieces, as the command line reads
// files, must give the same answer, and every error's line and column must match its offset.
// The whole input read as one stream, hex and key split where the key begins, must read as its
// two parts do.
#include "cipher/cipher.h"
#include "cipher/keyreader.h"
#include "cipher/onestream.h"
#include "fuzz_support.h"
#include "textconv/boxtext.h"

#include <algorithm>
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

// text up to the '|' that closes its group number count, or all of it when it has fewer.
std::string_view upToGroup(std::string_view text, std::size_t count)
{
    std::size_t end = 0; // just past the last '|' found
    for (std::size_t closed = 0; closed < count; ++closed) {
        const std::size_t bar = text.find('|', end);
        if (bar == std::string_view::npos) {
            return text;
        }
        end = bar + 1;
    }
    return text.substr(0, end);
}

// An error as the two readings compare it: message and place.
std::string answer(const Error& error)
{
    return std::string(error.what()) + "@" + std::to_string(error.offset()) + "+" + std::to_string(error.length());
}

// Where offset stands in text: 1-based line and column, counted afresh.
TextPlace placeIn(std::string_view text, std::size_t offset)
{
    const std::string_view before = text.substr(0, offset);
    const std::size_t lineStart = before.rfind('\n') + 1; // npos + 1 == 0
    return {
        offset, 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n')), offset - lineStart + 1};
}

// Hands text to read in pieces of 1 to 16 bytes, their sizes drawn from seed.
void inPieces(std::string_view text, std::uint64_t& seed, auto&& read)
{
    for (std::size_t i = 0; i < text.size(); seed = seed * 6364136223846793005u + 1442695040888963407u) {
        const auto size = static_cast<std::size_t>(1 + (seed >> 60));
        read(text.substr(i, size));
        i += size;
    }
}

// Checks that an error's line and column, when it cites them, are those of its offset in text.
void checkLineAndColumn(const Error& error, std::string_view text)
{
    if (error.citesPlace()) {
        const TextPlace place = placeIn(text, error.offset());
        check(error.place().line == place.line && error.place().column == place.column,
            "line or column does not match the offset", error.what());
    }
}

// Decrypts with both texts cut into pieces of 1 to 16 bytes; the plain hex, or the error's
// message, place and line and column.
std::string decryptInPieces(std::string_view hexText, std::string_view bits, std::uint64_t seed)
{
    const auto pieces = [&](std::string_view text, auto&& read) { inPieces(text, seed, read); };
    try {
        HexReader hex(ErrorInput::EncryptedHex);
        std::string digits(hexText.size(), '\0');
        std::size_t count = 0;
        pieces(hexText, [&](std::string_view piece) { count += hex.read(piece, digits.data() + count); });
        hex.finish();
        digits.resize(count);
        KeyReader key(digits);
        pieces(bits, [&](std::string_view piece) { key.read(piece); });
        key.finish();
        return digits;
    } catch (const Error& error) {
        checkLineAndColumn(error, error.input() == ErrorInput::EncryptedHex ? hexText : bits);
        return answer(error);
    }
}

// An error as one stream and its two parts compare it: box, what is wrong and where in the whole
// text; the message's position is that of the part it was read in.
std::string streamAnswer(const Error& error, std::size_t keyStart)
{
    const std::size_t shift = error.input() == ErrorInput::EncryptingBits && error.hasPlace() ? keyStart : 0;
    return std::string(boxName(error.input())) + ": " + error.detail() + "@"
        + (error.hasPlace() ? std::to_string(error.offset() + shift) : "-") + "+" + std::to_string(error.length());
}

// The whole input as one stream, read in pieces, must read as its two parts read apart: the hex
// before the first ',' or '|' and the key from there.
void checkOneStream(std::string_view text, std::uint64_t seed)
{
    const std::size_t keyStart = std::min(text.find_first_of(",|"), text.size());
    std::string apart;
    try {
        std::string hex(text.substr(0, keyStart));
        apart = decrypthexbytes(hex, text.substr(keyStart));
    } catch (const Error& error) {
        apart = streamAnswer(error, keyStart);
    }
    std::string together;
    try {
        std::string digits(text.size(), '\0');
        std::size_t count = 0;
        OneStreamReader reader;
        inPieces(text, seed, [&](std::string_view piece) {
            if (!reader.inKey()) {
                count += reader.readHex(piece, digits.data() + count);
            }
            if (!piece.empty()) {
                reader.readKey(std::span(digits).first(count), piece);
            }
        });
        reader.finish(std::span(digits).first(count));
        together = digits.substr(0, count);
    } catch (const Error& error) {
        checkLineAndColumn(error, text);
        together = streamAnswer(error, 0);
    }
    check(together == apart, "one stream reads otherwise than its parts apart", together);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = input.find('\n');
    const std::string_view hexText = input.substr(0, lineEnd);
    const std::string_view bits = lineEnd == std::string_view::npos ? std::string_view() : input.substr(lineEnd + 1);
    const HexReading hex = readHex(hexText);
    // The reader stops where the group past the last digit closes, whatever follows it.
    const std::optional<KeyGroups> key = parseKey(upToGroup(bits, hex.digits.size() + 1));
    checkOneStream(input, hashOf(input) + 1);

    std::string argument(hexText);
    std::string whole;
    try {
        const std::string plain = decrypthexbytes(argument, bits);
        whole = plain;
        check(hex.valid() && key && key->size() == hex.digits.size(), "invalid input was decrypted", input);
        checkPlain(plain, hex, *key);
        check(argument == (hex.digits.empty() ? hexText : ""), "hex not consumed as documented", argument);
    } catch (const Error& error) {
        check(argument == hexText, "hex changed by a failed decryption", argument);
        whole = answer(error);
        if (!hex.valid()) {
            checkMessage(error, ErrorInput::EncryptedHex, hexText);
            check(endsWith(error.what(), "is not a hex digit.") == hex.badCharacter, "wrong hex message", error.what());
            check(decryptInPieces(hexText, bits, hashOf(input)) == whole, "reading in pieces gives another answer",
                whole);
            return 0;
        }
        check(!key || key->size() != hex.digits.size(), "valid input was rejected", error.what());
        checkMessage(error, ErrorInput::EncryptingBits, bits);
        check(endsWith(error.what(), "each digit needs its own group.") == key.has_value(), "wrong key message",
            error.what());
    }
    check(decryptInPieces(hexText, bits, hashOf(input)) == whole, "reading in pieces gives another answer", whole);
    return 0;
}
