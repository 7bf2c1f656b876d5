#include "TextBox.h"

#include "SnapshotMimeData.h"
#include "Utf16.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QPainter>
#include <QStyle>
#include <QStyleHints>
#include <QStyleOptionFrame>
#include <QTimer>
#include <algorithm>

namespace morvalen::textbox {
namespace {

// QLineEdit's margins inside the frame, for the size hints.
constexpr int kHorizontalMargin = 2;
constexpr int kVerticalMargin = 1;
// Text shown to input methods around the caret.
constexpr std::size_t kNeighbourhood = 256;

} // namespace

BusyCursor::BusyCursor()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

BusyCursor::~BusyCursor()
{
    QGuiApplication::restoreOverrideCursor();
}

TextBox::TextBox(QWidget* parent)
    : QWidget(parent)
    , m_model(m_boundaries, this)
    , m_view(TextView::create(*this, m_model, false))
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setAttribute(Qt::WA_KeyCompression, false);
    setCursor(Qt::IBeamCursor);
    setAcceptDrops(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    static const bool accessible = [] {
        QAccessible::installFactory(&TextBox::accessibleFactory);
        return true;
    }();
    (void)accessible;
}

TextBox::~TextBox() = default;

void TextBox::setMultiLine(bool multiLine)
{
    if (multiLine != isMultiLine()) {
        const Preedit preedit = m_view->preedit();
        m_view = TextView::create(*this, m_model, multiLine);
        m_view->preedit() = preedit;
    }
    m_model.setMultiLine(multiLine);
    m_boundaries.setMultiLine(multiLine);
    setSizePolicy(QSizePolicy::Expanding, multiLine ? QSizePolicy::Expanding : QSizePolicy::Fixed);
    invalidateLayout();
}

QString TextBox::text() const
{
    return textRange(0, buffer().size());
}

void TextBox::setText(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    setUtf8(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

void TextBox::setUtf8(std::string text, bool knownAscii)
{
    m_settingText = true;
    m_model.setText(std::move(text), knownAscii);
    m_settingText = false;
    m_view->restart();
    m_view->ensureCaretVisible();
    update();
}

std::string_view TextBox::utf8()
{
    return m_model.contiguous();
}

QString TextBox::selectedText() const
{
    return textRange(selectionStart(), selectionEnd());
}

QString TextBox::textRange(std::size_t start, std::size_t end) const
{
    const TextBuffer& text = buffer();
    end = std::min(end, text.size());
    start = std::min(start, end);
    if (text.isAscii()) {
        const std::string_view piece = text.piece(start, end - start);
        if (piece.size() == end - start) {
            return QString::fromLatin1(piece.data(), static_cast<qsizetype>(piece.size()));
        }
    }
    return decode(text.copy(start, end - start));
}

void TextBox::setSelection(std::size_t anchor, std::size_t caret)
{
    m_model.select(anchor, caret);
    m_view->ensureSelectionVisible();
}

qsizetype TextBox::toUtf16(std::size_t pos) const
{
    return static_cast<qsizetype>(m_model.units().unitsAt(pos));
}

std::size_t TextBox::fromUtf16(qsizetype offset) const
{
    return offset <= 0 ? 0 : m_model.units().positionOf(static_cast<std::size_t>(offset));
}

std::size_t TextBox::nextCursorPosition(std::size_t pos, bool words)
{
    return m_model.step(pos, Direction::Forward, words ? Unit::Word : Unit::Character);
}

std::size_t TextBox::previousCursorPosition(std::size_t pos, bool words)
{
    return m_model.step(pos, Direction::Backward, words ? Unit::Word : Unit::Character);
}

QAccessibleInterface* TextBox::accessibleFactory(const QString& className, QObject* object)
{
    auto* box = qobject_cast<TextBox*>(object);
    if (box == nullptr || className != QLatin1String(staticMetaObject.className())) {
        return nullptr;
    }
    return accessibleText(box, *box);
}

// ---- What the model reports

void TextBox::textReplaced(std::size_t pos, const TextSnapshot& removed, std::size_t insertedLength)
{
    m_view->edited(pos);
    announce(*this, *this, TextReplaced {pos, &removed, insertedLength, m_settingText});
    update();
}

void TextBox::selectionMoved(Selection before)
{
    update();
    if (cursorPosition() != before.caret) {
        emit cursorPositionChanged();
    }
    const bool hadSelection = before.caret != before.anchor;
    if (hadSelection || hasSelectedText()) {
        emit selectionChanged();
    }
    announce(*this, *this, SelectionMoved {before.caret, hadSelection || m_clearing});
}

// After an edit: the caret in view and shown.
void TextBox::textEdited()
{
    m_view->ensureCaretVisible();
    restartBlink();
    update();
}

// ---- Painting and layout

void TextBox::invalidateLayout()
{
    m_view->invalidate();
    update();
}

void TextBox::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    QStyleOptionFrame panel;
    panel.initFrom(this);
    panel.rect = rect();
    panel.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, this);
    panel.state |= QStyle::State_Sunken;
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
    m_view->paint(painter, event->rect(), hasFocus() && m_caretShown);
}

void TextBox::resizeEvent(QResizeEvent*)
{
    invalidateLayout();
}

void TextBox::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        invalidateLayout();
    }
    QWidget::changeEvent(event);
}

