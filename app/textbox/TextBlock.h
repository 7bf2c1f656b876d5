// The blocks a TextBuffer's pieces and snapshots point into: bytes that may have held a key, so
// they are wiped when the last owner lets go, and kept out of core dumps once they are large.
// Only the buffer makes them; kept apart from the piece table so that its edits read alone.
#pragma once

#include "textconv/secretblock.h"

#include <cstddef>
#include <string>

namespace morvalen::textbox {

// Either bytes of its own (mapped pages when large) or a string taken over as it is.
class TextBlock
{
public:
    explicit TextBlock(std::size_t capacity);
    explicit TextBlock(std::string text);
    TextBlock(const TextBlock&) = delete;
    TextBlock& operator=(const TextBlock&) = delete;
    ~TextBlock();

    char* data() noexcept { return m_data; }
    const char* data() const noexcept { return m_data; }
    std::size_t capacity() const noexcept { return m_capacity; }

private:
    enum class Kind
    {
        Mapped,
        Allocated,
        Adopted
    };
    std::string m_adopted;
    SecretBlock m_mapped; // the memory for secrets both programs share: out of core dumps
    char* m_data = nullptr;
    std::size_t m_capacity = 0;
    Kind m_kind = Kind::Adopted;
};

} // namespace morvalen::textbox
