// Number text for messages: decimal and hex digits of a value.
#pragma once

#include <cstdint>
#include <string>

namespace morvalen {

// Decimal text of an integer, minus sign when negative.
std::string integerText(std::int64_t value);

// Upper-case hex digits of a non-negative value, no leading zeros ("0" for zero).
std::string hexText(std::uint32_t value);

} // namespace morvalen
