#include "textconv/boxtext.h"
#include "textconv/conversions.h"
#include "textconv/errors.h"
#include "textconv/primitives.h"

#include <cmath>
#include <gtest/gtest.h>
#include <optional>

namespace morvalen {
namespace {

std::optional<ErrorKind> errorOf(auto&& f)
{
    try {
        f();
    } catch (const Error& e) {
        return e.kind();
    }
    return std::nullopt;
}

TEST(Primitives, RoundsHalvesToEvenAndOverflowsOutsideInt32)
{
    EXPECT_EQ(toInt32(0.5), 0);
    EXPECT_EQ(toInt32(1.5), 2);
    EXPECT_EQ(toInt32(2.5), 2);
    EXPECT_EQ(toInt32(-0.5), 0);
    EXPECT_EQ(toInt32(-1.5), -2);
    EXPECT_EQ(toInt32(2.4999), 2);
    EXPECT_EQ(toInt32(2147483647.0), 2147483647);
    EXPECT_EQ(toInt32(-2147483648.5), -2147483648); // rounds to the even end, inside the range
    EXPECT_EQ(errorOf([] { toInt32(2147483647.5); }), ErrorKind::Overflow);
    EXPECT_EQ(errorOf([] { toInt32(-2147483649.0); }), ErrorKind::Overflow);
    EXPECT_EQ(errorOf([] { toInt32(std::nan("")); }), ErrorKind::Overflow);
}

TEST(Primitives, SixteenBitLengthAndFloatingPointStatus)
{
    EXPECT_EQ(toInt16Length(32767), 32767);
    EXPECT_EQ(errorOf([] { toInt16Length(32768); }), ErrorKind::Overflow);
    EXPECT_EQ(powWhole(16.0, 255), std::ldexp(1.0, 1020));
    EXPECT_EQ(errorOf([] { checkFloatingPoint(powWhole(16.0, 256)); }), ErrorKind::FloatingPoint);
    EXPECT_EQ(errorOf([] { checkFloatingPoint(powWhole(16.0, 256) * 0); }), ErrorKind::FloatingPoint);
}

TEST(Primitives, StrictAndLenientReading)
{
    EXPECT_EQ(strictNumber("255"), 255);
    EXPECT_EQ(strictNumber(" -7 "), -7);
    EXPECT_EQ(strictNumber("+2.5"), 2.5);
    for (const char* text : {"", " ", "a", "-", ".", "1e5", "inf", "nan", "0x1F", "1 2", "--1"}) {
        EXPECT_EQ(errorOf([&] { strictNumber(text); }), ErrorKind::TypeMismatch) << text;
    }
    EXPECT_EQ(lenientDigit('7'), 7);
    EXPECT_EQ(lenientDigit('G'), 0);
    EXPECT_EQ(hexText(0), "0");
    EXPECT_EQ(hexText(0xAB), "AB");
}

TEST(HexToDecimal, DigitsCaseAndNonDigits)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", "0"},
        {"ff", "255"},
        {"FF", "255"},
        {"0A", "10"},
        {"1G", "16"},
        {"-1", "1"},
        {"7FFFFFFF", "2147483647"},
        {std::string(255, '0') + "1", "1"},
    };
    for (const auto& [hex, decimal] : cases) {
        EXPECT_EQ(hextodecimal(hex), decimal) << hex;
    }
}

TEST(HexToDecimal, Limits)
{
    EXPECT_EQ(errorOf([] { hextodecimal("80000000"); }), ErrorKind::Overflow);
    EXPECT_EQ(errorOf([] { hextodecimal(std::string(256, '0') + "1"); }), ErrorKind::FloatingPoint);
    EXPECT_EQ(errorOf([] { hextodecimal(std::string(32768, '0')); }), ErrorKind::Overflow);
}

TEST(BitsToDecimal, ValuesAndLimits)
{
    EXPECT_EQ(bitstodecimal(""), "0");
    EXPECT_EQ(bitstodecimal("1010"), "10");
    EXPECT_EQ(bitstodecimal("1x1"), "5");
    EXPECT_EQ(bitstodecimal(std::string(31, '1')), "2147483647");
    EXPECT_EQ(bitstodecimal(std::string(32766, '0')), "0");
    EXPECT_EQ(bitstodecimal(std::string(32000, 'x') + "11"), "3");
    EXPECT_EQ(errorOf([] { bitstodecimal("1" + std::string(31, '0')); }), ErrorKind::Overflow);
    // The 16-bit position counter overflows after the last of exactly 32767 characters.
    EXPECT_EQ(errorOf([] { bitstodecimal(std::string(32767, '0')); }), ErrorKind::Overflow);
    EXPECT_EQ(errorOf([] { bitstodecimal(std::string(40000, '0')); }), ErrorKind::Overflow);
}

