// Shared by the fuzz targets: a reproducible random source, readings of the hex and key formats
// written from their definitions (not from the core's readers), to judge the core's answers by,
// and checks that turn a broken property into a finding.
#pragma once

#include "cipher/random.h"
#include "textconv/errors.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvalen::fuzz {

// libFuzzer saves the input that led here.
[[noreturn]] inline void fail(const char* what, std::string_view detail = {})
{
    const int shown = static_cast<int>(std::min<std::size_t>(detail.size(), 400));
    std::fprintf(stderr, "fuzz check failed: %s\n  %.*s\n", what, shown, detail.data());
    std::abort();
}

inline void check(bool ok, const char* what, std::string_view detail = {})
{
    if (!ok) {
        fail(what, detail);
    }
}

inline std::uint64_t hashOf(std::string_view data)
{
    std::uint64_t hash = 0xCBF29CE484222325u; // FNV-1a
    for (const char c : data) {
        hash = (hash ^ static_cast<std::uint8_t>(c)) * 0x100000001B3u;
    }
    return hash;
}

// SplitMix64 seeded from the input, so a saved finding replays with the same masks. In zero-heavy
// mode about 59% of masks are 0000, which drives the extra-mask path and its long runs.
class SeededRandom final : public RandomSource
{
public:
    SeededRandom(std::uint64_t seed, bool zeroHeavy)
        : m_state(seed)
        , m_zeroHeavy(zeroHeavy)
    {
    }

    void fill(std::span<std::uint8_t> out) override
    {
        for (std::uint8_t& byte : out) {
            const std::uint64_t bits = next();
            byte = static_cast<std::uint8_t>(m_zeroHeavy ? bits & (bits >> 8) & (bits >> 16) : bits);
        }
    }

private:
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }

    std::uint64_t m_state;
    bool m_zeroHeavy;
};

inline bool isBlankChar(char c)
{
    return std::string_view(" \t\n\r\v\f").find(c) != std::string_view::npos;
}

inline int hexDigitValue(char c)
{
    const std::string_view digits = "0123456789ABCDEF0123456789abcdef";
    const std::size_t at = digits.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at % 16);
}

struct HexReading
{
    bool badCharacter = false; // a character that is neither a hex digit nor a blank
    std::string digits; // the hex digits, upper case
    bool valid() const { return !badCharacter && digits.size() % 2 == 0; }
};

inline HexReading readHex(std::string_view text)
{
    HexReading reading;
    for (const char c : text) {
        if (const int value = hexDigitValue(c); value >= 0) {
            reading.digits.push_back("0123456789ABCDEF"[value]);
        } else if (!isBlankChar(c)) {
            reading.badCharacter = true;
        }
    }
    return reading;
}

using KeyGroups = std::vector<std::vector<std::uint8_t>>;

// The masks of each group, or nullopt when the text breaks the format: blanks dropped, every group
// closed by '|', a group being zero or more masks of ',' and four digits 0 or 1.
inline std::optional<KeyGroups> parseKey(std::string_view bits)
{
    std::string text;
    std::copy_if(bits.begin(), bits.end(), std::back_inserter(text), [](char c) { return !isBlankChar(c); });
    KeyGroups groups;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('|', start);
        if (end == std::string::npos) {
            return std::nullopt;
        }
        std::string_view group = std::string_view(text).substr(start, end - start);
        std::vector<std::uint8_t> masks;
        for (; !group.empty(); group.remove_prefix(5)) {
            if (group.size() < 5 || group[0] != ',') {
                return std::nullopt;
            }
            unsigned mask = 0;
            for (const char digit : group.substr(1, 4)) {
                if (digit != '0' && digit != '1') {
                    return std::nullopt;
                }
                mask = mask << 1 | static_cast<unsigned>(digit - '0');
            }
            masks.push_back(static_cast<std::uint8_t>(mask));
        }
        groups.push_back(std::move(masks));
        start = end + 1;
    }
    return groups;
}

// Length of the UTF-8 sequence a lead byte starts; 0 for a byte that starts none.
inline std::size_t sequenceLength(std::uint8_t lead)
{
    if (lead < 0x80) {
        return 1;
    }
    if (lead < 0xC0 || lead >= 0xF8) {
        return 0;
    }
    return lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

// Strict UTF-8: no overlong forms, surrogates or code points past U+10FFFF.
inline bool validUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        const std::size_t length = sequenceLength(lead);
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        std::uint32_t codePoint = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            codePoint = codePoint << 6 | (next & 0x3Fu);
        }
        constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < kSmallest[length] || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF) {
            return false;
        }
        i += length;
    }
    return true;
}

// What a user is shown: an input error about the expected box, on one line of printable UTF-8,
// with any position inside the text it points into. Every such error but the count of groups
// also has a place in that text.
inline void checkMessage(const Error& error, ErrorInput input, std::string_view text)
{
    const std::string_view message = error.what();
    check(error.kind() == ErrorKind::InvalidInput, "wrong error kind", message);
    check(error.input() == input, "error about the wrong input", message);
    check(message.substr(0, boxName(input).size() + 2) == std::string(boxName(input)) + ": ",
        "message names the wrong box", message);
    check(validUtf8(message), "message is not valid UTF-8", message);
    check(std::none_of(
              message.begin(), message.end(), [](char c) { return c == 0x7F || static_cast<unsigned char>(c) < 0x20; }),
        "message holds a control character", message);
    if (const std::size_t at = message.find("position "); at != std::string_view::npos) {
        const unsigned long long position = std::strtoull(std::string(message.substr(at + 9)).c_str(), nullptr, 10);
        check(position >= 1 && position <= text.size(), "position outside the text", message);
    }
    check(error.hasPlace() != message.ends_with("each digit needs its own group."), "place missing or stray", message);
    // Every place begins at what is wrong, never at a blank before it.
    check(!error.hasPlace()
            || (error.offset() < text.size() && error.length() > 0 && error.length() <= text.size() - error.offset()
                && !isBlankChar(text[error.offset()])),
        "place outside the text or on a blank", message);
}

inline bool endsWith(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

} // namespace morvalen::fuzz
