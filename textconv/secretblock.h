// Memory for secrets (key text, masks, plain hex), shared by both programs: mapped for itself,
// kept out of core dumps, grown by moving its pages rather than copying them, so that no copy is
// left behind unwiped, and wiped before it is unmapped.
#pragma once

#include <cstddef>

namespace morvalen {

// Zeroes size bytes at data in a way the compiler cannot drop.
void wipeMemory(void* data, std::size_t size) noexcept;

// Keeps every page that holds part of [data, data + size) out of core dumps, for secrets in
// memory the allocator gave (a string's room). Its neighbours on those pages go unseen in a dump
// too, which costs nothing where no dump is written at all. Best effort: a kernel without it
// only dumps them.
void keepOutOfDumps(void* data, std::size_t size) noexcept;

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
    // Unmaps the block without wiping it again, for an owner that has just wiped it itself.
    void releaseWiped() noexcept;
    char* data() const noexcept { return m_data; }
    std::size_t size() const noexcept { return m_size; }

private:
    char* m_data = nullptr;
    std::size_t m_size = 0; // mapped, a whole number of pages
};

} // namespace morvalen
