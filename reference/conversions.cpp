#include "conversions.h"

#include "primitives.h"

#include <algorithm>

namespace morvalen {
namespace {

int hexDigitValue(char c)
{
    switch (c) {
    case 'A': return 10;
    case 'B': return 11;
    case 'C': return 12;
    case 'D': return 13;
    case 'E': return 14;
    case 'F': return 15;
    default: return lenientDigit(c);
    }
}

// The position counter is 16-bit and is incremented past the last position, which overflows
// for exactly 32767 characters.
void checkCounterAfterLast(std::int16_t n)
{
    if (n == 32767) {
        throw Fault(FaultKind::Overflow, "Overflow: the position counter passed 32767.");
    }
}

// Cuts fixed-width pieces off the front of text, leaving the remainder in it.
TextArray cutPieces(std::string& text, std::size_t width, std::size_t count)
{
    TextArray pieces;
    pieces.reserve(count + 1);
    for (std::size_t i = 0; i < count; ++i) {
        pieces.push_back(text.substr(std::min(i * width, text.size()), width));
    }
    pieces.emplace_back(); // the slot past the last piece
    text.erase(0, std::min(count * width, text.size()));
    return pieces;
}

} // namespace

std::string hextodecimal(std::string hexstring)
{
    for (char& c : hexstring) {
        if (c >= 'a' && c <= 'f') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    const std::int16_t n = toInt16Length(hexstring.size());
    std::int32_t accumulator = 0;
    for (int i = 1; i <= n; ++i) {
        const int digit = hexDigitValue(hexstring[static_cast<std::size_t>(i - 1)]);
        const double sum = powWhole(16.0, n - i) * digit + accumulator;
        accumulator = toInt32(checkFloatingPoint(sum));
    }
    checkCounterAfterLast(n);
    return integerText(accumulator);
}

std::string bitstodecimal(std::string binarystring)
{
    const std::int16_t n = toInt16Length(binarystring.size());
    std::int32_t accumulator = 0;
    for (int i = 1; i <= n; ++i) {
        if (binarystring[static_cast<std::size_t>(i - 1)] == '1') {
            const double sum = powWhole(2.0, n - i) + accumulator;
            accumulator = toInt32(checkFloatingPoint(sum));
        }
    }
    checkCounterAfterLast(n);
    return integerText(accumulator);
}

std::string decimaltobits(const std::string& decimalstring, std::int16_t bitcount)
{
    if (bitcount < 1) {
        return {};
    }
    std::int32_t x = toInt32(strictNumber(decimalstring));
    std::string digits(static_cast<std::size_t>(bitcount), '0');
    for (auto k = static_cast<std::size_t>(bitcount); k > 0; --k) {
        digits[k - 1] = x % 2 != 0 ? '1' : '0';
        x /= 2;
    }
    return digits;
}

TextArray bytearray(std::string& hexastring)
{
    return cutPieces(hexastring, 2, hexastring.size() / 2);
}

TextArray nibblehexbyte(std::string& hexadesimal)
{
    hexadesimal = decimaltobits(hextodecimal(hexadesimal), 8);
    // Three slots by the original's loop bound; the last receives the empty remainder.
    return cutPieces(hexadesimal, 4, 2);
}

TextArray bitsarray(std::string& bitsstring)
{
    return cutPieces(bitsstring, 1, bitsstring.size());
}

} // namespace morvalen
