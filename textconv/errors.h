// Typed errors shared by the core and its front ends. Every failure the core can meet,
// including running out of memory, leaves it as an Error whose message a user can act on.
#pragma once

#include <stdexcept>
#include <string>

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

class Error : public std::runtime_error
{
public:
    Error(ErrorKind kind, const std::string& message)
        : std::runtime_error(message)
        , m_kind(kind)
    {
    }

    ErrorKind kind() const noexcept { return m_kind; }

private:
    ErrorKind m_kind;
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
