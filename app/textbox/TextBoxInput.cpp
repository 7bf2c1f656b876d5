// The widget's keyboard and mouse: keys through KeyInput's table to the model, clicks, drags and
// drops, the wheel and the context menu.
#include "KeyInput.h"
#include "SnapshotMimeData.h"
#include "TextBox.h"
#include "Utf16.h"

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QStyle>
#include <QStyleHints>
#include <QTimer>
#include <QWheelEvent>
#include <cstdlib>

namespace morvalen::textbox {
void TextBox::moveCaret(std::size_t pos, bool keepAnchor)
{
    m_model.moveTo(pos, keepAnchor);
    caretMoved();
}

void TextBox::caretMoved()
{
    m_view->ensureCaretVisible();
    restartBlink();
    updateMicroFocus();
}

void TextBox::keyPressEvent(QKeyEvent* event)
{
    if (const auto action = standardKeyAction(*event, isMultiLine())) {
        // The clipboard, undo and select all are the widget's; the controller takes the rest.
        if (!m_keys.run(*action)) {
            switch (action->operation) {
            case KeyOperation::Undo: undo(); break;
            case KeyOperation::Redo: redo(); break;
            case KeyOperation::Cut: cut(); break;
            case KeyOperation::Copy: copy(); break;
            case KeyOperation::Paste: paste(); break;
            case KeyOperation::SelectAll: selectAll(); break;
            default: break;
            }
        }
        event->accept();
        // As QLineEdit: a selection the keys leave is the X11 selection.
        updateSelectionClipboard();
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier);
    if (event->key() == Qt::Key_Backspace && modifiers == Qt::NoModifier) {
        m_model.backspace();
        textEdited();
        event->accept();
        return;
    }
    if (isMultiLine() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && modifiers == Qt::NoModifier) {
        m_model.insert("\n", EditKind::Other);
        textEdited();
        event->accept();
        return;
    }
    if (isAcceptableInput(*event, isMultiLine())) {
        const QByteArray bytes = event->text().toUtf8();
        m_model.insert(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())), EditKind::Typing);
        textEdited();
        event->accept();
        return;
    }
    event->ignore();
}

bool TextBox::event(QEvent* event)
{
    // Editing keys belong to the box while it has the focus, not to shortcuts elsewhere.
    if (event->type() == QEvent::ShortcutOverride
        && isEditingShortcut(*static_cast<QKeyEvent*>(event), isMultiLine())) {
        event->accept();
        return true;
    }
    // Only the window gets ActivationChange; its widgets get these.
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate) {
        restartBlink();
        // As QLineEdit: a one-line box without the focus drops its selection when its window
        // comes back, once the focus has settled.
        if (event->type() == QEvent::WindowActivate && !isMultiLine()) {
            QTimer::singleShot(0, this, [this] {
                if (!hasFocus() && hasSelectedText()) {
                    deselect();
                }
            });
        }
    }
    return QWidget::event(event);
}

// ---- Mouse

void TextBox::mousePressEvent(QMouseEvent* event)
{
    m_model.setGoalColumn(std::nullopt);
    const QPoint at = event->position().toPoint();
    const std::size_t pos = positionAt(at);
    if (event->button() == Qt::LeftButton) {
        if (m_tripleClick.isActive() && (at - m_tripleClickAt).manhattanLength() < QApplication::startDragDistance()) {
            // A third click where the second was takes the line: all of a one-line box, the
            // paragraph and its line break in a multi-line one, which (as Qt's) takes a fourth click
            // as a first one.
            if (!isMultiLine()) {
                selectAll();
                updateSelectionClipboard();
                return;
            }
            m_tripleClick.stop();
            // QPlainTextEdit takes the caret's paragraph, which the double-click put there.
            const std::size_t end = m_model.paragraphEnd(cursorPosition());
            setSelection(m_model.paragraphStart(cursorPosition()), end < buffer().size() ? end + 1 : end);
            updateSelectionClipboard();
            return;
        }
        m_wordSelection = {TextBuffer::npos, TextBuffer::npos};
        m_selecting = true;
        m_pressAt = at;
        moveCaret(pos, event->modifiers() & Qt::ShiftModifier);
    } else if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
        // The X11 selection is pasted where the middle button was released, as in Qt's boxes.
        moveCaret(pos, false);
    } else {
        event->ignore();
    }
}

void TextBox::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_selecting || !(event->buttons() & Qt::LeftButton)) {
        return;
    }
    m_lastMouse = event->position().toPoint();
    if (m_view->beyondView(m_lastMouse)) {
        m_autoScroll.start(50, this);
    } else {
        m_autoScroll.stop();
    }
    // QLineEdit's quick selection: dragging far above the box selects to the start, far below
    // to the end (the other way round in a right-to-left layout).
    const int threshold = QGuiApplication::styleHints()->mouseQuickSelectionThreshold();
    const int drop = m_lastMouse.y() - m_pressAt.y();
    if (!isMultiLine() && threshold > 0 && std::abs(drop) > threshold) {
        const bool toEnd = (drop > 0) != (layoutDirection() == Qt::RightToLeft);
        moveCaret(toEnd ? buffer().size() : 0, true);
        return;
    }
    const std::size_t pos = positionAt(m_lastMouse);
    if (m_wordSelection.first != TextBuffer::npos) {
        // After a double-click the selection grows by whole words.
        const auto [start, end] = m_model.wordAround(pos);
        if (pos < m_wordSelection.first) {
            setSelection(m_wordSelection.second, start);
        } else {
            setSelection(m_wordSelection.first, std::max(end, m_wordSelection.second));
        }
        return;
    }
    moveCaret(pos, true);
}