void TextBox::scrollRows(std::ptrdiff_t rows)
{
    if (m_view->scrollRows(rows)) {
        update();
    }
}

void TextBox::restartBlink()
{
    m_caretShown = true;
    const int flash = QGuiApplication::styleHints()->cursorFlashTime();
    if (hasFocus() && isActiveWindow() && flash >= 2) {
        m_blink.start(flash / 2, this);
    } else {
        m_blink.stop();
    }
    if (!m_blink.isActive() || hasFocus()) {
        update(m_view->caretRect());
    }
}

void TextBox::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_blink.timerId()) {
        // Only the caret's rectangle repaints; the rows around it stay as they are.
        m_caretShown = !m_caretShown;
        update(m_view->caretRect());
    } else if (event->timerId() == m_autoScroll.timerId()) {
        // Only a wrapped view scrolls by rows; a one-line view follows the caret sideways.
        const QRect area = m_view->contents();
        scrollRows(m_lastMouse.y() < area.top() ? -1 : m_lastMouse.y() > area.bottom() ? 1 : 0);
        moveCaret(positionAt(m_lastMouse), true);
    } else if (event->timerId() == m_tripleClick.timerId()) {
        m_tripleClick.stop();
    }
    QWidget::timerEvent(event);
}

// ---- Editing

void TextBox::insert(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    m_model.insert(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())), EditKind::Typing);
    textEdited();
}

void TextBox::del()
{
    m_model.deleteForward();
    textEdited();
}

// As QLineEdit: the whole text goes without being selected first, and the selection it leaves
// is told as gone.
void TextBox::clear()
{
    m_clearing = true;
    m_model.replace(0, buffer().size(), {}, EditKind::Other);
    m_clearing = false;
    textEdited();
}

void TextBox::undo()
{
    m_model.undo();
    m_view->ensureCaretVisible();
    update();
}

void TextBox::redo()
{
    m_model.redo();
    m_view->ensureCaretVisible();
    update();
}

// From code this leaves the X11 selection alone, as Qt's boxes do: only a user's selection goes
// there (Ctrl+A and the triple-click update it themselves).
void TextBox::selectAll()
{
    m_model.selectAll();
    // As QPlainTextEdit, a multi-line box keeps its view: the end of a long text is not laid out.
    if (!isMultiLine()) {
        m_view->ensureCaretVisible();
    }
}

void TextBox::deselect()
{
    setSelection(cursorPosition(), cursorPosition());
}

// ---- Clipboard

void TextBox::copy() const
{
    if (hasSelectedText()) {
        QGuiApplication::clipboard()->setMimeData(
            new SnapshotMimeData(buffer().snapshot(selectionStart(), selectionEnd() - selectionStart()), m_secret));
    }
}

void TextBox::cut()
{
    if (hasSelectedText()) {
        copy();
        m_model.removeSelection();
        textEdited();
    }
}

void TextBox::paste()
{
    const BusyCursor busy;
    const QMimeData* offered = QGuiApplication::clipboard()->mimeData();
    if (offered == nullptr) {
        return;
    }
    // The clipboard's UTF-8 bytes where it offers them, as this box's own copies do: a long key is
    // then never held as UTF-16 as well.
    if (const auto* ours = dynamic_cast<const SnapshotMimeData*>(offered)) {
        m_model.insert(ours->utf8Text(), EditKind::Other);
    } else {
        const QString utf8 = QStringLiteral("text/plain;charset=utf-8");
        const QByteArray bytes = offered->hasFormat(utf8) ? offered->data(utf8) : offered->text().toUtf8();
        m_model.insert(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())), EditKind::Other);
    }
    textEdited();
}

void TextBox::updateSelectionClipboard() const
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (hasSelectedText() && clipboard->supportsSelection()) {
        clipboard->setMimeData(
            new SnapshotMimeData(buffer().snapshot(selectionStart(), selectionEnd() - selectionStart()), m_secret),
            QClipboard::Selection);
    }
}

// ---- Focus and input methods

void TextBox::focusInEvent(QFocusEvent* event)
{
    // As QLineEdit: reaching a one-line box with the keyboard selects its text, unless it kept a
    // selection of its own.
    if (!isMultiLine() && !hasSelectedText()
        && (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason
            || event->reason() == Qt::ShortcutFocusReason)) {
        setSelection(0, buffer().size());
    }
    // A click that gives the focus asks for no on-screen keyboard; the next one does.
    m_clickCausedFocus = event->reason() == Qt::MouseFocusReason;
    restartBlink();
    update();
}

void TextBox::focusOutEvent(QFocusEvent* event)
{
    if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason && !isMultiLine()
        && hasSelectedText()) {
        deselect();
    }
    m_blink.stop();
    update();
}

