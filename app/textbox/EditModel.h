// The text of one box and everything that edits it, without a widget: the caret and anchor, the
// up/down column, the undo history and every editing operation. Changes are reported through an
// observer, each once: a replacement as (position, removed, inserted length), and a moved caret or
// selection. Where characters and words begin comes from an injected Boundaries, as the row table
// takes its measure. No Qt here, so the model is tested and fuzzed alone.
//
// Positions are byte offsets into the UTF-8 text; the caret and anchor always stand at the start
// of a character.
#pragma once

#include "TextBuffer.h"
#include "UndoHistory.h"
#include "Utf16Index.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace morvalen::textbox {

enum class Direction : std::int8_t
{
    Backward = -1,
    Forward = 1,
};

enum class Unit : std::uint8_t
{
    Character, // a grapheme cluster, as the caret moves
    Word,
};

class Boundaries
{
public:
    virtual ~Boundaries() = default;
    // The next cluster or word boundary from pos in direction, or pos at either end of the text.
    virtual std::size_t step(const TextBuffer& text, std::size_t pos, Direction direction, Unit unit) = 0;
};

class EditObserver
{
public:
    virtual ~EditObserver() = default;
    // [pos, pos + removed.size()) became insertedLength bytes; the caret may not be placed yet.
    virtual void textReplaced(std::size_t pos, const TextSnapshot& removed, std::size_t insertedLength) = 0;
    virtual void selectionMoved(Selection before) = 0;
};

class EditModel
{
public:
    explicit EditModel(Boundaries& boundaries, EditObserver* observer = nullptr);
    EditModel(const EditModel&) = delete; // the UTF-16 index refers to the text
    EditModel& operator=(const EditModel&) = delete;

    const TextBuffer& text() const noexcept { return m_text; }
    // UTF-16 offsets of the text, as Qt counts them.
    const Utf16Index& units() const noexcept { return m_units; }
    std::string_view contiguous() { return m_text.contiguous(); }
    bool isMultiLine() const noexcept { return m_multiLine; }
    void setMultiLine(bool multiLine) noexcept { m_multiLine = multiLine; }

    std::size_t caret() const noexcept { return m_caret; }
    std::size_t anchor() const noexcept { return m_anchor; }
    Selection selection() const noexcept { return {m_caret, m_anchor}; }
    bool hasSelection() const noexcept { return m_caret != m_anchor; }
    std::size_t selectionStart() const noexcept { return std::min(m_caret, m_anchor); }
    std::size_t selectionEnd() const noexcept { return std::max(m_caret, m_anchor); }
    // Where Up and Down keep the caret while they repeat; any other move forgets it.
    std::optional<double> goalColumn() const noexcept { return m_goalColumn; }
    void setGoalColumn(std::optional<double> x) noexcept { m_goalColumn = x; }

    // Setting the text from code puts the caret at the start of a multi-line box and at the end of
    // a one-line box and clears the undo history, as Qt's boxes do.
    void setText(std::string text, bool knownAscii = false);
    // Each position moves to the start of its character.
    void select(std::size_t anchor, std::size_t caret);
    void moveTo(std::size_t pos, bool keepAnchor);
    void selectAll();

    // Replaces the selection by text, a step of its own unless typing goes on.
    void insert(std::string text, EditKind kind);
    // Replaces [from, to), as an input method asks.
    void replace(std::size_t from, std::size_t to, std::string text, EditKind kind);
    void removeSelection();
    // The selection, or else one code point before the caret: a cluster can lose its accent alone.
    void backspace();
    // The selection, or else the whole cluster after the caret.
    void deleteForward();

    bool canUndo() const noexcept { return m_history.canUndo(); }
    bool canRedo() const noexcept { return m_history.canRedo(); }
    const UndoHistory& history() const noexcept { return m_history; }
    void undo();
    void redo();

    std::size_t step(std::size_t pos, Direction direction, Unit unit) const;
    // The word under pos as a double-click takes it: QLineEdit's in one line, a text document's
    // in more (a run of punctuation is a word, within the paragraph).
    std::pair<std::size_t, std::size_t> wordAround(std::size_t pos) const;
    std::size_t paragraphStart(std::size_t pos) const noexcept;
    std::size_t paragraphEnd(std::size_t pos) const noexcept;

private:
    class Change;
    std::size_t characterEnd(std::size_t pos) const noexcept;
    bool blankAt(std::size_t pos) const;
    void applyEdit(Edit& edit);
    void travel(UndoHistory::Direction direction);

    TextBuffer m_text;
    Utf16Index m_units {m_text};
    UndoHistory m_history;
    Boundaries& m_boundaries;
    EditObserver* m_observer;
    bool m_multiLine = false;
    std::size_t m_caret = 0;
    std::size_t m_anchor = 0;
    std::optional<double> m_goalColumn;
};

} // namespace morvalen::textbox
