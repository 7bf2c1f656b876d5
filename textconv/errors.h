// Typed errors shared by the core and its front ends. Every failure the core can meet,
// including running out of memory, leaves it as an Error whose message a user can act on.
// An input error also says which text it concerns and where in it, so a front end can select
// the offending text or print its line and column.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace morvalen {

enum class ErrorKind
{
    InvalidInput, // hex text or encrypting bits that break their format
    OutOfMemory,
    RandomUnavailable, // the system's random number generator could not be used
};

// The text an error is about: one of the tool's boxes, or None for errors not tied to one.
enum class ErrorInput
{
    None,
    PlainHex,
    EncryptedHex,
    EncryptingBits,
};

// The name of the box holding an input, with which its messages begin; empty for None.
constexpr std::string_view boxName(ErrorInput input) noexcept
{
    switch (input) {
    case ErrorInput::PlainHex: return "Hex to encrypt";
    case ErrorInput::EncryptedHex: return "Hex encrypted";
    case ErrorInput::EncryptingBits: return "Encrypting bits";
    case ErrorInput::None: break;
    }
    return {};
}

// Where a character stands in an input text.
struct TextPlace
{
    std::size_t offset = 0; // bytes from the start of the text
    std::size_t line = 1;
    std::size_t column = 1; // characters from the start of its line, a tab counting one
};

class Error : public std::runtime_error
{
public:
    static constexpr std::size_t kNoPlace = static_cast<std::size_t>(-1);

    Error(ErrorKind kind, const std::string& message)
        : std::runtime_error(message)
        , m_kind(kind)
        , m_detail(message)
    {
    }

    // Input that breaks its format. The message begins with the box name and gives positions as
    // the window shows them; detail states the same facts without either, for a front end that
    // shows names and places its own way. place and length mark what is wrong (place.offset
    // kNoPlace for nothing); cited says whether detail speaks of that place or of the input as a
    // whole, the place then only marking what to select.
    static Error invalidInput(ErrorInput input, std::string_view message, std::string detail,
        TextPlace place = {kNoPlace, 0, 0}, std::size_t length = 0, bool cited = true)
    {
        Error error(ErrorKind::InvalidInput, std::string(boxName(input)) + ": " + std::string(message));
        error.m_input = input;
        error.m_detail = std::move(detail);
        error.m_place = place;
        error.m_length = place.offset == kNoPlace ? 0 : length;
        error.m_cited = cited && place.offset != kNoPlace;
        return error;
    }

    ErrorKind kind() const noexcept { return m_kind; }
    ErrorInput input() const noexcept { return m_input; }
    const std::string& detail() const noexcept { return m_detail; }
    // Byte offset of what is wrong in the input's UTF-8 text, or kNoPlace.
    std::size_t offset() const noexcept { return m_place.offset; }
    // Bytes of what is wrong; 0 without a place.
    std::size_t length() const noexcept { return m_length; }
    bool hasPlace() const noexcept { return m_place.offset != kNoPlace; }
    // Line and column of offset; meaningful when citesPlace().
    const TextPlace& place() const noexcept { return m_place; }
    bool citesPlace() const noexcept { return m_cited; }

private:
    ErrorKind m_kind;
    ErrorInput m_input = ErrorInput::None;
    std::string m_detail;
    TextPlace m_place {kNoPlace, 0, 0};
    std::size_t m_length = 0;
    bool m_cited = false;
};

// Runs f and turns allocation failures into an Error, so front ends see one exception type.
template<typename F>
decltype(auto) translateAllocationFailure(F&& f)
{
    try {
        return f();
    } catch (const std::bad_alloc&) {
        throw Error(ErrorKind::OutOfMemory, "Not enough memory for this text.");
    } catch (const std::length_error&) {
        throw Error(ErrorKind::OutOfMemory, "This text is too long to process.");
    }
}

} // namespace morvalen
