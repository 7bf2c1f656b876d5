#include "KeyInput.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <algorithm>
#include <iterator>

namespace morvalen::textbox {
namespace {

struct Binding
{
    QKeySequence::StandardKey key;
    KeyAction action;
    bool multiLineOnly = false;
};

constexpr auto kForward = Direction::Forward;
constexpr auto kBackward = Direction::Backward;

// First match wins: a platform can bind one key to two standard keys (Ctrl+Backspace).
const Binding kBindings[] = {
    {QKeySequence::Undo, {KeyOperation::Undo}},
    {QKeySequence::Redo, {KeyOperation::Redo}},
    {QKeySequence::Cut, {KeyOperation::Cut}},
    {QKeySequence::Copy, {KeyOperation::Copy}},
    {QKeySequence::Paste, {KeyOperation::Paste}},
    {QKeySequence::SelectAll, {KeyOperation::SelectAll}},
    {QKeySequence::DeleteStartOfWord, {KeyOperation::DeleteWord, kBackward}},
    {QKeySequence::DeleteEndOfWord, {KeyOperation::DeleteWord, kForward}},
    {QKeySequence::DeleteEndOfLine, {KeyOperation::DeleteToLineEnd}},
    {QKeySequence::Delete, {KeyOperation::Delete}},
    {QKeySequence::MoveToNextChar, {KeyOperation::Character, kForward}},
    {QKeySequence::MoveToPreviousChar, {KeyOperation::Character, kBackward}},
    {QKeySequence::SelectNextChar, {KeyOperation::Character, kForward, true}},
    {QKeySequence::SelectPreviousChar, {KeyOperation::Character, kBackward, true}},
    {QKeySequence::MoveToNextWord, {KeyOperation::Word, kForward}},
    {QKeySequence::MoveToPreviousWord, {KeyOperation::Word, kBackward}},
    {QKeySequence::SelectNextWord, {KeyOperation::Word, kForward, true}},
    {QKeySequence::SelectPreviousWord, {KeyOperation::Word, kBackward, true}},
    {QKeySequence::MoveToStartOfLine, {KeyOperation::LineStart}},
    {QKeySequence::SelectStartOfLine, {KeyOperation::LineStart, kForward, true}},
    {QKeySequence::MoveToEndOfLine, {KeyOperation::LineEnd}},
    {QKeySequence::SelectEndOfLine, {KeyOperation::LineEnd, kForward, true}},
    {QKeySequence::MoveToStartOfBlock, {KeyOperation::ParagraphStart}},
    {QKeySequence::SelectStartOfBlock, {KeyOperation::ParagraphStart, kForward, true}},
    {QKeySequence::MoveToEndOfBlock, {KeyOperation::ParagraphEnd}},
    {QKeySequence::SelectEndOfBlock, {KeyOperation::ParagraphEnd, kForward, true}},
    {QKeySequence::MoveToStartOfDocument, {KeyOperation::DocumentStart}},
    {QKeySequence::SelectStartOfDocument, {KeyOperation::DocumentStart, kForward, true}},
    {QKeySequence::MoveToEndOfDocument, {KeyOperation::DocumentEnd}},
    {QKeySequence::SelectEndOfDocument, {KeyOperation::DocumentEnd, kForward, true}},
    {QKeySequence::MoveToNextLine, {KeyOperation::Row, kForward}, true},
    {QKeySequence::MoveToPreviousLine, {KeyOperation::Row, kBackward}, true},
    {QKeySequence::SelectNextLine, {KeyOperation::Row, kForward, true}, true},
    {QKeySequence::SelectPreviousLine, {KeyOperation::Row, kBackward, true}, true},
    {QKeySequence::MoveToNextPage, {KeyOperation::Page, kForward}, true},
    {QKeySequence::MoveToPreviousPage, {KeyOperation::Page, kBackward}, true},
    {QKeySequence::SelectNextPage, {KeyOperation::Page, kForward, true}, true},
    {QKeySequence::SelectPreviousPage, {KeyOperation::Page, kBackward, true}, true},
};

} // namespace

std::optional<KeyAction> standardKeyAction(const QKeyEvent& event, bool multiLine)
{
    for (const Binding& binding : kBindings) {
        if ((multiLine || !binding.multiLineOnly) && event.matches(binding.key)) {
            KeyAction action = binding.action;
            action.fromCaret = action.operation == KeyOperation::Character && !multiLine
                && QKeySequence::keyBindings(QKeySequence::Redo).contains(Qt::CTRL | Qt::Key_Y);
            return action;
        }
    }
    return std::nullopt;
}

bool isAcceptableInput(const QKeyEvent& event, bool multiLine)
{
    const QString text = event.text();
    if (text.isEmpty()) {
        return false;
    }
    const QChar c = text.front();
    // Joiners and direction marks, which some layouts type with Ctrl+Shift.
    if (c.category() == QChar::Other_Format) {
        return true;
    }
    const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::ControlModifier || modifiers == (Qt::ShiftModifier | Qt::ControlModifier)) {
        return false;
    }
    return c.isPrint() || c.category() == QChar::Other_PrivateUse
        || (c.isHighSurrogate() && text.size() > 1 && text.at(1).isLowSurrogate()) || (multiLine && c == u'\t');
}

bool isEditingShortcut(const QKeyEvent& event, bool multiLine)
{
    static const QKeySequence::StandardKey editing[] = {QKeySequence::Copy, QKeySequence::Paste, QKeySequence::Cut,
        QKeySequence::Redo, QKeySequence::Undo, QKeySequence::SelectAll, QKeySequence::Delete,
        QKeySequence::MoveToNextWord, QKeySequence::MoveToPreviousWord, QKeySequence::MoveToStartOfDocument,
        QKeySequence::MoveToEndOfDocument, QKeySequence::SelectNextWord, QKeySequence::SelectPreviousWord,
        QKeySequence::DeleteStartOfWord, QKeySequence::DeleteEndOfWord};
    return isAcceptableInput(event, multiLine)
        || std::any_of(std::begin(editing), std::end(editing), [&](auto key) { return event.matches(key); });
}

} // namespace morvalen::textbox
