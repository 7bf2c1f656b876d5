// The exact numeric and text semantics the conversions rest on: 32-bit integers reached from
// doubles by rounding half to even, 16-bit length counters, a floating-point status test, and
// the strict and lenient ways of reading text as a number. Each raises the Error kind named.
// Reference semantics, run by no program (see README.md), but for integerText and hexText, which
// the programs' messages use.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace morvalen {

// Nearest integer, halves to even; Overflow outside the int32 range (NaN included).
std::int32_t toInt32(double value);

// A character count as a 16-bit counter; Overflow above 32767.
std::int16_t toInt16Length(std::size_t length);

// FloatingPoint when value came out of an overflowing or invalid computation.
double checkFloatingPoint(double value);

// base raised to a whole exponent >= 0, exact wherever the result is representable.
double powWhole(double base, int exponent);

// Never fails: a decimal digit gives its value, every other character 0.
int lenientDigit(char c);

// A decimal number with optional sign and fraction, surrounding blanks allowed;
// TypeMismatch on anything else, the empty text included.
double strictNumber(std::string_view text);

// Decimal text of an integer, minus sign when negative.
std::string integerText(std::int64_t value);

// Upper-case hex digits of a non-negative value, no leading zeros ("0" for zero).
std::string hexText(std::uint32_t value);

} // namespace morvalen
