#include "secret.h"

#include <new>
#include <sodium.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace morvalen::cli {

void hardenProcess() noexcept
{
    ::prctl(PR_SET_DUMPABLE, 0);
    const rlimit none {0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}

void wipe(std::string& text) noexcept
{
    sodium_memzero(text.data(), text.capacity());
}

void wipe(char* data, std::size_t size) noexcept
{
    if (data != nullptr) {
        sodium_memzero(data, size);
    }
}

SecretBlock::~SecretBlock()
{
    if (m_data != nullptr) {
        sodium_memzero(m_data, m_size);
        ::munmap(m_data, m_size);
    }
}

void SecretBlock::resize(std::size_t size)
{
    static const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    size = (size + page - 1) / page * page;
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

} // namespace morvalen::cli
