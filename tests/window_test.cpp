// Drives the real window through its controls, as a user would. Masks are scripted where a test
// needs to know the key, or needs extra masks and the yields that come with them.
#include "Form1.h"
#include "support/helpers.h"
#include "support/scripted_random.h"
#include "support/test_application.h"
#include "textbox/TextBox.h"

#include <QtTest>
#include <QtWidgets>
#include <algorithm>
#include <array>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

// Long box texts would flood a failure message.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.left(60).toStdString() << "\" (" << text.size() << " chars)";
}

// Once a script runs out every mask is 0101, so with this group a digit d other than 5 encrypts to d ^ 5.
const QString kFiller = QString(",0101").repeated(13) + "|";

using morvalen::textbox::TextBox;

struct Window
{
    // Without start texts the boxes are as the window opens them; systemMasks leaves the masks to
    // the window's own default, the system's CSPRNG.
    explicit Window(const QStringList& start = {}, std::vector<std::uint8_t> masks = {}, bool systemMasks = false)
        : scripted(std::move(masks))
        , form(systemMasks ? nullptr : &scripted)
    {
        for (int i = 0; i < start.size(); ++i)
            box(i)->setText(start[i]);
        // Answers every message box, nested commands' too, so a box no test expected cannot block
        // a test; what it said is kept for the test to check.
        poll.callOnTimeout([this] {
            if (auto* msg = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                EXPECT_TRUE(msg->windowTitle() == "Morvalen - Admin" && msg->icon() == QMessageBox::Critical);
                EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr); // no wait cursor over a message
                shown += msg->text();
                msg->accept();
            }
        });
        poll.start(0);
        form.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
    }

    TextBox* box(int i) const { return form.findChild<TextBox*>("Text" + QString::number(i + 1)); }
    QString text(int i) const { return box(i)->text(); }
    // Retypes the text as it is, which can be undone; any write clears undo, even of the same text,
    // so undo still being available afterwards shows the box was never written.
    void markUnwritten(int i) const
    {
        box(i)->selectAll();
        box(i)->insert(text(i));
    }
    QStringList boxes() const { return {text(0), text(1), text(2), text(3)}; }
    void click(const char* name) const { QTest::mouseClick(form.findChild<QWidget*>(name), Qt::LeftButton); }

    morvalen::testing::ScriptedRandom scripted;
    Form1 form;
    QString shown;
    QTimer poll;
};

