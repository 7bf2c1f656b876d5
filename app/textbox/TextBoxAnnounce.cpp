// The update events that tell screen readers what changed in a box, in the order and form of
// Qt's box of the same kind (QLineEdit for one line, QPlainTextEdit for more).
#include "TextBoxAccessible.h"
#include "TextBuffer.h"
#include "Utf16.h"

#include <QAccessible>
#include <QWidget>
#include <algorithm>

namespace morvalen::textbox {
namespace {

// A screen reader speaks what an edit event carries; past this it gets the start of a long text
// and asks the text interface for the rest, rather than tens of megabytes over the bus.
constexpr std::size_t kAnnouncedBytes = 64 * 1024;

void announceReplacement(QWidget& widget, const AccessibleText& box, const TextReplaced& change)
{
    const std::size_t pos = change.pos;
    const TextSnapshot& removed = *change.removed;
    const std::size_t insertedLength = change.insertedLength;
    const auto at = static_cast<int>(box.toUtf16(pos));
    const auto removedText = [&removed] {
        std::string text = removed.toString();
        text.resize(std::min(text.size(), kAnnouncedBytes));
        return decode(text);
    };
    const auto insertedText = [&] {
        return box.textRange(pos, box.buffer().characterStart(pos + std::min(insertedLength, kAnnouncedBytes)));
    };
    if (change.wholeText && !box.isMultiLine() && removed.size() > 0 && insertedLength > 0) {
        QAccessibleTextUpdateEvent event(&widget, at, removedText(), insertedText());
        event.setCursorPosition(static_cast<int>(box.toUtf16(box.cursorPosition())));
        QAccessible::updateAccessibility(&event);
        return;
    }
    if (removed.size() > 0) {
        QAccessibleTextRemoveEvent event(&widget, at, removedText());
        QAccessible::updateAccessibility(&event);
    }
    if (insertedLength > 0) {
        QAccessibleTextInsertEvent event(&widget, at, insertedText());
        QAccessible::updateAccessibility(&event);
    }
}

void announceSelection(QWidget& widget, const AccessibleText& box, const SelectionMoved& change)
{
    const std::size_t caretBefore = change.caretBefore;
    const bool hadSelection = change.hadSelection;
    const bool selected = box.selectionStart() != box.selectionEnd();
    const auto caret = static_cast<int>(box.toUtf16(box.cursorPosition()));
    const auto tellSelection = [&](int start, int end) {
        QAccessibleTextSelectionEvent event(&widget, start, end);
        event.setCursorPosition(caret);
        QAccessible::updateAccessibility(&event);
    };
    const auto tellCaret = [&] {
        QAccessibleTextCursorEvent event(&widget, caret);
        QAccessible::updateAccessibility(&event);
    };
    if (selected && box.isMultiLine()) {
        // QPlainTextEdit tells the anchor first and follows with the caret when that moved.
        tellSelection(static_cast<int>(box.toUtf16(box.anchorPosition())), caret);
        if (box.cursorPosition() != caretBefore) {
            tellCaret();
        }
    } else if (selected) {
        tellSelection(
            static_cast<int>(box.toUtf16(box.selectionStart())), static_cast<int>(box.toUtf16(box.selectionEnd())));
    } else if (hadSelection && box.isMultiLine()) {
        if (box.cursorPosition() != caretBefore) {
            tellCaret();
        }
        tellSelection(caret, caret);
    } else if (hadSelection) {
        tellSelection(-1, -1); // QLineEdit's "no selection any more"
        tellCaret();
    } else {
        tellCaret();
    }
}

} // namespace

void announce(QWidget& widget, const AccessibleText& box, const std::variant<TextReplaced, SelectionMoved>& change)
{
    if (!QAccessible::isActive()) {
        return;
    }
    if (const auto* replaced = std::get_if<TextReplaced>(&change)) {
        announceReplacement(widget, box, *replaced);
    } else {
        announceSelection(widget, box, std::get<SelectionMoved>(change));
    }
}

} // namespace morvalen::textbox
