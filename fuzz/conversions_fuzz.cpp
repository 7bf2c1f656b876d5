// The conversions, the splitters and the XOR of bit strings on arbitrary text. Each may fail
// only with its own error kinds; where the result is easy to know independently, it is checked.
//
// Input: [operation][pad low][pad high][pad character][argument low][argument high] text.
// For the operations with length limits, a set high bit puts pad-count copies of the pad
// character in front of the text, so texts past those limits stay reachable from small inputs.
#include "reference/masks.h"
#include "fuzz_support.h"
#include "reference/conversions.h"

#include <cstddef>
#include <cstdint>

using namespace morvalen;
using namespace morvalen::fuzz;

namespace {

constexpr std::int64_t kInt32Max = 2147483647;

struct Input
{
    unsigned operation = 0;
    std::int16_t argument = 0;
    std::string text;
};

Input decode(std::string_view data)
{
    std::uint8_t header[6] = {};
    for (std::size_t i = 0; i < 6 && i < data.size(); ++i) {
        header[i] = static_cast<std::uint8_t>(data[i]);
    }
    Input input;
    input.operation = (header[0] & 0x7Fu) % 7;
    input.argument = static_cast<std::int16_t>(header[4] | header[5] << 8);
    const bool limited = input.operation <= 2 || input.operation == 4;
    if (limited && (header[0] & 0x80u)) {
        input.text.assign(static_cast<std::size_t>(header[1] | header[2] << 8), static_cast<char>(header[3]));
    }
    input.text.append(data.substr(std::min<std::size_t>(6, data.size())));
    return input;
}

template<typename F>
void expectKind(F&& run, FaultKind expected, const char* what)
{
    try {
        run();
    } catch (const Fault& error) {
        check(error.kind() == expected, what, error.what());
        return;
    }
    fail(what, "no error");
}

std::string decimal(std::int64_t value)
{
    return std::to_string(value);
}

bool plainNumber(const std::string& text)
{
    return !text.empty() && text.size() <= 9 && text.find_first_not_of("0123456789") == std::string::npos;
}

// Letters a-f count as A-F, every other non-digit as 0; nullopt past the int32 range.
std::optional<std::int64_t> hexValue(const std::string& text)
{
    std::int64_t value = 0;
    for (const char c : text) {
        value = value * 16 + std::max(0, hexDigitValue(c));
        if (value > kInt32Max) {
            return std::nullopt;
        }
    }
    return value;
}

void fuzzHexToDecimal(const std::string& text)
{
    if (text.size() > 32767) {
        expectKind([&] { hextodecimal(text); }, FaultKind::Overflow, "hextodecimal: length over 32767");
    } else if (text.size() >= 257) {
        expectKind([&] { hextodecimal(text); }, FaultKind::FloatingPoint, "hextodecimal: weight beyond doubles");
    } else if (const auto value = hexValue(text)) {
        check(hextodecimal(text) == decimal(*value), "hextodecimal: wrong value", text);
    } else {
        expectKind([&] { hextodecimal(text); }, FaultKind::Overflow, "hextodecimal: value over int32");
    }
}

void fuzzBitsToDecimal(const std::string& text)
{
    // A "1" whose weight is beyond doubles (2^1024 up) fails the floating-point test before the
    // int32 conversion can overflow; a text of 32767 characters overflows the position counter.
    std::optional<FaultKind> failure;
    if (text.size() > 32767) {
        failure = FaultKind::Overflow;
    }
    std::int64_t value = 0;
    for (std::size_t i = 0; i < text.size() && !failure; ++i) {
        const std::size_t weight = text.size() - 1 - i;
        if (text[i] == '1' && weight >= 1024) {
            failure = FaultKind::FloatingPoint;
        } else if (text[i] == '1' && weight >= 31) {
            failure = FaultKind::Overflow;
        } else if (text[i] == '1') {
            value += std::int64_t {1} << weight;
        }
    }
    if (!failure && text.size() == 32767) {
        failure = FaultKind::Overflow;
    }
    if (failure) {
        expectKind([&] { bitstodecimal(text); }, *failure, "bitstodecimal: wrong failure");
    } else {
        check(bitstodecimal(text) == decimal(value), "bitstodecimal: wrong value", text);
    }
}

void fuzzDecimalToBits(const std::string& text, std::int16_t bitcount)
{
    std::string bits;
    try {
        bits = decimaltobits(text, bitcount);
    } catch (const Fault& error) {
        check(bitcount >= 1, "decimaltobits: failed for a count below 1", error.what());
        check(error.kind() == FaultKind::TypeMismatch || error.kind() == FaultKind::Overflow,
            "decimaltobits: wrong error kind", error.what());
        check(!plainNumber(text), "decimaltobits: rejected a plain number", text);
        return;
    }
    check(bits.size() == static_cast<std::size_t>(std::max<int>(bitcount, 0)), "decimaltobits: wrong width", bits);
    check(bits.find_first_not_of("01") == std::string::npos, "decimaltobits: not a bit string", bits);
    if (plainNumber(text)) {
        const std::int64_t value = std::stoll(text);
        for (std::size_t k = 0; k < bits.size(); ++k) {
            const std::size_t shift = bits.size() - 1 - k;
            check(bits[k] == (shift < 32 && (value >> shift & 1) ? '1' : '0'), "decimaltobits: wrong bit", bits);
        }
    }
}

// The pieces and what stayed in the argument put back together give the text.
void checkPieces(const TextArray& pieces, const std::string& rest, const std::string& text, std::size_t width)
{
    check(pieces.size() == text.size() / width + 1 && pieces.back().empty(), "splitter: wrong slot count", text);
    std::string joined;
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        check(pieces[i].size() == width, "splitter: wrong piece width", pieces[i]);
        joined += pieces[i];
    }
    check(joined + rest == text && rest.size() == text.size() % width, "splitter: pieces do not add up", text);
}

