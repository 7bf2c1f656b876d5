// Drives the real window through its controls, as a user would. Masks are scripted where a test
// needs to know the key, or needs extra masks and the yields that come with them.
#include "Form1.h"
#include "support/scripted_random.h"

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <array>
#include <gtest/gtest.h>
#include <optional>
#include <tuple>

// Long box texts would flood a failure message.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.left(80).toStdString() << (text.size() > 80 ? "..." : "") << "\" (" << text.size() << " chars)";
}

namespace {

using Boxes = std::array<QString, 4>; // Text1 to Text4
using Masks = std::vector<std::uint8_t>;

// Once a script runs out every mask is 0101, so each digit d other than 5 encrypts to d ^ 5 with
// this group.
const QString kFillerGroup = QString(",0101").repeated(13) + "|";

struct Window
{
    // nullopt: the window's own default, the system's CSPRNG.
    explicit Window(std::optional<Masks> masks = Masks())
        : scripted(masks.value_or(Masks()))
        , form(masks ? &scripted : nullptr)
    {
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    }

    QLineEdit* line(int n) const { return form.findChild<QLineEdit*>("Text" + QString::number(n)); }
    QPlainTextEdit* text3() const { return form.findChild<QPlainTextEdit*>("Text3"); }
    Boxes boxes() const { return {line(1)->text(), line(2)->text(), text3()->toPlainText(), line(4)->text()}; }
    void setBoxes(const Boxes& texts) const
    {
        line(1)->setText(texts[0]);
        line(2)->setText(texts[1]);
        text3()->setPlainText(texts[2]);
        line(4)->setText(texts[3]);
    }

    // Presses the button and answers any message box shown before the click returns, nested
    // commands' included, so a box no test expected fails that test instead of waiting forever.
    // Returns the texts of the boxes answered, run together. Every box is an error named by the caption.
    QString click(const char* name) const
    {
        QString shown;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                EXPECT_EQ(box->windowTitle(), QString("Morvalen - Admin"));
                EXPECT_EQ(box->icon(), QMessageBox::Critical);
                shown += box->text();
                box->accept();
            }
        });
        poll.start(0);
        QTest::mouseClick(form.findChild<QWidget*>(name), Qt::LeftButton);
        return shown;
    }

    morvalen::testing::ScriptedRandom scripted;
    Form1 form;
};

// Whether the caption would show whole at that size, wrapped at its spaces; a control other than
// a label also needs room for its frame.
bool captionFits(const QWidget* control, const QString& caption, QSize size)
{
    const QFontMetrics metrics = control->fontMetrics();
    const QSize room = size - (control->inherits("QLabel") ? QSize() : QSize(2 * metrics.averageCharWidth(), 1));
    const QRect needed = metrics.boundingRect(QRect(QPoint(), room), Qt::TextWordWrap, caption);
    return needed.width() <= room.width() && needed.height() <= room.height();
}

TEST(WindowLayout, OpensAsTheTableDescribesAndTabsInOrder)
{
    const std::tuple<const char*, QString, QRectF> layout[] = {
        // name, caption, geometry in twips
        {"Label1", "Hex to encrypt :", {360, 240, 1215, 255}},
        {"Text1", "AAAA", {1560, 240, 2775, 285}},
        {"Label2", "Hex encrypted", {360, 600, 1095, 255}},
        {"Text2", "", {1560, 600, 2775, 285}},
        {"Label3", "Encrypting bits", {360, 960, 1095, 255}},
        {"Text3", "", {1560, 960, 2775, 2775}},
        {"Label4", "Unencrypted (using encrypting bits)", {240, 3840, 1335, 615}},
        {"Text4", "", {1560, 3840, 2775, 285}},
        {"Command10", "Encrypt+decrypt", {480, 4560, 1695, 255}},
        {"Command1", "dekrypter", {2880, 4560, 1215, 255}},
    };
    Window w;
    EXPECT_EQ(w.form.windowTitle(), QString("Morvalen - Admin"));
    EXPECT_EQ(w.boxes(), (Boxes {"AAAA", "", "", ""}));
    EXPECT_EQ(QApplication::focusWidget(), w.line(1));

    // One scale, pixels per twip, for the whole window; rounding moves an edge by a pixel at most.
    const double scale = w.form.width() / 4695.0;
    EXPECT_NEAR(w.form.height(), 4950 * scale, 1.0);
    bool allFitSmaller = true;
    for (const auto& [name, caption, twips] : layout) {
        SCOPED_TRACE(name);
        const QWidget* control = w.form.findChild<QWidget*>(name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->property(control == w.text3() ? "plainText" : "text").toString(), caption);
        const QRectF expected(twips.topLeft() * scale, twips.size() * scale);
        const QRectF actual = control->geometry().toRectF();
        EXPECT_TRUE(expected.adjusted(-1, -1, 1, 1).contains(actual)
                    && actual.contains(expected.adjusted(1, 1, -1, -1)));
        EXPECT_TRUE(captionFits(control, caption, control->size()));
        allFitSmaller = allFitSmaller && captionFits(control, caption, (expected.size() * 0.9).toSize());
    }
    // The scale comes from the font, not a constant: a tenth smaller and some caption would not fit.
    EXPECT_FALSE(allFitSmaller);

    for (const char* next : {"Text2", "Command10", "Text3", "Text4", "Command1", "Text1"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), QString(next));
    }
}

