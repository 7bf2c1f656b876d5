#include "TextView.h"

#include "Utf16.h"
#include "Utf16Index.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextLayout>
#include <QWidget>
#include <algorithm>
#include <cctype>
#include <memory>

namespace morvalen::textbox {
namespace {

// Margins inside the frame: QLineEdit's for one line, QPlainTextEdit's document margin for more.
constexpr int kHorizontalMargin = 2;
constexpr int kVerticalMargin = 1;
constexpr int kDocumentMargin = 4;
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

struct TextView::Row
{
    std::size_t start = 0;
    std::size_t end = 0; // without the line break
    std::unique_ptr<QTextLayout> layout;
    qsizetype preeditAt = -1; // where the preedit stands in the row's text, in units

    // Units of the row's text up to a byte offset in the row, the preedit not counted.
    qsizetype unitsAt(const TextBuffer& text, std::size_t pos) const
    {
        return static_cast<qsizetype>(Utf16Index::unitsIn(text.copy(start, std::min(pos, end) - start)));
    }
};

TextView::TextView(const QWidget& widget, EditModel& model)
    : m_widget(widget)
    , m_model(model)
    , m_rows(model.text(), m_measure)
{
    m_measure.setFont(widget.font());
}

TextView::~TextView() = default;

QRect TextView::contents() const
{
    const QStyle* style = m_widget.style();
    if (m_model.isMultiLine()) {
        const int margin = style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &m_widget) + kDocumentMargin;
        return m_widget.rect().adjusted(margin, margin, -margin, -margin);
    }
    QStyleOptionFrame panel;
    panel.initFrom(&m_widget);
    panel.rect = m_widget.rect();
    panel.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, &m_widget);
    const QRect inner = style->subElementRect(QStyle::SE_LineEditContents, &panel, &m_widget);
    return inner.adjusted(kHorizontalMargin, kVerticalMargin, -kHorizontalMargin, -kVerticalMargin);
}

int TextView::rowHeight() const
{
    return std::max(1, m_widget.fontMetrics().lineSpacing());
}

int TextView::visibleRows() const
{
    return std::max(1, contents().height() / rowHeight());
}

void TextView::invalidate()
{
    m_measure.setFont(m_widget.font());
    // Rows as wide as QPlainTextEdit's lines: the caret after a full row draws in the margin.
    m_measure.setWidth(contents().width());
    m_rows.reset();
    ensureCaretVisible();
}

void TextView::restart()
{
    m_direction = {};
    m_preedit = {};
    m_topRow = 0;
    m_scrollStart = 0;
    m_rows.reset();
}

void TextView::edited(std::size_t pos)
{
    m_direction = {};
    m_rows.edited(pos);
    const TextBuffer& text = m_model.text();
    if (m_scrollStart > text.size()) {
        m_scrollStart = text.characterStart(text.size());
    }
}

