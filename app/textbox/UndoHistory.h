// The undo history of a text box, one rule for both kinds of box, QLineEdit's: consecutive typing
// at the caret is one step, and so are consecutive Backspaces and consecutive Deletes; a caret
// move, a click, a line break or a switch between typing and deleting ends the step; a selection
// removed by Backspace, Delete or a cut starts a step that the typing, Backspaces or Deletes right
// after it join; every other edit (paste, drop, an input method's commit, a line break) is a step
// of its own. Undo puts
// back the text and the selection from before the step; redo puts the text back with the caret
// after what the step inserted. No Qt here.
//
// Each step is one edit, stored symmetrically (what was there, what is there now), so undo and
// redo are the same replacement in opposite directions.
#pragma once

#include "TextBuffer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

namespace morvalen::textbox {

enum class EditKind : std::uint8_t
{
    Typing, // also text inserted from code at the caret, as QLineEdit::insert
    Backspace, // one character before the caret, no selection
    Delete, // one character after the caret, no selection
    // The selection removed by Backspace, Delete or a cut; as in QLineEdit, typing, Backspaces or
    // Deletes right after it join its step.
    SelectionRemoval,
    Other, // a step of its own
};

struct Selection
{
    std::size_t caret = 0;
    std::size_t anchor = 0;
    bool operator==(const Selection&) const = default;
};

// Text an edit took out or put in: a snapshot of the buffer when it was removed (which shares the
// old storage when long), a string when it came from outside.
class EditText
{
public:
    EditText() = default;
    EditText(std::string text)
        : m_text(std::move(text))
    {
    }
    EditText(TextSnapshot text)
        : m_text(std::move(text))
    {
    }
    std::size_t size() const noexcept;
    std::string toString() const;
    // Typing and deleting grow a step at one end.
    void append(const EditText& more);
    void prepend(const EditText& more);

private:
    std::variant<std::string, TextSnapshot> m_text;
};

// At pos, `inserted` stands where `removed` stood.
struct Edit
{
    std::size_t pos = 0;
    EditText removed;
    EditText inserted;
};

class UndoHistory
{
public:
    enum class Direction : std::uint8_t
    {
        Undo,
        Redo,
    };
    // Puts the edit's removed text back in place of its inserted text, and swaps the two.
    using Apply = std::function<void(Edit&)>;

    void clear() noexcept;
    // The next edit starts a step of its own.
    void separate() noexcept { m_separate = true; }
    // Records an edit just made, and the selection before it; joins it to the last step where the
    // rule says so.
    void record(Edit edit, EditKind kind, Selection before);

    bool canUndo() const noexcept { return m_done > 0; }
    bool canRedo() const noexcept { return m_done < m_steps.size(); }
    std::size_t undoSteps() const noexcept { return m_done; }
    std::size_t redoSteps() const noexcept { return m_steps.size() - m_done; }
    // Undoes or redoes one step through apply; returns the selection that goes with it.
    Selection travel(Direction direction, const Apply& apply);

private:
    struct Step
    {
        Edit edit;
        EditKind kind = EditKind::Other;
        Selection before;
    };
    bool joins(const Step& last, const Edit& edit, EditKind kind) const noexcept;

    std::vector<Step> m_steps;
    std::size_t m_done = 0; // steps not undone
    bool m_separate = false;
};

} // namespace morvalen::textbox
