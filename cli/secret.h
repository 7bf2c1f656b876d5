// Key text and plain hex are secrets: the process cannot be dumped or traced by other users'
// tools, and memory that held them is wiped before it is given back.
#pragma once

#include <cstddef>
#include <string>

namespace morvalen::cli {

// No core file, and no reading of this process's memory by anyone but root. Call once at start.
void hardenProcess() noexcept;

// Wipes the whole of text's room, not only its present size.
void wipe(std::string& text) noexcept;
void wipe(char* data, std::size_t size) noexcept;

class WipedOnExit
{
public:
    explicit WipedOnExit(std::string& text)
        : m_text(text)
    {
    }
    WipedOnExit(const WipedOnExit&) = delete;
    WipedOnExit& operator=(const WipedOnExit&) = delete;
    ~WipedOnExit() { wipe(m_text); }

private:
    std::string& m_text;
};

// Memory mapped for itself: kept out of core dumps, grown by moving its pages rather than copying
// them, so no copy is left behind unwiped, and wiped before it is unmapped.
class SecretBlock
{
public:
    SecretBlock() = default;
    explicit SecretBlock(std::size_t size) { resize(size); }
    SecretBlock(const SecretBlock&) = delete;
    SecretBlock& operator=(const SecretBlock&) = delete;
    ~SecretBlock();

    // Keeps the first bytes; throws std::bad_alloc when the memory cannot be had.
    void resize(std::size_t size);
    char* data() const noexcept { return m_data; }
    std::size_t size() const noexcept { return m_size; }

private:
    char* m_data = nullptr;
    std::size_t m_size = 0; // mapped, a whole number of pages
};

} // namespace morvalen::cli
