#include "Form1.h"

#include "cipher/cipher.h"
#include "textbox/TextBox.h"
#include "ui_Form1.h"

#include <QCoreApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <algorithm>
#include <chrono>
#include <new>
#include <string>

namespace {

constexpr std::chrono::milliseconds kYieldInterval {5};
// The core writes hex digits and keys of "0", "1", "," and "|" only.
constexpr bool kAscii = true;

// Scales both edges, so boxes that share an edge in twips still share it in pixels.
QRect scaled(const QRect& designed, double factor)
{
    const int left = qRound(designed.left() * factor);
    const int top = qRound(designed.top() * factor);
    const int right = qRound((designed.x() + designed.width()) * factor);
    const int bottom = qRound((designed.y() + designed.height()) * factor);
    return {left, top, right - left, bottom - top};
}

// Whether a control shows its caption whole at this size: a label wraps its words within it,
// any other control gets at least the room its style asks for.
bool fits(const QWidget* control, QSize size)
{
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        const QRect needed = label->fontMetrics().boundingRect(
            QRect(QPoint(0, 0), size), int(label->alignment()) | Qt::TextWordWrap, label->text());
        return needed.width() <= size.width() && needed.height() <= size.height();
    }
    const QSize needed = control->minimumSizeHint();
    return needed.width() <= size.width() && needed.height() <= size.height();
}

// The black-and-white drawing for a monochrome screen, the 16-colour ones for any other.
QIcon windowPicture(const QScreen* screen)
{
    if (screen != nullptr && screen->depth() == 1) {
        return QIcon(QStringLiteral(":/icons/morvalen-32x32-2.xpm"));
    }
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/morvalen-32x32.xpm"));
    icon.addFile(QStringLiteral(":/icons/morvalen-16x16.xpm"));
    return icon;
}

} // namespace

using morvalen::textbox::BusyCursor;
using morvalen::textbox::TextBox;

// An error ends the command at its step: boxes written before it keep their new text, and the
// window stays open. Once the message is read, the box at fault has the focus and what is wrong
// in it is selected.
template<typename Steps>
void Form1::runReportingErrors(Steps&& steps)
{
    QString message;
    TextBox* box = nullptr;
    std::size_t offset = morvalen::Error::kNoPlace;
    std::size_t length = 0;
    try {
        const BusyCursor busy;
        steps();
        return;
    } catch (const std::bad_alloc&) {
        message = QStringLiteral("Not enough memory for this text.");
    } catch (const morvalen::Error& error) {
        message = QString::fromUtf8(error.what());
        box = boxFor(error.input());
        offset = error.offset();
        length = error.length();
    } catch (const std::exception& error) {
        message = QString::fromUtf8(error.what());
    }
    QMessageBox::critical(this, windowTitle(), message);
    if (box != nullptr) {
        box->setFocus(Qt::OtherFocusReason);
        if (offset == morvalen::Error::kNoPlace) {
            box->deselect();
        } else {
            box->setSelection(offset, offset + length);
        }
    }
}

TextBox* Form1::boxFor(morvalen::ErrorInput input) const
{
    switch (input) {
    case morvalen::ErrorInput::PlainHex: return m_ui->Text1;
    case morvalen::ErrorInput::EncryptedHex: return m_ui->Text2;
    case morvalen::ErrorInput::EncryptingBits: return m_ui->Text3;
    case morvalen::ErrorInput::None: break;
    }
    return nullptr;
}