QSize TextBox::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    QStyleOptionFrame panel;
    panel.initFrom(this);
    panel.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, this);
    const int height = std::max(metrics.height(), 14) + 2 * kVerticalMargin;
    const int width = metrics.horizontalAdvance(QLatin1Char('x')) * 17 + 2 * kHorizontalMargin;
    return style()->sizeFromContents(QStyle::CT_LineEdit, &panel, QSize(width, height), this);
}

QSize TextBox::minimumSizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    QStyleOptionFrame panel;
    panel.initFrom(this);
    panel.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, this);
    const int height = metrics.height() + std::max(2 * kVerticalMargin, metrics.leading());
    const int width = metrics.maxWidth() + 2 * kHorizontalMargin;
    return style()->sizeFromContents(QStyle::CT_LineEdit, &panel, QSize(width, height), this);
}

// Input methods see this neighbourhood of the caret, never the whole text.
std::pair<std::size_t, std::size_t> TextBox::neighbourhood() const
{
    const TextBuffer& text = buffer();
    const std::size_t caret = cursorPosition();
    return {text.characterStart(caret > kNeighbourhood ? caret - kNeighbourhood : 0),
        text.characterStart(std::min(text.size(), caret + kNeighbourhood))};
}

QVariant TextBox::inputMethodQuery(Qt::InputMethodQuery query) const
{
    // Not a structured binding: Clang 14 cannot capture one in a lambda.
    const std::pair<std::size_t, std::size_t> around = neighbourhood();
    const std::size_t start = around.first;
    const std::size_t end = around.second;
    const auto local = [&](std::size_t pos) {
        pos = std::clamp(pos, start, end);
        return static_cast<int>(toUtf16(pos) - toUtf16(start));
    };
    auto* self = const_cast<TextBox*>(this);
    switch (query) {
    case Qt::ImEnabled: return isEnabled();
    case Qt::ImCursorRectangle: return self->m_view->caretRect();
    case Qt::ImAnchorRectangle: return self->characterRect(anchorPosition());
    case Qt::ImFont: return font();
    case Qt::ImCursorPosition: return local(cursorPosition());
    case Qt::ImAnchorPosition: return local(anchorPosition());
    case Qt::ImSurroundingText: return textRange(start, end);
    case Qt::ImCurrentSelection: return textRange(std::max(selectionStart(), start), std::min(selectionEnd(), end));
    case Qt::ImTextBeforeCursor: return textRange(start, cursorPosition());
    case Qt::ImTextAfterCursor: return textRange(cursorPosition(), end);
    case Qt::ImAbsolutePosition: return static_cast<int>(toUtf16(cursorPosition()));
    case Qt::ImMaximumTextLength: return QVariant();
    case Qt::ImReadOnly: return false;
    case Qt::ImHints: return static_cast<int>(inputMethodHints());
    default: return QWidget::inputMethodQuery(query);
    }
}

void TextBox::inputMethodEvent(QInputMethodEvent* event)
{
    // Positions in the event count UTF-16 units in the neighbourhood the queries showed.
    const auto position = [this](qsizetype units) {
        const auto [start, end] = neighbourhood();
        return std::min(end, fromUtf16(toUtf16(start) + std::max<qsizetype>(0, units)));
    };
    const QString commit = event->commitString();
    if (!commit.isEmpty() || event->replacementLength() > 0) {
        std::size_t from = cursorPosition();
        std::size_t to = from;
        if (hasSelectedText()) {
            from = selectionStart();
            to = selectionEnd();
        } else if (event->replacementStart() != 0 || event->replacementLength() > 0) {
            const qsizetype caret = inputMethodQuery(Qt::ImCursorPosition).toInt();
            from = position(caret + event->replacementStart());
            to = std::max(from, position(caret + event->replacementStart() + event->replacementLength()));
        }
        const QByteArray bytes = commit.toUtf8();
        m_model.replace(
            from, to, std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())), EditKind::Other);
        restartBlink();
    }
    // As Qt's boxes: composing starts by removing the selection, so Escape leaves it removed.
    if (commit.isEmpty() && !event->preeditString().isEmpty() && hasSelectedText()) {
        m_model.removeSelection();
    }
    Preedit& preedit = m_view->preedit();
    preedit.text = event->preeditString();
    preedit.cursor = static_cast<int>(preedit.text.size());
    preedit.formats.clear();
    for (const QInputMethodEvent::Attribute& attribute : event->attributes()) {
        if (attribute.type == QInputMethodEvent::Cursor) {
            preedit.cursor = attribute.start;
            m_caretShown = attribute.length != 0;
        } else if (attribute.type == QInputMethodEvent::TextFormat) {
            preedit.formats.append(attribute);
        } else if (attribute.type == QInputMethodEvent::Selection && preedit.text.isEmpty()) {
            setSelection(position(attribute.start), position(attribute.start + attribute.length));
        }
    }
    m_view->ensureCaretVisible();
    update();
    updateMicroFocus();
}

} // namespace morvalen::textbox
