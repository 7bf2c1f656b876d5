// The kind of Error a call throws, or nothing when it returns.
#pragma once

#include "textconv/errors.h"

#include <optional>

namespace morvalen::testing {

std::optional<ErrorKind> errorOf(auto&& call)
{
    try {
        call();
    } catch (const Error& e) {
        return e.kind();
    }
    return std::nullopt;
}

} // namespace morvalen::testing
