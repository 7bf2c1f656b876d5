// Small helpers the test suites share.
#pragma once

#include "textconv/errors.h"

#include <cctype>
#include <optional>
#include <string>

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
