#include "TextView.h"

#include "Utf16.h"
#include "Utf16Index.h"

#include <QPainter>
#include <QStyle>
#include <QWidget>
#include <algorithm>
#include <cctype>

namespace morvalen::textbox {
namespace {

constexpr qreal kNoWrap = 1e9;
// How far a paragraph is read for its direction.
constexpr std::size_t kDirectionReach = 4096;

void layoutOneLine(QTextLayout& layout)
{
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    layout.createLine().setLineWidth(kNoWrap);
    layout.endLayout();
}

} // namespace

qsizetype TextView::Row::unitsAt(const TextBuffer& text, std::size_t pos) const
{
    return static_cast<qsizetype>(Utf16Index::unitsIn(text.copy(start, std::min(pos, end) - start)));
}

std::unique_ptr<TextView> TextView::create(const QWidget& widget, EditModel& model, bool multiLine)
{
    if (multiLine) {
        return std::make_unique<WrappedView>(widget, model);
    }
    return std::make_unique<OneLineView>(widget, model);
}

TextView::TextView(const QWidget& widget, EditModel& model)
    : m_widget(widget)
    , m_model(model)
{
}

TextView::~TextView() = default;

int TextView::rowHeight() const
{
    return std::max(1, m_widget.fontMetrics().lineSpacing());
}

int TextView::visibleRows() const
{
    return std::max(1, contents().height() / rowHeight());
}

void TextView::restart()
{
    m_direction = {};
    m_preedit = {};
}

void TextView::edited(std::size_t)
{
    m_direction = {};
}

TextView::Row TextView::layoutRow(std::size_t start, std::size_t end, bool withPreedit) const
{
    const TextBuffer& text = m_model.text();
    Row row;
    row.start = start;
    row.end = end;
    row.layout = std::make_unique<QTextLayout>(displayed(decode(text.copy(start, end - start))), m_widget.font());
    const std::size_t caret = m_model.caret();
    if (withPreedit && !m_preedit.text.isEmpty() && caret >= start && caret <= end) {
        row.preeditAt = row.unitsAt(text, caret);
        row.layout->setPreeditArea(static_cast<int>(row.preeditAt), m_preedit.text);
        QList<QTextLayout::FormatRange> formats;
        for (const QInputMethodEvent::Attribute& attribute : m_preedit.formats) {
            const QTextCharFormat format = qvariant_cast<QTextFormat>(attribute.value).toCharFormat();
            if (attribute.type == QInputMethodEvent::TextFormat && format.isValid()) {
                formats.append({static_cast<int>(row.preeditAt) + attribute.start, attribute.length, format});
            }
        }
        row.layout->setFormats(formats);
    }
    layoutOneLine(*row.layout);
    return row;
}

bool TextView::rightToLeft(std::size_t pos)
{
    const TextBuffer& text = m_model.text();
    if (text.isAscii()) {
        return false; // Latin letters are the only strong characters in ASCII
    }
    if (m_direction.start <= pos && pos <= m_direction.end) {
        return m_direction.rightToLeft;
    }
    const auto [start, paragraphEnd] = paragraphAround(pos);
    m_direction = {start, paragraphEnd, false};
    const std::size_t end = std::min(text.size(), start + kDirectionReach);
    for (std::size_t i = start; i < end && text.at(i) != '\n'; i = text.nextCharacter(i)) {
        const auto c = static_cast<unsigned char>(text.at(i));
        if (c < 0x80 && std::isalpha(c) == 0) {
            continue;
        }
        const QChar::Direction direction
            = QChar::direction(decode(text.copy(i, text.nextCharacter(i) - i)).toUcs4().value(0));
        if (direction == QChar::DirL || direction == QChar::DirR || direction == QChar::DirAL) {
            m_direction.rightToLeft = direction != QChar::DirL;
            break;
        }
    }
    return m_direction.rightToLeft;
}

qreal TextView::indent(const Row& row)
{
    if (!rightToLeft(row.start)) {
        return 0;
    }
    return std::max<qreal>(0, contents().width() - row.layout->lineAt(0).naturalTextWidth());
}

QRect TextView::caretRect()
{
    return characterRect(m_model.caret()).adjusted(-1, 0, 1, 0);
}

QRect TextView::characterRect(std::size_t pos)
{
    const std::optional<std::size_t> shown = shownRow(pos);
    if (!shown) {
        return {};
    }
    const std::size_t row = *shown;
    const auto [start, end] = rowBounds(row);
    if (pos > end) {
        return {};
    }
    const TextBuffer& text = m_model.text();
    const Row laid = layoutRow(start, end, true);
    qsizetype units = laid.unitsAt(text, pos);
    if (laid.preeditAt >= 0 && pos == m_model.caret()) {
        units += m_preedit.cursor;
    }
    const QTextLine line = laid.layout->lineAt(0);
    const qreal x = line.cursorToX(static_cast<int>(units));
    const qreal next = pos < end ? line.cursorToX(static_cast<int>(
                           units + static_cast<qsizetype>(Utf16Index::unitsOfCharacter(text.nextCharacter(pos) - pos))))
                                 : x + m_widget.style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, &m_widget);
    const QPointF origin = rowOrigin(static_cast<std::ptrdiff_t>(row - topRow())) + QPointF(indent(laid), 0);
    const QRectF box(origin.x() + std::min(x, next), origin.y(), std::max<qreal>(1, std::abs(next - x)), line.height());
    return box.toAlignedRect().intersected(contents().adjusted(-1, 0, 1, 0));
}

