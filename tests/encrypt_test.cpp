#include "cipher/cipher.h"
#include "cipher/grouptext.h"
#include "reference/masks.h"
#include "support/helpers.h"
#include "support/scripted_random.h"
#include "reference/conversions.h"
#include "reference/primitives.h"

#include <bitset>
#include <gtest/gtest.h>
#include <random>

namespace morvalen {
namespace {

using testing::firstDifference;
using testing::repeat;
using testing::ScriptedRandom;

// Masks as the scripted source takes them: random, but zero one time in four, so that many
// digits need extra masks and some need many.
std::vector<std::uint8_t> zeroHeavyMasks(std::size_t count, std::uint64_t seed)
{
    std::mt19937_64 generator(seed);
    std::vector<std::uint8_t> masks(count);
    for (std::uint8_t& mask : masks) {
        const auto value = static_cast<std::uint8_t>(generator() % 20);
        mask = value < 5 ? 0 : value % 16;
    }
    return masks;
}

std::string groupText(const std::vector<std::uint8_t>& masks)
{
    std::string text;
    for (const std::uint8_t mask : masks) {
        text += "," + std::bitset<4>(mask).to_string();
    }
    return text + "|";
}

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
    // 10,512 digits cross the end of the encryptor's buffer of 131,072 masks, inside a digit.
    const std::string longText = repeat("0123456789abcdefFEDCBA9876543210", 328) + "0A0B0C0D0E0F0011";
    const std::vector<std::uint8_t> zeroHeavy = zeroHeavyMasks(150'000, 16);
    // A group of 1,001 masks, longer than the key writer's buffer, between usual ones.
    std::vector<std::uint8_t> longGroup(13, 0x3);
    longGroup.insert(longGroup.end(), 1000, 0);
    longGroup.push_back(0x6);
    // After a first digit, digit A zero after its 13 masks, then more zero masks than the first
    // draw holds.
    std::vector<std::uint8_t> pastTheDraw(13, 0x1);
    pastTheDraw.insert(pastTheDraw.end(), 12, 0);
    pastTheDraw.push_back(0xA);
    pastTheDraw.insert(pastTheDraw.end(), 200, 0);
    for (const auto& [plain, masks] : std::vector<std::pair<std::string, std::vector<std::uint8_t>>> {{"AAAA", script},
             {"00ff10", script}, {"0123456789abcdefFEDCBA9876543210", script}, {"0000000000", script},
             {longText, zeroHeavy}, {"30a5", longGroup}, {"5A55", pastTheDraw}}) {
        SCOPED_TRACE(plain.substr(0, 40));
        const EncryptResult reference = referenceEncrypt(plain, masks, 0x9);
        ScriptedRandom random(masks, 0x9);
        std::string input = plain;
        const EncryptResult fast = encrypthexbytes(input, random);
        EXPECT_EQ(fast.encryptedHex, reference.encryptedHex);
        EXPECT_EQ(firstDifference(fast.encryptingBits, reference.encryptingBits), "");
        EXPECT_EQ(input, "");
        // Every way of working on the digits the processor has gives the same.
        for (const CpuPath path : testing::runnableCpuPaths()) {
            SCOPED_TRACE(cpuPathName(path));
            ScriptedRandom again(masks, 0x9);
            EncryptResult result {readHexDigits(plain, ErrorInput::PlainHex), ""};
            KeyWriter key(result.encryptingBits);
            Encryptor(again, {}, path).encrypt(result.encryptedHex, key);
            EXPECT_EQ(result.encryptedHex, reference.encryptedHex);
            EXPECT_EQ(firstDifference(result.encryptingBits, reference.encryptingBits), "");
        }
    }
}

// Groups are written whole, with AVX-512 or AVX2 where the processor has them, longer ones with
// their further masks after; every path must give every byte as the masks' text.
TEST(KeyText, EveryPathWritesEveryGroupAsItsMasks)
{
    std::mt19937_64 generator(13);
    std::vector<PackedGroup> groups = {0, (PackedGroup {1} << 52) - 1, 0x5A5A5A5A5A5A5, 0x0123456789ABC};
    for (int i = 0; i < 2000; ++i) {
        groups.push_back(generator() & ((PackedGroup {1} << 52) - 1));
    }
    // The first group, the last and every seventh have one to three masks more.
    std::vector<std::pair<std::size_t, std::size_t>> longer;
    std::vector<std::uint8_t> extraMasks;
    std::string expected;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        std::vector<std::uint8_t> masks;
        for (std::size_t i = 0; i < kMasksPerDigit; ++i) {
            masks.push_back(static_cast<std::uint8_t>(groups[g] >> (4 * i) & 0xF));
        }
        if (g % 7 == 0 || g + 1 == groups.size()) {
            longer.emplace_back(g, 1 + g % 3);
            for (std::size_t i = 0; i < longer.back().second; ++i) {
                masks.push_back(static_cast<std::uint8_t>(generator() % 16));
                extraMasks.push_back(masks.back());
            }
        }
        expected += groupText(masks);
    }
    for (const CpuPath path : testing::runnableCpuPaths()) {
        SCOPED_TRACE(cpuPathName(path));
        std::string text(expected.size() + kGroupTextSlack, '?');
        EXPECT_EQ(writeGroups({groups, longer, extraMasks}, text.data(), path), expected.size());
        EXPECT_EQ(firstDifference(text.substr(0, expected.size()), expected), "");
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
    EXPECT_EQ(firstDifference(
                  result.encryptingBits, repeat(",0000", 12) + ",1010,0000,0000,0011|" + repeat(",0001", 13) + "|"),
        "");
    EXPECT_EQ(random.draws(), 1u); // the extra masks came from spares: no second system call
}

// A result kept from one encryption to the next is written over: each key is its own, whatever
// the one before it left, and an error leaves none.
TEST(Encrypt, IntoAKeptResultGivesEachKeyAlone)
{
    EncryptResult kept;
    for (const std::string& plain : {repeat("A5", 300), std::string("0f"), repeat("3C", 40), std::string("x1")}) {
        SCOPED_TRACE(plain.substr(0, 8));
        const std::vector<std::uint8_t> masks = zeroHeavyMasks(20'000, plain.size());
        ScriptedRandom random(masks), again(masks);
        std::string input = plain;
        std::string fresh = plain;
        try {
            encryptInto(kept, input, random);
        } catch (const Error&) {
            EXPECT_EQ(kept.encryptedHex + kept.encryptingBits, "");
            continue;
        }
        const EncryptResult expected = encrypthexbytes(fresh, again);
        EXPECT_EQ(kept.encryptedHex, expected.encryptedHex);
        EXPECT_EQ(firstDifference(kept.encryptingBits, expected.encryptingBits), "");
    }
}

TEST(Encrypt, EmptyBlankAndInvalidInputDrawNothingAndConsumeNothing)
{
    ScriptedRandom random({});
    for (const auto& [text, place] :
        std::vector<std::pair<std::string, std::string>> {{" \n\t", ""}, {"AG", "@1:G"}, {"ABC\n", "@2:C"}}) {
        SCOPED_TRACE("input \"" + text + "\"");
        std::string input = text;
        try {
            EXPECT_EQ(encrypthexbytes(input, random).encryptingBits, "");
            EXPECT_EQ(place, "");
        } catch (const Error& e) { // messages: Decrypt tests
            EXPECT_EQ(e.input(), ErrorInput::PlainHex);
            EXPECT_EQ(testing::placeIn(e, text), place);
        }
        EXPECT_EQ(input, text);
    }
    EXPECT_EQ(random.draws(), 0u);
}

} // namespace
} // namespace morvalen
