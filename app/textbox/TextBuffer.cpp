#include "TextBuffer.h"

#include "textconv/boxtext.h"
#include "textconv/secretblock.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <new>
#include <sodium.h>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace morvalen::textbox {
namespace {

// Typed text and merged small pieces are copied into blocks that start small, for boxes that hold
// little, and double up to the largest size.
constexpr std::size_t kFirstFillBlock = 4 << 10;
constexpr std::size_t kFillBlock = 64 << 10;
// Inserted texts this long get a block of their own rather than a share of one.
constexpr std::size_t kOwnBlockFrom = 16 << 10;
// Blocks this large are kept out of core dumps: a key of any size that matters lands in one.
constexpr std::size_t kUndumpedFrom = 1 << 20;

bool isContinuation(char c) noexcept
{
    return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
}

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

// Either bytes of its own (mapped pages when large) or a string taken over as it is.
class TextBlock
{
public:
    explicit TextBlock(std::size_t capacity)
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

    explicit TextBlock(std::string text)
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

    TextBlock(const TextBlock&) = delete;
    TextBlock& operator=(const TextBlock&) = delete;

    ~TextBlock()
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

std::size_t utf8Length(std::string_view bytes) noexcept
{
    return bytes.empty() ? 1 : characterLength(bytes, 0);
}

std::string_view TextSpan::view() const noexcept
{
    return {block->data() + offset, length};
}

std::string TextSnapshot::toString() const
{
    std::string text;
    text.reserve(m_length);
    for (const TextSpan& span : m_spans) {
        text.append(span.view());
    }
    return text;
}

void TextBuffer::observeReleases(ReleaseObserver observer)
{
    releaseObserver() = std::move(observer);
}

TextBuffer::TextBuffer(const TextBuffer& other)
    : m_pieces(other.m_pieces)
    , m_size(other.m_size)
    , m_nonAscii(other.m_nonAscii)
{
}

TextBuffer& TextBuffer::operator=(const TextBuffer& other)
{
    if (this != &other) {
        m_pieces = other.m_pieces;
        m_fill.reset();
        m_filled = 0;
        m_size = other.m_size;
        m_nonAscii = other.m_nonAscii;
        m_lastPiece = 0;
    }
    return *this;
}

TextBuffer::TextBuffer(TextBuffer&& other) noexcept
    : m_pieces(std::exchange(other.m_pieces, {}))
    , m_fill(std::exchange(other.m_fill, {}))
    , m_filled(std::exchange(other.m_filled, 0))
    , m_size(std::exchange(other.m_size, 0))
    , m_nonAscii(std::exchange(other.m_nonAscii, 0))
{
}

TextBuffer& TextBuffer::operator=(TextBuffer&& other) noexcept
{
    if (this != &other) {
        m_pieces = std::exchange(other.m_pieces, {});
        m_fill = std::exchange(other.m_fill, {});
        m_filled = std::exchange(other.m_filled, 0);
        m_size = std::exchange(other.m_size, 0);
        m_nonAscii = std::exchange(other.m_nonAscii, 0);
        m_lastPiece = 0;
    }
    return *this;
}

char TextBuffer::at(std::size_t pos) const noexcept
{
    if (pos >= m_size) {
        return '\0';
    }
    const Piece& piece = m_pieces[locate(pos)];
    return piece.span.block->data()[piece.span.offset + (pos - piece.start)];
}

std::string_view TextBuffer::piece(std::size_t pos, std::size_t maxLength) const noexcept
{
    if (pos >= m_size) {
        return {};
    }
    const Piece& piece = m_pieces[locate(pos)];
    const std::size_t skip = pos - piece.start;
    return piece.span.view().substr(skip, std::min(piece.span.length - skip, maxLength));
}

std::string TextBuffer::copy(std::size_t pos, std::size_t length) const
{
    pos = std::min(pos, m_size);
    const std::size_t end = pos + std::min(length, m_size - pos);
    std::string text;
    text.reserve(end - pos);
    for (std::size_t at = pos; at < end;) {
        const std::string_view part = piece(at, end - at);
        text.append(part);
        at += part.size();
    }
    return text;
}

TextSnapshot TextBuffer::snapshot(std::size_t pos, std::size_t length) const
{
    pos = std::min(pos, m_size);
    length = std::min(length, m_size - pos);
    TextSnapshot view;
    view.m_length = length;
    if (length == 0) {
        return view;
    }
    if (length <= kShareAbove) {
        auto block = std::make_shared<TextBlock>(length);
        for (std::size_t at = pos; at < pos + length;) {
            const std::string_view part = piece(at, pos + length - at);
            std::memcpy(block->data() + (at - pos), part.data(), part.size());
            at += part.size();
        }
        view.m_spans.push_back({std::move(block), 0, length});
        return view;
    }
    for (std::size_t at = pos; at < pos + length;) {
        const Piece& piece = m_pieces[locate(at)];
        const std::size_t skip = at - piece.start;
        const std::size_t take = std::min(piece.span.length - skip, pos + length - at);
        view.m_spans.push_back({piece.span.block, piece.span.offset + skip, take});
        at += take;
    }
    return view;
}

std::string_view TextBuffer::contiguous()
{
    if (m_pieces.size() > 1) {
        auto block = std::make_shared<TextBlock>(m_size);
        for (const Piece& piece : m_pieces) {
            std::memcpy(block->data() + piece.start, piece.span.view().data(), piece.span.length);
        }
        m_pieces.assign(1, Piece {{std::move(block), 0, m_size}, 0});
        m_lastPiece = 0;
    }
    return m_pieces.empty() ? std::string_view() : m_pieces.front().span.view();
}

void TextBuffer::assign(std::string text, bool knownAscii)
{
    assert(!knownAscii || countNonAscii(text) == 0);
    // The old blocks go first, so that they are wiped before anything else is allocated.
    m_pieces.clear();
    m_fill.reset();
    m_filled = 0;
    m_lastPiece = 0;
    m_size = text.size();
    m_nonAscii = knownAscii ? 0 : countNonAscii(text);
    if (m_size != 0) {
        m_pieces.push_back({{std::make_shared<TextBlock>(std::move(text)), 0, m_size}, 0});
    }
}

void TextBuffer::insert(std::size_t pos, std::string_view text)
{
    if (text.empty()) {
        return;
    }
    const std::size_t index = boundaryAt(std::min(pos, m_size));
    // Typing goes on where the last piece filled ends: that piece just grows.
    if (index > 0 && m_fill && text.size() <= m_fill->capacity() - m_filled) {
        TextSpan& before = m_pieces[index - 1].span;
        if (before.block == m_fill && before.offset + before.length == m_filled) {
            std::memcpy(m_fill->data() + m_filled, text.data(), text.size());
            m_filled += text.size();
            before.length += text.size();
            m_size += text.size();
            m_nonAscii += countNonAscii(text);
            renumberFrom(index);
            return;
        }
    }
    placePiece(index, store(text));
}

void TextBuffer::insert(std::size_t pos, std::string&& text)
{
    if (text.size() < kOwnBlockFrom) {
        insert(pos, std::string_view(text));
        return;
    }
    const std::size_t length = text.size();
    placePiece(boundaryAt(std::min(pos, m_size)), {std::make_shared<TextBlock>(std::move(text)), 0, length});
}

void TextBuffer::insert(std::size_t pos, const TextSnapshot& text)
{
    if (text.m_spans.empty()) {
        return;
    }
    const std::size_t index = boundaryAt(std::min(pos, m_size));
    m_pieces.insert(m_pieces.begin() + static_cast<std::ptrdiff_t>(index), text.m_spans.size(), Piece {});
    for (std::size_t i = 0; i < text.m_spans.size(); ++i) {
        m_pieces[index + i].span = text.m_spans[i];
        m_nonAscii += countNonAscii(text.m_spans[i].view());
    }
    m_size += text.m_length;
    renumberFrom(index);
    // Only its first and last spans can be small beside a small neighbour: those inside came
    // from pieces that were not.
    mergeSmallAround(index + text.m_spans.size() - 1);
    mergeSmallAround(index);
}

TextSnapshot TextBuffer::erase(std::size_t pos, std::size_t length)
{
    pos = std::min(pos, m_size);
    length = std::min(length, m_size - pos);
    TextSnapshot removed = snapshot(pos, length);
    if (length == 0) {
        return removed;
    }
    // Whichever side is shorter is counted: removing most of a long text costs what remains.
    if (length == m_size) {
        m_nonAscii = 0;
    } else if (length <= m_size - length) {
        m_nonAscii -= countNonAscii(pos, length);
    } else {
        m_nonAscii = countNonAscii(0, pos) + countNonAscii(pos + length, m_size - pos - length);
    }
    const std::size_t first = boundaryAt(pos);
    const std::size_t last = boundaryAt(pos + length);
    m_pieces.erase(
        m_pieces.begin() + static_cast<std::ptrdiff_t>(first), m_pieces.begin() + static_cast<std::ptrdiff_t>(last));
    m_size -= length;
    renumberFrom(first);
    if (m_size == 0) {
        // Nothing refers to what was typed any more but the snapshots.
        m_fill.reset();
        m_filled = 0;
    }
    mergeSmallAround(first);
    return removed;
}

std::size_t TextBuffer::find(char c, std::size_t from) const noexcept
{
    for (std::size_t pos = from; pos < m_size;) {
        const std::string_view part = piece(pos);
        if (const void* hit = std::memchr(part.data(), c, part.size())) {
            return pos + static_cast<std::size_t>(static_cast<const char*>(hit) - part.data());
        }
        pos += part.size();
    }
    return npos;
}

std::size_t TextBuffer::findBackward(char c, std::size_t before) const noexcept
{
    for (before = std::min(before, m_size); before > 0;) {
        const Piece& piece = m_pieces[locate(before - 1)];
        const std::string_view part = piece.span.view().substr(0, before - piece.start);
        if (const void* hit = ::memrchr(part.data(), c, part.size())) {
            return piece.start + static_cast<std::size_t>(static_cast<const char*>(hit) - part.data());
        }
        before = piece.start;
    }
    return npos;
}

std::size_t TextBuffer::nextCharacter(std::size_t pos) const noexcept
{
    if (pos >= m_size) {
        return m_size;
    }
    char lead[4] = {};
    const std::size_t available = std::min<std::size_t>(4, m_size - pos);
    for (std::size_t i = 0; i < available; ++i) {
        lead[i] = at(pos + i);
    }
    return pos + utf8Length({lead, available});
}

std::size_t TextBuffer::previousCharacter(std::size_t pos) const noexcept
{
    if (pos == 0) {
        return 0;
    }
    const std::size_t start = characterStart(pos - 1);
    return nextCharacter(start) == pos ? start : pos - 1;
}

std::size_t TextBuffer::characterStart(std::size_t pos) const noexcept
{
    if (pos == 0 || pos >= m_size || !isContinuation(at(pos))) {
        return std::min(pos, m_size);
    }
    // A continuation byte belongs to the sequence that starts up to three bytes before it, if
    // that sequence is valid and reaches it; otherwise it is a character of its own.
    for (std::size_t back = 1; back <= 3 && back <= pos; ++back) {
        if (!isContinuation(at(pos - back))) {
            return nextCharacter(pos - back) > pos ? pos - back : pos;
        }
    }
    return pos;
}

std::size_t TextBuffer::locate(std::size_t pos) const noexcept
{
    const auto holds = [&](std::size_t index) {
        return index < m_pieces.size() && m_pieces[index].start <= pos
            && pos - m_pieces[index].start < m_pieces[index].span.length;
    };
    // Reads mostly walk forwards through a piece or into the next one.
    if (holds(m_lastPiece)) {
        return m_lastPiece;
    }
    if (holds(m_lastPiece + 1)) {
        return ++m_lastPiece;
    }
    const auto after = std::upper_bound(m_pieces.begin(), m_pieces.end(), pos,
        [](std::size_t position, const Piece& piece) { return position < piece.start; });
    m_lastPiece = static_cast<std::size_t>(after - m_pieces.begin()) - 1;
    return m_lastPiece;
}

std::size_t TextBuffer::boundaryAt(std::size_t pos)
{
    if (pos >= m_size) {
        return m_pieces.size();
    }
    const std::size_t index = locate(pos);
    Piece& piece = m_pieces[index];
    if (piece.start == pos) {
        return index;
    }
    const std::size_t left = pos - piece.start;
    Piece right {{piece.span.block, piece.span.offset + left, piece.span.length - left}, pos};
    piece.span.length = left;
    m_pieces.insert(m_pieces.begin() + static_cast<std::ptrdiff_t>(index + 1), std::move(right));
    return index + 1;
}

TextSpan TextBuffer::store(std::string_view bytes)
{
    if (bytes.size() >= kOwnBlockFrom) {
        auto block = std::make_shared<TextBlock>(bytes.size());
        std::memcpy(block->data(), bytes.data(), bytes.size());
        return {std::move(block), 0, bytes.size()};
    }
    char* out = fillRoom(bytes.size());
    std::memcpy(out, bytes.data(), bytes.size());
    return {m_fill, m_filled - bytes.size(), bytes.size()};
}

char* TextBuffer::fillRoom(std::size_t length)
{
    if (!m_fill || m_fill->capacity() - m_filled < length) {
        const std::size_t grown = m_fill ? std::min(2 * m_fill->capacity(), kFillBlock) : kFirstFillBlock;
        m_fill = std::make_shared<TextBlock>(std::max(grown, length));
        m_filled = 0;
    }
    m_filled += length;
    return m_fill->data() + m_filled - length;
}

void TextBuffer::placePiece(std::size_t index, TextSpan span)
{
    m_size += span.length;
    m_nonAscii += countNonAscii(span.view());
    m_pieces.insert(m_pieces.begin() + static_cast<std::ptrdiff_t>(index), Piece {std::move(span), 0});
    renumberFrom(index);
    mergeSmallAround(index);
}

void TextBuffer::renumberFrom(std::size_t index) noexcept
{
    for (std::size_t i = index; i < m_pieces.size(); ++i) {
        m_pieces[i].start = i == 0 ? 0 : m_pieces[i - 1].start + m_pieces[i - 1].span.length;
    }
}

// An edit at index changes the pieces next to it at most: a piece it left before or after index
// may have become small beside a small neighbour. Each run of small pieces there (which reaches
// no further than a piece past them, since none were neighbours before) becomes one piece.
void TextBuffer::mergeSmallAround(std::size_t index)
{
    const auto small = [&](std::size_t i) { return i < m_pieces.size() && m_pieces[i].span.length < kSmallPiece; };
    const std::size_t lowest = index < 2 ? 0 : index - 2;
    for (std::size_t i = index + 2; i-- > lowest;) {
        if (!small(i) || !small(i + 1)) {
            continue;
        }
        std::size_t first = i;
        while (first > 0 && small(first - 1)) {
            --first;
        }
        std::size_t last = i + 2;
        while (small(last)) {
            ++last;
        }
        std::size_t length = 0;
        for (std::size_t k = first; k < last; ++k) {
            length += m_pieces[k].span.length;
        }
        // Room at the end of the block being filled, written piece by piece: what is joined
        // never passes through a buffer that nobody wipes.
        char* out = fillRoom(length);
        for (std::size_t k = first; k < last; ++k) {
            std::memcpy(out, m_pieces[k].span.view().data(), m_pieces[k].span.length);
            out += m_pieces[k].span.length;
        }
        m_pieces[first].span = {m_fill, m_filled - length, length};
        m_pieces.erase(m_pieces.begin() + static_cast<std::ptrdiff_t>(first + 1),
            m_pieces.begin() + static_cast<std::ptrdiff_t>(last));
        i = first;
    }
}

// Eight bytes at a time: a 70 MB key is counted in a few milliseconds when it is set.
std::size_t TextBuffer::countNonAscii(std::string_view text) noexcept
{
    std::size_t count = 0;
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, text.data() + i, sizeof word);
        // One bit per byte moved to the byte's bottom, then all eight bytes summed in the top one.
        count += static_cast<std::size_t>((((word >> 7) & 0x0101010101010101ULL) * 0x0101010101010101ULL) >> 56);
    }
    for (; i < text.size(); ++i) {
        count += static_cast<unsigned char>(text[i]) >= 0x80;
    }
    return count;
}

std::size_t TextBuffer::countNonAscii(std::size_t pos, std::size_t length) const noexcept
{
    std::size_t count = 0;
    for (std::size_t at = pos; at < pos + length;) {
        const std::string_view part = piece(at, pos + length - at);
        count += countNonAscii(part);
        at += part.size();
    }
    return count;
}

} // namespace morvalen::textbox
