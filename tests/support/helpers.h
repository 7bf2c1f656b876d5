// Small helpers the test suites share.
#pragma once

#include "cipher/cpupath.h"
#include "cipher/keyformat.h"
#include "textconv/errors.h"

#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// AddressSanitizer reserves terabytes of shadow memory and keeps freed blocks in quarantine: tests
// that cap or search the whole address space skip under it.
#if defined(__SANITIZE_ADDRESS__)
#define MORVALEN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORVALEN_ASAN 1
#endif
#endif
#ifndef MORVALEN_ASAN
#define MORVALEN_ASAN 0
#endif
#ifndef MORVALEN_TEST_EMULATED
#define MORVALEN_TEST_EMULATED 0
#endif

namespace morvalen::testing {

inline constexpr bool kUnderAddressSanitizer = MORVALEN_ASAN != 0;
// Under qemu-user, as a cross build's tests run: the emulator shares the process, its limits and
// its memory, and keeps some of the kernel's answers to itself.
inline constexpr bool kUnderEmulator = MORVALEN_TEST_EMULATED != 0;

// Every path this processor can run, the plain one first.
inline std::vector<CpuPath> runnableCpuPaths()
{
    std::vector<CpuPath> paths;
    for (const CpuPath path : kCpuPaths) {
        if (runsCpuPath(path)) {
            paths.push_back(path);
        }
    }
    return paths;
}

// The kind of Error a call throws, or nothing when it returns.
template<typename Exception = Error>
auto errorOf(auto&& call) -> std::optional<decltype(std::declval<const Exception&>().kind())>
{
    try {
        call();
    } catch (const Exception& e) {
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

// Empty when the texts are equal; else where they first differ and the text around it in each,
// as long keys are too long to compare by eye.
inline std::string firstDifference(std::string_view actual, std::string_view expected)
{
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    if (at == actual.size() && at == expected.size()) {
        return "";
    }
    const std::size_t from = at < 20 ? 0 : at - 20;
    return "first difference at byte " + std::to_string(at) + " of " + std::to_string(actual.size()) + " against "
        + std::to_string(expected.size()) + ": ..." + std::string(actual.substr(from, 40)) + "... against ..."
        + std::string(expected.substr(from, 40)) + "...";
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
