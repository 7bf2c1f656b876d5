// The runtime errors the original tool's operations raise. No program meets them: the programs
// check their input before the cipher runs and never reach these operations.
#pragma once

#include <stdexcept>
#include <string>

namespace morvalen {

enum class FaultKind
{
    Overflow, // a value left the range of its integer type
    SubscriptOutOfRange, // an array slot that does not exist was read
    TypeMismatch, // text that is not a number was read as one
    FloatingPoint, // a double computation overflowed or was invalid
};

class Fault : public std::runtime_error
{
public:
    Fault(FaultKind kind, const std::string& message)
        : std::runtime_error(message)
        , m_kind(kind)
    {
    }
    FaultKind kind() const noexcept { return m_kind; }

private:
    FaultKind m_kind;
};

} // namespace morvalen
