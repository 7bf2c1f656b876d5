// How a box shows its text: the rows in view, each laid out by a small QTextLayout of its own,
// hit testing, the caret in view and scrolling. One interface, two views, as Qt keeps QLineEdit
// apart from QPlainTextEdit: a one-line view that scrolls sideways to keep the caret in view, and
// a wrapped view that wraps anywhere at the box's width (the row table) and scrolls by rows from
// its top row. Neither inserts characters or shows scroll bars.
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
#include <QTextLayout>
#include <cstddef>
#include <memory>
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
    using VerticalMove = LayoutQueries::VerticalMove;

    // The view for a one-line or a multi-line box.
    static std::unique_ptr<TextView> create(const QWidget& widget, EditModel& model, bool multiLine);
    virtual ~TextView();
    TextView(const TextView&) = delete;
    TextView& operator=(const TextView&) = delete;

    Preedit& preedit() noexcept { return m_preedit; }

    // A new font, width or mode: every row is measured again.
    virtual void invalidate() { ensureCaretVisible(); }
    // The text was replaced from code: the view starts over at the top.
    virtual void restart();
    // The text changed at pos.
    virtual void edited(std::size_t pos);

    virtual QRect contents() const = 0;
    int rowHeight() const;
    int visibleRows() const;
    // The row that holds pos, as [start, end) without its line break.
    virtual std::pair<std::size_t, std::size_t> rowAround(std::size_t pos) = 0;
    // Where the character at pos stands, in widget coordinates; empty when it is out of view.
    QRect characterRect(std::size_t pos);
    QRect caretRect();
    virtual std::size_t positionAt(QPoint point) = 0;
    // Whether a drag at point is past the edges the view scrolls across, so it scrolls on.
    virtual bool beyondView(QPoint point) const = 0;

    // Scrolls so the caret is in view.
    virtual void ensureCaretVisible() = 0;
    // Scrolls so the caret is in view and, where the selection fits the view, all of it.
    void ensureSelectionVisible();
    // Scrolls by rows, never past the last; true if the view moved. A one-line view has none.
    virtual bool scrollRows(std::ptrdiff_t) { return false; }
    // Where the caret lands `rows` rows up or down at the goal column, which it sets if unset;
    // nothing when it would go past the first or last row by one. Going to the very start or end
    // takes the column from there, as in QPlainTextEdit. A one-line view has no rows to go to.
    virtual std::optional<VerticalMove> verticalTarget(int, bool) { return std::nullopt; }

    void paint(QPainter& painter, const QRect& exposed, bool caretShown);

    // Whether the paragraph that holds pos runs right to left, by its first strong character (of
    // the whole text in a one-line box), as Qt's boxes decide it.
    bool rightToLeft(std::size_t pos);

protected:
    struct Row
    {
        std::size_t start = 0;
        std::size_t end = 0; // without the line break
        std::unique_ptr<QTextLayout> layout;
        qsizetype preeditAt = -1; // where the preedit stands in the row's text, in units

        // Units of the row's text up to a byte offset in the row, the preedit not counted.
        qsizetype unitsAt(const TextBuffer& text, std::size_t pos) const;
    };

    TextView(const QWidget& widget, EditModel& model);

    virtual std::pair<std::size_t, std::size_t> rowBounds(std::size_t row) = 0;
    // The paragraph whose first strong character gives the direction of pos.
    virtual std::pair<std::size_t, std::size_t> paragraphAround(std::size_t pos) const = 0;
    // The row pos shows on, or nothing when it is scrolled out of view before the top.
    virtual std::optional<std::size_t> shownRow(std::size_t pos) = 0;
    virtual std::size_t topRow() const noexcept { return 0; }
    // How many rows from the top to paint.
    virtual std::size_t rowsToPaint() = 0;
    // The top-left corner of a row in view, in widget coordinates.
    virtual QPointF rowOrigin(std::ptrdiff_t rowInView) const = 0;
    virtual bool wraps() const noexcept { return false; }
    // With the caret in view, brings the anchor in too where both fit: a selection no longer than
    // a row's bytes, not empty.
    virtual void showAnchor(std::size_t caret, std::size_t anchor) = 0;

    Row layoutRow(std::size_t start, std::size_t end, bool withPreedit) const;
    std::size_t positionInRow(std::size_t row, qreal x);
    // How far a laid-out row stands in from the left: a right-to-left row that fits sits against
    // the right edge.
    qreal indent(const Row& row);

    const QWidget& m_widget;
    EditModel& m_model;