TEST(WindowFocus, OpensWithTheInputFocusedAndTabsInOrder)
{
    Window w;
    EXPECT_EQ(w.form.windowTitle(), QString("Morvalen - Admin"));
    EXPECT_EQ(w.boxes(), (QStringList {"AAAA", "", "", ""}));
    // Every control where the twips table puts it, at one scale for the whole window.
    const std::tuple<const char*, int, int, int, int> twips[] = {{"Label1", 360, 240, 1215, 255},
        {"Text1", 1560, 240, 2775, 285}, {"Label2", 360, 600, 1095, 255}, {"Text2", 1560, 600, 2775, 285},
        {"Label3", 360, 960, 1095, 255}, {"Text3", 1560, 960, 2775, 2775}, {"Label4", 240, 3840, 1335, 615},
        {"Text4", 1560, 3840, 2775, 285}, {"Command10", 480, 4560, 1695, 255}, {"Command1", 2880, 4560, 1215, 255}};
    const double scale = w.box(0)->width() / 2775.0;
    for (const auto& [name, left, top, width, height] : twips) {
        const QRect expected(qRound(left * scale), qRound(top * scale), qRound(width * scale), qRound(height * scale));
        const QRect actual = w.form.findChild<QWidget*>(name)->geometry();
        EXPECT_LE((actual.topLeft() - expected.topLeft()).manhattanLength()
                + std::abs(actual.width() - expected.width()) + std::abs(actual.height() - expected.height()),
            4)
            << name;
    }
    EXPECT_LE((QPoint(w.form.width(), w.form.height()) - QPoint(qRound(4695 * scale), qRound(4950 * scale)))
                  .manhattanLength(),
        2);
    // Each box is named for screen readers as its label reads, and the label's mnemonic leads to it.
    const char* names[] = {"Hex to encrypt", "Hex encrypted", "Encrypting bits", "Unencrypted (using encrypting bits)"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(w.box(i)->accessibleName(), names[i]);
        if (QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(w.box(i))) {
            EXPECT_EQ(accessible->text(QAccessible::Name), names[i]);
        }
        EXPECT_EQ(w.form.findChild<QLabel*>("Label" + QString::number(i + 1))->buddy(), w.box(i)) << names[i];
    }
    // The sample is selected, so that the first paste replaces it rather than joining it.
    EXPECT_EQ(w.box(0)->selectedText(), "AAAA");
    QGuiApplication::clipboard()->setText("0b0b");
    QTest::keySequence(w.box(0), QKeySequence::Paste);
    EXPECT_EQ(w.text(0), "0b0b");
    // Where the focus is on opening, then after each Tab.
    for (const char* next : {"Text1", "Text2", "Command10", "Text3", "Text4", "Command1", "Text1"}) {
        EXPECT_EQ(QApplication::focusWidget()->objectName(), QString(next));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
}

TEST(WindowCommands, BothRoundTripWithTheSystemsMasksAndWriteOnlyTheirOwnBoxes)
{
    // The long input is past the 32767 characters a QLineEdit takes by default.
    for (const QString& input : {QString("AAAA"), QString("0a1b2c"), QString("0123456789abcdef").repeated(2049)}) {
        Window w({input, "", "", "stale"}, {}, true);
        w.markUnwritten(0);
        w.click("Command10");
        const QStringList written = w.boxes();
        EXPECT_EQ(written[3], input.toUpper());

        w.markUnwritten(1);
        w.box(3)->setText("stale");
        w.click("Command1");
        EXPECT_EQ(w.boxes(), written);
        EXPECT_TRUE(w.box(0)->isUndoAvailable() && w.box(1)->isUndoAvailable());
    }
}

TEST(WindowCommands, DekrypterReadsTheBoxesAsEditedAndAnErrorSelectsWhatIsWrongAndWritesNoMore)
{
    const std::tuple<const char*, QStringList, QStringList, QString, const char*, QString> cases[] = {
        // button, the boxes before and after (none: unchanged), the message shown, then where the
        // focus ends and what that box has selected
        {"Command1", {"AAAA", "1234", kFiller.repeated(4), "old"}, {"AAAA", "1234", kFiller.repeated(4), "4761"}, "",
            "Command1", ""},
        {"Command10", {"AAGA", "FFFF", "", "old"}, {}, "Hex to encrypt: 'G' at position 3 is not a hex digit.", "Text1",
            "G"},
        {"Command10", {"0aéb", "", "", "old"}, {}, "Hex to encrypt: 'é' at position 3 is not a hex digit.", "Text1",
            "é"},
        {"Command10", {"a b c ", "", "", "old"}, {},
            "Hex to encrypt: 3 hex digits is an odd count; each byte takes two.", "Text1", "c"},
        {"Command1", {"AAAA", "FF\u263aF", "", "old"}, {}, "Hex encrypted: '\u263a' at position 3 is not a hex digit.",
            "Text2", "\u263a"},
        {"Command1", {"AAAA", "FFFF", "x", "old"}, {}, "Encrypting bits: 'x' at position 1 is not 0, 1, ',' or '|'.",
            "Text3", "x"},
        {"Command1", {"AAAA", "FF", ",0101,010 |", "old"}, {},
            "Encrypting bits: the mask at position 6 has 3 digits; a mask has 4.", "Text3", ",010"},
        {"Command1", {"AAAA", "FFFF", kFiller.repeated(6), "old"}, {},
            "Encrypting bits: more than 4 mask groups for 4 hex digits; each digit needs its own group.", "Text3", ""},
    };
    for (const auto& [button, before, after, message, focus, selected] : cases) {
        Window w(before);
        for (int i = 0; i < 4; ++i)
            w.box(i)->selectAll(); // so that the box at fault must choose its selection
        w.click(button);
        EXPECT_EQ(w.shown, message);
        EXPECT_EQ(w.boxes(), after.isEmpty() ? before : after);
        w.form.activateWindow(); // as the window manager does once the message box is gone
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w.form) && QApplication::focusWidget());
        EXPECT_EQ(QApplication::focusWidget()->objectName(), focus);
        if (auto* box = qobject_cast<TextBox*>(QApplication::focusWidget())) {
            EXPECT_EQ(box->selectedText(), selected) << focus;
        }
    }
}

