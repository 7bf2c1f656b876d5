// The wrapped view: QPlainTextEdit's document margin, rows from the row table wrapped anywhere at
// the width, shown from a top row and scrolled by rows.
#include "TextView.h"

#include <QStyle>
#include <QWidget>
#include <algorithm>

namespace morvalen::textbox {
namespace {

// QPlainTextEdit's document margin inside the frame.
constexpr int kDocumentMargin = 4;

} // namespace

WrappedView::WrappedView(const QWidget& widget, EditModel& model)
    : TextView(widget, model)
    , m_rows(model.text(), m_measure)
{
    m_measure.setFont(widget.font());
}

void WrappedView::invalidate()
{
    m_measure.setFont(m_widget.font());
    // Rows as wide as QPlainTextEdit's lines: the caret after a full row draws in the margin.
    m_measure.setWidth(contents().width());
    m_rows.reset();
    ensureCaretVisible();
}

void WrappedView::restart()
{
    TextView::restart();
    m_topRow = 0;
    m_rows.reset();
}

void WrappedView::edited(std::size_t pos)
{
    TextView::edited(pos);
    m_rows.edited(pos);
}

QRect WrappedView::contents() const
{
    const int margin
        = m_widget.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &m_widget) + kDocumentMargin;
    return m_widget.rect().adjusted(margin, margin, -margin, -margin);
}

std::pair<std::size_t, std::size_t> WrappedView::rowBounds(std::size_t row)
{
    return {m_rows.rowStart(row), m_rows.rowTextEnd(row)};
}

std::pair<std::size_t, std::size_t> WrappedView::rowAround(std::size_t pos)
{
    return rowBounds(m_rows.rowOf(pos));
}

std::optional<std::size_t> WrappedView::shownRow(std::size_t pos)
{
    const std::size_t row = m_rows.rowOf(pos);
    return row < m_topRow ? std::nullopt : std::optional<std::size_t>(row);
}

std::size_t WrappedView::rowsToPaint()
{
    const auto rows = static_cast<std::size_t>(visibleRows() + 1);
    const std::size_t known = m_rows.ensureRows(m_topRow + rows);
    return std::min(known, m_topRow + rows) - std::min(known, m_topRow);
}

QPointF WrappedView::rowOrigin(std::ptrdiff_t rowInView) const
{
    const QRect area = contents();
    return {static_cast<qreal>(area.left()), area.top() + static_cast<qreal>(rowInView) * rowHeight()};
}

std::size_t WrappedView::positionAt(QPoint point)
{
    const QRect area = contents();
    const int offset = (point.y() - area.top()) / rowHeight() - (point.y() < area.top() ? 1 : 0);
    const std::ptrdiff_t wanted = static_cast<std::ptrdiff_t>(m_topRow) + offset;
    const std::size_t known = m_rows.ensureRows(static_cast<std::size_t>(std::max<std::ptrdiff_t>(wanted, 0)) + 1);
    // As QPlainTextEdit: above the first row is the start, below the last the end.
    if (wanted < 0 || static_cast<std::size_t>(wanted) >= known) {
        return wanted < 0 ? 0 : m_model.text().size();
    }
    return positionInRow(static_cast<std::size_t>(wanted), point.x() - area.left());
}

void WrappedView::ensureCaretVisible()
{
    const std::size_t row = m_rows.rowOf(m_model.caret());
    const auto fullRows = static_cast<std::size_t>(visibleRows());
    if (row < m_topRow) {
        m_topRow = row;
    } else if (row >= m_topRow + fullRows) {
        m_topRow = row - fullRows + 1;
    }
    scrollRows(0);
}

void WrappedView::showAnchor(std::size_t caret, std::size_t anchor)
{
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
}

bool WrappedView::scrollRows(std::ptrdiff_t rows)
{
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

std::optional<TextView::VerticalMove> WrappedView::verticalTarget(int rows, bool keepAnchor)
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
