// A text box for texts of any length, the public face of the rooms around it: the editing model
// (EditModel, with its UndoHistory) holds the text in a UTF-8 buffer; the view (TextView) lays out
// and paints only the rows in view, each with a small QTextLayout of its own, so shaping, hit
// testing and selection drawing stay Qt's; KeyInput maps keys to operations. The widget paints,
// forwards mouse, keyboard, focus and input-method events, and owns the pieces.
//
// It behaves as Qt's own boxes do: the platform's key bindings, mouse selection, the clipboard and
// the X11 selection, the standard context menu, undo with typing merged, input methods and
// accessibility. Positions in this interface are byte offsets into the UTF-8 text.
#pragma once

#include "EditController.h"
#include "EditModel.h"
#include "LayoutBoundaries.h"
#include "TextBoxAccessible.h"
#include "TextBuffer.h"
#include "TextView.h"

#include <QBasicTimer>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

class QMenu;

namespace morvalen::textbox {

// The platform's wait cursor over the whole application while it lives: a command or a paste of
// a long text keeps the event loop from the pointer for a while. Nested ones stack; the buttons
// stay enabled.
class BusyCursor
{
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

class TextBox : public QWidget, private EditObserver, private LayoutQueries, private AccessibleText
{
    Q_OBJECT
    Q_PROPERTY(bool multiLine READ isMultiLine WRITE setMultiLine)
    Q_PROPERTY(QString text READ text WRITE setText USER true)
    Q_PROPERTY(bool secret READ isSecret WRITE setSecret)

public:
    explicit TextBox(QWidget* parent = nullptr);
    ~TextBox() override;

    bool isMultiLine() const noexcept override { return m_model.isMultiLine(); }
    void setMultiLine(bool multiLine);
    // Text copied from a secret box is marked for clipboard managers, which then keep it out of
    // their history; the clipboard itself is left alone.
    bool isSecret() const noexcept { return m_secret; }
    void setSecret(bool secret) noexcept { m_secret = secret; }

    // Setting the text from code puts the caret at the start of a multi-line box and at the end
    // of a one-line box and clears the undo history, as Qt's boxes do.
    QString text() const;
    void setText(const QString& text) override;
    // Takes the string over without copying it; knownAscii saves a pass over a long text that
    // is ASCII by construction.
    void setUtf8(std::string text, bool knownAscii = false);
    // The whole text in one piece, valid until the next change.
    std::string_view utf8();
    const TextBuffer& buffer() const noexcept override { return m_model.text(); }

    std::size_t cursorPosition() const noexcept override { return m_model.caret(); }
    std::size_t anchorPosition() const noexcept override { return m_model.anchor(); }
    bool hasSelectedText() const noexcept { return m_model.hasSelection(); }
    std::size_t selectionStart() const noexcept override { return m_model.selectionStart(); }
    std::size_t selectionEnd() const noexcept override { return m_model.selectionEnd(); }
    QString selectedText() const;
    // Puts the anchor at anchor and the caret at caret, each moved to a character's start.
    void setSelection(std::size_t anchor, std::size_t caret) override;
    void setCursorPosition(std::size_t pos) { setSelection(pos, pos); }

    bool isUndoAvailable() const noexcept { return m_model.canUndo(); }
    bool isRedoAvailable() const noexcept { return m_model.canRedo(); }

    // Text offsets in UTF-16 code units, as accessibility and input methods count them.
    qsizetype toUtf16(std::size_t pos) const override;
    std::size_t fromUtf16(qsizetype offset) const override;
    // The text of [start, end) as Qt strings hold it.
    QString textRange(std::size_t start, std::size_t end) const override;
    // The row that holds pos, as [start, end) without its line break.
    std::pair<std::size_t, std::size_t> rowAround(std::size_t pos) override { return m_view->rowAround(pos); }
    // Where the character at pos stands, in widget coordinates; empty when it is out of view.
    QRect characterRect(std::size_t pos) override { return m_view->characterRect(pos); }
    std::size_t positionAt(QPoint point) override { return m_view->positionAt(point); }
    // Cluster and word boundaries as Qt's text layout finds them.
    std::size_t nextCursorPosition(std::size_t pos, bool words) override;
    std::size_t previousCursorPosition(std::size_t pos, bool words);

    QMenu* createStandardContextMenu();
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

public Q_SLOTS:
    void selectAll();
    void deselect();
    void insert(const QString& text) override;
    void cut();
    void copy() const;
    void paste();
    void del() override;
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
    // EditObserver
    void textReplaced(std::size_t pos, const TextSnapshot& removed, std::size_t insertedLength) override;
    void selectionMoved(Selection before) override;
    static QAccessibleInterface* accessibleFactory(const QString& className, QObject* object);

    // LayoutQueries, for the editing keys
    bool rightToLeft(std::size_t pos) override { return m_view->rightToLeft(pos); }
    std::optional<VerticalMove> verticalTarget(int rows, bool keepAnchor) override
    {
        return m_view->verticalTarget(rows, keepAnchor);
    }
    int visibleRows() override { return m_view->visibleRows(); }
    void scrollRows(std::ptrdiff_t rows) override;
    void caretMoved() override;
    void textEdited() override;

    void moveCaret(std::size_t pos, bool keepAnchor);
    void updateSelectionClipboard() const;
    void restartBlink();
    std::pair<std::size_t, std::size_t> neighbourhood() const;
    void invalidateLayout();

    LayoutBoundaries m_boundaries;
    EditModel m_model;
    std::unique_ptr<TextView> m_view;
    EditController m_keys {m_model, *this};
    bool m_secret = false;
    bool m_settingText = false; // the model's report comes from setUtf8
    bool m_clearing = false;
    bool m_caretShown = true;
    QBasicTimer m_blink;
    QBasicTimer m_autoScroll;
    QBasicTimer m_tripleClick;
    QPoint m_tripleClickAt; // where the double-click was
    QPoint m_lastMouse;
    QPoint m_pressAt; // where the left button went down, for quick selection
    bool m_selecting = false;
    bool m_clickCausedFocus = false;
    int m_wheelDelta = 0; // eighths of a degree not yet scrolled, times the rows per notch
    std::pair<std::size_t, std::size_t> m_wordSelection {TextBuffer::npos, TextBuffer::npos};
};

} // namespace morvalen::textbox
