// Reference semantics, run by no program (see README.md): tests and fuzz targets compose the
// original tool's encryption from these and hold the cipher to its results.
//
// Conversions between hex text, decimal text and bit strings, and the splitters that cut hex
// text and bit strings into pieces. They keep the lenient reading of the original tool (a
// character that is not a digit counts as 0); the cipher validates its input before it gets here.
//
// The splitters take the caller's variable and cut what they take off its front, so on return
// it holds only what was not taken. Their result has one slot more than there are pieces; that
// last slot is not a piece (empty for bytearray and bitsarray, empty text for nibblehexbyte).
#pragma once

#include "fault.h"
#include <cstdint>
#include <string>
#include <vector>

namespace morvalen {

using TextArray = std::vector<std::string>;

// Hex digits (either case) to decimal text. Overflow above 2147483647 or beyond 32767 characters;
// FloatingPoint at the first position of a text of 257 characters or more.
std::string hextodecimal(std::string hexstring);

// "1" characters weighted by position to decimal text; any other character adds nothing.
// Overflow for a value of 2^31 or more and for texts of 32767 characters or more; FloatingPoint
// instead when a "1" has 1024 or more characters after it, its weight being beyond doubles.
std::string bitstodecimal(std::string binarystring);

// The low bitcount bits of a decimal number, leading zeros kept; higher bits are dropped.
// TypeMismatch for text that is not a number, Overflow outside the int32 range.
// A bitcount below 1 gives the empty text.
std::string decimaltobits(const std::string& decimalstring, std::int16_t bitcount);

// Two-character pieces from the left; a last odd character stays in hexastring.
TextArray bytearray(std::string& hexastring);

// One piece to its high and low nibble strings (via the low byte of its value); hexadesimal
// ends empty, or is left as it was when the conversion fails.
TextArray nibblehexbyte(std::string& hexadesimal);

// A text to its single characters; bitsstring ends empty.
TextArray bitsarray(std::string& bitsstring);

} // namespace morvalen
