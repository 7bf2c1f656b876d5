// Reading a TextBuffer byte by byte and character by character: a byte looked for either way,
// UTF-8 character boundaries (an invalid byte is a character of its own), and the count of bytes
// above ASCII that tells whether byte offsets are also UTF-16 offsets. The piece table's edits
// are in TextBuffer.cpp; this only reads through its pieces.
#include "TextBuffer.h"
#include "textconv/boxtext.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace morvalen::textbox {
namespace {

bool isContinuation(char c) noexcept
{
    return (static_cast<unsigned char>(c) & 0xC0u) == 0x80u;
}

} // namespace

std::size_t utf8Length(std::string_view bytes) noexcept
{
    return bytes.empty() ? 1 : characterLength(bytes, 0);
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
