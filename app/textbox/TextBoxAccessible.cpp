#include "TextBoxAccessible.h"

#include "TextBox.h"
#include "Utf16.h"

#include <QAccessibleWidget>
#include <algorithm>

namespace morvalen::textbox {
namespace {

// A screen reader speaks what an edit event carries; past this it gets the start of a long text
// and asks the text interface for the rest, rather than tens of megabytes over the bus.
constexpr std::size_t kAnnouncedBytes = 64 * 1024;

// Offsets here are UTF-16 code units, as Qt's accessibility counts them; the box counts bytes.
class TextBoxAccessible : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface
{
public:
    explicit TextBoxAccessible(TextBox* box)
        : QAccessibleWidget(box, QAccessible::EditableText)
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
        state.multiLine = box()->isMultiLine();
        return state;
    }

    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Value ? box()->text() : QAccessibleWidget::text(kind);
    }

    void setText(QAccessible::Text kind, const QString& text) override
    {
        if (kind == QAccessible::Value) {
            box()->setText(text);
        } else {
            QAccessibleWidget::setText(kind, text);
        }
    }

    // ---- QAccessibleTextInterface

    void selection(int index, int* start, int* end) const override
    {
        *start = *end = 0;
        if (index == 0 && box()->hasSelectedText()) {
            *start = units(box()->selectionStart());
            *end = units(box()->selectionEnd());
        }
    }
    int selectionCount() const override { return box()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override
    {
        if (index == 0) {
            box()->deselect();
        }
    }
    void setSelection(int index, int start, int end) override
    {
        if (index == 0) {
            box()->setSelection(bytes(start), bytes(end));
        }
    }
    int cursorPosition() const override { return units(box()->cursorPosition()); }
    void setCursorPosition(int position) override { box()->setCursorPosition(bytes(position)); }
    QString text(int start, int end) const override { return box()->textRange(bytes(start), bytes(end)); }
    int characterCount() const override { return units(box()->buffer().size()); }

    QRect characterRect(int offset) const override
    {
        const QRect rect = box()->characterRect(bytes(offset));
        return rect.isEmpty() ? rect : rect.translated(box()->mapToGlobal(QPoint(0, 0)));
    }
    int offsetAtPoint(const QPoint& point) const override
    {
        return units(box()->positionAt(box()->mapFromGlobal(point)));
    }
    void scrollToSubstring(int start, int end) override
    {
        // As QLineEdit: the caret moves there, which scrolls it into view.
        box()->setCursorPosition(bytes(end));
        box()->setCursorPosition(bytes(start));
    }
    QString attributes(int offset, int* start, int* end) const override
    {
        *start = 0;
        *end = characterCount();
        (void)offset;
        return {};
    }

    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundary, int* start, int* end) const override
    {
        const auto [from, to] = unitAround(bytes(offset), boundary);
        return answer(from, to, start, end);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* start, int* end) const override
    {
        const std::size_t at = unitAround(bytes(offset), boundary).first;
        if (at == 0) {
            return answer(0, 0, start, end);
        }
        const auto [from, to] = unitAround(box()->buffer().previousCharacter(at), boundary);
        return answer(from, to, start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* start, int* end) const override
    {
        const std::size_t after = unitAround(bytes(offset), boundary).second;
        if (after >= box()->buffer().size()) {
            const std::size_t size = box()->buffer().size();
            return answer(size, size, start, end);
        }
        const auto [from, to] = unitAround(after, boundary);
        return answer(from, to, start, end);
    }

    // ---- QAccessibleEditableTextInterface

    void deleteText(int start, int end) override
    {
        box()->setSelection(bytes(start), bytes(end));
        box()->del();
    }
    void insertText(int offset, const QString& text) override
    {
        box()->setCursorPosition(bytes(offset));
        box()->insert(text);
    }
    void replaceText(int start, int end, const QString& text) override
    {
        box()->setSelection(bytes(start), bytes(end));
        box()->insert(text);
    }

private:
    TextBox* box() const { return static_cast<TextBox*>(widget()); }
    int units(std::size_t pos) const { return static_cast<int>(box()->toUtf16(pos)); }
    std::size_t bytes(int offset) const { return box()->fromUtf16(offset); }

    QString answer(std::size_t from, std::size_t to, int* start, int* end) const
    {
        *start = units(from);
        *end = units(to);
        return box()->textRange(from, to);
    }

    // The character, word, row or paragraph that holds pos, as byte offsets.
    std::pair<std::size_t, std::size_t> unitAround(std::size_t pos, QAccessible::TextBoundaryType boundary) const
    {
        TextBox* const text = box();
        const TextBuffer& buffer = text->buffer();
        pos = std::min(pos, buffer.size());
        switch (boundary) {
        case QAccessible::CharBoundary: {
            const std::size_t start = pos == buffer.size()
                ? pos
                : text->previousCursorPosition(text->nextCursorPosition(pos, false), false);
            return {start, text->nextCursorPosition(start, false)};
        }
        case QAccessible::WordBoundary: {
            const std::size_t end = text->nextCursorPosition(pos, true);
            return {text->previousCursorPosition(end, true), end};
        }
        case QAccessible::LineBoundary: {
            // Rows as the box wraps them; the line break that ends a paragraph belongs to its row.
            auto [start, end] = text->rowAround(pos);
            if (end < buffer.size() && buffer.at(end) == '\n') {
                ++end;
            }
            return {start, end};
        }
        case QAccessible::SentenceBoundary:
        case QAccessible::ParagraphBoundary: {
            const std::size_t lineBreak = buffer.findBackward('\n', pos);
            const std::size_t start = lineBreak == TextBuffer::npos ? 0 : lineBreak + 1;
            const std::size_t next = buffer.find('\n', pos);
            return {start, next == TextBuffer::npos ? buffer.size() : next + 1};
        }
        case QAccessible::NoBoundary: break;
        }
        return {0, buffer.size()};
    }
};

} // namespace

void announceReplacement(TextBox& box, std::size_t pos, const TextSnapshot& removed, std::size_t insertedLength)
{
    if (!QAccessible::isActive()) {
        return;
    }
    const auto at = static_cast<int>(box.toUtf16(pos));
    if (removed.size() > 0) {
        std::string text = removed.toString();
        text.resize(std::min(text.size(), kAnnouncedBytes));
        QAccessibleTextRemoveEvent event(&box, at, decode(text));
        QAccessible::updateAccessibility(&event);
    }
    if (insertedLength > 0) {
        const std::size_t shown = box.buffer().characterStart(pos + std::min(insertedLength, kAnnouncedBytes));
        QAccessibleTextInsertEvent event(&box, at, box.textRange(pos, shown));
        QAccessible::updateAccessibility(&event);
    }
}

void announceSelection(TextBox& box, bool hadSelection)
{
    if (!QAccessible::isActive()) {
        return;
    }
    const auto caret = static_cast<int>(box.toUtf16(box.cursorPosition()));
    if (hadSelection || box.hasSelectedText()) {
        QAccessibleTextSelectionEvent event(&box, static_cast<int>(box.toUtf16(box.selectionStart())),
            static_cast<int>(box.toUtf16(box.selectionEnd())));
        event.setCursorPosition(caret);
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleTextCursorEvent event(&box, caret);
        QAccessible::updateAccessibility(&event);
    }
}

QAccessibleInterface* accessibleTextBox(const QString& className, QObject* object)
{
    auto* box = qobject_cast<TextBox*>(object);
    if (box == nullptr || className != QLatin1String(TextBox::staticMetaObject.className())) {
        return nullptr;
    }
    return new TextBoxAccessible(box);
}

} // namespace morvalen::textbox
