// How a box shows its text: the visible rows, each laid out by a small QTextLayout of its own,
// hit testing, the caret in view and scrolling, for one-line and multi-line boxes. One-line boxes
// scroll sideways to keep the caret in view; multi-line boxes wrap anywhere at their width (the
// row table), insert no characters and show no scroll bars.
#pragma once

#include "EditController.h"
#include "EditModel.h"
#include "FontRowMeasure.h"
#include "RowTable.h"

#include <QInputMethodEvent>
#include <QList>
#include <QPointF>
#include <QRect>
#include <QString>
#include <cstddef>
#include <optional>
#include <utility>

class QPainter;
class QWidget;

namespace morvalen::textbox {

// What an input method is composing at the caret: shown, not yet in the text.
struct Preedit
{
    QString text;
    int cursor = 0;
    QList<QInputMethodEvent::Attribute> formats;
};

class TextView
{
public:
    TextView(const QWidget& widget, EditModel& model);
    ~TextView();
    TextView(const TextView&) = delete;
    TextView& operator=(const TextView&) = delete;

    Preedit& preedit() noexcept { return m_preedit; }
    RowTable& rows() noexcept { return m_rows; }
    std::size_t topRow() const noexcept { return m_topRow; }

    // A new font, width or mode: every row is measured again.
    void invalidate();
    // The text was replaced from code: the view starts over at the top.
    void restart();
    // The text changed at pos.
    void edited(std::size_t pos);

    QRect contents() const;
    int rowHeight() const;
    int visibleRows() const;
    // The row that holds pos, as [start, end) without its line break.
    std::pair<std::size_t, std::size_t> rowAround(std::size_t pos);
    // Where the character at pos stands, in widget coordinates; empty when it is out of view.
    QRect characterRect(std::size_t pos);
    QRect caretRect();
    std::size_t positionAt(QPoint point);

    // Scrolls so the caret is in view; true if the view moved.
    void ensureCaretVisible();
    // Scrolls so the caret is in view and, where the selection fits the view, all of it.
    void ensureSelectionVisible();
    // Multi-line: scrolls by rows, never past the last; true if the view moved.
    bool scrollRows(std::ptrdiff_t rows);
    // Multi-line: where the caret lands `rows` rows up or down at the goal column, which it sets
    // if unset; nothing when it would go past the first or last row by one. Going to the very
    // start or end takes the column from there, as in QPlainTextEdit.
    using VerticalMove = LayoutQueries::VerticalMove;
    std::optional<VerticalMove> verticalTarget(int rows, bool keepAnchor);

    void paint(QPainter& painter, const QRect& exposed, bool caretShown);

    // Whether the paragraph that holds pos runs right to left, by its first strong character (of
    // the whole text in a one-line box), as Qt's boxes decide it.
    bool rightToLeft(std::size_t pos);

private:
    struct Row;
    std::pair<std::size_t, std::size_t> rowBounds(std::size_t row);
    Row layoutRow(std::size_t start, std::size_t end, bool withPreedit) const;
    std::size_t positionInRow(std::size_t row, qreal x);
    QPointF rowOrigin(std::ptrdiff_t rowInView) const;
    void drawRow(QPainter& painter, const Row& row, QPointF origin, bool caretShown) const;
    std::size_t fitBackward(std::size_t to, qreal width) const;
    // How far a laid-out row stands in from the left: a right-to-left row that fits sits against
    // the right edge.
    qreal indent(const Row& row);
    qreal span(std::size_t from, std::size_t to) const;

    const QWidget& m_widget;
    EditModel& m_model;
    FontRowMeasure m_measure;
    RowTable m_rows;
    Preedit m_preedit;
    std::size_t m_topRow = 0; // multi-line: the first row in view
    std::size_t m_scrollStart = 0; // one-line: the first character in view
    // The direction of the last paragraph asked about, until the next edit.
    struct ParagraphDirection
    {
        std::size_t start = TextBuffer::npos;
        std::size_t end = 0;
        bool rightToLeft = false;
    } m_direction;
};

} // namespace morvalen::textbox