TEST(DecimalToBits, WidthKeepsLowBits)
{
    EXPECT_EQ(decimaltobits("10", 8), "00001010");
    EXPECT_EQ(decimaltobits("300", 8), "00101100");
    EXPECT_EQ(decimaltobits("5", 3), "101");
    EXPECT_EQ(decimaltobits("2.5", 4), "0010"); // the strict reading rounds half to even
    EXPECT_EQ(decimaltobits("3.5", 4), "0100");
    EXPECT_EQ(decimaltobits("1", 0), "");
    EXPECT_EQ(errorOf([] { decimaltobits("", 8); }), ErrorKind::TypeMismatch);
    EXPECT_EQ(errorOf([] { decimaltobits("abc", 8); }), ErrorKind::TypeMismatch);
    EXPECT_EQ(errorOf([] { decimaltobits("2147483648", 8); }), ErrorKind::Overflow);
}

TEST(Splitters, ByteArrayCutsPairsAndLeavesOddCharacter)
{
    std::string text = "AABBC";
    EXPECT_EQ(bytearray(text), (TextArray {"AA", "BB", ""}));
    EXPECT_EQ(text, "C");
    text = "abc";
    EXPECT_EQ(bytearray(text), (TextArray {"ab", ""}));
    EXPECT_EQ(text, "c");
    text = "A";
    EXPECT_EQ(bytearray(text), (TextArray {""}));
    EXPECT_EQ(text, "A");
    text = "";
    EXPECT_EQ(bytearray(text), (TextArray {""}));
}

TEST(Splitters, NibbleHexByte)
{
    const std::pair<std::string, TextArray> cases[] = {
        {"A5", {"1010", "0101", ""}},
        {"", {"0000", "0000", ""}},
        {"12C", {"0010", "1100", ""}},
        {"g1", {"0000", "0001", ""}},
    };
    for (const auto& [piece, nibbles] : cases) {
        std::string variable = piece;
        EXPECT_EQ(nibblehexbyte(variable), nibbles) << piece;
        EXPECT_EQ(variable, "");
    }
    std::string tooLarge = "FFFFFFFF";
    EXPECT_EQ(errorOf([&] { nibblehexbyte(tooLarge); }), ErrorKind::Overflow);
    EXPECT_EQ(tooLarge, "FFFFFFFF");
}

TEST(Splitters, BitsArray)
{
    std::string text = "101";
    EXPECT_EQ(bitsarray(text), (TextArray {"1", "0", "1", ""}));
    EXPECT_EQ(text, "");
    EXPECT_EQ(bitsarray(text), (TextArray {""}));
}

std::string hexError(std::string_view text)
{
    try {
        readHexDigits(text, "Hex to encrypt");
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::InvalidInput);
        return e.what();
    }
    return "no error";
}

TEST(BoxText, ReadsHexDigitsSkippingBlanks)
{
    EXPECT_EQ(readHexDigits(" ab\tC0\r\n1f ", "Hex to encrypt"), "ABC01F");
    EXPECT_EQ(readHexDigits(" \n ", "Hex to encrypt"), "");
}

TEST(BoxText, NamesTheBoxTheCharacterAndItsPosition)
{
    EXPECT_EQ(hexError("AAG"), "Hex to encrypt: 'G' at position 3 is not a hex digit.");
    EXPECT_EQ(hexError("A A-"), "Hex to encrypt: '-' at position 4 is not a hex digit.");
    EXPECT_EQ(hexError("AAAAA"), "Hex to encrypt: 5 hex digits is an odd count; each byte takes two.");
    EXPECT_EQ(hexError("A"), "Hex to encrypt: 1 hex digit is an odd count; each byte takes two.");
    // Positions count characters, not bytes; invisible and broken ones are named by number.
    EXPECT_EQ(hexError("\xC3\xA9\xC3\xA9Z"), "Hex to encrypt: '\xC3\xA9' at position 1 is not a hex digit.");
    EXPECT_EQ(hexError("AA\xC3\xA9Z"), "Hex to encrypt: '\xC3\xA9' at position 3 is not a hex digit.");
    EXPECT_EQ(hexError("\xE2\x82\xAC"
                       "A\x01"),
              "Hex to encrypt: '\xE2\x82\xAC' at position 1 is not a hex digit.");
    EXPECT_EQ(hexError(std::string("AB\0", 3)), "Hex to encrypt: U+0000 at position 3 is not a hex digit.");
    EXPECT_EQ(hexError("A\xFF"), "Hex to encrypt: byte 0xFF at position 2 is not a hex digit.");
    EXPECT_EQ(hexError("\xC3"), "Hex to encrypt: byte 0xC3 at position 1 is not a hex digit.");
    EXPECT_EQ(hexError("\xED\xA0\x80"), "Hex to encrypt: byte 0xED at position 1 is not a hex digit.");
    EXPECT_EQ(characterPosition("\xFF\xFF\xC3\xA9"
                                "A",
                                4),
              4u);
}

} // namespace
} // namespace morvalen
