// A text box for texts of any length: it keeps the text in one UTF-8 gap buffer and lays out and
// paints only the rows in view, each with a small QTextLayout of its own, so shaping, hit testing
// and selection drawing stay Qt's. One-line boxes scroll sideways to keep the caret in view;
// multi-line boxes wrap anywhere at their width, insert no characters and show no scroll bars.
//
// It behaves as Qt's own boxes do: the platform's key bindings, mouse selection, the clipboard and
// the X11 selection, the standard context menu, undo with typing merged, input methods and
// accessibility. Positions in this interface are byte offsets into the UTF-8 text.
#pragma once

#include "RowTable.h"
#include "TextBuffer.h"

#include <QBasicTimer>
#include <QInputMethodEvent>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QMenu;
class QTextLayout;

namespace morvalen::textbox {

class FontRowMeasure;

class TextBox : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool multiLine READ isMultiLine WRITE setMultiLine)
    Q_PROPERTY(QString text READ text WRITE setText USER true)
    Q_PROPERTY(bool secret READ isSecret WRITE setSecret)

public:
    explicit TextBox(QWidget* parent = nullptr);
    ~TextBox() override;

    bool isMultiLine() const noexcept { return m_multiLine; }
    void setMultiLine(bool multiLine);
    // Text copied from a secret box is marked for clipboard managers, which then keep it out of
    // their history; the clipboard itself is left alone.
    bool isSecret() const noexcept { return m_secret; }
    void setSecret(bool secret) noexcept { m_secret = secret; }

    // Setting the text from code puts the caret at the start of a multi-line box and at the end
    // of a one-line box and clears the undo history, as Qt's boxes do.
    QString text() const;
    void setText(const QString& text);
    // Takes the string over without copying it.
    void setUtf8(std::string text);
    // The whole text in one piece, valid until the next change.
    std::string_view utf8();
    const TextBuffer& buffer() const noexcept { return m_text; }

    std::size_t cursorPosition() const noexcept { return m_caret; }
    std::size_t anchorPosition() const noexcept { return m_anchor; }
    bool hasSelectedText() const noexcept { return m_caret != m_anchor; }
    std::size_t selectionStart() const noexcept { return std::min(m_caret, m_anchor); }
    std::size_t selectionEnd() const noexcept { return std::max(m_caret, m_anchor); }
    QString selectedText() const;
    // Puts the anchor at anchor and the caret at caret, each moved to a character's start.
    void setSelection(std::size_t anchor, std::size_t caret);
    void setCursorPosition(std::size_t pos) { setSelection(pos, pos); }

    bool isUndoAvailable() const noexcept { return m_undone < m_history.size(); }
    bool isRedoAvailable() const noexcept { return m_undone > 0; }

    // Text offsets in UTF-16 code units, as accessibility and input methods count them.
    qsizetype toUtf16(std::size_t pos) const;
    std::size_t fromUtf16(qsizetype offset) const;
    // The text of [start, end) as Qt strings hold it.
    QString textRange(std::size_t start, std::size_t end) const;
    // The row that holds pos, as [start, end) without its line break.
    std::pair<std::size_t, std::size_t> rowAround(std::size_t pos);
    // Where the character at pos stands, in widget coordinates; empty when it is out of view.
    QRect characterRect(std::size_t pos);
    std::size_t positionAt(QPoint point);
    // Cluster and word boundaries as Qt's text layout finds them.
    std::size_t nextCursorPosition(std::size_t pos, bool words);
    std::size_t previousCursorPosition(std::size_t pos, bool words);

    QMenu* createStandardContextMenu();
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

public Q_SLOTS:
    void selectAll();
    void deselect();
    void insert(const QString& text);
    void cut();
    void copy() const;
    void paste();
    void del();
    void undo();
    void redo();
    void clear();

