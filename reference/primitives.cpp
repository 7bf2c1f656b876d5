#include "primitives.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <limits>

namespace morvalen {

std::int32_t toInt32(double value)
{
    // nearbyint rounds half to even in the default rounding mode.
    const double rounded = std::nearbyint(value);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
        throw Fault(FaultKind::Overflow, "Overflow: the value does not fit a 32-bit integer.");
    }
    return static_cast<std::int32_t>(rounded);
}

std::int16_t toInt16Length(std::size_t length)
{
    if (length > static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max())) {
        throw Fault(FaultKind::Overflow, "Overflow: the text is longer than 32767 characters.");
    }
    return static_cast<std::int16_t>(length);
}

double checkFloatingPoint(double value)
{
    if (!std::isfinite(value)) {
        throw Fault(FaultKind::FloatingPoint, "Floating-point error: the computation overflowed or was invalid.");
    }
    return value;
}

namespace {

// value rounded to a double. Where the processor computes in wider registers (the x87 unit of
// i386), a product past the range of a double would otherwise stay finite.
double rounded(double value)
{
    if constexpr (FLT_EVAL_METHOD == 0) {
        return value;
    } else {
        const volatile double stored = value;
        return stored;
    }
}

} // namespace

double powWhole(double base, int exponent)
{
    double result = 1.0;
    for (double factor = base; exponent > 0; exponent >>= 1, factor = rounded(factor * factor)) {
        if (exponent & 1) {
            result = rounded(result * factor);
        }
    }
    return result;
}

int lenientDigit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : 0;
}

double strictNumber(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    // from_chars takes no '+', but does accept forms we do not want ("inf", "nan", hex floats).
    bool sawDigit = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            sawDigit = true;
        } else if (!((c == '-' && i == 0) || c == '.')) {
            sawDigit = false;
            break;
        }
    }
    double value = 0;
    if (sawDigit) {
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec == std::errc() && end == text.data() + text.size()) {
            return value;
        }
    }
    // Quote the text only when it shows as it is: a long or unprintable one would bury the message.
    const bool showable
        = text.size() <= 32 && std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; });
    throw Fault(FaultKind::TypeMismatch,
        showable ? "Type mismatch: '" + std::string(text) + "' is not a number."
                 : std::string("Type mismatch: the text is not a number."));
}

} // namespace morvalen
