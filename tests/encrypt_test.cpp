#include "cipher/cipher.h"
#include "cipher/masks.h"
#include "support/helpers.h"
#include "support/scripted_random.h"
#include "textconv/conversions.h"
#include "textconv/primitives.h"

#include <bitset>
#include <gtest/gtest.h>

namespace morvalen {
namespace {

using testing::repeat;
using testing::ScriptedRandom;

// The original tool's encryption, composed of the text-level operations, fed the same masks.
EncryptResult referenceEncrypt(std::string hex, const std::vector<std::uint8_t>& script, std::uint8_t filler)
{
    std::size_t drawn = 0;
    const auto nextMask = [&] { return std::bitset<4>(drawn < script.size() ? script[drawn++] : filler).to_string(); };
    EncryptResult result;
    TextArray pieces = bytearray(hex);
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        const TextArray nibbles = nibblehexbyte(pieces[i]);
        std::string encrypted;
        for (std::size_t j = 0; j < 2; ++j) {
            std::string running = nibbles[j];
            for (int pass = 0; pass < 13 || running == "0000"; ++pass) {
                std::string mask = nextMask();
                const XorResult pair = xorencrytyptbits(running, mask);
                running = pair.combined;
                result.encryptingBits += "," + pair.maskUsed;
            }
            encrypted += running;
            result.encryptingBits += "|";
        }
        result.encryptedHex += hexText(static_cast<std::uint32_t>(std::stoi(bitstodecimal(encrypted))));
    }
    return result;
}

TEST(Encrypt, MatchesTheTextLevelComposition)
{
    std::vector<std::uint8_t> script(3000);
    for (std::size_t i = 0; i < script.size(); ++i) {
        script[i] = static_cast<std::uint8_t>((i * 7 + i / 16) % 16); // every mask, zeros included
    }
    for (const std::string plain : {"AAAA", "00ff10", "0123456789abcdefFEDCBA9876543210", "0000000000"}) {
        ScriptedRandom random(script, 0x9);
        std::string input = plain;
        const EncryptResult fast = encrypthexbytes(input, random);
        const EncryptResult reference = referenceEncrypt(plain, script, 0x9);
        EXPECT_EQ(
            fast.encryptedHex + "/" + fast.encryptingBits, reference.encryptedHex + "/" + reference.encryptingBits);
        EXPECT_EQ(input, "");
    }
}

TEST(Encrypt, ExtraMasksOnlyWhileTheDigitIsZeroEachFollowedByOneYield)
{
    // Digit A: 13 masks whose XOR is A leave it zero; two zero masks keep it zero; 3 ends it.
    std::vector<std::uint8_t> script(12, 0);
    script.insert(script.end(), {0xA, 0, 0, 3});
    script.insert(script.end(), 13, 0x1); // digit 5 ends non-zero after 13: no fourteenth
    ScriptedRandom random(script);
    int yields = 0;
    std::string input = "A5";
    const EncryptResult result = encrypthexbytes(input, random, [&] { ++yields; });
    EXPECT_EQ(yields, 3);
    EXPECT_EQ(result.encryptedHex, "34");
    EXPECT_EQ(result.encryptingBits, repeat(",0000", 12) + ",1010,0000,0000,0011|" + repeat(",0001", 13) + "|");
    EXPECT_EQ(random.masksDrawn(), 29u + 1); // masks come two to a byte; none drawn ahead
}

TEST(Encrypt, EmptyBlankAndInvalidInputDrawNothingAndConsumeNothing)
{
    ScriptedRandom random({});
    for (const auto& [text, place] :
        std::vector<std::pair<std::string, std::string>> {{" \n\t", ""}, {"AG", "@1:G"}, {"ABC\n", "@2:C"}}) {
        std::string input = text;
        try {
            EXPECT_EQ(encrypthexbytes(input, random).encryptingBits, "");
            EXPECT_EQ(place, "") << text;
        } catch (const Error& e) { // messages: Decrypt tests
            EXPECT_EQ(e.input(), ErrorInput::PlainHex) << text;
            EXPECT_EQ(testing::placeIn(e, text), place) << text;
        }
        EXPECT_EQ(input, text);
    }
    EXPECT_EQ(random.masksDrawn(), 0u);
}

} // namespace
} // namespace morvalen
