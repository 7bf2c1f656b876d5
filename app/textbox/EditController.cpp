#include "EditController.h"

#include <algorithm>
#include <cctype>

namespace morvalen::textbox {

bool EditController::run(const KeyAction& action)
{
    const bool select = action.select;
    const bool forward = action.direction == Direction::Forward;
    const bool multiLine = m_model.isMultiLine();
    const TextBuffer& text = m_model.text();
    const std::size_t caret = m_model.caret();
    // Asked only by the arrows, which are the keys that need it.
    const auto onScreen
        = [&] { return forward != m_layout.rightToLeft(caret) ? Direction::Forward : Direction::Backward; };
    switch (action.operation) {
    case KeyOperation::Undo:
    case KeyOperation::Redo:
    case KeyOperation::Cut:
    case KeyOperation::Copy:
    case KeyOperation::Paste:
    case KeyOperation::SelectAll: return false;
    case KeyOperation::DeleteWord:
        if (!multiLine) {
            // As QLineEdit: the selection grows to the word boundary and all of it goes.
            moveCaret(m_model.step(caret, action.direction, Unit::Word), true);
            if (m_model.hasSelection() || forward) {
                deleteForward();
            }
        } else if (m_model.hasSelection()) {
            deleteForward();
        } else {
            // Nothing to take at either end: the character beyond stays.
            const std::size_t boundary = m_model.step(caret, action.direction, Unit::Word);
            m_model.replace(std::min(caret, boundary), std::max(caret, boundary), {}, EditKind::Other);
            m_layout.textEdited();
        }
        break;
    case KeyOperation::DeleteToLineEnd:
        if (m_model.hasSelection()) {
            deleteForward();
        } else {
            m_model.replace(caret, multiLine ? m_model.paragraphEnd(caret) : text.size(), {}, EditKind::Other);
            m_layout.textEdited();
        }
        break;
    case KeyOperation::Delete: deleteForward(); break;
    case KeyOperation::Character:
        if (!select && m_model.hasSelection() && (multiLine || !action.fromCaret)) {
            const bool end = multiLine ? onScreen() == Direction::Forward : forward;
            moveCaret(end ? m_model.selectionEnd() : m_model.selectionStart(), false);
        } else {
            moveCaret(m_model.step(caret, onScreen(), Unit::Character), select);
        }
        break;
    case KeyOperation::Word: moveCaret(m_model.step(caret, onScreen(), Unit::Word), select); break;
    case KeyOperation::LineStart: moveCaret(m_layout.rowAround(caret).first, select); break;
    case KeyOperation::LineEnd: {
        const auto [start, end] = m_layout.rowAround(caret);
        // As QPlainTextEdit: a wrapped row ends where the next one starts, or before its last blank.
        const bool wrapped = end < text.size() && text.at(end) != '\n' && end > start;
        const bool blank = wrapped && std::isspace(static_cast<unsigned char>(text.at(end - 1))) != 0;
        moveCaret(blank ? end - 1 : end, select);
        break;
    }
    case KeyOperation::ParagraphStart: moveCaret(m_model.paragraphStart(caret), select); break;
    case KeyOperation::ParagraphEnd: moveCaret(m_model.paragraphEnd(caret), select); break;
    case KeyOperation::DocumentStart: moveCaret(0, select); break;
    case KeyOperation::DocumentEnd: moveCaret(text.size(), select); break;
    case KeyOperation::Row: moveVertically(forward ? 1 : -1, select); break;
    case KeyOperation::Page: {
        const int rows = forward ? m_layout.visibleRows() : -m_layout.visibleRows();
        m_layout.scrollRows(rows);
        moveVertically(rows, select);
        break;
    }
    }
    return true;
}

void EditController::moveCaret(std::size_t pos, bool keepAnchor)
{
    m_model.moveTo(pos, keepAnchor);
    m_layout.caretMoved();
}

void EditController::deleteForward()
{
    m_model.deleteForward();
    m_layout.textEdited();
}

void EditController::moveVertically(int rows, bool keepAnchor)
{
    if (!m_model.isMultiLine()) {
        return;
    }
    const auto move = m_layout.verticalTarget(rows, keepAnchor);
    if (!move) {
        return;
    }
    const auto goal = move->keepsColumn ? m_model.goalColumn() : std::nullopt;
    moveCaret(move->target, keepAnchor);
    m_model.setGoalColumn(goal);
}

} // namespace morvalen::textbox
