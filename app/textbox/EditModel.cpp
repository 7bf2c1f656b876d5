#include "EditModel.h"

#include "textconv/boxtext.h"

#include <algorithm>
#include <cctype>

namespace morvalen::textbox {

// Reports a moved caret or selection once, however many steps an operation took to move it.
class EditModel::Change
{
public:
    explicit Change(EditModel& model)
        : m_model(model)
        , m_before(model.selection())
    {
    }
    Change(const Change&) = delete;
    Change& operator=(const Change&) = delete;
    ~Change()
    {
        if (m_model.selection() == m_before) {
            return;
        }
        m_model.m_goalColumn.reset();
        if (m_model.m_observer != nullptr) {
            m_model.m_observer->selectionMoved(m_before);
        }
    }

private:
    EditModel& m_model;
    Selection m_before;
};

EditModel::EditModel(Boundaries& boundaries, EditObserver* observer)
    : m_boundaries(boundaries)
    , m_observer(observer)
{
}

void EditModel::setText(std::string text, bool knownAscii)
{
    Change change(*this);
    const TextSnapshot removed = m_text.snapshot(0, m_text.size());
    m_history.clear();
    m_goalColumn.reset();
    m_text.assign(std::move(text), knownAscii);
    m_units.reset();
    m_caret = m_anchor = m_multiLine ? 0 : m_text.size();
    if (m_observer != nullptr) {
        m_observer->textReplaced(0, removed, m_text.size());
    }
}

void EditModel::select(std::size_t anchor, std::size_t caret)
{
    Change change(*this);
    const Selection before = selection();
    m_anchor = m_text.characterStart(std::min(anchor, m_text.size()));
    m_caret = m_text.characterStart(std::min(caret, m_text.size()));
    if (selection() != before) {
        m_history.separate();
    }
}

void EditModel::moveTo(std::size_t pos, bool keepAnchor)
{
    select(keepAnchor ? m_anchor : pos, pos);
    m_goalColumn.reset(); // even where the caret cannot go further, as Qt's text cursor
}

void EditModel::selectAll()
{
    select(0, m_text.size());
}

void EditModel::insert(std::string text, EditKind kind)
{
    if (!text.empty() || hasSelection()) {
        replace(selectionStart(), selectionEnd(), std::move(text), kind);
    }
}

void EditModel::replace(std::size_t from, std::size_t to, std::string text, EditKind kind)
{
    to = std::min(to, m_text.size());
    from = std::min(from, to);
    Change change(*this);
    const Selection before = selection();
    TextSnapshot removed = m_text.erase(from, to - from);
    const std::size_t length = text.size();
    // A long text (a pasted key) becomes a block of the buffer, which the history then shares:
    // it is not held twice.
    EditText inserted;
    if (length > TextBuffer::kShareAbove) {
        m_text.insert(from, std::move(text));
        inserted = m_text.snapshot(from, length);
    } else {
        m_text.insert(from, std::string_view(text));
        inserted = std::move(text);
    }
    m_units.edited(from, removed.size(), length);
    m_goalColumn.reset();
    if (m_observer != nullptr) {
        m_observer->textReplaced(from, removed, length);
    }
    Edit edit {from, std::move(removed), std::move(inserted)};
    m_caret = m_anchor = characterEnd(from + length);
    m_history.record(std::move(edit), kind, before);
}

// Malformed bytes can join the bytes beside them into one character: a position just past
// inserted text then moves to the end of the character that holds it.
std::size_t EditModel::characterEnd(std::size_t pos) const noexcept
{
    const std::size_t start = m_text.characterStart(pos);
    return start < pos ? m_text.nextCharacter(start) : pos;
}

void EditModel::removeSelection()
{
    if (hasSelection()) {
        replace(selectionStart(), selectionEnd(), {}, EditKind::SelectionRemoval);
    }
}

void EditModel::backspace()
{
    m_goalColumn.reset(); // as in QPlainTextEdit, even at the start
    if (hasSelection()) {
        removeSelection();
    } else if (m_caret > 0) {
        replace(m_text.previousCharacter(m_caret), m_caret, {}, EditKind::Backspace);
    }
}

void EditModel::deleteForward()
{
    m_goalColumn.reset();
    if (hasSelection()) {
        removeSelection();
    } else if (m_caret < m_text.size()) {
        replace(m_caret, step(m_caret, Direction::Forward, Unit::Character), {}, EditKind::Delete);
    }
}

// Puts the edit's removed text back in place of its inserted text, and swaps the two.
void EditModel::applyEdit(Edit& edit)
{
    TextSnapshot taken = m_text.erase(edit.pos, edit.inserted.size());
    std::string back = edit.removed.toString();
    const std::size_t length = back.size();
    if (m_text.empty()) {
        m_text.insert(edit.pos, std::move(back));
    } else {
        m_text.insert(edit.pos, std::string_view(back));
    }
    m_units.edited(edit.pos, taken.size(), length);
    if (m_observer != nullptr) {
        m_observer->textReplaced(edit.pos, taken, length);
    }
    edit.inserted = std::move(edit.removed);
    edit.removed = std::move(taken);
}

void EditModel::travel(UndoHistory::Direction direction)
{
    Change change(*this);
    const Selection after = m_history.travel(direction, [this](Edit& edit) { applyEdit(edit); });
    m_goalColumn.reset();
    m_caret = characterEnd(std::min(after.caret, m_text.size()));
    m_anchor = characterEnd(std::min(after.anchor, m_text.size()));
}

void EditModel::undo()
{
    if (canUndo()) {
        travel(UndoHistory::Direction::Undo);
    }
}

void EditModel::redo()
{
    if (canRedo()) {
        travel(UndoHistory::Direction::Redo);
    }
}

std::size_t EditModel::step(std::size_t pos, Direction direction, Unit unit) const
{
    pos = std::min(pos, m_text.size());
    if ((direction == Direction::Forward && pos == m_text.size()) || (direction == Direction::Backward && pos == 0)) {
        return pos;
    }
    return std::min(m_boundaries.step(m_text, pos, direction, unit), m_text.size());
}

std::size_t EditModel::paragraphStart(std::size_t pos) const noexcept
{
    const std::size_t lineBreak = m_text.findBackward('\n', pos);
    return lineBreak == TextBuffer::npos ? 0 : lineBreak + 1;
}

std::size_t EditModel::paragraphEnd(std::size_t pos) const noexcept
{
    const std::size_t lineBreak = m_text.find('\n', pos);
    return lineBreak == TextBuffer::npos ? m_text.size() : lineBreak;
}

// Blanks as Unicode counts them (White_Space): a no-break space ends a word as a space does.
bool EditModel::blankAt(std::size_t pos) const
{
    const auto c = static_cast<unsigned char>(m_text.at(pos));
    if (c < 0x80) {
        return std::isspace(c) != 0;
    }
    const std::string bytes = m_text.copy(pos, m_text.nextCharacter(pos) - pos);
    const char32_t code = decodeCharacter(bytes, 0).codePoint;
    return code == 0x85 || code == 0xA0 || code == 0x1680 || (code >= 0x2000 && code <= 0x200A) || code == 0x2028
        || code == 0x2029 || code == 0x202F || code == 0x205F || code == 0x3000;
}

std::pair<std::size_t, std::size_t> EditModel::wordAround(std::size_t pos) const
{
    pos = std::min(pos, m_text.size());
    const auto next = [this](std::size_t i) { return step(i, Direction::Forward, Unit::Word); };
    const auto previous = [this](std::size_t i) { return step(i, Direction::Backward, Unit::Word); };
    const auto blankBefore = [this](std::size_t i) { return blankAt(m_text.previousCharacter(i)); };
    if (!m_multiLine) {
        // As QLineEdit: the word before the next character, less the blanks after the position.
        const std::size_t start = previous(m_text.nextCharacter(pos));
        std::size_t end = next(start);
        while (end > pos && blankBefore(end)) {
            end = m_text.previousCharacter(end);
        }
        return {start, end};
    }
    // As a text document's word under the cursor: from the start of the word to its end, a run of
    // punctuation counting as a word, within the paragraph.
    const auto separator = [this](std::size_t i) {
        return std::string_view(".,?!@#$:;-<>[](){}=/+%&^*'\"`~|\\").find(m_text.at(i)) != std::string_view::npos;
    };
    const std::size_t first = paragraphStart(pos);
    const std::size_t last = paragraphEnd(pos);
    std::size_t start = pos;
    if (pos > first && (pos < last || !(blankBefore(pos) || separator(pos - 1)))) {
        start = previous(pos < last ? m_text.nextCharacter(pos) : pos);
    }
    std::size_t end = start;
    if (end < last && separator(end)) {
        while (end < last && separator(end)) {
            ++end;
        }
    } else {
        while (end < last && !blankAt(end) && !separator(end)) {
            end = m_text.nextCharacter(end);
        }
    }
    return {start, end};
}

} // namespace morvalen::textbox