// What an error selects is in view whole, wherever the box stood scrolled before: the bad digit
// left of a view scrolled to the end, or right of one at the start, and a bad mask far down the key
// at every place in its row (the first group grows a mask at a time), across a row's end too.
TEST(WindowCommands, WhatAnErrorSelectsIsScrolledIntoView)
{
    const QString bad = QString("11").repeated(100) + "G" + QString("22").repeated(100);
    const auto key = [](int extra) {
        return QString(",0101").repeated(13 + extra) + "|" + kFiller.repeated(2999) + ",010" + kFiller.repeated(3000);
    };
    struct Row
    {
        const char* name;
        int box;
        QStringList texts;
        bool caretAtStart;
    };
    std::vector<Row> rows = {
        {"input, scrolled to its end", 0, {bad, "", "", ""}, false},
        {"input, at its start", 0, {bad, "", "", ""}, true},
        {"encrypted hex, scrolled to its end", 1, {"", bad, kFiller, ""}, false},
        {"encrypted hex, at its start", 1, {"", bad, kFiller, ""}, true},
    };
    for (int extra = 0; extra < 8; ++extra) {
        rows.push_back({"key, at its start", 2, {"", QString("11").repeated(3000), key(extra), ""}, true});
        rows.push_back({"key, at its end", 2, {"", QString("11").repeated(3000), key(extra), ""}, false});
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Window w(row.texts);
        TextBox* box = w.box(row.box);
        box->setCursorPosition(row.caretAtStart ? 0 : box->buffer().size());
        w.click(row.box == 0 ? "Command10" : "Command1");
        ASSERT_TRUE(box->hasSelectedText());
        // The first and the last character selected each show their whole width.
        for (const std::size_t pos : {box->selectionStart(), box->selectionEnd() - 1}) {
            const QRect shown = box->characterRect(pos);
            EXPECT_GE(shown.width(), box->fontMetrics().horizontalAdvance(box->textRange(pos, pos + 1)) - 1) << pos;
            EXPECT_TRUE(box->rect().contains(shown)) << pos;
        }
    }
}

// Enter and Return press a focused button as Space does; neither button is the default.
TEST(WindowFocus, EnterAndReturnPressTheFocusedButton)
{
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        Window w({"AAAA", "1234", kFiller.repeated(4), "old"});
        auto* button = w.form.findChild<QPushButton*>("Command1");
        EXPECT_FALSE(button->isDefault());
        button->setFocus();
        QTest::keyClick(button, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_EQ(w.text(3), "4761") << key;
        // A box keeps Enter for itself: in the key box it breaks the line, and presses nothing.
        w.box(3)->setText("old");
        w.box(2)->setFocus();
        QTest::keyClick(w.box(2), key);
        EXPECT_EQ(w.text(3), "old") << key;
    }
}

// Occurrences of a stretch of text in this process's writable memory, read through /proc/self/mem
// so that freed memory is read by the kernel, not by code a sanitizer watches. The stretch is kept
// masked, so the search finds no copy of its own.
std::size_t copiesInMemory(const std::array<char, 64>& masked)
{
    constexpr char kMask = 0x55;
    std::ifstream maps("/proc/self/maps");
    const int mem = ::open("/proc/self/mem", O_RDONLY);
    std::vector<char> chunk(1 << 20);
    std::size_t found = 0;
    for (std::string line; std::getline(maps, line);) {
        std::uintptr_t start = 0, end = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %4s", &start, &end, perms) != 3 || perms[0] != 'r' || perms[1] != 'w'
            || line.find("[v") != std::string::npos) {
            continue;
        }
        // Stretches that cross a chunk's end are found from the next one, which starts 63 bytes back.
        for (std::uintptr_t at = start; at < end; at += chunk.size() - masked.size() + 1) {
            const auto size = std::min<std::uintptr_t>(chunk.size(), end - at);
            const ssize_t got = ::pread(mem, chunk.data(), size, static_cast<off_t>(at));
            const auto unmasked = [](char c, char m) { return (c ^ kMask) == m; };
            for (auto i = chunk.begin(), read = chunk.begin() + std::max<ssize_t>(got, 0);
                 (i = std::search(i, read, masked.begin(), masked.end(), unmasked)) != read; ++i)
                ++found;
            if (size < chunk.size()) {
                break;
            }
        }
    }
    ::close(mem);
    return found;
}