void fuzzNibbleHexByte(const std::string& text)
{
    std::string argument = text;
    TextArray nibbles;
    try {
        nibbles = nibblehexbyte(argument);
    } catch (const Fault& error) {
        check(error.kind() == FaultKind::Overflow || error.kind() == FaultKind::FloatingPoint,
            "nibblehexbyte: wrong error kind", error.what());
        check(argument == text, "nibblehexbyte: argument changed by a failure", argument);
        return;
    }
    check(nibbles.size() == 3 && nibbles[2].empty() && argument.empty(), "nibblehexbyte: wrong slots", text);
    const std::string bits = nibbles[0] + nibbles[1];
    check(bits.size() == 8 && bits.find_first_not_of("01") == std::string::npos, "nibblehexbyte: bad nibbles", bits);
    check(std::stoi(bits, nullptr, 2) == (std::stoll(hextodecimal(text)) & 0xFF), "nibblehexbyte: not the low byte",
        text);
}

void fuzzXor(const std::string& text, std::int16_t split)
{
    const std::size_t at = static_cast<std::uint16_t>(split) % (text.size() + 1);
    std::string bits = text.substr(0, at);
    std::string mask = text.substr(at);
    try {
        xorencrytyptbits(bits, mask);
    } catch (const Fault& error) {
        check(error.kind() == FaultKind::SubscriptOutOfRange || error.kind() == FaultKind::TypeMismatch,
            "xorencrytyptbits: wrong error kind", error.what());
        return;
    }
    check(bits.empty() && mask.empty(), "xorencrytyptbits: arguments not consumed");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Input input = decode(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string& text = input.text;
    switch (input.operation) {
    case 0: fuzzHexToDecimal(text); break;
    case 1: fuzzBitsToDecimal(text); break;
    case 2: fuzzDecimalToBits(text, input.argument); break;
    case 3: {
        std::string argument = text;
        const TextArray pieces = bytearray(argument);
        checkPieces(pieces, argument, text, 2);
        break;
    }
    case 4: fuzzNibbleHexByte(text); break;
    case 5: {
        std::string argument = text;
        const TextArray pieces = bitsarray(argument);
        checkPieces(pieces, argument, text, 1);
        break;
    }
    case 6: fuzzXor(text, input.argument); break;
    }
    return 0;
}