void TextBox::mouseReleaseEvent(QMouseEvent* event)
{
    // As Qt's widgets: a click in a box that had the focus asks for the on-screen keyboard (on
    // Wayland, the compositor's), a click that gave the focus only where the style says so; a
    // tap always does, having no keyboard to fall back on.
    if (event->button() == Qt::LeftButton && qApp->autoSipEnabled()) {
        const auto behaviour = static_cast<QStyle::RequestSoftwareInputPanel>(
            style()->styleHint(QStyle::SH_RequestSoftwareInputPanel, nullptr, this));
        const bool tap = event->source() != Qt::MouseEventNotSynthesized;
        if (!m_clickCausedFocus || behaviour == QStyle::RSIP_OnMouseClick || tap) {
            QEvent request(QEvent::RequestSoftwareInputPanel);
            QApplication::sendEvent(this, &request);
        }
    }
    m_clickCausedFocus = false;
    if (event->button() == Qt::LeftButton && m_selecting) {
        m_selecting = false;
        m_autoScroll.stop();
        updateSelectionClipboard();
    } else if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection()) {
        const QByteArray text = QGuiApplication::clipboard()->text(QClipboard::Selection).toUtf8();
        if (!text.isEmpty()) {
            moveCaret(positionAt(event->position().toPoint()), false);
            m_model.insert(std::string(text.constData(), static_cast<std::size_t>(text.size())), EditKind::Other);
            textEdited();
        }
    }
}

void TextBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const auto [start, end] = m_model.wordAround(positionAt(event->position().toPoint()));
    setSelection(start, end);
    m_wordSelection = {start, end};
    m_selecting = true;
    m_tripleClick.start(QGuiApplication::styleHints()->mouseDoubleClickInterval(), this);
    m_tripleClickAt = event->position().toPoint();
    updateSelectionClipboard();
}

// Text dropped from elsewhere goes in where it is dropped and stays selected, as in QLineEdit.
void TextBox::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasText()) {
        event->acceptProposedAction();
    }
}

void TextBox::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasText()) {
        moveCaret(positionAt(event->position().toPoint()), false);
        event->acceptProposedAction();
    }
}

void TextBox::dropEvent(QDropEvent* event)
{
    const QByteArray text = event->mimeData()->text().toUtf8();
    if (text.isEmpty()) {
        return;
    }
    const std::size_t pos = positionAt(event->position().toPoint());
    moveCaret(pos, false);
    m_model.insert(std::string(text.constData(), static_cast<std::size_t>(text.size())), EditKind::Other);
    textEdited();
    setSelection(pos, cursorPosition());
    event->acceptProposedAction();
}

void TextBox::wheelEvent(QWheelEvent* event)
{
    if (!isMultiLine() || event->angleDelta().y() == 0) {
        event->ignore();
        return;
    }
    // Fine-grained wheels send fractions of a notch; they add up to rows.
    m_wheelDelta += event->angleDelta().y() * QApplication::wheelScrollLines();
    const int rows = m_wheelDelta / 120;
    m_wheelDelta -= rows * 120;
    scrollRows(-rows);
    event->accept();
}

// ---- Context menu

void TextBox::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

QMenu* TextBox::createStandardContextMenu()
{
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("qt_edit_menu"));
    // As Qt's boxes: the shortcut is shown after a tab, not registered, so it cannot fire twice.
    const auto add = [&](const QString& text, QKeySequence::StandardKey key, bool enabled, auto slot) {
        const QString shortcut = key == QKeySequence::UnknownKey
            ? QString()
            : QLatin1Char('\t') + QKeySequence(key).toString(QKeySequence::NativeText);
        QAction* action = menu->addAction(text + shortcut, this, slot);
        action->setEnabled(enabled);
        return action;
    };
    add(tr("&Undo"), QKeySequence::Undo, isUndoAvailable(), &TextBox::undo);
    add(tr("&Redo"), QKeySequence::Redo, isRedoAvailable(), &TextBox::redo);
    menu->addSeparator();
    add(tr("Cu&t"), QKeySequence::Cut, hasSelectedText(), &TextBox::cut);
    add(tr("&Copy"), QKeySequence::Copy, hasSelectedText(), &TextBox::copy);
    // As Qt's boxes, Paste needs text to paste; a box's own copy is asked its size, not converted.
    const QMimeData* clipboard = QGuiApplication::clipboard()->mimeData();
    const auto* ours = dynamic_cast<const SnapshotMimeData*>(clipboard);
    const bool text = ours != nullptr ? ours->size() > 0 : clipboard != nullptr && !clipboard->text().isEmpty();
    add(tr("&Paste"), QKeySequence::Paste, text, &TextBox::paste);
    add(tr("Delete"), QKeySequence::UnknownKey, hasSelectedText(), &TextBox::del);
    menu->addSeparator();
    // A one-line box has nothing more to select once all is selected; a multi-line one, as
    // QPlainTextEdit, offers it whenever there is text.
    const bool allSelected = selectionEnd() - selectionStart() == buffer().size();
    add(tr("Select All"), QKeySequence::SelectAll, !buffer().empty() && (isMultiLine() || !allSelected),
        &TextBox::selectAll);
    return menu;
}

} // namespace morvalen::textbox
