// The accessible object of a box: its state, text, selection and caret, where a character
// stands, edits through the editable-text interface, and the format of a paragraph. The items
// around an offset are AccessibleBoundaries' to find.
#include "TextBoxAccessible.h"

#include "AccessibleBoundaries.h"
#include "TextBuffer.h"

#include <QAccessibleWidget>
#include <QWidget>
#include <algorithm>

namespace morvalen::textbox {
namespace {

// Offsets here are UTF-16 code units, as Qt's accessibility counts them; the box counts bytes.
class TextBoxAccessible : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface
{
public:
    TextBoxAccessible(QWidget* widget, AccessibleText& box)
        : QAccessibleWidget(widget, QAccessible::EditableText)
        , m_box(box)
        , m_boundaries(box)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        if (type == QAccessible::EditableTextInterface) {
            return static_cast<QAccessibleEditableTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.editable = true;
        state.selectableText = true;
        state.multiLine = multiLine();
        return state;
    }

    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Value ? box().textRange(0, buffer().size()) : QAccessibleWidget::text(kind);
    }

    void setText(QAccessible::Text kind, const QString& text) override
    {
        if (kind == QAccessible::Value) {
            box().setText(text);
        } else {
            QAccessibleWidget::setText(kind, text);
        }
    }

    // ---- QAccessibleTextInterface

    void selection(int index, int* start, int* end) const override
    {
        *start = *end = 0;
        if (index == 0 && hasSelection()) {
            *start = units(box().selectionStart());
            *end = units(box().selectionEnd());
        }
    }
    int selectionCount() const override { return hasSelection() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override
    {
        if (index == 0) {
            box().setSelection(box().cursorPosition(), box().cursorPosition());
        }
    }
    void setSelection(int index, int start, int end) override
    {
        if (index == 0) {
            box().setSelection(bytes(start), bytes(end));
        }
    }
    int cursorPosition() const override { return units(box().cursorPosition()); }
    void setCursorPosition(int position) override { moveCaret(bytes(position)); }
    // Offsets inside a surrogate pair give its halves, as Qt strings do.
    QString text(int start, int end) const override
    {
        start = std::max(start, 0);
        if (start >= end) {
            return {};
        }
        const std::size_t from = floorBytes(start);
        return box().textRange(from, bytes(end)).mid(start - units(from), end - start);
    }
    int characterCount() const override { return units(box().buffer().size()); }

    // The font's advance and height, as Qt's boxes give them, where the view shows the character.
    QRect characterRect(int offset) const override
    {
        if (offset < 0 || offset >= characterCount()) {
            return {};
        }
        const QRect shown = box().characterRect(floorBytes(offset));
        if (shown.isEmpty()) {
            return {};
        }
        const QString character = text(offset, offset + 1);
        const QFontMetrics metrics(widget()->font());
        // A line break measures as the paragraph separator a text document holds it as.
        const QSize size(metrics.horizontalAdvance(
                             character == QLatin1String("\n") ? QString(QChar::ParagraphSeparator) : character),
            metrics.height());
        return QRect(widget()->mapToGlobal(shown.topLeft()), size);
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        return units(box().positionAt(widget()->mapFromGlobal(point)));
    }
    void scrollToSubstring(int start, int end) override
    {
        // As QLineEdit: the caret moves there, which scrolls it into view.
        moveCaret(bytes(end));
        moveCaret(bytes(start));
    }

    QString attributes(int offset, int* start, int* end) const override
    {
        if (!multiLine()) {
            *start = *end = offset; // QLineEdit has none
            return {};
        }
        return paragraphAttributes(offset, start, end);
    }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* start, int* end) const override
    {
        return answer(m_boundaries.itemAt(offset, boundary), start, end);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* start, int* end) const override
    {
        return answer(m_boundaries.itemBefore(offset, boundary), start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* start, int* end) const override
    {
        return answer(m_boundaries.itemAfter(offset, boundary), start, end);
    }

    // ---- QAccessibleEditableTextInterface

    void deleteText(int start, int end) override
    {
        box().setSelection(bytes(start), bytes(end));
        box().del();
    }
    void insertText(int offset, const QString& text) override
    {
        moveCaret(bytes(offset));
        box().insert(text);
    }
    void replaceText(int start, int end, const QString& text) override
    {
        box().setSelection(bytes(start), bytes(end));
        box().insert(text);
    }

private:
    AccessibleText& box() const { return m_box; }
    bool hasSelection() const { return box().selectionStart() != box().selectionEnd(); }
    void moveCaret(std::size_t pos) { box().setSelection(pos, pos); }
    bool multiLine() const { return box().isMultiLine(); }
    int units(std::size_t pos) const { return static_cast<int>(box().toUtf16(pos)); }
    std::size_t bytes(int offset) const { return box().fromUtf16(offset); }
    // The start of the character that holds the unit at offset.
    std::size_t floorBytes(int offset) const
    {
        const std::size_t pos = bytes(offset);
        return units(pos) > offset ? buffer().previousCharacter(pos) : pos;
    }
    const TextBuffer& buffer() const { return box().buffer(); }

    QString answer(AccessibleBoundaries::Range range, int* start, int* end) const
    {
        *start = range.start;
        *end = range.end;
        return range.start < 0 ? QString() : text(range.start, range.end);
    }

    // The run of one format around an offset: a paragraph's text, or its line break alone; the
    // format is the box's font, left-aligned, on the baseline.
    QString paragraphAttributes(int offset, int* start, int* end) const
    {
        const int count = characterCount();
        offset = offset == -2 ? cursorPosition() : offset;
        if (offset == -1 || offset == count) {
            offset = count - 1;
        }
        if (offset < 0 || offset > count) {
            *start = *end = -1;
            return {};
        }
        const auto [first, last] = m_boundaries.paragraphAround(bytes(offset));
        const int textStart = units(first);
        const int textEnd = units(last);
        const int blockEnd = textEnd + 1; // a paragraph's length counts its line break
        if (offset < textEnd) {
            *start = textStart;
            *end = textEnd;
        } else {
            *start = textEnd;
            *end = blockEnd;
        }
        const QFont font = widget()->font();
        QString attributes;
        const auto add = [&](const char* key, const QString& value) {
            attributes += QLatin1String(key) + QLatin1Char(':') + value + QLatin1Char(';');
        };
        QString family = font.families().value(0);
        if (!family.isEmpty()) {
            for (const QChar c : {u'\\', u':', u',', u'=', u';', u'"'}) {
                family.replace(c, QLatin1Char('\\') + c);
            }
            add("font-family", QLatin1Char('"') + family + QLatin1Char('"'));
        }
        if (const int size = static_cast<int>(font.pointSize())) {
            add("font-size", QString::number(size) + QLatin1String("pt"));
        }
        add("font-weight", QLatin1String(font.weight() > QFont::Normal ? "bold" : "normal"));
        add("font-style",
            QLatin1String(font.style() == QFont::StyleItalic ? "italic"
                    : font.style() == QFont::StyleOblique    ? "oblique"
                                                             : "normal"));
        add("text-position", QStringLiteral("baseline"));
        add("text-align", QStringLiteral("left"));
        return attributes;
    }

    AccessibleText& m_box;
    AccessibleBoundaries m_boundaries;
};

} // namespace

QAccessibleInterface* accessibleText(QWidget* widget, AccessibleText& box)
{
    return new TextBoxAccessible(widget, box);
}

} // namespace morvalen::textbox
