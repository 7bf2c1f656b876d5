// What screen readers see of a TextBox: its text, caret and selection, with rows from the box's
// row table as lines, and edits through the editable-text interface.
#pragma once

class QAccessibleInterface;
class QObject;
class QString;

namespace morvalen::textbox {

// A factory for QAccessible::installFactory.
QAccessibleInterface* accessibleTextBox(const QString& className, QObject* object);

} // namespace morvalen::textbox
