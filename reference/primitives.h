// The exact numeric and text semantics the conversions rest on: 32-bit integers reached from
// doubles by rounding half to even, 16-bit length counters, a floating-point status test, and
// the strict and lenient ways of reading text as a number. Each raises the Fault named.
// Reference semantics, run by no program (see README.md).
#pragma once

#include "fault.h"
#include "textconv/primitives.h"

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


} // namespace morvalen