// A key replaced in its box is wiped, not merely freed: neither the key deleted by hand nor the
// first key of the session stays anywhere in memory.
TEST(WindowSecrets, AReplacedKeyLeavesNoCopyInMemory)
{
    if (morvalen::testing::kUnderAddressSanitizer) {
        GTEST_SKIP() << "the sanitizer's shadow memory is too large to search, and it holds freed blocks back";
    }
    Window w({QString("0123456789abcdef").repeated(256)}, {}, true);
    std::array<std::array<char, 64>, 2> keys {};
    for (std::array<char, 64>& key : keys) {
        w.click("Command10");
        const std::string_view text = w.box(2)->utf8();
        for (std::size_t i = 0; i < key.size(); ++i) {
            key[i] = static_cast<char>(text[text.size() / 2 + i] ^ 0x55);
        }
        EXPECT_GE(copiesInMemory(key), 1u); // the search finds the key where it stands
        w.box(2)->setFocus();
        QTest::keySequence(w.box(2), QKeySequence::SelectAll);
        QTest::keyClick(w.box(2), Qt::Key_Delete);
    }
    w.click("Command10");
    EXPECT_EQ(copiesInMemory(keys[0]), 0u);
    EXPECT_EQ(copiesInMemory(keys[1]), 0u);
}

// Clipboard managers keep what they see in a history; the key and the plain hex must not land there.
TEST(WindowClipboard, CopiesFromTheKeyAndThePlainHexAreMarkedSecretAndTheEncryptedHexIsNot)
{
    Window w({"AB", "CD", ",0101|", "EF"});
    for (const auto& [box, secret] : {std::pair {0, true}, {1, false}, {2, true}, {3, true}}) {
        SCOPED_TRACE("Text" + std::to_string(box + 1));
        QGuiApplication::clipboard()->clear();
        w.box(box)->selectAll();
        w.box(box)->copy();
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data->text(), w.text(box));
        EXPECT_EQ(data->formats().contains("x-kde-passwordManagerHint"), secret);
        EXPECT_EQ(data->data("x-kde-passwordManagerHint"), secret ? QByteArray("secret") : QByteArray());
    }
}

TEST(WindowYield, NestedCommandsWriteFirstAndClosingWaitsForTheInterruptedOne)
{
    // 12 masks of 0 and then A leave the first digit zero after its 13 masks: it takes one extra
    // mask, the filler, and yields once.
    Window w({}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xA});
    // Run as the program does, inside exec(), which closing the last window ends. The second call
    // is queued behind the first, so it runs at the first's yield.
    QTimer::singleShot(0, &w.form, [&] { w.click("Command10"); });
    QTimer::singleShot(0, &w.form, [&] {
        // The interrupted command shows the wait cursor, and leaves the buttons enabled.
        const QCursor* busy = QGuiApplication::overrideCursor();
        EXPECT_TRUE(busy != nullptr && busy->shape() == Qt::WaitCursor);
        EXPECT_TRUE(w.form.findChild<QPushButton*>("Command10")->isEnabled());
        w.box(0)->setText("bb"); // does not change the suspended encryption
        w.click("Command10");
        w.box(3)->clear(); // so that only dekrypter can write it back
        w.click("Command1");
        EXPECT_EQ(w.boxes(), (QStringList {"bb", "EE", kFiller.repeated(2), "BB"}));
        w.form.close();
    });
    QTimer::singleShot(10000, &w.form, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
    // Only now does the interrupted command write, over what the nested ones wrote.
    const QString key = QString(",0000").repeated(12) + ",1010,0101|" + kFiller.repeated(3);
    EXPECT_EQ(w.boxes(), (QStringList {"bb", "5FFF", key, "AAAA"}));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr); // every command put its cursor back
}

int main(int argc, char** argv)
{
    // No display needed, in CI or anywhere else.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    TestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
