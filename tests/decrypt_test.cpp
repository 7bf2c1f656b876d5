#include "cipher/cipher.h"
#include "support/helpers.h"
#include "textconv/errors.h"

#include <gtest/gtest.h>

namespace morvalen {
namespace {

std::string decrypt(std::string hex, std::string_view bits)
{
    const std::string before = hex;
    try {
        std::string plain = decrypthexbytes(hex, bits);
        EXPECT_EQ(hex, before.empty() ? before : "") << "the hex argument is consumed";
        return plain;
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::InvalidInput);
        EXPECT_EQ(hex, before) << "nothing is consumed on an error";
        // The box the message names is the input the place is in.
        EXPECT_TRUE(e.input() != ErrorInput::None && std::string_view(e.what()).starts_with(boxName(e.input())));
        return e.what() + testing::placeIn(e, e.input() == ErrorInput::EncryptedHex ? std::string_view(hex) : bits);
    }
}

// Twelve masks 0000 and a last one, so the group's XOR is that last mask.
std::string group(const char* last)
{
    return testing::repeat(",0000", 12) + "," + last + "|";
}

TEST(Decrypt, HandEditedKeysThatKeepTheFormat)
{
    EXPECT_EQ(decrypt("12", group("0011") + group("0010")), "20");
    EXPECT_EQ(decrypt("1B", ",0001||") + decrypt("F5", ",1111|,0101|"), "0B00"); // two digits per byte
    EXPECT_EQ(decrypt("5A", "||"), "5A"); // empty groups leave their digit as it is
    EXPECT_EQ(decrypt("5A", ",0101|,0000,1111,1111|"), "0A");
    EXPECT_EQ(decrypt(" 5\tA\r\n", " ,01\n01 |\r\n,1010|\n"), "00"); // blanks skipped in both boxes
    EXPECT_EQ(decrypt("0f", "|,1111|"), "00");
}

TEST(Decrypt, ErrorsSayWhatAndWhere)
{
    // Positions count characters, not bytes; invisible and broken ones are named by number. Places
    // are byte ranges: a whole character, the last digit of an odd count.
    const std::tuple<std::string, std::string, std::string> hex[]
        = {{"A A-", "'-' at position 4 is not a hex digit.", "@3:-"},
            {"1 2 3 ", "3 hex digits is an odd count; each byte takes two.", "@4:3"},
            {"AA\xC3\xA9Z", "'\xC3\xA9' at position 3 is not a hex digit.", "@2:\xC3\xA9"},
            {"A\xF0\x9F\x98\x80", "'\xF0\x9F\x98\x80' at position 2 is not a hex digit.", "@1:\xF0\x9F\x98\x80"},
            {std::string("AB\0", 3), "U+0000 at position 3 is not a hex digit.", std::string("@2:\0", 4)},
            {"\xFF\xC3\xA9", "byte 0xFF at position 1 is not a hex digit.", "@0:\xFF"},
            {"A\xED\xA0\x80", "byte 0xED at position 2 is not a hex digit.", "@1:\xED"}};
    for (const auto& [text, what, place] : hex) {
        SCOPED_TRACE("hex " + text);
        EXPECT_EQ(decrypt(text, "||"), "Hex encrypted: " + what + place);
    }
    EXPECT_EQ(
        decrypt("", "|"), "Encrypting bits: more than 0 mask groups for 0 hex digits; each digit needs its own group.");
    // g is read eight bytes at a time; places must be right after that path as after the other.
    const std::string g = group("0101"); // 66 characters
    for (const auto& [bits, what, place] : std::vector<std::tuple<std::string, std::string, std::string>> {
             {g + ",01x1|", "'x' at position 70 is not 0, 1, ',' or '|'.", "@69:x"},
             {g + ",0121|", "'2' at position 70 is not 0, 1, ',' or '|'.", "@69:2"},
             {"\xC3\xA9|", "'\xC3\xA9' at position 1 is not 0, 1, ',' or '|'.", "@0:\xC3\xA9"},
             {g + ",010|", "the mask at position 67 has 3 digits; a mask has 4.", "@66:,010"},
             {g + ",0101 1|", "the mask at position 67 has 5 digits; a mask has 4.", "@66:,0101 1"},
             {g + ",0101, \n|", "the mask at position 72 has 0 digits; a mask has 4.", "@71:,"},
             {g + ",0101,0101,01010101|", "the mask at position 77 has 8 digits; a mask has 4.", "@76:,01010101"},
             {" \n ,01 |", "the mask at position 4 has 2 digits; a mask has 4.", "@3:,01"},
             {g + "0101,0101|", "the group at position 67 does not begin with ','.", "@66:0"},
             {g + ",0101,0101,0101 \n", "the text from position 67 is not closed by '|'.", "@66:,0101,0101,0101"},
             {g + g + "  ,", "the text from position 135 is not closed by '|'.", "@134:,"},
             {g, "1 mask group for 2 hex digits; each digit needs its own group.", ""},
             // Failed where the third group closes, before the bad character after it.
             {g + g + g + "x", "more than 2 mask groups for 2 hex digits; each digit needs its own group.", ""}}) {
        SCOPED_TRACE("key " + bits);
        EXPECT_EQ(decrypt("12", bits), "Encrypting bits: " + what + place);
    }
}

} // namespace
} // namespace morvalen
