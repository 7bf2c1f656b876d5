// The update events that tell screen readers what changed in a box, in the order and form of
// Qt's box of the same kind (QLineEdit for one line, QPlainTextEdit for more).
#include "TextBox.h"
#include "TextBoxAccessible.h"
#include "Utf16.h"

#include <QAccessible>
#include <algorithm>

namespace morvalen::textbox {
namespace {

// A screen reader speaks what an edit event carries; past this it gets the start of a long text
// and asks the text interface for the rest, rather than tens of megabytes over the bus.
constexpr std::size_t kAnnouncedBytes = 64 * 1024;

} // namespace

void announceReplacement(
    TextBox& box, std::size_t pos, const TextSnapshot& removed, std::size_t insertedLength, bool wholeText)
{
    if (!QAccessible::isActive()) {
        return;
    }
    const auto at = static_cast<int>(box.toUtf16(pos));
    const auto removedText = [&removed] {
        std::string text = removed.toString();
        text.resize(std::min(text.size(), kAnnouncedBytes));
        return decode(text);
    };
    const auto insertedText = [&] {
        return box.textRange(pos, box.buffer().characterStart(pos + std::min(insertedLength, kAnnouncedBytes)));
    };
    if (wholeText && !box.isMultiLine() && removed.size() > 0 && insertedLength > 0) {
        QAccessibleTextUpdateEvent event(&box, at, removedText(), insertedText());
        event.setCursorPosition(static_cast<int>(box.toUtf16(box.cursorPosition())));
        QAccessible::updateAccessibility(&event);
        return;
    }
    if (removed.size() > 0) {
        QAccessibleTextRemoveEvent event(&box, at, removedText());
        QAccessible::updateAccessibility(&event);
    }
    if (insertedLength > 0) {
        QAccessibleTextInsertEvent event(&box, at, insertedText());
        QAccessible::updateAccessibility(&event);
    }
}

void announceSelection(TextBox& box, std::size_t caretBefore, bool hadSelection)
{
    if (!QAccessible::isActive()) {
        return;
    }
    const auto caret = static_cast<int>(box.toUtf16(box.cursorPosition()));
    const auto tellSelection = [&](int start, int end) {
        QAccessibleTextSelectionEvent event(&box, start, end);
        event.setCursorPosition(caret);
        QAccessible::updateAccessibility(&event);
    };
    const auto tellCaret = [&] {
        QAccessibleTextCursorEvent event(&box, caret);
        QAccessible::updateAccessibility(&event);
    };
    if (box.hasSelectedText() && box.isMultiLine()) {
        // QPlainTextEdit tells the anchor first and follows with the caret when that moved.
        tellSelection(static_cast<int>(box.toUtf16(box.anchorPosition())), caret);
        if (box.cursorPosition() != caretBefore) {
            tellCaret();
        }
    } else if (box.hasSelectedText()) {
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

} // namespace morvalen::textbox
