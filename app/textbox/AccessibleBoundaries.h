// The items a screen reader asks for around an offset of a box (a character, word, sentence,
// line or paragraph), answered as Qt's own boxes answer: QLineEdit's (the text interface's
// defaults) for a one-line box, QPlainTextEdit's (a text cursor's moves) for a multi-line one.
// Kept apart from the accessible object, which only hands them on: they are most of its logic.
#pragma once

#include "TextBoxAccessible.h"

#include <QAccessible>
#include <cstddef>
#include <utility>

namespace morvalen::textbox {

// Offsets here are UTF-16 code units, as Qt's accessibility counts them; the box counts bytes.
class AccessibleBoundaries
{
public:
    // A range of UTF-16 offsets; (-1, -1) is Qt's "no such item".
    struct Range
    {
        int start = -1;
        int end = -1;
    };

    explicit AccessibleBoundaries(AccessibleText& box)
        : m_box(box)
    {
    }

    // The item at, before and after offset.
    Range itemAt(int offset, QAccessible::TextBoundaryType boundary) const;
    Range itemBefore(int offset, QAccessible::TextBoundaryType boundary) const;
    Range itemAfter(int offset, QAccessible::TextBoundaryType boundary) const;

    // The paragraph around pos as [start, end) in bytes without its line break, looked for within
    // a reach either side of pos.
    std::pair<std::size_t, std::size_t> paragraphAround(std::size_t pos) const;

private:
    struct Stretch;

    const TextBuffer& buffer() const { return m_box.buffer(); }
    int units(std::size_t pos) const { return static_cast<int>(m_box.toUtf16(pos)); }
    std::size_t bytes(int offset) const { return m_box.fromUtf16(offset); }
    int characterCount() const;
    int cursorPosition() const { return units(m_box.cursorPosition()); }

    // [from, to) in bytes, as a stretch.
    Stretch stretch(std::size_t from, std::size_t to) const;
    // One line, as QLineEdit: -2 is the caret, -1 the end; out of range is no item.
    Range lineAt(int which, int offset, QAccessible::TextBoundaryType boundary) const;
    Range lineBreaksAround(int which, int offset, int count) const;
    // More lines, as QPlainTextEdit: an offset a text cursor cannot take leaves it at the caret.
    int resolved(int offset) const { return offset < 0 || offset > characterCount() ? cursorPosition() : offset; }
    Range documentAt(int offset, QAccessible::TextBoundaryType boundary) const;
    int startOfWord(std::size_t pos) const;
    int endOfWord(std::size_t pos) const;
    Range sentenceAround(std::size_t pos) const;

    AccessibleText& m_box;
};

} // namespace morvalen::textbox
