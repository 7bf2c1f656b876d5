#include "TextBuffer.h"

#include "textconv/boxtext.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace morvalen::textbox {
namespace {

// Below this a snapshot copies its range: sharing the storage would make the next edit copy all
// of it, which only pays for large ranges.
constexpr std::size_t kShareAbove = 1 << 20;
constexpr std::size_t kMinimumGap = 4096;
constexpr std::size_t kMaximumGap = 1 << 20;

bool isContinuation(char c) noexcept
{
    return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
}

} // namespace

std::size_t utf8Length(std::string_view bytes) noexcept
{
    return bytes.empty() ? 1 : characterLength(bytes, 0);
}

std::string TextSnapshot::toString() const
{
    if (!m_store) {
        return {};
    }
    std::string text;
    text.reserve(m_length);
    const std::size_t end = m_pos + m_length;
    const std::size_t gap = m_gapEnd - m_gapStart;
    if (m_pos < m_gapStart) {
        text.append(*m_store, m_pos, std::min(end, m_gapStart) - m_pos);
    }
    if (end > m_gapStart) {
        const std::size_t from = std::max(m_pos, m_gapStart);
        text.append(*m_store, from + gap, end - from);
    }
    return text;
}

TextBuffer::TextBuffer()
    : m_store(std::make_shared<std::string>())
{
}

std::string_view TextBuffer::piece(std::size_t pos, std::size_t maxLength) const noexcept
{
    const std::string& store = *m_store;
    if (pos < m_gapStart) {
        return {store.data() + pos, std::min(m_gapStart - pos, maxLength)};
    }
    return {store.data() + pos + gapSize(), std::min(size() - std::min(pos, size()), maxLength)};
}

std::string TextBuffer::copy(std::size_t pos, std::size_t length) const
{
    TextSnapshot view;
    view.m_store = m_store;
    view.m_gapStart = m_gapStart;
    view.m_gapEnd = m_gapEnd;
    view.m_pos = pos;
    view.m_length = length;
    return view.toString();
}

TextSnapshot TextBuffer::snapshot(std::size_t pos, std::size_t length) const
{
    TextSnapshot view;
    if (length > kShareAbove) {
        view.m_store = m_store;
        view.m_gapStart = m_gapStart;
        view.m_gapEnd = m_gapEnd;
        view.m_pos = pos;
    } else {
        view.m_store = std::make_shared<const std::string>(copy(pos, length));
    }
    view.m_length = length;
    return view;
}

std::string_view TextBuffer::contiguous()
{
    if (m_gapEnd != m_store->size()) {
        moveGap(size(), 0);
    }
    return {m_store->data(), size()};
}

void TextBuffer::assign(std::string text)
{
    m_nonAscii = countNonAscii(text);
    m_gapStart = text.size();
    // Whatever capacity the string brought becomes the gap, so the first edits need no new block.
    text.resize(text.capacity());
    m_gapEnd = text.size();
    m_store = std::make_shared<std::string>(std::move(text));
}

void TextBuffer::insert(std::size_t pos, std::string_view text)
{
    moveGap(pos, text.size());
    std::memcpy(m_store->data() + m_gapStart, text.data(), text.size());
    m_gapStart += text.size();
    m_nonAscii += countNonAscii(text);
}

void TextBuffer::insert(std::size_t pos, std::string&& text)
{
    if (empty()) {
        assign(std::move(text));
    } else {
        insert(pos, std::string_view(text));
    }
}

TextSnapshot TextBuffer::erase(std::size_t pos, std::size_t length)
{
    TextSnapshot removed = snapshot(pos, length);
    if (length <= kShareAbove) {
        moveGap(pos, 0);
        m_gapEnd += length;
        m_nonAscii -= countNonAscii(*removed.m_store); // a copy of just the removed range
        return removed;
    }
    // The removed text keeps the old storage; what is left moves to a new one, so removing most
    // of a long text costs what remains, and removing all of it costs nothing.
    std::string kept;
    kept.reserve(size() - length + kMinimumGap);
    for (std::size_t at = 0; at < size(); at += piece(at).size()) {
        const std::size_t end = at + piece(at).size();
        if (at < pos) {
            kept.append(piece(at, std::min(end, pos) - at));
        }
        if (end > pos + length) {
            const std::size_t from = std::max(at, pos + length);
            kept.append(piece(from, end - from));
        }
    }
    assign(std::move(kept));
    return removed;
}

std::size_t TextBuffer::find(char c, std::size_t from) const noexcept
{
    for (std::size_t pos = from; pos < size();) {
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
    before = std::min(before, size());
    if (before > m_gapStart) {
        const std::string_view after = piece(m_gapStart, before - m_gapStart);
        if (const void* hit = ::memrchr(after.data(), c, after.size())) {
            return m_gapStart + static_cast<std::size_t>(static_cast<const char*>(hit) - after.data());
        }
        before = m_gapStart;
    }
    const void* hit = ::memrchr(m_store->data(), c, before);
    return hit == nullptr ? npos : static_cast<std::size_t>(static_cast<const char*>(hit) - m_store->data());
}

std::size_t TextBuffer::nextCharacter(std::size_t pos) const noexcept
{
    if (pos >= size()) {
        return size();
    }
    char lead[4] = {};
    const std::size_t available = std::min<std::size_t>(4, size() - pos);
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
    if (pos == 0 || pos >= size() || !isContinuation(at(pos))) {
        return std::min(pos, size());
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

std::string& TextBuffer::writable()
{
    if (m_store.use_count() > 1) {
        m_store = std::make_shared<std::string>(*m_store);
    }
    return *m_store;
}

void TextBuffer::moveGap(std::size_t pos, std::size_t room)
{
    std::string& store = writable();
    if (gapSize() < room) {
        // Room for a megabyte of typing at most: half of a 70 MB key would be 35 MB of memory to
        // clear for the first keystroke, and a megabyte typed costs one copy of the text.
        const std::size_t gap = std::max({room, std::min(size() / 2, kMaximumGap), kMinimumGap});
        std::string grown(size() + gap, '\0');
        std::memcpy(grown.data(), store.data(), m_gapStart);
        const std::size_t tail = store.size() - m_gapEnd;
        std::memcpy(grown.data() + grown.size() - tail, store.data() + m_gapEnd, tail);
        m_gapEnd = grown.size() - tail;
        store = std::move(grown);
    }
    if (pos < m_gapStart) {
        const std::size_t count = m_gapStart - pos;
        std::memmove(store.data() + m_gapEnd - count, store.data() + pos, count);
        m_gapStart -= count;
        m_gapEnd -= count;
    } else if (pos > m_gapStart) {
        const std::size_t count = pos - m_gapStart;
        std::memmove(store.data() + m_gapStart, store.data() + m_gapEnd, count);
        m_gapStart += count;
        m_gapEnd += count;
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

} // namespace morvalen::textbox
