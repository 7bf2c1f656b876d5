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
        return e.what();
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

TEST(Decrypt, BlanksAnywhereInALongKeyChangeNothing)
{
    // Whole masks are read eight bytes at a time; blanks push the reader between that and the
    // byte-by-byte path at every offset, and both must agree.
    std::string input = "0123456789ABCDEF0123456789abcdef";
    const EncryptResult encrypted = encrypthexbytes(input);
    for (std::size_t gap = 1; gap < 12; ++gap) {
        std::string bits;
        for (std::size_t i = 0; i < encrypted.encryptingBits.size(); ++i) {
            bits += encrypted.encryptingBits[i];
            if (i % gap == gap - 1) {
                bits += " \n\t"[i % 3];
            }
        }
        EXPECT_EQ(decrypt(encrypted.encryptedHex, bits), "0123456789ABCDEF0123456789ABCDEF") << gap;
    }
}

TEST(Decrypt, ErrorsSayWhatAndWhere)
{
    // Positions count characters, not bytes; invisible and broken ones are named by number.
    const std::pair<std::string, std::string> hex[] = {{"A A-", "'-' at position 4 is not a hex digit."},
        {"1 2 3", "3 hex digits is an odd count; each byte takes two."},
        {"AA\xC3\xA9Z", "'\xC3\xA9' at position 3 is not a hex digit."},
        {std::string("AB\0", 3), "U+0000 at position 3 is not a hex digit."},
        {"\xFF\xC3\xA9", "byte 0xFF at position 1 is not a hex digit."},
        {"A\xED\xA0\x80", "byte 0xED at position 2 is not a hex digit."}};
    for (const auto& [text, what] : hex) {
        EXPECT_EQ(decrypt(text, "||"), "Hex encrypted: " + what);
    }
    EXPECT_EQ(decrypt("", "|"), "Encrypting bits: 1 mask group for 0 hex digits; each digit needs its own group.");
    const std::string g = group("0101"); // 66 characters
    for (const auto& [bits, what] :
        std::vector<std::pair<std::string, std::string>> {{g + ",01x1|", "'x' at position 70 is not 0, 1, ',' or '|'."},
            {g + ",0121|", "'2' at position 70 is not 0, 1, ',' or '|'."},
            {"\xC3\xA9|", "'\xC3\xA9' at position 1 is not 0, 1, ',' or '|'."},
            {g + ",010|", "the mask at position 67 has 3 digits; a mask has 4."},
            {g + ",0101 1|", "the mask at position 67 has 5 digits; a mask has 4."},
            {g + ",0101,|", "the mask at position 72 has 0 digits; a mask has 4."},
            {g + ",0101,0101,01010101|", "the mask at position 77 has 8 digits; a mask has 4."},
            {" \n ,01 |", "the mask at position 4 has 2 digits; a mask has 4."},
            {g + "0101,0101|", "the group at position 67 does not begin with ','."},
            {g + ",0101", "the text from position 67 is not closed by '|'."},
            {g + g + "  ,", "the text from position 135 is not closed by '|'."},
            {g, "1 mask group for 2 hex digits; each digit needs its own group."},
            {g + g + g, "3 mask groups for 2 hex digits; each digit needs its own group."}}) {
        EXPECT_EQ(decrypt("12", bits), "Encrypting bits: " + what) << bits;
    }
}

} // namespace
} // namespace morvalen
