#include "TextBlock.h"

#include "TextBuffer.h"

#include <cstdint>
#include <sodium.h>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace morvalen::textbox {
namespace {

// Blocks this large are kept out of core dumps: a key of any size that matters lands in one.
constexpr std::size_t kUndumpedFrom = 1 << 20;

TextBuffer::ReleaseObserver& releaseObserver()
{
    static TextBuffer::ReleaseObserver observer;
    return observer;
}

// The whole pages inside [data, data + length), which madvise can mark.
std::pair<void*, std::size_t> pagesWithin(char* data, std::size_t length)
{
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + page - 1) / page * page;
    const std::uintptr_t last = (begin + length) / page * page;
    if (last <= first) {
        return {nullptr, 0};
    }
    return {reinterpret_cast<void*>(first), last - first};
}

// Best effort: a kernel without MADV_DONTDUMP still works, only the dump keeps the text.
void adviseDump(char* data, std::size_t length, bool dump)
{
    const auto [pages, bytes] = pagesWithin(data, length);
    if (bytes != 0) {
        madvise(pages, bytes, dump ? MADV_DODUMP : MADV_DONTDUMP);
    }
}

} // namespace

TextBlock::TextBlock(std::size_t capacity)
    : m_capacity(capacity)
{
    if (capacity >= kUndumpedFrom) {
        m_mapped.resize(capacity);
        m_data = m_mapped.data();
        m_kind = Kind::Mapped;
    } else {
        m_data = new char[capacity];
        m_kind = Kind::Allocated;
    }
}

TextBlock::TextBlock(std::string text)
    : m_adopted(std::move(text))
    , m_kind(Kind::Adopted)
{
    // Its spare capacity may hold an earlier text too, so it is wiped with the rest.
    m_adopted.resize(m_adopted.capacity());
    m_data = m_adopted.data();
    m_capacity = m_adopted.size();
    if (m_capacity >= kUndumpedFrom) {
        adviseDump(m_data, m_capacity, false);
    }
}

TextBlock::~TextBlock()
{
    sodium_memzero(m_data, m_capacity);
    if (const auto& observer = releaseObserver()) {
        observer({m_data, m_capacity});
    }
    if (m_kind == Kind::Mapped) {
        m_mapped.releaseWiped();
    } else if (m_kind == Kind::Allocated) {
        delete[] m_data;
    } else if (m_capacity >= kUndumpedFrom) {
        // The allocator may hand these pages out again for something else.
        adviseDump(m_data, m_capacity, true);
    }
}

void TextBuffer::observeReleases(ReleaseObserver observer)
{
    releaseObserver() = std::move(observer);
}

} // namespace morvalen::textbox
