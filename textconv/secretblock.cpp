#include "secretblock.h"

#include <cstdint>
#include <new>
#include <sodium.h>
#include <sys/mman.h>
#include <unistd.h>

namespace morvalen {
namespace {

std::size_t pageSize() noexcept
{
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return page;
}

} // namespace

void wipeMemory(void* data, std::size_t size) noexcept
{
    if (data != nullptr && size != 0) {
        sodium_memzero(data, size);
    }
}

void keepOutOfDumps(void* data, std::size_t size) noexcept
{
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = begin / pageSize() * pageSize();
    const std::uintptr_t last = (begin + size + pageSize() - 1) / pageSize() * pageSize();
    if (last > first) {
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTDUMP);
    }
}

SecretBlock::~SecretBlock()
{
    wipeMemory(m_data, m_size);
    releaseWiped();
}

void SecretBlock::releaseWiped() noexcept
{
    if (m_data != nullptr) {
        ::munmap(m_data, m_size);
        m_data = nullptr;
        m_size = 0;
    }
}

void SecretBlock::resize(std::size_t size)
{
    size = (size + pageSize() - 1) / pageSize() * pageSize();
    if (size <= m_size) {
        return;
    }
    void* data = m_data == nullptr ? ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                   : ::mremap(m_data, m_size, size, MREMAP_MAYMOVE);
    if (data == MAP_FAILED) {
        throw std::bad_alloc();
    }
    // The advice belongs to the mapping and moves with it.
    ::madvise(data, size, MADV_DONTDUMP);
    m_data = static_cast<char*>(data);
    m_size = size;
}

} // namespace morvalen
