// Drives the real window through its controls, as a user would. Masks are scripted where a test
// needs to know the key, or needs extra masks and the yields that come with them.
#include "Form1.h"
#include "support/scripted_random.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <array>
#include <gtest/gtest.h>
#include <optional>
#include <stdexcept>

// Long box texts would flood a failure message.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.left(80).toStdString() << (text.size() > 80 ? "..." : "") << "\" (" << text.size() << " chars)";
}

namespace {

using morvalen::testing::ScriptedRandom;
using Boxes = std::array<QString, 4>; // Text1 to Text4

// Once a script runs out every mask is 0101, so each digit d other than 5 encrypts to d ^ 5 with
// this group.
const QString kFillerGroup = QString(",0101").repeated(13) + "|";

// 12 masks of 0 and then the digit itself leave the first digit zero after its 13 masks: it takes
// one extra mask, the filler, and yields once.
std::vector<std::uint8_t> yieldOnFirstDigit(std::uint8_t digit)
{
    std::vector<std::uint8_t> masks(12, 0);
    masks.push_back(digit);
    return masks;
}
// What "Encrypt+decrypt" on "AAAA" with that script writes, whatever ran at its yield.
const Boxes kYieldedRun
    = {"AAAA", "5FFF", QString(",0000").repeated(12) + ",1010,0101|" + kFillerGroup.repeated(3), "AAAA"};

class Window
{
public:
    explicit Window(std::vector<std::uint8_t> masks = {})
        : scripted(std::move(masks))
        , form(&scripted)
    {
        open();
    }
    // null: the window's own default, the system's CSPRNG.
    explicit Window(morvalen::RandomSource* random)
        : scripted({})
        , form(random)
    {
        open();
    }
    void open()
    {
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    }

    QLineEdit* line(const char* name) const { return form.findChild<QLineEdit*>(name); }
    QPlainTextEdit* text3() const { return form.findChild<QPlainTextEdit*>("Text3"); }
    QPushButton* button(const char* name) const { return form.findChild<QPushButton*>(name); }
    // Presses the button and answers any message box shown before the click returns, nested
    // commands' included, so a box no test expected fails that test instead of waiting forever.
    // Returns the text of the first box answered. Every box is an error named by the caption.
    std::optional<QString> click(const char* name) const
    {
        std::optional<QString> shown;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                EXPECT_EQ(box->windowTitle(), "Morvalen - Admin");
                EXPECT_EQ(box->icon(), QMessageBox::Critical);
                if (!shown) {
                    shown = box->text();
                }
                QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            }
        });
        poll.start(0);
        QTest::mouseClick(button(name), Qt::LeftButton);
        return shown;
    }

    Boxes boxes() const
    {
        return {line("Text1")->text(), line("Text2")->text(), text3()->toPlainText(), line("Text4")->text()};
    }
    void setBoxes(const Boxes& texts) const
    {
        line("Text1")->setText(texts[0]);
        line("Text2")->setText(texts[1]);
        text3()->setPlainText(texts[2]);
        line("Text4")->setText(texts[3]);
    }
    // Replaces a box's text by typing, the way a user edits it.
    void type(QWidget* box, const QString& text) const
    {
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, text);
    }

    ScriptedRandom scripted;
    Form1 form;
};

struct Control
{
    const char* name;
    const char* caption;
    int left, top, width, height; // twips
};

constexpr Control kLayout[] = {
    {"Label1", "Hex to encrypt :", 360, 240, 1215, 255},
    {"Text1", "AAAA", 1560, 240, 2775, 285},
    {"Label2", "Hex encrypted", 360, 600, 1095, 255},
    {"Text2", "", 1560, 600, 2775, 285},
    {"Label3", "Encrypting bits", 360, 960, 1095, 255},
    {"Text3", "", 1560, 960, 2775, 2775},
    {"Label4", "Unencrypted (using encrypting bits)", 240, 3840, 1335, 615},
    {"Text4", "", 1560, 3840, 2775, 285},
    {"Command10", "Encrypt+decrypt", 480, 4560, 1695, 255},
    {"Command1", "dekrypter", 2880, 4560, 1215, 255},
};

// Whether the caption shows whole: every word within the width, every line within the height.
bool captionFits(const QWidget* control, const QString& caption)
{
    const QFontMetrics metrics = control->fontMetrics();
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        for (const QString& word : caption.split(' ')) {
            if (metrics.horizontalAdvance(word) > label->width()) {
                return false;
            }
        }
        return label->heightForWidth(label->width()) <= label->height();
    }
    const int padding = 2 * metrics.averageCharWidth();
    return metrics.horizontalAdvance(caption) + padding <= control->width() && metrics.height() < control->height();
}

