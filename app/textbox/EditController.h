// What each editing key does to the text, caret and selection, decided without a widget: word
// moves and deletes, line start and end, the arrows and Page Up/Down. What needs the laid-out
// rows (where a row starts and ends, which way a paragraph runs, where the caret lands a row up or
// down) it asks of a LayoutQueries, so the model tests and the fuzzer drive it through a plain
// layout of their own. The clipboard, undo and select all stay with the widget.
#pragma once

#include "EditModel.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>

namespace morvalen::textbox {

enum class KeyOperation : std::uint8_t
{
    Undo,
    Redo,
    Cut,
    Copy,
    Paste,
    SelectAll,
    DeleteWord, // to the word boundary in the direction
    DeleteToLineEnd,
    Delete,
    Character, // move or select by a cluster, in the direction on screen
    Word, // by a word, in the direction on screen
    LineStart,
    LineEnd,
    ParagraphStart,
    ParagraphEnd,
    DocumentStart,
    DocumentEnd,
    Row, // up or down a row, multi-line
    Page, // up or down a page, multi-line
};

struct KeyAction
{
    KeyOperation operation;
    Direction direction = Direction::Forward;
    bool select = false; // the anchor stays, the selection grows
    // An arrow moves from the caret even over a selection, as QLineEdit under Windows' key
    // bindings does; elsewhere it collapses the selection to the side it points at.
    bool fromCaret = false;
};

class LayoutQueries
{
public:
    struct VerticalMove
    {
        std::size_t target = 0;
        bool keepsColumn = true;
    };

    virtual ~LayoutQueries() = default;
    // The row that holds pos, as [start, end) without its line break.
    virtual std::pair<std::size_t, std::size_t> rowAround(std::size_t pos) = 0;
    // Whether the paragraph that holds pos runs right to left.
    virtual bool rightToLeft(std::size_t pos) = 0;
    // Multi-line: where the caret lands `rows` rows up or down at the model's goal column, which
    // it sets if unset; nothing when it would go past the first or last row by one.
    virtual std::optional<VerticalMove> verticalTarget(int rows, bool keepAnchor) = 0;
    // Multi-line: the rows a page holds, and scrolling the view by rows.
    virtual int visibleRows() = 0;
    virtual void scrollRows(std::ptrdiff_t rows) = 0;
    // Told after each move of the caret and each edit, so the view keeps the caret in sight.
    virtual void caretMoved() { }
    virtual void textEdited() { }
};

class EditController
{
public:
    EditController(EditModel& model, LayoutQueries& layout) noexcept
        : m_model(model)
        , m_layout(layout)
    {
    }

    // Runs an editing key; false for the keys the widget runs itself (clipboard, undo, redo,
    // select all).
    bool run(const KeyAction& action);

private:
    void moveCaret(std::size_t pos, bool keepAnchor);
    void deleteForward();
    void moveVertically(int rows, bool keepAnchor);

    EditModel& m_model;
    LayoutQueries& m_layout;
};

} // namespace morvalen::textbox