TEST(WindowCommands, BothRoundTripTheInputWithTheSystemsMasks)
{
    // The long input is past a line edit's default limit of 32767 characters.
    const QString longInput = QString("0123456789abcdefABCDEF").repeated(1819);
    for (const QString& input : {QString("AAAA"), QString(), QString("0a1b2c"), longInput}) {
        SCOPED_TRACE(input.left(10).toStdString());
        Window w(std::nullopt);
        w.setBoxes({input, "", "", "stale"});
        w.click("Command10");
        const Boxes written = w.boxes();
        EXPECT_EQ(written[0], input);
        EXPECT_EQ(written[1].size(), input.size());
        EXPECT_EQ(written[2].count('|'), input.size());
        EXPECT_EQ(written[3], input.toUpper());

        w.line(4)->setText("stale");
        w.click("Command1");
        EXPECT_EQ(w.boxes(), written);
    }
}

TEST(WindowCommands, DekrypterReadsTheBoxesAsEditedAndAnErrorLeavesThemAsTheyWere)
{
    const QString key = kFillerGroup.repeated(4);
    const std::tuple<const char*, std::size_t, QString, QString, QString> cases[] = {
        // button, the box given new text, that text, then Text4 and the message shown
        {"Command1", 1, "1234", "4761", ""},
        {"Command1", 2, ",1111" + key, "5AAA", ""}, // 13 of 0101 and one 1111 together make 1010
        {"Command10", 0, "AAGA", "old", "Hex to encrypt: 'G' at position 3 is not a hex digit."},
        {"Command1", 1, "", "old", "Encrypting bits: 4 mask groups for 0 hex digits; each digit needs its own group."},
        {"Command1", 2, "x" + key, "old", "Encrypting bits: 'x' at position 1 is not 0, 1, ',' or '|'."},
    };
    for (const auto& [button, box, text, text4, message] : cases) {
        SCOPED_TRACE(text.left(10).toStdString());
        Window w;
        Boxes boxes = {"AAAA", "FFFF", key, "old"};
        boxes.at(box) = text;
        w.setBoxes(boxes);
        EXPECT_EQ(w.click(button), message);
        boxes[3] = text4;
        EXPECT_EQ(w.boxes(), boxes);
    }

    // Decryption reads Text2 back, so a box that keeps only two of the digits written makes it fail
    // after the encryption's writes.
    Window w;
    w.line(4)->setText("old");
    w.line(2)->setMaxLength(2);
    EXPECT_EQ(w.click("Command10"),
              QString("Encrypting bits: 4 mask groups for 2 hex digits; each digit needs its own group."));
    EXPECT_EQ(w.boxes(), (Boxes {"AAAA", "FF", key, "old"}));
}

TEST(WindowYield, ANestedCommandWritesFirstAndClosingWaitsForTheCommand)
{
    const QString nestedKey = kFillerGroup.repeated(2);
    const std::pair<const char*, Boxes> cases[] = {
        // pressed at the yield, just before the window is closed there; the boxes before the run
        {"Command10", {"AAAA", "", "", ""}},
        {"Command1", {"AAAA", "EE", nestedKey, ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        // 12 masks of 0 and then A leave the first digit zero after its 13 masks: it takes one
        // extra mask, the filler, and yields once.
        Window w(Masks {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA});
        w.setBoxes(c.second);
        Boxes atYield;
        // Run as the program does, inside exec(), which closing the last window ends.
        QTimer::singleShot(0, &w.form, [&] {
            QTimer::singleShot(0, &w.form, [&] {
                w.line(1)->setText("bb"); // does not change the suspended encryption
                w.click(c.first);
                atYield = w.boxes();
                w.form.close();
            });
            w.click("Command10");
        });
        QTimer::singleShot(10000, &w.form, [] { QCoreApplication::exit(1); });
        EXPECT_EQ(QApplication::exec(), 0);
        // At the yield only the nested command has written; the interrupted one then writes over it.
        EXPECT_EQ(atYield, (Boxes {"bb", "EE", nestedKey, "BB"}));
        const QString key = QString(",0000").repeated(12) + ",1010,0101|" + kFillerGroup.repeated(3);
        EXPECT_EQ(w.boxes(), (Boxes {"bb", "5FFF", key, "AAAA"}));
    }
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