Form1::Form1(morvalen::RandomSource* random, QWidget* parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::Form1>())
    , m_random(random)
{
    m_ui->setupUi(this);
    setWindowIcon(windowPicture(screen()));
    scaleToFont();
    // Screen readers name each box by its label, without the label's trailing colon.
    m_ui->Text1->setAccessibleName(QString::fromUtf8(morvalen::boxName(morvalen::ErrorInput::PlainHex)));
    m_ui->Text2->setAccessibleName(QString::fromUtf8(morvalen::boxName(morvalen::ErrorInput::EncryptedHex)));
    m_ui->Text3->setAccessibleName(QString::fromUtf8(morvalen::boxName(morvalen::ErrorInput::EncryptingBits)));
    m_ui->Text4->setAccessibleName(m_ui->Label4->text());
    // The key and the plain hex are what an attacker wants; the encrypted hex alone is not.
    m_ui->Text1->setSecret(true);
    m_ui->Text3->setSecret(true);
    m_ui->Text4->setSecret(true);
    // The sample is selected, so that what the user types or pastes first replaces it.
    m_ui->Text1->selectAll();
    m_ui->Text1->setFocus();
    // Enter and Return press a focused button as Space does; neither button becomes the window's
    // default, which would take Enter from the boxes.
    m_ui->Command10->installEventFilter(this);
    m_ui->Command1->installEventFilter(this);
    connect(m_ui->Command10, &QPushButton::clicked, this, &Form1::Command10_Click);
    connect(m_ui->Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
}

Form1::~Form1() = default;

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    auto* button = qobject_cast<QPushButton*>(watched);
    if (button == nullptr || event->type() != QEvent::KeyPress) {
        return QWidget::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (!enter || (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        return false;
    }
    // A held key presses once, as Space does.
    if (!key->isAutoRepeat()) {
        button->click();
    }
    return true;
}

void Form1::Command10_Click()
{
    runReportingErrors([this] {
        // Read once, at the start: typing into Text1 at a yield does not change this encryption.
        std::string plain(m_ui->Text1->utf8());
        // The window repaints here, and a click runs its command nested inside this one. A 1 MiB
        // input yields some 70,000 times; a pass through the event loop at each would double the
        // command's time, so a yield within a few milliseconds of the last pass skips it. Events
        // wait at most that long, and the first yield always passes.
        std::chrono::steady_clock::time_point lastPass {};
        morvalen::EncryptResult result = morvalen::encrypthexbytes(plain, randomSource(), [&lastPass] {
            if (std::chrono::steady_clock::now() - lastPass >= kYieldInterval) {
                QCoreApplication::processEvents();
                lastPass = std::chrono::steady_clock::now();
            }
        });
        // The key moves into its box; a 70 MB key is not copied, nor read again for bytes beyond
        // ASCII, which the core never writes.
        m_ui->Text2->setUtf8(std::move(result.encryptedHex), kAscii);
        m_ui->Text3->setUtf8(std::move(result.encryptingBits), kAscii);
        decryptIntoText4();
    });
}

void Form1::Command1_Click()
{
    runReportingErrors([this] { decryptIntoText4(); });
}

// Decrypts what Text2 and Text3 hold now, which after a nested command or an edit is not
// necessarily what this command's encryption wrote.
void Form1::decryptIntoText4()
{
    // The key is read where it stands in its box; only the short hex is copied, since the core
    // consumes it.
    std::string encrypted(m_ui->Text2->utf8());
    m_ui->Text4->setUtf8(morvalen::decrypthexbytes(encrypted, m_ui->Text3->utf8()), kAscii);
}

// Form1.ui is drawn at 15 twips per pixel, the classic mapping at 96 dpi: each geometry in it is
// the layout's twips divided by 15. This scales it like dialog units do, by the smallest factor at
// which every caption fits in the default font, so the window grows with the font and with the
// screen's scaling and keeps the layout's proportions. The layout is fixed; the window does not
// resize.
void Form1::scaleToFont()
{
    const QRect designedClient = rect();
    const QList<QWidget*> controls = findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    QList<QRect> designed;
    // Start where one line of the font fills the lowest control, and grow from there.
    double factor = 0.0;
    for (const QWidget* control : controls) {
        designed.append(control->geometry());
        factor = std::max(factor, double(fontMetrics().height()) / control->height());
    }
    const auto allFit = [&](double candidate) {
        for (qsizetype i = 0; i < controls.size(); ++i) {
            if (!fits(controls[i], scaled(designed[i], candidate).size())) {
                return false;
            }
        }
        return true;
    };
    // The bound only guards against a style whose controls never fit.
    while (factor < 8.0 && !allFit(factor)) {
        factor *= 1.01;
    }
    for (qsizetype i = 0; i < controls.size(); ++i) {
        controls[i]->setGeometry(scaled(designed[i], factor));
    }
    setFixedSize(scaled(designedClient, factor).size());
}

morvalen::RandomSource& Form1::randomSource() const
{
    return m_random != nullptr ? *m_random : morvalen::systemRandom();
}
