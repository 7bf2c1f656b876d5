#include "UndoHistory.h"

namespace morvalen::textbox {

std::size_t EditText::size() const noexcept
{
    return std::visit([](const auto& text) { return text.size(); }, m_text);
}

std::string EditText::toString() const
{
    if (const auto* text = std::get_if<std::string>(&m_text)) {
        return *text;
    }
    return std::get<TextSnapshot>(m_text).toString();
}

void EditText::append(const EditText& more)
{
    if (auto* text = std::get_if<std::string>(&m_text)) {
        *text += more.toString();
    } else {
        m_text = toString() + more.toString();
    }
}

void EditText::prepend(const EditText& more)
{
    m_text = more.toString() + toString();
}

void UndoHistory::clear() noexcept
{
    m_steps.clear();
    m_done = 0;
    m_separate = false;
}

// Typing goes on where it stopped; Backspace takes the character before the last one it took;
// Delete takes the character that moved into the caret's place.
bool UndoHistory::joins(const Step& last, const Edit& edit, EditKind kind) const noexcept
{
    const Edit& before = last.edit;
    if (m_separate || (kind != last.kind && last.kind != EditKind::SelectionRemoval)) {
        return false;
    }
    switch (kind) {
    case EditKind::Typing: return edit.removed.size() == 0 && edit.pos == before.pos + before.inserted.size();
    case EditKind::Backspace: return edit.pos + edit.removed.size() == before.pos;
    case EditKind::Delete: return edit.pos == before.pos;
    case EditKind::SelectionRemoval:
    case EditKind::Other: break;
    }
    return false;
}

void UndoHistory::record(Edit edit, EditKind kind, Selection before)
{
    m_steps.resize(m_done); // what was undone cannot be redone after a new edit
    if (!m_steps.empty() && joins(m_steps.back(), edit, kind)) {
        Edit& last = m_steps.back().edit;
        if (kind == EditKind::Typing) {
            last.inserted.append(edit.inserted);
        } else if (kind == EditKind::Backspace) {
            last.removed.prepend(edit.removed);
            last.pos = edit.pos;
        } else {
            last.removed.append(edit.removed);
        }
        m_steps.back().kind = kind; // a removed selection goes on as what joined it
    } else {
        m_steps.push_back({std::move(edit), kind, before});
    }
    m_done = m_steps.size();
    m_separate = false;
}

Selection UndoHistory::travel(Direction direction, const Apply& apply)
{
    const bool undo = direction == Direction::Undo;
    if (undo ? !canUndo() : !canRedo()) {
        return {};
    }
    Step& step = m_steps[undo ? --m_done : m_done++];
    // As QLineEdit, nothing separates here: typing where an undone step leaves the caret goes on
    // with the step before it.
    apply(step.edit);
    const std::size_t after = step.edit.pos + step.edit.inserted.size();
    return undo ? step.before : Selection {after, after};
}

} // namespace morvalen::textbox