private:
    void drawRow(QPainter& painter, const Row& row, QPointF origin, bool caretShown) const;

    Preedit m_preedit;
    // The direction of the last paragraph asked about, until the next edit.
    struct ParagraphDirection
    {
        std::size_t start = TextBuffer::npos;
        std::size_t end = 0;
        bool rightToLeft = false;
    } m_direction;
};

// QLineEdit's way: one row from the first character in view, scrolled sideways.
class OneLineView final : public TextView
{
public:
    OneLineView(const QWidget& widget, EditModel& model)
        : TextView(widget, model)
    {
    }

    void restart() override;
    void edited(std::size_t pos) override;
    QRect contents() const override;
    std::pair<std::size_t, std::size_t> rowAround(std::size_t) override { return {0, m_model.text().size()}; }
    std::size_t positionAt(QPoint point) override;
    bool beyondView(QPoint point) const override
    {
        return point.x() < contents().left() || point.x() > contents().right();
    }
    void ensureCaretVisible() override;

protected:
    std::pair<std::size_t, std::size_t> rowBounds(std::size_t row) override;
    std::pair<std::size_t, std::size_t> paragraphAround(std::size_t) const override
    {
        return {0, m_model.text().size()};
    }
    std::optional<std::size_t> shownRow(std::size_t pos) override;
    std::size_t rowsToPaint() override { return 1; }
    QPointF rowOrigin(std::ptrdiff_t rowInView) const override;
    void showAnchor(std::size_t caret, std::size_t anchor) override;

private:
    // The width the text may take, the caret's own width kept free.
    qreal room() const;
    std::size_t fitBackward(std::size_t to, qreal width) const;
    qreal span(std::size_t from, std::size_t to) const;

    std::size_t m_scrollStart = 0; // the first character in view
};

// QPlainTextEdit's way: rows wrapped at the width from the row table, shown from a top row.
class WrappedView final : public TextView
{
public:
    WrappedView(const QWidget& widget, EditModel& model);

    void invalidate() override;
    void restart() override;
    void edited(std::size_t pos) override;
    QRect contents() const override;
    std::pair<std::size_t, std::size_t> rowAround(std::size_t pos) override;
    std::size_t positionAt(QPoint point) override;
    bool beyondView(QPoint point) const override
    {
        return point.y() < contents().top() || point.y() > contents().bottom();
    }
    void ensureCaretVisible() override;
    bool scrollRows(std::ptrdiff_t rows) override;
    std::optional<VerticalMove> verticalTarget(int rows, bool keepAnchor) override;

protected:
    std::pair<std::size_t, std::size_t> rowBounds(std::size_t row) override;
    std::pair<std::size_t, std::size_t> paragraphAround(std::size_t pos) const override
    {
        return {m_model.paragraphStart(pos), m_model.paragraphEnd(pos)};
    }
    std::optional<std::size_t> shownRow(std::size_t pos) override;
    std::size_t topRow() const noexcept override { return m_topRow; }
    std::size_t rowsToPaint() override;
    QPointF rowOrigin(std::ptrdiff_t rowInView) const override;
    void showAnchor(std::size_t caret, std::size_t anchor) override;
    bool wraps() const noexcept override { return true; }

private:
    FontRowMeasure m_measure;
    RowTable m_rows;
    std::size_t m_topRow = 0; // the first row in view
};

} // namespace morvalen::textbox