// One-line boxes show a single row from the first character in view to past the right edge.
std::pair<std::size_t, std::size_t> TextView::rowBounds(std::size_t row)
{
    if (m_model.isMultiLine()) {
        return {m_rows.rowStart(row), m_rows.rowTextEnd(row)};
    }
    const TextBuffer& text = m_model.text();
    const qreal width = contents().width();
    const int average = std::max(1, m_widget.fontMetrics().averageCharWidth());
    for (std::size_t window = 64 + static_cast<std::size_t>(width / average);; window *= 4) {
        window = std::min(window, kMaxRowBytes);
        const std::size_t end = text.characterStart(std::min(text.size(), m_scrollStart + window));
        if (end == text.size() || window == kMaxRowBytes
            || layoutRow(m_scrollStart, end, false).layout->lineAt(0).naturalTextWidth() > width) {
            return {m_scrollStart, end};
        }
    }
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
    const bool multiLine = m_model.isMultiLine();
    const std::size_t start = multiLine ? m_model.paragraphStart(pos) : 0;
    m_direction = {start, multiLine ? m_model.paragraphEnd(pos) : text.size(), false};
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

// The width of [from, to), laid out as one piece.
qreal TextView::span(std::size_t from, std::size_t to) const
{
    return layoutRow(from, to, true).layout->lineAt(0).naturalTextWidth();
}

// The row's top-left corner in widget coordinates, for a row in view.
QPointF TextView::rowOrigin(std::ptrdiff_t rowInView) const
{
    const QRect area = contents();
    if (!m_model.isMultiLine()) {
        return {static_cast<qreal>(area.left()),
            static_cast<qreal>(area.top() + (area.height() - m_widget.fontMetrics().height() + 1) / 2)};
    }
    return {static_cast<qreal>(area.left()), area.top() + static_cast<qreal>(rowInView) * rowHeight()};
}

std::pair<std::size_t, std::size_t> TextView::rowAround(std::size_t pos)
{
    if (!m_model.isMultiLine()) {
        return {0, m_model.text().size()};
    }
    const std::size_t row = m_rows.rowOf(pos);
    return {m_rows.rowStart(row), m_rows.rowTextEnd(row)};
}

QRect TextView::caretRect()
{
    return characterRect(m_model.caret()).adjusted(-1, 0, 1, 0);
}

QRect TextView::characterRect(std::size_t pos)
{
    const bool multiLine = m_model.isMultiLine();
    const std::size_t row = multiLine ? m_rows.rowOf(pos) : 0;
    if (row < m_topRow || (!multiLine && pos < m_scrollStart)) {
        return {};
    }
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
    const QPointF origin = rowOrigin(static_cast<std::ptrdiff_t>(row - m_topRow)) + QPointF(indent(laid), 0);
    const QRectF box(origin.x() + std::min(x, next), origin.y(), std::max<qreal>(1, std::abs(next - x)), line.height());
    return box.toAlignedRect().intersected(contents().adjusted(-1, 0, 1, 0));
}

std::size_t TextView::positionAt(QPoint point)
{
    const QRect area = contents();
    std::size_t row = 0;
    if (m_model.isMultiLine()) {
        const int offset = (point.y() - area.top()) / rowHeight() - (point.y() < area.top() ? 1 : 0);
        const std::ptrdiff_t wanted = static_cast<std::ptrdiff_t>(m_topRow) + offset;
        const std::size_t known = m_rows.ensureRows(static_cast<std::size_t>(std::max<std::ptrdiff_t>(wanted, 0)) + 1);
        // As QPlainTextEdit: above the first row is the start, below the last the end.
        if (wanted < 0 || static_cast<std::size_t>(wanted) >= known) {
            return wanted < 0 ? 0 : m_model.text().size();
        }
        row = static_cast<std::size_t>(wanted);
    }
    return positionInRow(row, point.x() - area.left());
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
    const bool wrapped = m_model.isMultiLine() && end > start && end < text.size() && text.at(end) != '\n';
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
    const bool multiLine = m_model.isMultiLine();
    const std::size_t rows = multiLine ? static_cast<std::size_t>(visibleRows() + 1) : 1;
    const std::size_t known = multiLine ? m_rows.ensureRows(m_topRow + rows) : 1;
    for (std::size_t row = m_topRow; row < std::min(known, m_topRow + rows); ++row) {
        const QPointF origin = rowOrigin(static_cast<std::ptrdiff_t>(row - m_topRow));
        if (!QRectF(origin, QSizeF(area.width(), height)).intersects(exposed)) {
            continue;
        }
        const auto [start, end] = rowBounds(row);
        const Row laid = layoutRow(start, end, true);
        drawRow(painter, laid, origin + QPointF(indent(laid), 0), caretShown);
    }
}

// The first cursor position from which [it, to) fits the width.
std::size_t TextView::fitBackward(std::size_t to, qreal width) const
{
    const TextBuffer& text = m_model.text();
    for (std::size_t reach = 64 + static_cast<std::size_t>(width);; reach *= 4) {
        reach = std::min(reach, kMaxRowBytes); // a run of marks fits however far back it goes
        const std::size_t from = text.characterStart(to > reach ? to - reach : 0);
        const Row row = layoutRow(from, to, true);
        const QTextLine line = row.layout->lineAt(0);
        const qreal excess = line.naturalTextWidth() - width;
        if (excess <= 0 && from > 0 && reach < kMaxRowBytes) {
            continue;
        }
        if (excess <= 0) {
            return from;
        }
        int units = line.xToCursor(excess, QTextLine::CursorBetweenCharacters);
        while (units < row.layout->text().size() && line.cursorToX(units) < excess) {
            units = row.layout->nextCursorPosition(units);
        }
        return from + Utf16Index::positionIn(text.copy(from, to - from), static_cast<std::size_t>(std::max(units, 0)));
    }
}

void TextView::ensureCaretVisible()
{
    const std::size_t caret = m_model.caret();
    if (m_model.isMultiLine()) {
        const std::size_t row = m_rows.rowOf(caret);
        const auto fullRows = static_cast<std::size_t>(visibleRows());
        if (row < m_topRow) {
            m_topRow = row;
        } else if (row >= m_topRow + fullRows) {
            m_topRow = row - fullRows + 1;
        }
        scrollRows(0);
        return;
    }
    const qreal width = std::max<qreal>(
        1, contents().width() - m_widget.style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, &m_widget));
    if (caret < m_scrollStart) {
        m_scrollStart = caret;
    } else if (caret - m_scrollStart > static_cast<std::size_t>(width) * 4 || span(m_scrollStart, caret) > width) {
        m_scrollStart = fitBackward(caret, width);
    } else if (m_scrollStart > 0) {
        // Text removed at the end leaves no room unused while earlier text is scrolled away.
        const auto [start, end] = rowBounds(0);
        if (end == m_model.text().size() && span(start, end) < width) {
            m_scrollStart = std::min(m_scrollStart, fitBackward(end, width));
        }
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
    if (reach == 0 || reach > kMaxRowBytes) {
        return;
    }
    if (m_model.isMultiLine()) {
        const std::size_t caretRow = m_rows.rowOf(caret);
        // The row of the selection's last character, which a wrapped row's end leaves behind.
        const std::size_t anchorRow = m_rows.rowOf(anchor > caret ? m_model.text().previousCharacter(anchor) : anchor);
        const auto fullRows = static_cast<std::size_t>(visibleRows());
        if (anchorRow < m_topRow && caretRow - anchorRow < fullRows) {
            m_topRow = anchorRow;
        } else if (anchorRow >= m_topRow + fullRows && anchorRow - caretRow < fullRows) {
            m_topRow = anchorRow - fullRows + 1;
        }
        scrollRows(0);
        return;
    }
    const qreal width = std::max<qreal>(
        1, contents().width() - m_widget.style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, &m_widget));
    if (anchor < m_scrollStart && span(anchor, caret) <= width) {
        m_scrollStart = anchor;
    } else if (anchor > caret && span(m_scrollStart, anchor) > width && span(caret, anchor) <= width) {
        m_scrollStart = fitBackward(anchor, width);
    }
}

