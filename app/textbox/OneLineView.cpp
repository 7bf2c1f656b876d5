// The one-line view: QLineEdit's margins, one row from the first character in view, scrolled
// sideways to keep the caret in view.
#include "TextView.h"

#include <QStyle>
#include <QStyleOptionFrame>
#include <QWidget>
#include <algorithm>

namespace morvalen::textbox {
namespace {

// QLineEdit's margins inside the frame.
constexpr int kHorizontalMargin = 2;
constexpr int kVerticalMargin = 1;

} // namespace

void OneLineView::restart()
{
    TextView::restart();
    m_scrollStart = 0;
}

void OneLineView::edited(std::size_t pos)
{
    TextView::edited(pos);
    const TextBuffer& text = m_model.text();
    if (m_scrollStart > text.size()) {
        m_scrollStart = text.characterStart(text.size());
    }
}

QRect OneLineView::contents() const
{
    const QStyle* style = m_widget.style();
    QStyleOptionFrame panel;
    panel.initFrom(&m_widget);
    panel.rect = m_widget.rect();
    panel.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, &m_widget);
    const QRect inner = style->subElementRect(QStyle::SE_LineEditContents, &panel, &m_widget);
    return inner.adjusted(kHorizontalMargin, kVerticalMargin, -kHorizontalMargin, -kVerticalMargin);
}

// A single row from the first character in view to past the right edge.
std::pair<std::size_t, std::size_t> OneLineView::rowBounds(std::size_t)
{
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

std::optional<std::size_t> OneLineView::shownRow(std::size_t pos)
{
    return pos < m_scrollStart ? std::nullopt : std::optional<std::size_t>(0);
}

// The row stands in the middle of the box's height.
QPointF OneLineView::rowOrigin(std::ptrdiff_t) const
{
    const QRect area = contents();
    return {static_cast<qreal>(area.left()),
        static_cast<qreal>(area.top() + (area.height() - m_widget.fontMetrics().height() + 1) / 2)};
}

std::size_t OneLineView::positionAt(QPoint point)
{
    return positionInRow(0, point.x() - contents().left());
}

qreal OneLineView::room() const
{
    return std::max<qreal>(
        1, contents().width() - m_widget.style()->pixelMetric(QStyle::PM_TextCursorWidth, nullptr, &m_widget));
}

// The width of [from, to), laid out as one piece.
qreal OneLineView::span(std::size_t from, std::size_t to) const
{
    return layoutRow(from, to, true).layout->lineAt(0).naturalTextWidth();
}

// The first cursor position from which [it, to) fits the width.
std::size_t OneLineView::fitBackward(std::size_t to, qreal width) const
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

void OneLineView::ensureCaretVisible()
{
    const std::size_t caret = m_model.caret();
    const qreal width = room();
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

void OneLineView::showAnchor(std::size_t caret, std::size_t anchor)
{
    const qreal width = room();
    if (anchor < m_scrollStart && span(anchor, caret) <= width) {
        m_scrollStart = anchor;
    } else if (anchor > caret && span(m_scrollStart, anchor) > width && span(caret, anchor) <= width) {
        m_scrollStart = fitBackward(anchor, width);
    }
}

} // namespace morvalen::textbox
