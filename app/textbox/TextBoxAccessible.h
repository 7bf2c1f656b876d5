// What screen readers see of a TextBox: its text, caret and selection, with rows from the box's
// row table as lines, and edits through the editable-text interface.
#pragma once

#include <cstddef>

class QAccessibleInterface;
class QObject;
class QString;

namespace morvalen::textbox {

class TextBox;
class TextSnapshot;

// Tells screen readers that [pos, pos + removed.size()) became insertedLength bytes of the text;
// wholeText when code set the text, which a one-line box tells as one update, as QLineEdit does.
void announceReplacement(
    TextBox& box, std::size_t pos, const TextSnapshot& removed, std::size_t insertedLength, bool wholeText);
// Tells screen readers where the caret and the selection are now, in the order and form of Qt's
// box of the same kind.
void announceSelection(TextBox& box, std::size_t caretBefore, bool hadSelection);

// A factory for QAccessible::installFactory.
QAccessibleInterface* accessibleTextBox(const QString& className, QObject* object);

} // namespace morvalen::textbox
