// The piece table's edits and reads by position: pieces split, trimmed, placed and merged, the
// block being filled, snapshots and the whole text in one piece. The blocks themselves are in
// TextBlock.cpp, the walks over bytes and characters in TextBufferWalk.cpp.
#include "TextBuffer.h"

#include "TextBlock.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

namespace morvalen::textbox {
namespace {

// Typed text and merged small pieces are copied into blocks that start small, for boxes that hold
// little, and double up to the largest size.
constexpr std::size_t kFirstFillBlock = 4 << 10;
constexpr std::size_t kFillBlock = 64 << 10;
// Inserted texts this long get a block of their own rather than a share of one.
constexpr std::size_t kOwnBlockFrom = 16 << 10;

} // namespace

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

} // namespace morvalen::textbox
