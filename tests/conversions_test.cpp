#include "support/error_of.h"
#include "textconv/boxtext.h"
#include "textconv/conversions.h"
#include "textconv/primitives.h"

#include <cmath>
#include <gtest/gtest.h>

namespace morvalen {
namespace {

using testing::errorOf;
constexpr auto kOverflow = ErrorKind::Overflow;

TEST(Primitives, RoundingRangesAndStrictReading)
{
    for (const auto& [value, rounded] : {std::pair {0.5, 0},
                                         {1.5, 2},
                                         {2.5, 2},
                                         {-1.5, -2},
                                         {2.4999, 2},
                                         {2147483647.0, 2147483647},
                                         {-2147483648.5, -2147483647 - 1}}) {
        EXPECT_EQ(toInt32(value), rounded) << value;
    }
    for (const double value : {2147483647.5, -2147483649.0, std::nan("")}) {
        EXPECT_EQ(errorOf([&] { toInt32(value); }), kOverflow) << value;
    }
    EXPECT_EQ(toInt16Length(32767), 32767);
    EXPECT_EQ(errorOf([] { toInt16Length(32768); }), kOverflow);
    EXPECT_EQ(powWhole(16.0, 255), std::ldexp(1.0, 1020));
    EXPECT_EQ(errorOf([] { checkFloatingPoint(powWhole(16.0, 256) * 0); }), ErrorKind::FloatingPoint);
    EXPECT_EQ(strictNumber(" -7 "), -7);
    EXPECT_EQ(strictNumber("+2.5"), 2.5);
    for (const char* text : {"", " ", "a", "-", ".", "1e5", "inf", "nan", "0x1F", "1 2", "--1"}) {
        EXPECT_EQ(errorOf([&] { strictNumber(text); }), ErrorKind::TypeMismatch) << text;
    }
}

TEST(Conversions, ValuesAtTheirEdges)
{
    const std::string zeros255 = std::string(255, '0');
    for (const auto& [hex, decimal] : std::vector<std::pair<std::string, std::string>> {{"", "0"},
                                                                                        {"ff", "255"},
                                                                                        {"0A", "10"},
                                                                                        {"1G", "16"},
                                                                                        {"-1", "1"},
                                                                                        {"7FFFFFFF", "2147483647"},
                                                                                        {zeros255 + "1", "1"}}) {
        EXPECT_EQ(hextodecimal(hex), decimal) << hex;
    }
    for (const auto& [bits, decimal] : std::vector<std::pair<std::string, std::string>> {
             {"", "0"}, {"1x1", "5"}, {std::string(31, '1'), "2147483647"}, {std::string(32766, '0'), "0"}}) {
        EXPECT_EQ(bitstodecimal(bits), decimal) << bits.size();
    }
    EXPECT_EQ(decimaltobits("300", 8), "00101100"); // higher bits dropped
    EXPECT_EQ(decimaltobits("5", 3), "101");
    EXPECT_EQ(decimaltobits("2.5", 4), "0010"); // read half to even
    EXPECT_EQ(decimaltobits("3.5", 4), "0100");
}

TEST(Conversions, ErrorsAtTheirLimits)
{
    EXPECT_EQ(errorOf([] { hextodecimal("80000000"); }), kOverflow);
    EXPECT_EQ(errorOf([] { hextodecimal(std::string(256, '0') + "1"); }), ErrorKind::FloatingPoint);
    EXPECT_EQ(errorOf([] { hextodecimal(std::string(32768, '0')); }), kOverflow);
    EXPECT_EQ(errorOf([] { bitstodecimal("1" + std::string(31, '0')); }), kOverflow);
    // The 16-bit position counter overflows after the last of exactly 32767 characters.
    EXPECT_EQ(errorOf([] { bitstodecimal(std::string(32767, '0')); }), kOverflow);
    EXPECT_EQ(errorOf([] { decimaltobits("", 8); }), ErrorKind::TypeMismatch);
    EXPECT_EQ(errorOf([] { decimaltobits("2147483648", 8); }), kOverflow);
}

TEST(Splitters, CutWhatTheyTakeOffTheCallersText)
{
    for (const auto& [text, pieces, left] : std::vector<std::tuple<std::string, TextArray, std::string>> {
             {"AABBC", {"AA", "BB", ""}, "C"}, {"abc", {"ab", ""}, "c"}, {"A", {""}, "A"}, {"", {""}, ""}}) {
        std::string variable = text;
        EXPECT_EQ(bytearray(variable), pieces) << text;
        EXPECT_EQ(variable, left);
    }
    for (const auto& [piece, nibbles] : std::vector<std::pair<std::string, TextArray>> {
             {"A5", {"1010", "0101", ""}}, {"", {"0000", "0000", ""}}, {"12C", {"0010", "1100", ""}}}) {
        std::string variable = piece;
        EXPECT_EQ(nibblehexbyte(variable), nibbles) << piece;
        EXPECT_EQ(variable, "");
    }
    std::string tooLarge = "FFFFFFFF";
    EXPECT_EQ(errorOf([&] { nibblehexbyte(tooLarge); }), kOverflow);
    EXPECT_EQ(tooLarge, "FFFFFFFF");
    std::string bits = "101";
    EXPECT_EQ(bitsarray(bits), (TextArray {"1", "0", "1", ""}));
    EXPECT_EQ(bits, "");
}

TEST(BoxText, HexDigitsAndWhereTheyGoWrong)
{
    EXPECT_EQ(readHexDigits(" ab\tC0\r\n1f ", "Hex to encrypt"), "ABC01F");
    const auto message = [](std::string_view text) {
        try {
            readHexDigits(text, "Hex to encrypt");
        } catch (const Error& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    const std::string prefix = "Hex to encrypt: ";
    // Positions count characters, not bytes; invisible and broken ones are named by number.
    for (const auto& [text, what] : std::vector<std::pair<std::string, std::string>> {
             {"A A-", "'-' at position 4 is not a hex digit."},
             {"AAAAA", "5 hex digits is an odd count; each byte takes two."},
             {"A", "1 hex digit is an odd count; each byte takes two."},
             {"AA\xC3\xA9Z", "'\xC3\xA9' at position 3 is not a hex digit."},
             {std::string("AB\0", 3), "U+0000 at position 3 is not a hex digit."},
             {"A\xFF", "byte 0xFF at position 2 is not a hex digit."},
             {"A\xED\xA0\x80", "byte 0xED at position 2 is not a hex digit."}}) {
        EXPECT_EQ(message(text), prefix + what);
    }
    EXPECT_EQ(characterPosition("\xFF\xFF\xC3\xA9"
                                "A",
                                4),
              4u);
}

} // namespace
} // namespace morvalen