bool TextView::scrollRows(std::ptrdiff_t rows)
{
    if (!m_model.isMultiLine()) {
        return false;
    }
    const auto shown = static_cast<std::size_t>(visibleRows());
    std::ptrdiff_t top = std::max<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(m_topRow) + rows, 0);
    const std::size_t known = m_rows.ensureRows(static_cast<std::size_t>(top) + shown);
    if (m_rows.complete()) {
        top = std::min<std::ptrdiff_t>(top, static_cast<std::ptrdiff_t>(known > shown ? known - shown : 0));
    }
    if (static_cast<std::size_t>(top) == m_topRow) {
        return false;
    }
    m_topRow = static_cast<std::size_t>(top);
    return true;
}

std::optional<TextView::VerticalMove> TextView::verticalTarget(int rows, bool keepAnchor)
{
    const std::size_t row = m_rows.rowOf(m_model.caret());
    if (!m_model.goalColumn()) {
        const auto [start, end] = rowBounds(row);
        const Row laid = layoutRow(start, end, false);
        m_model.setGoalColumn(indent(laid)
            + laid.layout->lineAt(0).cursorToX(static_cast<int>(laid.unitsAt(m_model.text(), m_model.caret()))));
    }
    const std::ptrdiff_t wanted = static_cast<std::ptrdiff_t>(row) + rows;
    const bool past
        = wanted < 0 || m_rows.ensureRows(static_cast<std::size_t>(wanted) + 1) <= static_cast<std::size_t>(wanted);
    if (past && !keepAnchor && (rows == 1 || rows == -1)) {
        return std::nullopt; // as QPlainTextEdit: Up on the first row and Down on the last do nothing
    }
    if (past) {
        return VerticalMove {wanted < 0 ? 0 : m_model.text().size(), false};
    }
    return VerticalMove {positionInRow(static_cast<std::size_t>(wanted), *m_model.goalColumn()), true};
}

} // namespace morvalen::textbox
