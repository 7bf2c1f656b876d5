#include "TextBoxAccessible.h"

#include "TextBuffer.h"
#include "Utf16.h"

#include <QAccessibleWidget>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QWidget>
#include <algorithm>
#include <cstring>

namespace morvalen::textbox {
namespace {

// Words, sentences and paragraphs are looked for this many bytes either side of the offset asked
// about: one longer than that (the key is one paragraph of tens of megabytes) is answered by the
// stretch around the offset, so that no answer walks the whole text.
constexpr std::size_t kReach = 8192;

// A range of UTF-16 offsets; (-1, -1) is Qt's "no such item".
struct Range
{
    int start = -1;
    int end = -1;
};

// The text around an offset as Qt strings hold it, and where it starts.
struct Stretch
{
    QString text;
    int start = 0;
};

// Characters Qt's text engine ends words at besides blanks (QTextEngine::atWordSeparator).
bool wordSeparator(QChar c)
{
    return c.unicode() < 0x80 && std::strchr(".,?!@#$:;-<>[](){}=/+%&^*'\"`~|\\", static_cast<char>(c.unicode()))
        && c.unicode() != 0;
}

// Offsets here are UTF-16 code units, as Qt's accessibility counts them; the box counts bytes.
// The answers are those of Qt's own boxes: QLineEdit's (the text interface's defaults) for a
// one-line box, QPlainTextEdit's (a text cursor's moves) for a multi-line one.
class TextBoxAccessible : public QAccessibleWidget,
                          public QAccessibleTextInterface,
                          public QAccessibleEditableTextInterface
{
public:
    TextBoxAccessible(QWidget* widget, AccessibleText& box)
        : QAccessibleWidget(widget, QAccessible::EditableText)
        , m_box(box)
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
        return answer(multiLine() ? documentAt(resolved(offset), boundary) : lineAt(0, offset, boundary), start, end);
    }
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundary, int* start, int* end) const override
    {
        if (!multiLine()) {
            return answer(lineAt(-1, offset, boundary), start, end);
        }
        // As a text cursor: before the first item it cannot move, and stays where it was.
        const int at = resolved(offset);
        const int before = documentAt(at, boundary).start - 1;
        return answer(documentAt(before < 0 ? at : before, boundary), start, end);
    }
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundary, int* start, int* end) const override
    {
        if (!multiLine()) {
            return answer(lineAt(1, offset, boundary), start, end);
        }
        return answer(documentAt(documentAt(resolved(offset), boundary).end, boundary), start, end);
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

    QString answer(Range range, int* start, int* end) const
    {
        *start = range.start;
        *end = range.end;
        return range.start < 0 ? QString() : text(range.start, range.end);
    }

    // [from, to) in bytes, as a stretch.
    Stretch stretch(std::size_t from, std::size_t to) const
    {
        from = buffer().characterStart(from);
        to = buffer().characterStart(to);
        return {box().textRange(from, to), units(from)};
    }

    // The paragraph around pos as [start, end) without its line break, looked for within kReach.
    std::pair<std::size_t, std::size_t> paragraphAround(std::size_t pos) const
    {
        const TextBuffer& text = buffer();
        const std::size_t low = pos > kReach ? pos - kReach : 0;
        const std::size_t high = std::min(text.size(), pos + kReach);
        std::size_t start = low;
        for (std::size_t i = pos; i > low; --i) {
            if (text.at(i - 1) == '\n') {
                start = i;
                break;
            }
        }
        std::size_t end = high;
        for (std::size_t i = pos; i < high; ++i) {
            if (text.at(i) == '\n') {
                end = i;
                break;
            }
        }
        return {start, end};
    }

    // ---- One line, as QLineEdit: -2 is the caret, -1 the end; out of range is no item.

    Range lineAt(int which, int offset, QAccessible::TextBoundaryType boundary) const
    {
        const int count = characterCount();
        offset = offset == -2 ? cursorPosition() : offset == -1 ? count : offset;
        const bool outside = which < 0 ? offset <= 0 || offset > count
            : which > 0                ? offset < 0 || offset >= count
                                       : offset < 0 || offset > count;
        if (count == 0 || outside || (which == 0 && offset == count && boundary == QAccessible::CharBoundary)) {
            return {};
        }
        QTextBoundaryFinder::BoundaryType type = QTextBoundaryFinder::Grapheme;
        switch (boundary) {
        case QAccessible::CharBoundary: break;
        case QAccessible::WordBoundary: type = QTextBoundaryFinder::Word; break;
        case QAccessible::SentenceBoundary: type = QTextBoundaryFinder::Sentence; break;
        case QAccessible::LineBoundary:
        case QAccessible::ParagraphBoundary: return lineBreaksAround(which, offset, count);
        case QAccessible::NoBoundary: return which == 0 ? Range {0, count} : Range {};
        }
        const std::size_t pos = bytes(offset);
        const Stretch around = stretch(pos > kReach ? pos - kReach : 0, pos + kReach);
        QTextBoundaryFinder finder(type, around.text);
        finder.setPosition(offset - around.start);
        const auto item = [&finder] {
            return (finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem))
                != 0;
        };
        Range range;
        if (which <= 0) {
            do {
                if (item()) {
                    break;
                }
            } while (finder.toPreviousBoundary() > 0);
            if (which < 0) {
                range.end = static_cast<int>(finder.position());
                while (finder.toPreviousBoundary() > 0 && !item()) { }
                range.start = static_cast<int>(finder.position());
            } else {
                range.start = static_cast<int>(finder.position());
                // At the very end there is no next boundary (Qt's own loop would not stop there).
                for (int to = 0; to >= 0 && to < around.text.size();) {
                    to = static_cast<int>(finder.toNextBoundary());
                    if (item()) {
                        break;
                    }
                }
                range.end = std::max(range.start, static_cast<int>(finder.position()));
            }
        } else {
            const auto next = [&] {
                for (;;) {
                    const auto to = finder.toNextBoundary();
                    if (item() || to < 0 || to >= around.text.size()) {
                        return static_cast<int>(finder.position());
                    }
                }
            };
            range.start = next();
            range.end = next();
            if (range.start == -1 || range.end == -1 || range.start == range.end) {
                return {};
            }
        }
        return {range.start + around.start, range.end + around.start};
    }

    // Lines of a one-line box are its paragraphs, with their line breaks (which pasting can
    // bring in), as QAccessibleTextInterface's default finds them.
    Range lineBreaksAround(int which, int offset, int count) const
    {
        const TextBuffer& text = buffer();
        // QString::indexOf and lastIndexOf of a line break, from an offset, in units.
        const auto indexOf = [&](int from) {
            const std::size_t at = text.find('\n', bytes(from));
            return at == TextBuffer::npos ? -1 : units(at);
        };
        const auto lastIndexOf = [&](int from) {
            const std::size_t at = text.findBackward('\n', bytes(from) + 1);
            return at == TextBuffer::npos ? -1 : units(at);
        };
        if (which > 0) {
            offset = indexOf(std::min(offset, count - 1));
            if (offset < 0) {
                return {};
            }
            ++offset;
        } else if (which < 0) {
            offset = lastIndexOf(std::max(offset - 1, 0));
            if (offset < 0) {
                return {};
            }
        }
        Range range {offset > 0 ? lastIndexOf(offset - 1) + 1 : 0, indexOf(std::min(offset, count - 1)) + 1};
        if (range.end <= 0 || range.end > count) {
            range.end = count;
        }
        return range;
    }

    // ---- More lines, as QPlainTextEdit: an offset a text cursor cannot take leaves it at the caret.

    int resolved(int offset) const { return offset < 0 || offset > characterCount() ? cursorPosition() : offset; }

    Range documentAt(int offset, QAccessible::TextBoundaryType boundary) const
    {
        const int count = characterCount();
        const std::size_t pos = bytes(offset);
        switch (boundary) {
        case QAccessible::CharBoundary:
            if (units(pos) != offset) {
                return {offset, offset + 1}; // inside a surrogate pair, as a text cursor steps
            }
            return {offset, offset == count ? offset : units(box().nextCursorPosition(pos, false))};
        case QAccessible::WordBoundary: {
            const int start = startOfWord(pos);
            return {start, endOfWord(bytes(start))};
        }
        case QAccessible::SentenceBoundary: return sentenceAround(pos);
        case QAccessible::LineBoundary: {
            // A wrapped row ends before the blank it broke at; the last row of a paragraph
            // before its line break.
            const auto [start, end] = box().rowAround(pos);
            const bool wrapped = end < buffer().size() && buffer().at(end) != '\n' && end > start;
            const std::size_t last = wrapped ? buffer().previousCharacter(end) : end;
            const bool blank = wrapped && box().textRange(last, end).front().isSpace();
            return {units(start), units(blank ? last : end)};
        }
        case QAccessible::ParagraphBoundary: {
            const auto [start, end] = paragraphAround(pos);
            return {units(start), units(end)};
        }
        case QAccessible::NoBoundary: break;
        }
        return {0, count};
    }

    // A text cursor's StartOfWord: from just past pos back over a word, within the paragraph.
    int startOfWord(std::size_t pos) const
    {
        const auto [first, last] = paragraphAround(pos);
        if (pos == first) {
            return units(pos);
        }
        const Stretch paragraph = stretch(first, last);
        const int at = units(pos) - paragraph.start;
        const QChar before = paragraph.text.at(at - 1);
        if (pos == last && (before.isSpace() || wordSeparator(before))) {
            return units(pos);
        }
        QTextLayout layout(paragraph.text);
        return paragraph.start + layout.previousCursorPosition(pos < last ? at + 1 : at, QTextLayout::SkipWords);
    }

    // A text cursor's EndOfWord: over a run of separators, or else of word characters.
    int endOfWord(std::size_t pos) const
    {
        const auto [first, last] = paragraphAround(pos);
        const Stretch paragraph = stretch(pos, last);
        int at = 0;
        const int length = static_cast<int>(paragraph.text.size());
        if (length == 0) {
            return paragraph.start;
        }
        if (wordSeparator(paragraph.text.at(0))) {
            while (at < length && wordSeparator(paragraph.text.at(at))) {
                ++at;
            }
        } else {
            while (at < length && !paragraph.text.at(at).isSpace() && !wordSeparator(paragraph.text.at(at))) {
                ++at;
            }
        }
        (void)first;
        return paragraph.start + at;
    }

    Range sentenceAround(std::size_t pos) const
    {
        const auto [first, last] = paragraphAround(pos);
        const Stretch paragraph = stretch(first, last);
        const int at = units(pos) - paragraph.start;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Sentence, paragraph.text);
        finder.setPosition(at);
        int previous = at;
        if ((finder.boundaryReasons() & QTextBoundaryFinder::StartOfItem) == 0) {
            previous = static_cast<int>(finder.toPreviousBoundary());
        }
        const auto next = static_cast<int>(finder.toNextBoundary());
        Range range {paragraph.start, paragraph.start + static_cast<int>(paragraph.text.size())};
        if (next != -1) {
            range.end = paragraph.start + next;
        }
        if (previous != -1) {
            range.start += previous;
        }
        return range;
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
        const auto [first, last] = paragraphAround(bytes(offset));
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
};

} // namespace

QAccessibleInterface* accessibleText(QWidget* widget, AccessibleText& box)
{
    return new TextBoxAccessible(widget, box);
}

} // namespace morvalen::textbox
