// Small helpers the test suites share.
#pragma once

#include "textconv/errors.h"

#include <cctype>
#include <optional>
#include <string>
#include <string_view>

namespace morvalen::testing {

// The kind of Error a call throws, or nothing when it returns.
std::optional<ErrorKind> errorOf(auto&& call)
{
    try {
        call();
    } catch (const Error& e) {
        return e.kind();
    }
    return std::nullopt;
}

// Where an Error points, as "@offset:the text there"; empty without a place, "bad place" for an
// empty range or one past the text.
inline std::string placeIn(const Error& e, std::string_view text)
{
    if (!e.hasPlace() || e.length() == 0 || e.offset() + e.length() > text.size()) {
        return e.hasPlace() || e.length() != 0 ? "bad place" : "";
    }
    return "@" + std::to_string(e.offset()) + ":" + std::string(text.substr(e.offset(), e.length()));
}

inline std::string repeat(const std::string& text, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

inline std::string upper(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

} // namespace morvalen::testing
