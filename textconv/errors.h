// Typed errors shared by the core and its front ends. Every failure the core can meet,
// including running out of memory, leaves it as an Error whose message a user can act on.
// An input error also says which text it concerns and where in it, so a front end can select
// the offending text or print its line and column.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace morvalen {

enum class ErrorKind
{
    Overflow, // a value left the range of its integer type
    SubscriptOutOfRange, // an array slot that does not exist was read
    TypeMismatch, // text that is not a number was read as one
    FloatingPoint, // a double computation overflowed or was invalid
    InvalidInput, // hex text or encrypting bits that break their format
    OutOfMemory,
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

class Error : public std::runtime_error
{
public:
    static constexpr std::size_t kNoPlace = static_cast<std::size_t>(-1);

    // offset and length are in bytes of the input's text exactly as it was handed to the core.
    Error(ErrorKind kind, const std::string& message, ErrorInput input = ErrorInput::None,
        std::size_t offset = kNoPlace, std::size_t length = 0)
        : std::runtime_error(message)
        , m_kind(kind)
        , m_input(input)
        , m_offset(offset)
        , m_length(offset == kNoPlace ? 0 : length)
    {
    }

    ErrorKind kind() const noexcept { return m_kind; }
    ErrorInput input() const noexcept { return m_input; }
    // Byte offset of what is wrong in the input's UTF-8 text, or kNoPlace.
    std::size_t offset() const noexcept { return m_offset; }
    // Bytes of what is wrong; 0 without a place.
    std::size_t length() const noexcept { return m_length; }
    bool hasPlace() const noexcept { return m_offset != kNoPlace; }

private:
    ErrorKind m_kind;
    ErrorInput m_input;
    std::size_t m_offset;
    std::size_t m_length;
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
