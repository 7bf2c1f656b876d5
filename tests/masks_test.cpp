#include "cipher/masks.h"
#include "support/error_of.h"
#include "support/scripted_random.h"

#include <gtest/gtest.h>

namespace morvalen {
namespace {

TEST(Randombits, LengthAlphabetAndBitOrder)
{
    const std::string bits = Randombits(9, systemRandom());
    EXPECT_EQ(bits.size(), 9u);
    EXPECT_EQ(bits.find_first_not_of("01"), std::string::npos) << bits;
    EXPECT_EQ(Randombits(-3, systemRandom()), "");
    testing::ScriptedRandom random({0xA, 0x5, 0xC, 0x3});
    EXPECT_EQ(Randombits(12, random), "101001011100");
}

TEST(Xor, CombinesPositionByPositionWhateverTheMask)
{
    const auto xorOf = [](std::string bits, std::string mask) {
        const XorResult result = xorencrytyptbits(bits, mask);
        EXPECT_EQ(bits + mask, "") << "both arguments are consumed";
        return result.combined + "/" + result.maskUsed;
    };
    EXPECT_EQ(xorOf("1010", "0110"), "1100/0110");
    EXPECT_EQ(xorOf("10", "1111"), "01/11"); // surplus mask characters are ignored
    EXPECT_EQ(xorOf("1011", "111"), "0101/111"); // one short: the last combines with 0
    EXPECT_EQ(xorOf("19", "36"), "215/36"); // digits combine as numbers
    EXPECT_EQ(xorOf("", "0101"), "/");
    using testing::errorOf;
    EXPECT_EQ(errorOf([&] { xorOf("1011", "11"); }), ErrorKind::SubscriptOutOfRange);
    EXPECT_EQ(errorOf([&] { xorOf("1011", "1a11"); }), ErrorKind::TypeMismatch);
    EXPECT_EQ(errorOf([&] { xorOf("1011", "1 11"); }), ErrorKind::TypeMismatch);
}

} // namespace
} // namespace morvalen
