#include "cipher/cipher.h"
#include "support/scripted_random.h"
#include "textconv/errors.h"

#include <gtest/gtest.h>

namespace morvalen {
namespace {

std::string decrypt(std::string hex, std::string_view bits)
{
    return decrypthexbytes(hex, bits);
}

std::string decryptError(std::string hex, std::string_view bits)
{
    const std::string before = hex;
    try {
        decrypthexbytes(hex, bits);
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::InvalidInput);
        EXPECT_EQ(hex, before) << "input consumed on error";
        return e.what();
    }
    return "no error";
}

// A group of 13 masks: twelve 0000 and a last one, so the group's XOR is that last mask.
std::string group(const char* last)
{
    std::string text;
    for (int i = 0; i < 12; ++i) {
        text += ",0000";
    }
    return text + "," + last + "|";
}

TEST(Decrypt, RoundTripsAndKeepsTwoDigitsPerByte)
{
    for (const std::string plain : {"AAAA", "0A0B", "00", "ff00aa", "0123456789ABCDEFfedcba9876543210", ""}) {
        std::string input = plain;
        const EncryptResult encrypted = encrypthexbytes(input);
        std::string upper = plain;
        for (char& c : upper) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        EXPECT_EQ(decrypt(encrypted.encryptedHex, encrypted.encryptingBits), upper);
    }
}

TEST(Decrypt, ConsumesItsHexArgument)
{
    std::string hex = "12";
    EXPECT_EQ(decrypthexbytes(hex, group("0011") + group("0010")), "20");
    EXPECT_EQ(hex, "");
}

TEST(Decrypt, HandEditedKeysThatKeepTheFormat)
{
    // Empty groups leave their digit as it is; any number of masks may stand in a group.
    EXPECT_EQ(decrypt("5A", "||"), "5A");
    EXPECT_EQ(decrypt("5A", ",0101|,0000,1111,1111|"), "0A");
    // Blanks and line breaks anywhere are skipped, so a wrapped key pastes fine.
    EXPECT_EQ(decrypt("5 A", " ,01\n01 |\r\n,1010|\n"), "00");
    // Encrypted hex may be lower case, and may hold a 0 written by hand.
    EXPECT_EQ(decrypt("0f", "|,1111|"), "00");
    EXPECT_EQ(decrypt("", ""), "");
}

TEST(Decrypt, BlanksAnywhereInALongKeyChangeNothing)
{
    // Whole masks are read eight bytes at a time; blanks push the reader between that and the
    // byte-by-byte path at every offset, and both must agree.
    std::string plain = "0123456789ABCDEF0123456789abcdef";
    const std::string expected = "0123456789ABCDEF0123456789ABCDEF";
    std::string input = plain;
    const EncryptResult encrypted = encrypthexbytes(input);
    for (std::size_t gap = 1; gap < 12; ++gap) {
        std::string bits;
        for (std::size_t i = 0; i < encrypted.encryptingBits.size(); ++i) {
            bits += encrypted.encryptingBits[i];
            if (i % gap == gap - 1) {
                bits += " \n\t"[i % 3];
            }
        }
        EXPECT_EQ(decrypt(encrypted.encryptedHex, bits), expected) << gap;
    }
}

TEST(Decrypt, BadHexNamesTheEncryptedBox)
{
    EXPECT_EQ(decryptError("1Z", "||"), "Hex encrypted: 'Z' at position 2 is not a hex digit.");
    EXPECT_EQ(decryptError("123", "|||"), "Hex encrypted: 3 hex digits is an odd count; each byte takes two.");
}

TEST(Decrypt, KeyErrorsSayWhatAndWhere)
{
    const std::string g = group("0101"); // 66 characters
    const std::pair<std::string, std::string> cases[] = {
        {g + ",01x1|", "Encrypting bits: 'x' at position 70 is not 0, 1, ',' or '|'."},
        {g + ",0121|", "Encrypting bits: '2' at position 70 is not 0, 1, ',' or '|'."},
        {g + ",010|", "Encrypting bits: the mask at position 67 has 3 digits; a mask has 4."},
        {g + ",01010|", "Encrypting bits: the mask at position 67 has 5 digits; a mask has 4."},
        {g + ",0101,|", "Encrypting bits: the mask at position 72 has 0 digits; a mask has 4."},
        {g + ",0101 1|", "Encrypting bits: the mask at position 67 has 5 digits; a mask has 4."},
        {g + ",0101,0101,01010101|", "Encrypting bits: the mask at position 77 has 8 digits; a mask has 4."},
        {g + ",,0101|", "Encrypting bits: the mask at position 67 has 0 digits; a mask has 4."},
        {g + "0101,0101|", "Encrypting bits: the group at position 67 does not begin with ','."},
        {g + ",0101", "Encrypting bits: the text from position 67 is not closed by '|'."},
        {g + g + "  ,", "Encrypting bits: the text from position 135 is not closed by '|'."},
        {g, "Encrypting bits: 1 mask group for 2 hex digits; each digit needs its own group."},
        {g + g + g, "Encrypting bits: 3 mask groups for 2 hex digits; each digit needs its own group."},
        {"", "Encrypting bits: 0 mask groups for 2 hex digits; each digit needs its own group."},
        {",0101", "Encrypting bits: the text from position 1 is not closed by '|'."},
    };
    for (const auto& [bits, message] : cases) {
        EXPECT_EQ(decryptError("12", bits), message) << bits;
    }
    EXPECT_EQ(decryptError("", "|"), "Encrypting bits: 1 mask group for 0 hex digits; each digit needs its own group.");
    // Positions count characters as they stand, blanks and multi-byte characters included.
    EXPECT_EQ(decryptError("12", "\xC3\xA9|"), "Encrypting bits: '\xC3\xA9' at position 1 is not 0, 1, ',' or '|'.");
    EXPECT_EQ(decryptError("12", " \n ,01 |"), "Encrypting bits: the mask at position 4 has 2 digits; a mask has 4.");
}

} // namespace
} // namespace morvalen
