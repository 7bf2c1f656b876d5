// The text of one box as UTF-8 bytes in a gap buffer: edits at the caret cost what they insert or
// remove, however long the text, and the whole text can be handed out contiguously for the core
// to read in place. No Qt here, so the buffer and its row table can be tested and fuzzed alone.
//
// Positions are byte offsets. Bytes that start no valid UTF-8 sequence count as one character
// each, so any byte string can be stored and walked without splitting a character.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace morvalen::textbox {

// Length of the valid UTF-8 sequence starting with these bytes, 1 for a byte that starts none.
std::size_t utf8Length(std::string_view bytes) noexcept;

// A read-only view of a range of the text as it stood when taken. It shares the buffer's storage,
// so taking one is cheap whatever its size; the buffer copies its storage before the next change
// while a snapshot still holds it.
class TextSnapshot
{
public:
    TextSnapshot() = default;
    std::size_t size() const noexcept { return m_length; }
    std::string toString() const;

private:
    friend class TextBuffer;
    std::shared_ptr<const std::string> m_store;
    std::size_t m_gapStart = 0;
    std::size_t m_gapEnd = 0;
    std::size_t m_pos = 0;
    std::size_t m_length = 0;
};

class TextBuffer
{
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    TextBuffer();

    std::size_t size() const noexcept { return m_store->size() - gapSize(); }
    bool empty() const noexcept { return size() == 0; }
    char at(std::size_t pos) const noexcept { return (*m_store)[pos < m_gapStart ? pos : pos + gapSize()]; }
    // Whether every byte is below 0x80, so that byte offsets are also UTF-16 offsets.
    bool isAscii() const noexcept { return m_nonAscii == 0; }

    // The longest contiguous stretch of text starting at pos, at most maxLength bytes.
    std::string_view piece(std::size_t pos, std::size_t maxLength = npos) const noexcept;
    std::string copy(std::size_t pos, std::size_t length) const;
    TextSnapshot snapshot(std::size_t pos, std::size_t length) const;
    // The whole text in one piece; valid until the next change.
    std::string_view contiguous();

    // Takes the text over without copying it.
    void assign(std::string text);
    // text must not point into this buffer: the gap may move under it.
    void insert(std::size_t pos, std::string_view text);
    // Inserting into an empty buffer adopts the string instead of copying it.
    void insert(std::size_t pos, std::string&& text);
    // Returns what was removed, sharing the storage when it is large rather than copying it.
    TextSnapshot erase(std::size_t pos, std::size_t length);

    // Offset of the first c at or after from, or npos.
    std::size_t find(char c, std::size_t from) const noexcept;
    // Offset of the last c before `before`, or npos.
    std::size_t findBackward(char c, std::size_t before) const noexcept;

    // Character boundaries: the start of the character after / before pos.
    std::size_t nextCharacter(std::size_t pos) const noexcept;
    std::size_t previousCharacter(std::size_t pos) const noexcept;
    // pos itself if a character starts there, else the start of the character that holds it.
    std::size_t characterStart(std::size_t pos) const noexcept;

private:
    std::size_t gapSize() const noexcept { return m_gapEnd - m_gapStart; }
    std::string& writable();
    void moveGap(std::size_t pos, std::size_t room);
    static std::size_t countNonAscii(std::string_view text) noexcept;

    std::shared_ptr<std::string> m_store;
    std::size_t m_gapStart = 0;
    std::size_t m_gapEnd = 0;
    std::size_t m_nonAscii = 0;
};

} // namespace morvalen::textbox
