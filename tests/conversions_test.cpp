#include "support/helpers.h"
#include "reference/conversions.h"
#include "reference/primitives.h"

#include <cmath>
#include <gtest/gtest.h>

namespace morvalen {
namespace {

using testing::errorOf;
constexpr auto kOverflow = FaultKind::Overflow;

TEST(Primitives, RoundingRangesAndStrictReading)
{
    const std::pair<double, int> rounding[]
        = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {-1.5, -2}, {2147483647.0, 2147483647}, {-2147483648.5, -2147483647 - 1}};
    for (const auto& [value, rounded] : rounding) {
        EXPECT_EQ(toInt32(value), rounded) << value;
    }
    for (const double value : {2147483647.5, std::nan("")}) {
        EXPECT_EQ(errorOf<Fault>([&] { toInt32(value); }), kOverflow) << value;
    }
    EXPECT_EQ(errorOf<Fault>([] { toInt16Length(32768); }), kOverflow);
    EXPECT_EQ(strictNumber(" -7 ") + strictNumber("+2.5"), -4.5);
    for (const char* text : {"", " ", "a", "-", ".", "1e5", "inf", "0x1F", "1 2"}) {
        EXPECT_EQ(errorOf<Fault>([&] { strictNumber(text); }), FaultKind::TypeMismatch) << text;
    }
}

TEST(Conversions, ValuesAndLimits)
{
    EXPECT_EQ(hextodecimal("ff") + hextodecimal("1G") + hextodecimal("-1"), "255161"); // non-digits count 0
    EXPECT_EQ(hextodecimal("7FFFFFFF"), "2147483647");
    EXPECT_EQ(hextodecimal(std::string(255, '0') + "1"), "1");
    EXPECT_EQ(errorOf<Fault>([] { hextodecimal("80000000"); }), kOverflow);
    EXPECT_EQ(errorOf<Fault>([] { hextodecimal(std::string(256, '0') + "1"); }), FaultKind::FloatingPoint);
    EXPECT_EQ(bitstodecimal("1x1") + bitstodecimal(std::string(31, '1')), "52147483647");
    EXPECT_EQ(bitstodecimal(std::string(32766, '0')), "0");
    EXPECT_EQ(errorOf<Fault>([] { bitstodecimal("1" + std::string(31, '0')); }), kOverflow);
    // The 16-bit position counter overflows after the last of exactly 32767 characters.
    EXPECT_EQ(errorOf<Fault>([] { bitstodecimal(std::string(32767, '0')); }), kOverflow);
    EXPECT_EQ(decimaltobits("300", 8) + decimaltobits("5", 3), "00101100101"); // higher bits dropped
    EXPECT_EQ(decimaltobits("2.5", 4) + decimaltobits("3.5", 4), "00100100"); // read half to even
    EXPECT_EQ(errorOf<Fault>([] { decimaltobits("", 8); }), FaultKind::TypeMismatch);
}

TEST(Splitters, CutWhatTheyTakeOffTheCallersText)
{
    const std::tuple<std::string, TextArray, std::string> pairs[]
        = {{"AABBC", {"AA", "BB", ""}, "C"}, {"A", {""}, "A"}, {"", {""}, ""}};
    for (const auto& [text, pieces, left] : pairs) {
        std::string variable = text;
        SCOPED_TRACE("bytearray of \"" + text + "\"");
        EXPECT_EQ(bytearray(variable), pieces);
        EXPECT_EQ(variable, left);
    }
    std::string piece = "12C"; // the low byte of a longer piece
    EXPECT_EQ(nibblehexbyte(piece), (TextArray {"0010", "1100", ""}));
    EXPECT_EQ(piece, "");
    std::string tooLarge = "FFFFFFFF";
    EXPECT_EQ(errorOf<Fault>([&] { nibblehexbyte(tooLarge); }), kOverflow);
    EXPECT_EQ(tooLarge, "FFFFFFFF");
    std::string bits = "101";
    EXPECT_EQ(bitsarray(bits), (TextArray {"1", "0", "1", ""}));
    EXPECT_EQ(bits, "");
}

} // namespace
} // namespace morvalen