Q_SIGNALS:
    void cursorPositionChanged();
    void selectionChanged();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // What made an edit, which decides the undo steps as Qt's boxes make them.
    enum class EditKind : std::uint8_t
    {
        Typing,
        Backspace, // without a selection
        Delete, // without a selection
        Other,
    };
    // Multi-line: a stretch of text and where it entered the append-only store of Qt's text
    // document, which joins two removals into one undo step only where they were adjacent there.
    struct Origin
    {
        std::size_t length = 0;
        std::size_t from = 0;
    };
    struct Edit
    {
        std::size_t pos = 0;
        TextSnapshot removed; // shares the text's old storage when it was long
        std::string inserted;
        std::size_t caretBefore = 0;
        std::size_t anchorBefore = 0;
        EditKind kind = EditKind::Other;
        bool joined = false; // undone and redone in one step with the edit before it
        // One-line: a caret move or paste came before it; redo up to it leaves this selection.
        bool separated = false;
        std::size_t separatorCaret = 0;
        std::size_t separatorAnchor = 0;
        // Where the inserted text was stored; for Backspace and Delete, where the removal that
        // this edit joins began, and its length so far (0: it joins nothing).
        std::size_t storedAt = 0;
        std::size_t storedLength = 0;
        std::vector<Origin> removedOrigins;
    };
    struct Row;

    QRect contents() const;
    int rowHeight() const;
    int visibleRows() const;
    Row layoutRow(std::size_t start, std::size_t end, bool withPreedit) const;
    std::pair<std::size_t, std::size_t> rowBounds(std::size_t row);
    std::size_t positionInRow(std::size_t row, qreal x);
    std::size_t caretRow();
    QRect caretRect();
    void drawRow(QPainter& painter, const Row& row, QPointF origin) const;

    void replace(std::size_t pos, std::size_t length, std::string inserted, EditKind kind);
    std::vector<Origin> takeOrigins(std::size_t pos, std::size_t length);
    void putOrigins(std::size_t pos, const std::vector<Origin>& runs);
    TextSnapshot applyEdit(std::size_t pos, std::size_t removeLength, std::string inserted);
    void textChanged(std::size_t pos);
    void announceRemoval(std::size_t pos, const TextSnapshot& removed);
    void announceInsertion(std::size_t pos, std::size_t length);
    void moveCaret(std::size_t pos, bool keepAnchor);
    void moveVertically(int rows, bool keepAnchor);
    void selectionMoved(std::size_t oldCaret, std::size_t oldAnchor);
    void ensureCaretVisible();
    void scrollRows(std::ptrdiff_t rows);
    void updateSelectionClipboard() const;
    std::pair<std::size_t, std::size_t> wordAround(std::size_t pos);
    void restartBlink();
    std::pair<std::size_t, std::size_t> neighbourhood() const;
    void invalidateLayout();
    bool handleStandardKey(QKeyEvent* event);

    TextBuffer m_text;
    std::unique_ptr<FontRowMeasure> m_measure;
    RowTable m_rows;
    bool m_multiLine = false;
    bool m_secret = false;
    std::size_t m_caret = 0;
    std::size_t m_anchor = 0;
    std::size_t m_topRow = 0; // multi-line: the first row in view
    std::size_t m_scrollStart = 0; // one-line: the first character in view
    qreal m_goalX = -1; // where up and down keep the caret, while they repeat
    std::vector<Edit> m_history;
    std::size_t m_undone = 0; // steps at the history's end that undo took back
    bool m_separate = false; // one-line: the next edit starts a new undo step
    std::vector<Origin> m_origins; // of the whole text, in order
    std::size_t m_stored = 0; // bytes stored so far
    QString m_preedit;
    int m_preeditCursor = 0;
    QList<QInputMethodEvent::Attribute> m_preeditFormats;
    bool m_caretShown = true;
    QBasicTimer m_blink;
    QBasicTimer m_autoScroll;
    QBasicTimer m_tripleClick;
    QPoint m_tripleClickAt; // where the double-click was
    QPoint m_lastMouse;
    bool m_selecting = false;
    int m_wheelDelta = 0; // eighths of a degree not yet scrolled, times the rows per notch
    std::pair<std::size_t, std::size_t> m_wordSelection {TextBuffer::npos, TextBuffer::npos};
};

} // namespace morvalen::textbox
