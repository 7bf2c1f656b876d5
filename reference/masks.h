// The two mask operations of the original tool, kept with their exact text semantics:
// drawing a random bit string, and combining a bit string with a mask position by position.
// Reference semantics, run by no program: the tests compose the original encryption from them.
#pragma once

#include "fault.h"
#include "cipher/random.h"

#include <cstdint>
#include <string>

namespace morvalen {

struct XorResult
{
    std::string combined; // one entry per character of the bit string
    std::string maskUsed; // the mask characters that were combined
};

// bitsLen characters, each "0" or "1" with equal chance; empty for bitsLen <= 0. The source is a
// CSPRNG, so unlike a clock-seeded generator it is not reseeded before each string.
std::string Randombits(std::int32_t bitsLen, RandomSource& random);

// Combines bitsstring with encryptbits character by character, reading each character as a number
// and appending the decimal text of their exclusive-or ("1" and "3" give "2"). Surplus mask
// characters are ignored and a mask one shorter combines the last character with 0. Both arguments
// end empty. SubscriptOutOfRange for a mask two or more characters short; TypeMismatch for a
// combined character that is not a digit.
XorResult xorencrytyptbits(std::string& bitsstring, std::string& encryptbits);

} // namespace morvalen