std::size_t TextView::positionInRow(std::size_t row, qreal x)
{
    const TextBuffer& text = m_model.text();
    const auto [start, end] = rowBounds(row);
    const Row laid = layoutRow(start, end, false);
    const QTextLine line = laid.layout->lineAt(0);
    x -= indent(laid);
    const std::size_t pos = start
        + Utf16Index::positionIn(
            text.copy(start, end - start), static_cast<std::size_t>(std::max(line.xToCursor(x), 0)));
    // As QPlainTextEdit: past the end of a wrapped row is before its last character, on this row.
    const bool wrapped = wraps() && end > start && end < text.size() && text.at(end) != '\n';
    return wrapped && pos == end && x >= line.naturalTextWidth()
        ? m_model.step(end, Direction::Backward, Unit::Character)
        : pos;
}

void TextView::drawRow(QPainter& painter, const Row& row, QPointF origin, bool caretShown) const
{
    const TextBuffer& text = m_model.text();
    const QPalette& palette = m_widget.palette();
    QList<QTextLayout::FormatRange> selections;
    const std::size_t from = std::max(m_model.selectionStart(), row.start);
    const std::size_t to = std::min(m_model.selectionEnd(), row.end);
    if (m_model.hasSelection() && from < to) {
        QTextLayout::FormatRange range;
        range.start = static_cast<int>(row.unitsAt(text, from));
        range.length = static_cast<int>(row.unitsAt(text, to) - range.start);
        range.format.setBackground(palette.brush(QPalette::Highlight));
        range.format.setForeground(palette.brush(QPalette::HighlightedText));
        if (row.preeditAt >= 0 && range.start >= row.preeditAt) {
            range.start += static_cast<int>(m_preedit.text.size());
        }
        selections.append(range);
    }
    painter.setPen(palette.color(QPalette::Text));
    row.layout->draw(&painter, origin, selections);
    const std::size_t caret = m_model.caret();
    if (caretShown && caret >= row.start && caret <= row.end) {
        qsizetype units = row.unitsAt(text, caret);
        if (row.preeditAt >= 0) {
            units += m_preedit.cursor;
        }
        row.layout->drawCursor(&painter, origin, static_cast<int>(units),
            m_widget.style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, &m_widget));
    }
}

void TextView::paint(QPainter& painter, const QRect& exposed, bool caretShown)
{
    const QRect area = contents();
    painter.setClipRect(area.adjusted(-1, 0, 1, 0).intersected(exposed));
    const int height = rowHeight();
    const std::size_t top = topRow();
    const std::size_t rows = rowsToPaint();
    for (std::size_t row = top; row < top + rows; ++row) {
        const QPointF origin = rowOrigin(static_cast<std::ptrdiff_t>(row - top));
        if (!QRectF(origin, QSizeF(area.width(), height)).intersects(exposed)) {
            continue;
        }
        const auto [start, end] = rowBounds(row);
        const Row laid = layoutRow(start, end, true);
        drawRow(painter, laid, origin + QPointF(indent(laid), 0), caretShown);
    }
}

void TextView::ensureSelectionVisible()
{
    ensureCaretVisible();
    const std::size_t caret = m_model.caret();
    const std::size_t anchor = m_model.anchor();
    // A selection longer than any view can show keeps just the caret in view; this also keeps a
    // select-all of a long text from being laid out to its end.
    const std::size_t reach = anchor > caret ? anchor - caret : caret - anchor;
    if (reach != 0 && reach <= kMaxRowBytes) {
        showAnchor(caret, anchor);
    }
}

} // namespace morvalen::textbox