TEST(WindowLayout, OpensAsTheTableDescribesWithCaptionsThatFit)
{
    Window w;
    EXPECT_EQ(w.form.windowTitle(), "Morvalen - Admin");
    EXPECT_EQ(w.boxes(), (Boxes {"AAAA", "", "", ""}));
    EXPECT_EQ(QApplication::focusWidget(), w.line("Text1"));
    const QList<QSize> iconSizes = w.form.windowIcon().availableSizes();
    EXPECT_TRUE(iconSizes.contains(QSize(16, 16)) && iconSizes.contains(QSize(32, 32)));

    // One scale, pixels per twip, for the whole window; rounding moves an edge by a pixel at most.
    const double scale = w.form.width() / 4695.0;
    EXPECT_NEAR(w.form.height(), 4950 * scale, 1.0);
    EXPECT_EQ(w.form.minimumSize(), w.form.maximumSize()); // resizing cannot move a control
    for (const Control& c : kLayout) {
        SCOPED_TRACE(c.name);
        const QWidget* control = w.form.findChild<QWidget*>(c.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->property(control == w.text3() ? "plainText" : "text").toString(), c.caption);
        EXPECT_FALSE(control->testAttribute(Qt::WA_SetFont)); // the platform's default font
        const QRect g = control->geometry();
        EXPECT_NEAR(g.left(), c.left * scale, 1.0);
        EXPECT_NEAR(g.top(), c.top * scale, 1.0);
        EXPECT_NEAR(g.x() + g.width(), (c.left + c.width) * scale, 1.0);
        EXPECT_NEAR(g.y() + g.height(), (c.top + c.height) * scale, 1.0);
        if (qobject_cast<const QLabel*>(control) || qobject_cast<const QPushButton*>(control)) {
            EXPECT_TRUE(captionFits(control, c.caption));
        }
    }
    // Label4 reaches into Text4, as Label1 into Text1; the box lies on top.
    const QRect overlap = w.form.findChild<QLabel*>("Label4")->geometry() & w.line("Text4")->geometry();
    ASSERT_FALSE(overlap.isEmpty());
    EXPECT_EQ(w.form.childAt(overlap.center()), w.line("Text4"));

    EXPECT_EQ(w.text3()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    EXPECT_EQ(w.text3()->wordWrapMode(), QTextOption::WrapAnywhere);
    EXPECT_EQ(w.text3()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(w.text3()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST(WindowLayout, GrowsWithTheFont)
{
    const int normalWidth = Window().form.width();
    const QFont normal = QApplication::font();
    QFont large = normal;
    large.setPointSizeF(normal.pointSizeF() * 2);
    QApplication::setFont(large);
    const int largeWidth = Window().form.width();
    QApplication::setFont(normal);
    EXPECT_GT(largeWidth, normalWidth * 3 / 2);
}

TEST(WindowLayout, TabVisitsTheBoxesAndButtonsInOrder)
{
    Window w;
    for (const char* next : {"Text2", "Command10", "Text3", "Text4", "Command1", "Text1"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), next);
    }
    EXPECT_EQ(w.text3()->toPlainText(), ""); // Tab left Text3 instead of typing into it
}

TEST(WindowCommands, BothCommandsRoundTripTheInputWithTheSystemsMasks)
{
    const QString longInput = QString("0123456789abcdefABCDEF").repeated(1819); // 40018 digits
    for (const QString& input : {QString("AAAA"), QString(), QString("0a1b2c"), longInput}) {
        SCOPED_TRACE(input.left(10).toStdString());
        Window w(nullptr);
        w.line("Text1")->setText(input);
        w.line("Text4")->setText("stale");
        w.click("Command10");
        const Boxes written = w.boxes();
        EXPECT_EQ(written[0], input);
        EXPECT_EQ(written[1].size(), input.size());
        EXPECT_EQ(written[2].count('|'), input.size());
        EXPECT_EQ(written[3], input.toUpper());

        w.line("Text4")->setText("stale");
        w.click("Command1");
        EXPECT_EQ(w.boxes(), written);
    }
}

TEST(WindowCommands, DekrypterDecryptsTheBoxesAsEdited)
{
    Window w;
    w.click("Command10");
    EXPECT_EQ(w.boxes(), (Boxes {"AAAA", "FFFF", kFillerGroup.repeated(4), "AAAA"}));
    w.type(w.line("Text2"), "1234");
    w.click("Command1");
    EXPECT_EQ(w.boxes(), (Boxes {"AAAA", "1234", kFillerGroup.repeated(4), "4761"}));

    // One more mask in the first group: 13 of 0101 and 1111 together make 1010.
    QTest::keyClick(w.text3(), Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClicks(w.text3(), ",1111");
    w.click("Command1");
    EXPECT_EQ(w.boxes()[3], "B761");
}

struct ErrorCase
{
    const char* button;
    std::size_t box; // the box given text that fails
    QString text;
    QString message;
};

TEST(WindowErrors, AreShownAndLeaveEveryBoxAsItWas)
{
    const QString key = kFillerGroup.repeated(4);
    const ErrorCase cases[] = {
        {"Command10", 0, "AAGA", "Hex to encrypt: 'G' at position 3 is not a hex digit."},
        {"Command10", 0, "AAA", "Hex to encrypt: 3 hex digits is an odd count; each byte takes two."},
        {"Command1", 1, "", "Encrypting bits: 4 mask groups for 0 hex digits; each digit needs its own group."},
        {"Command1", 1, "FFFX", "Hex encrypted: 'X' at position 4 is not a hex digit."},
        {"Command1", 2, "x" + key, "Encrypting bits: 'x' at position 1 is not 0, 1, ',' or '|'."},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        Window w;
        Boxes before = {"AAAA", "FFFF", key, "AAAA"};
        before.at(c.box) = c.text;
        w.setBoxes(before);
        EXPECT_EQ(w.click(c.button), c.message);
        EXPECT_EQ(w.boxes(), before);
        EXPECT_TRUE(w.form.isVisible());
    }
}

TEST(WindowErrors, StopTheCommandAtTheFailingStep)
{
    struct Failing final : morvalen::RandomSource
    {
        void fill(std::span<std::uint8_t>) override { throw std::runtime_error("The random source failed."); }
    } failing;
    Window broken(&failing);
    EXPECT_EQ(broken.click("Command10"), "The random source failed.");
    EXPECT_EQ(broken.boxes(), (Boxes {"AAAA", "", "", ""}));

    // Decryption reads Text2 back, so a box that keeps only part of what was written makes it fail
    // after the encryption's writes.
    Window w;
    w.line("Text4")->setText("old");
    w.line("Text2")->setMaxLength(2);
    EXPECT_EQ(w.click("Command10"), "Encrypting bits: 4 mask groups for 2 hex digits; each digit needs its own group.");
    EXPECT_EQ(w.boxes(), (Boxes {"AAAA", "FF", kFillerGroup.repeated(4), "old"}));
}

TEST(WindowYield, EncryptPressedAtAYieldRunsNestedAndIsOverwritten)
{
    Window w(yieldOnFirstDigit(0xA));
    std::optional<Boxes> atYield, afterNested;
    QTimer::singleShot(0, &w.form, [&] {
        atYield = w.boxes();
        w.type(w.line("Text1"), "bb"); // does not change the suspended encryption
        w.click("Command10");
        afterNested = w.boxes();
    });
    w.click("Command10");
    ASSERT_TRUE(atYield.has_value());
    EXPECT_EQ(*atYield, (Boxes {"AAAA", "", "", ""}));
    EXPECT_EQ(*afterNested, (Boxes {"bb", "EE", kFillerGroup.repeated(2), "BB"}));
    EXPECT_EQ(w.boxes(), (Boxes {"bb", kYieldedRun[1], kYieldedRun[2], kYieldedRun[3]}));
}

TEST(WindowYield, DekrypterPressedAtAYieldRunsNestedAndIsOverwritten)
{
    Window w(yieldOnFirstDigit(0xA));
    w.setBoxes({"AAAA", "EE", kFillerGroup.repeated(2), ""});
    std::optional<Boxes> afterNested;
    QTimer::singleShot(0, &w.form, [&] {
        w.click("Command1");
        afterNested = w.boxes();
    });
    w.click("Command10");
    ASSERT_TRUE(afterNested.has_value());
    EXPECT_EQ(*afterNested, (Boxes {"AAAA", "EE", kFillerGroup.repeated(2), "BB"}));
    EXPECT_EQ(w.boxes(), kYieldedRun);
}

TEST(WindowYield, ClosingAtAYieldEndsTheProgramOnceTheCommandHasFinished)
{
    // Run as the program does, inside exec(), which closing the last window ends.
    Window w(yieldOnFirstDigit(0xA));
    std::optional<Boxes> atClose;
    QTimer::singleShot(0, &w.form, [&] {
        QTimer::singleShot(0, &w.form, [&] {
            atClose = w.boxes();
            w.form.close();
        });
        w.click("Command10");
    });
    QTimer::singleShot(10000, &w.form, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
    ASSERT_TRUE(atClose.has_value());
    EXPECT_EQ(atClose->at(1), "");
    EXPECT_FALSE(w.form.isVisible());
    EXPECT_EQ(w.boxes(), kYieldedRun);
}

} // namespace

int main(int argc, char** argv)
{
    // No display needed, in CI or anywhere else.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
