#include "reference/masks.h"
#include "support/helpers.h"
#include "support/scripted_random.h"

#include <gtest/gtest.h>

namespace morvalen {
namespace {

TEST(Masks, RandombitsAndXorKeepTheirTextSemantics)
{
    testing::ScriptedRandom random({0x5, 0xA, 0x3, 0xC}); // the bytes 0xA5 and 0xC3
    EXPECT_EQ(Randombits(12, random), "101001011100"); // most significant bit first
    EXPECT_EQ(Randombits(-3, random), "");
    const auto xorOf = [](std::string bits, std::string mask) {
        const XorResult result = xorencrytyptbits(bits, mask);
        EXPECT_EQ(bits + mask, "") << "both arguments are consumed";
        return result.combined + "/" + result.maskUsed;
    };
    EXPECT_EQ(xorOf("1010", "0110") + xorOf("10", "1111"), "1100/011001/11"); // surplus mask ignored
    EXPECT_EQ(xorOf("1011", "111") + xorOf("19", "36"), "0101/111215/36"); // one short; digits as numbers
    EXPECT_EQ(testing::errorOf<Fault>([&] { xorOf("1011", "11"); }), FaultKind::SubscriptOutOfRange);
    EXPECT_EQ(testing::errorOf<Fault>([&] { xorOf("1011", "1 11"); }), FaultKind::TypeMismatch);
}

} // namespace
} // namespace morvalen
