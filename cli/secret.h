// Key text and plain hex are secrets: the process cannot be dumped or traced by other users'
// tools, and memory that held them is wiped before it is given back.
#pragma once

#include "platform/harden.h"
#include "textconv/secretblock.h"

#include <cstddef>
#include <string>

namespace morvalen::cli {

// Both programs harden themselves the same way.
using morvalen::hardenProcess;

// Wipes the whole of text's room, not only its present size.
void wipe(std::string& text) noexcept;
void wipe(char* data, std::size_t size) noexcept;

// Keeps the room of text out of core dumps, for key text in a string the cipher writes.
void keepOutOfDumps(std::string& text) noexcept;

// Key text and plain hex in memory of their own: the block both programs use.
using morvalen::SecretBlock;

class WipedOnExit
{
public:
    explicit WipedOnExit(std::string& text)
        : m_text(text)
    {
        keepOutOfDumps(text);
    }
    WipedOnExit(const WipedOnExit&) = delete;
    WipedOnExit& operator=(const WipedOnExit&) = delete;
    ~WipedOnExit() { wipe(m_text); }

private:
    std::string& m_text;
};

} // namespace morvalen::cli
