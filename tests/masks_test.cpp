#include "cipher/masks.h"
#include "support/scripted_random.h"
#include "textconv/errors.h"

#include <gtest/gtest.h>

namespace morvalen {
namespace {

TEST(Randombits, LengthAndAlphabet)
{
    for (const int length : {1, 4, 9, 64}) {
        const std::string bits = Randombits(length, systemRandom());
        EXPECT_EQ(bits.size(), static_cast<std::size_t>(length));
        EXPECT_EQ(bits.find_first_not_of("01"), std::string::npos) << bits;
    }
    EXPECT_EQ(Randombits(0, systemRandom()), "");
    EXPECT_EQ(Randombits(-3, systemRandom()), "");
}

TEST(Randombits, MostSignificantBitFirst)
{
    testing::ScriptedRandom random({0xA, 0x5, 0xC, 0x3});
    EXPECT_EQ(Randombits(12, random), "101001011100");
}

TEST(Xor, CombinesFourBitStringsAndConsumesBoth)
{
    std::string bits = "1010";
    std::string mask = "0110";
    const XorResult result = xorencrytyptbits(bits, mask);
    EXPECT_EQ(result.combined, "1100");
    EXPECT_EQ(result.maskUsed, "0110");
    EXPECT_EQ(bits, "");
    EXPECT_EQ(mask, "");
}

TEST(Xor, MismatchedMasks)
{
    const auto xorOf = [](std::string bits, std::string mask) { return xorencrytyptbits(bits, mask); };
    // Surplus mask characters are neither combined nor copied.
    EXPECT_EQ(xorOf("10", "1111").combined, "01");
    EXPECT_EQ(xorOf("10", "1111").maskUsed, "11");
    // One short: the last character is combined with the empty slot, that is with 0.
    EXPECT_EQ(xorOf("1011", "111").combined, "0101");
    EXPECT_EQ(xorOf("1011", "111").maskUsed, "111");
    // Digits other than 0 and 1 combine as numbers.
    EXPECT_EQ(xorOf("1", "3").combined, "2");
    EXPECT_EQ(xorOf("9", "6").combined, "15");
    EXPECT_EQ(xorOf("", "0101").combined, "");
    EXPECT_EQ(xorOf("", "0101").maskUsed, "");

    const auto kindOf = [&](std::string bits, std::string mask) {
        try {
            xorOf(bits, mask);
        } catch (const Error& e) {
            return e.kind();
        }
        return ErrorKind::InvalidInput;
    };
    EXPECT_EQ(kindOf("1011", "11"), ErrorKind::SubscriptOutOfRange);
    EXPECT_EQ(kindOf("1011", ""), ErrorKind::SubscriptOutOfRange);
    EXPECT_EQ(kindOf("1011", "1a11"), ErrorKind::TypeMismatch);
    EXPECT_EQ(kindOf("1011", "1 11"), ErrorKind::TypeMismatch);
}

} // namespace
} // namespace morvalen
