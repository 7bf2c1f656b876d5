// What screen readers see of a box: its text, caret and selection, with rows from the box's row
// table as lines, edits through the editable-text interface, and the events that tell them what
// changed. The box is reached through AccessibleText, so this room needs nothing of the widget.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <cstddef>
#include <utility>
#include <variant>

class QAccessibleInterface;
class QWidget;

namespace morvalen::textbox {

class TextBuffer;
class TextSnapshot;

// What screen readers ask of a box and do to it, in byte offsets into its UTF-8 text.
class AccessibleText
{
public:
    virtual ~AccessibleText() = default;
    virtual bool isMultiLine() const = 0;
    virtual const TextBuffer& buffer() const = 0;
    virtual std::size_t cursorPosition() const = 0;
    virtual std::size_t anchorPosition() const = 0;
    virtual std::size_t selectionStart() const = 0;
    virtual std::size_t selectionEnd() const = 0;
    // Offsets in UTF-16 code units, as Qt counts them.
    virtual qsizetype toUtf16(std::size_t pos) const = 0;
    virtual std::size_t fromUtf16(qsizetype offset) const = 0;
    virtual QString textRange(std::size_t start, std::size_t end) const = 0;
    // The row that holds pos, as [start, end) without its line break.
    virtual std::pair<std::size_t, std::size_t> rowAround(std::size_t pos) = 0;
    // Where the character at pos stands, in widget coordinates; empty when it is out of view.
    virtual QRect characterRect(std::size_t pos) = 0;
    virtual std::size_t positionAt(QPoint point) = 0;
    virtual std::size_t nextCursorPosition(std::size_t pos, bool words) = 0;

    virtual void setText(const QString& text) = 0;
    virtual void setSelection(std::size_t anchor, std::size_t caret) = 0;
    virtual void del() = 0;
    virtual void insert(const QString& text) = 0;
};

// [pos, pos + removed.size()) became insertedLength bytes of the text; wholeText when code set
// the text, which a one-line box tells as one update, as QLineEdit does.
struct TextReplaced
{
    std::size_t pos = 0;
    const TextSnapshot* removed = nullptr;
    std::size_t insertedLength = 0;
    bool wholeText = false;
};

// The caret or the selection moved; hadSelection tells a selection that is gone.
struct SelectionMoved
{
    std::size_t caretBefore = 0;
    bool hadSelection = false;
};

// Tells screen readers of a change, in the order and form of Qt's box of the same kind.
void announce(QWidget& widget, const AccessibleText& box, const std::variant<TextReplaced, SelectionMoved>& change);

// The accessible object of a box, for its accessibility factory.
QAccessibleInterface* accessibleText(QWidget* widget, AccessibleText& box);

} // namespace morvalen::textbox
