#include "cipher/cipher.h"
#include "cipher/masks.h"
#include "support/scripted_random.h"
#include "textconv/conversions.h"
#include "textconv/errors.h"
#include "textconv/primitives.h"

#include <bitset>
#include <gtest/gtest.h>
#include <regex>

namespace morvalen {
namespace {

using testing::ScriptedRandom;

std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> fields(1);
    for (const char c : text) {
        if (c == separator) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

std::string maskText(unsigned mask)
{
    return std::bitset<4>(mask).to_string();
}

// The original tool's encryption, composed of the text-level operations, taking the same masks.
EncryptResult referenceEncrypt(std::string hex, const std::vector<std::uint8_t>& script, std::uint8_t filler)
{
    std::size_t drawn = 0;
    const auto nextMask = [&] { return maskText(drawn < script.size() ? script[drawn++] : (++drawn, filler)); };
    EncryptResult result;
    TextArray pieces = bytearray(hex);
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        const TextArray nibbles = nibblehexbyte(pieces[i]);
        std::string encrypted;
        std::string groups;
        for (std::size_t j = 0; j < 2; ++j) {
            std::string running = nibbles[j];
            const auto applyOne = [&] {
                std::string mask = nextMask();
                const XorResult pair = xorencrytyptbits(running, mask);
                running = pair.combined;
                groups += "," + pair.maskUsed;
            };
            for (int pass = 0; pass < 13; ++pass) {
                applyOne();
            }
            while (running == "0000") {
                applyOne();
            }
            encrypted += running;
            groups += "|";
        }
        result.encryptedHex += hexText(static_cast<std::uint32_t>(std::stoi(bitstodecimal(encrypted))));
        result.encryptingBits += groups;
    }
    return result;
}

TEST(Encrypt, MatchesTheTextLevelComposition)
{
    std::vector<std::uint8_t> script;
    for (unsigned i = 0; i < 3000; ++i) {
        script.push_back(static_cast<std::uint8_t>((i * 7 + i / 16) % 16));
    }
    for (const std::string plain : {"AAAA", "00ff10", "0123456789abcdefFEDCBA9876543210", "0000000000"}) {
        ScriptedRandom random(script, 0x9);
        std::string input = plain;
        const EncryptResult fast = encrypthexbytes(input, random);
        const EncryptResult reference = referenceEncrypt(plain, script, 0x9);
        EXPECT_EQ(fast.encryptedHex, reference.encryptedHex) << plain;
        EXPECT_EQ(fast.encryptingBits, reference.encryptingBits) << plain;
    }
}

TEST(Encrypt, ThirteenMasksAndTheKeyFormat)
{
    std::string input = "AAAA";
    const EncryptResult result = encrypthexbytes(input);
    EXPECT_TRUE(std::regex_match(result.encryptedHex, std::regex("[1-9A-F]{4}"))) << result.encryptedHex;
    EXPECT_TRUE(std::regex_match(result.encryptingBits, std::regex("((,[01]{4}){13,}\\|){4}")));
    EXPECT_EQ(input, "");

    const std::vector<std::string> groups = split(result.encryptingBits, '|');
    ASSERT_EQ(groups.size(), 5u);
    EXPECT_EQ(groups.back(), "");
    for (std::size_t n = 0; n < 4; ++n) {
        unsigned value = 0xA;
        for (const std::string& mask : split(groups[n], ',')) {
            value ^= mask.empty() ? 0 : static_cast<unsigned>(std::stoi(mask, nullptr, 2));
        }
        EXPECT_EQ("0123456789ABCDEF"[value], result.encryptedHex[n]);
    }
}

TEST(Encrypt, ExtraMasksOnlyWhileTheDigitIsZeroEachFollowedByOneYield)
{
    // Digit A: 13 masks whose XOR is A leave it zero; two zero masks keep it zero; 3 ends it.
    std::vector<std::uint8_t> script(12, 0);
    script.push_back(0xA);
    script.insert(script.end(), {0, 0, 3});
    // Digit 5: 13 masks leave it non-zero, so it gets no fourteenth.
    script.insert(script.end(), 13, 0x1);
    ScriptedRandom random(script);
    int yields = 0;
    std::string input = "A5";
    const EncryptResult result = encrypthexbytes(input, random, [&] { ++yields; });

    EXPECT_EQ(yields, 3);
    EXPECT_EQ(result.encryptedHex, "34");
    const std::vector<std::string> groups = split(result.encryptingBits, '|');
    EXPECT_EQ(split(groups[0], ',').size(), 1u + 16);
    EXPECT_EQ(groups[0].substr(groups[0].size() - 15), ",0000,0000,0011");
    EXPECT_EQ(split(groups[1], ',').size(), 1u + 13);
    EXPECT_EQ(random.masksDrawn(), 29u + 1); // masks come two to a byte
}

TEST(Encrypt, NeverWritesTheDigitZero)
{
    std::string input(4096, '0');
    for (std::size_t i = 0; i < input.size(); ++i) {
        input[i] = "0123456789ABCDEF"[i % 16];
    }
    const EncryptResult result = encrypthexbytes(input);
    EXPECT_EQ(result.encryptedHex.size(), 4096u);
    EXPECT_EQ(result.encryptedHex.find('0'), std::string::npos);
}

TEST(Encrypt, EmptyBlankAndInvalidInput)
{
    ScriptedRandom random({});
    std::string empty = " \n\t";
    const EncryptResult result = encrypthexbytes(empty, random);
    EXPECT_EQ(result.encryptedHex, "");
    EXPECT_EQ(result.encryptingBits, "");
    EXPECT_EQ(empty, " \n\t");
    EXPECT_EQ(random.masksDrawn(), 0u);

    for (const auto& [text, message] : {
             std::pair<std::string, std::string> {"AG", "Hex to encrypt: 'G' at position 2 is not a hex digit."},
             {"ABC", "Hex to encrypt: 3 hex digits is an odd count; each byte takes two."},
         }) {
        std::string input = text;
        try {
            encrypthexbytes(input, random);
            ADD_FAILURE() << text;
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), message);
        }
        EXPECT_EQ(input, text);
    }
    EXPECT_EQ(random.masksDrawn(), 0u);
}

TEST(Encrypt, LowerCaseAndBlanksEncryptAsTheirDigits)
{
    std::vector<std::uint8_t> script(200);
    for (std::size_t i = 0; i < script.size(); ++i) {
        script[i] = static_cast<std::uint8_t>(1 + i % 15);
    }
    ScriptedRandom a(script);
    ScriptedRandom b(script);
    std::string lower = "ab cd\n";
    std::string upper = "ABCD";
    const EncryptResult fromLower = encrypthexbytes(lower, a);
    const EncryptResult fromUpper = encrypthexbytes(upper, b);
    EXPECT_EQ(fromLower.encryptedHex, fromUpper.encryptedHex);
    EXPECT_EQ(fromLower.encryptingBits, fromUpper.encryptingBits);
}

TEST(Encrypt, FreshKeysEachTime)
{
    std::string first = "00112233";
    std::string second = "00112233";
    EXPECT_NE(encrypthexbytes(first).encryptingBits, encrypthexbytes(second).encryptingBits);
}

} // namespace
} // namespace morvalen
