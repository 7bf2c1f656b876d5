// The editing model and its undo history without a widget: scripts of edits, and the text, caret,
// selection and undo steps expected after them. Boundaries here are plain: a letter with the
// combining marks after it is one cluster, words end at spaces.
#include "EditController.h"
#include "EditModel.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

using namespace morvalen::textbox;

namespace {

class PlainBoundaries : public Boundaries
{
public:
    std::size_t step(const TextBuffer& text, std::size_t pos, Direction direction, Unit unit) override
    {
        const bool forward = direction == Direction::Forward;
        const auto move = [&] { pos = forward ? text.nextCharacter(pos) : text.previousCharacter(pos); };
        const auto more = [&] { return forward ? pos < text.size() : pos > 0; };
        if (unit == Unit::Character) {
            move();
            const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text.at(at)); };
            while (
                pos > 0 && pos + 1 < text.size() && (byte(pos) == 0xCC || (byte(pos) == 0xCD && byte(pos + 1) <= 0xAF)))
                move();
            return pos;
        }
        // Forward past the word, then the spaces after it; backward past the spaces, then the word.
        const auto skip = [&](bool spaces) {
            while (more() && (text.at(forward ? pos : pos - 1) == ' ') == spaces)
                move();
        };
        skip(!forward);
        skip(forward);
        return pos;
    }
};

// Counts what the model reports, to show each change is reported once.
struct Reports : EditObserver
{
    void textReplaced(std::size_t, const TextSnapshot&, std::size_t) override { ++replaced; }
    void selectionMoved(Selection) override { ++moved; }
    int replaced = 0;
    int moved = 0;
};

// One step of a script: t:abc types each character, i:abc inserts as code does, p:abc pastes,
// m:N moves the caret, s:A,C selects from A to C, b is Backspace, d Delete, x removes the
// selection, n a line break, a selects all, u undoes and r redoes.
void run(EditModel& model, const std::string& script)
{
    std::istringstream steps(script);
    for (std::string step; std::getline(steps, step, '|');) {
        const char op = step[0];
        const std::string arg = step.size() > 2 ? step.substr(2) : std::string();
        switch (op) {
        case 't':
            for (std::size_t i = 0; i < arg.size();) {
                const std::size_t length = utf8Length(std::string_view(arg).substr(i));
                model.insert(arg.substr(i, length), EditKind::Typing);
                i += length;
            }
            break;
        case 'i': model.insert(arg, EditKind::Typing); break;
        case 'p': model.insert(arg, EditKind::Other); break;
        case 'm': model.moveTo(std::stoul(arg), false); break;
        case 's': model.select(std::stoul(arg), std::stoul(arg.substr(arg.find(',') + 1))); break;
        case 'b': model.backspace(); break;
        case 'd': model.deleteForward(); break;
        case 'x': model.removeSelection(); break;
        case 'n': model.insert("\n", EditKind::Other); break;
        case 'a': model.selectAll(); break;
        case 'u': model.undo(); break;
        case 'r': model.redo(); break;
        default: FAIL() << "no step " << step;
        }
    }
}

struct State
{
    std::string text;
    std::size_t caret = 0;
    std::size_t anchor = 0;
    bool operator==(const State&) const = default;
};

std::ostream& operator<<(std::ostream& out, const State& s)
{
    return out << '"' << s.text << "\" caret " << s.caret << " anchor " << s.anchor;
}

State stateOf(const EditModel& model)
{
    return {model.text().copy(0, model.text().size()), model.caret(), model.anchor()};
}

struct UndoCase
{
    const char* name;
    const char* script;
    std::vector<State> undone; // after each undo, until none is left
};

// Both modes follow the one rule; the start text is set from code, so undo never goes past it.
void checkUndo(const UndoCase& row, bool multiLine)
{
    SCOPED_TRACE(std::string(row.name) + (multiLine ? " (multi-line)" : " (one line)"));
    PlainBoundaries boundaries;
    EditModel model(boundaries);
    model.setMultiLine(multiLine);
    run(model, row.script);
    const State edited = stateOf(model);
    for (const State& expected : row.undone) {
        ASSERT_TRUE(model.canUndo());
        model.undo();
        EXPECT_EQ(stateOf(model), expected);
    }
    EXPECT_FALSE(model.canUndo());
    // Redo brings back every step; the caret stands after what the last one inserted.
    while (model.canRedo()) {
        model.redo();
    }
    EXPECT_EQ(stateOf(model).text, edited.text);
}

} // namespace

// The undo cases of Qt's own tests for QLineEdit (undo, undo_keypressevents, redo), then ours.
TEST(UndoRule, QLineEditsOwnCasesAndOursHoldInBothModes)
{
    const UndoCase rows[] = {
        {"numbers inserted at places", "i:1|i:5|m:1|i:3|m:1|i:2|m:3|i:4",
            {{"1235", 3, 3}, {"135", 1, 1}, {"15", 1, 1}, {"", 0, 0}}},
        {"hello world inserted at places", "i:World|m:0|i:Hello|m:0|i:Well|m:9|i:There",
            {{"WellHelloWorld", 9, 9}, {"HelloWorld", 0, 0}, {"World", 0, 0}, {"", 0, 0}}},
        {"a selection replaced", "t:Ensuring|t: instan|m:9|t:an |s:10,8|t: unique instance.",
            {{"Ensuring an instan", 8, 10}, {"Ensuring instan", 9, 9}, {"", 0, 0}}},
        {"typing and moving the caret", "t:AFRAID|m:0|t:VERY|m:0|t:BE|m:12|t:!",
            {{"BEVERYAFRAID", 12, 12}, {"VERYAFRAID", 0, 0}, {"AFRAID", 0, 0}, {"", 0, 0}}},
        {"a selection deleted", "t:1234|m:2|s:2,4|d", {{"1234", 4, 2}, {"", 0, 0}}},
        {"a deletion undone, then another", "t:AB12|s:0,2|d|u|m:2|s:2,4|d", {{"AB12", 4, 2}, {"", 0, 0}}},
        {"an undone replacement replaced again", "t:abcd|m:2|t:1234|s:6,2|t:5|u|t:6",
            {{"ab1234cd", 2, 6}, {"abcd", 2, 2}, {"", 0, 0}}},
        {"typing, then Backspace", "t:ABC|b", {{"ABC", 3, 3}, {"", 0, 0}}},
        // Where our own steps end.
        {"Backspaces are one step", "t:abcd|b|b|b", {{"abcd", 4, 4}, {"", 0, 0}}},
        {"Deletes are one step", "t:abcd|m:0|d|d|d", {{"abcd", 0, 0}, {"", 0, 0}}},
        {"typing after Backspace is a new step", "t:ab|b|t:cd", {{"a", 1, 1}, {"ab", 2, 2}, {"", 0, 0}}},
        {"Delete after Backspace is a new step", "t:abc|m:1|b|d", {{"bc", 0, 0}, {"abc", 1, 1}, {"", 0, 0}}},
        {"a paste is a step of its own", "t:ab|p:XY|t:cd", {{"abXY", 4, 4}, {"ab", 2, 2}, {"", 0, 0}}},
        {"a line break ends typing", "t:ab|n|t:cd", {{"ab\n", 3, 3}, {"ab", 2, 2}, {"", 0, 0}}},
        {"a cut and the typing after it are one step", "t:abcd|s:1,3|x|t:e", {{"abcd", 3, 1}, {"", 0, 0}}},
        {"Backspace over a selection and the typing after it are one step", "t:aaa|a|b|i:bbb",
            {{"aaa", 3, 0}, {"", 0, 0}}},
        {"Delete over a selection and the Deletes after it are one step", "t:abcd|s:1,3|d|d",
            {{"abcd", 3, 1}, {"", 0, 0}}},
        {"Backspace after Backspace over a selection joins it", "t:abcd|s:2,3|b|b|t:x",
            {{"ad", 1, 1}, {"abcd", 3, 2}, {"", 0, 0}}},
        {"typing after an undo goes on with the step before", "t:ab|b|u|t:c", {{"", 0, 0}}},
        {"select all and type", "t:abc|a|t:xy", {{"abc", 3, 0}, {"", 0, 0}}},
    };
    for (const UndoCase& row : rows) {
        checkUndo(row, false);
        checkUndo(row, true);
    }
}

// Text and caret after edits, undo and redo, with no history check: the model's own operations.
TEST(EditModel, EditsLeaveTextAndCaretAsExpected)
{
    struct Row
    {
        const char* name;
        const char* start;
        const char* script;
        State expected;
    } const rows[] = {
        {"typing replaces the selection", "hello", "s:1,4|t:EY", {"hEYo", 3, 3}},
        {"Delete takes a whole cluster", "ae\xCC\x81z", "m:1|d", {"az", 1, 1}},
        {"Backspace takes one code point", "ae\xCC\x81z", "m:4|b", {"aez", 2, 2}},
        {"a selection moves to character starts", "\xC3\xA9\xC3\xA9", "s:1,3", {"\xC3\xA9\xC3\xA9", 2, 0}},
        {"redo leaves the caret after the text it put back", "", "t:abc|m:0|p:XY|u|r", {"XYabc", 2, 2}},
        {"nothing to undo keeps all", "keep", "u|r", {"keep", 4, 4}},
        {"a lead byte typed before stray bytes makes one character: the caret goes past it", "\x82\xAC", "m:0|i:\xE2",
            {"\xE2\x82\xAC", 3, 3}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PlainBoundaries boundaries;
        EditModel model(boundaries);
        model.setText(row.start);
        run(model, row.script);
        EXPECT_EQ(stateOf(model), row.expected);
    }
}

TEST(EditModel, EachChangeIsReportedOnceAndTheUpDownColumnIsForgottenOnAnyMove)
{
    PlainBoundaries boundaries;
    Reports reports;
    EditModel model(boundaries, &reports);
    model.setText("hello world");
    EXPECT_EQ(reports.replaced, 1);
    EXPECT_EQ(reports.moved, 1); // the caret went to the end
    model.select(0, 5);
    model.insert("HI", EditKind::Typing);
    EXPECT_EQ(reports.replaced, 2);
    EXPECT_EQ(reports.moved, 3);
    model.moveTo(2, false); // where it is: nothing to report
    EXPECT_EQ(reports.moved, 3);

    model.setGoalColumn(40.0);
    model.select(2, 2);
    EXPECT_EQ(model.goalColumn(), 40.0); // nothing moved
    model.moveTo(3, false);
    EXPECT_FALSE(model.goalColumn());
    model.setGoalColumn(40.0);
    model.insert("x", EditKind::Typing);
    EXPECT_FALSE(model.goalColumn());

    // A long paste goes into the buffer whole, and undo and redo take it out and back.
    const std::string before = model.text().copy(0, model.text().size());
    const std::size_t at = model.caret();
    const std::string pasted(TextBuffer::kShareAbove * 3, 'k');
    model.insert(pasted, EditKind::Other);
    model.undo();
    EXPECT_EQ(model.text().copy(0, model.text().size()), before);
    model.redo();
    EXPECT_EQ(model.text().copy(0, model.text().size()), before.substr(0, at) + pasted + before.substr(at));
}

namespace {

// Rows as a fixed-width font wraps them: each paragraph cut every four bytes (ASCII text only),
// one row for all of a one-line box; the goal column counts bytes; a page is two rows.
class FixedRows : public LayoutQueries
{
public:
    FixedRows(EditModel& model, bool rightToLeft)
        : m_model(model)
        , m_rightToLeft(rightToLeft)
    {
    }

    std::pair<std::size_t, std::size_t> rowAround(std::size_t pos) override { return rows()[rowOf(pos)]; }
    bool rightToLeft(std::size_t) override { return m_rightToLeft; }
    std::optional<VerticalMove> verticalTarget(int count, bool keepAnchor) override
    {
        const auto all = rows();
        const std::size_t row = rowOf(m_model.caret());
        if (!m_model.goalColumn()) {
            m_model.setGoalColumn(static_cast<double>(m_model.caret() - all[row].first));
        }
        const auto wanted = static_cast<std::ptrdiff_t>(row) + count;
        if (wanted >= 0 && static_cast<std::size_t>(wanted) < all.size()) {
            const auto [start, end] = all[static_cast<std::size_t>(wanted)];
            return VerticalMove {std::min(end, start + static_cast<std::size_t>(*m_model.goalColumn())), true};
        }
        if (!keepAnchor && (count == 1 || count == -1)) {
            return std::nullopt;
        }
        return VerticalMove {wanted < 0 ? 0 : m_model.text().size(), false};
    }
    int visibleRows() override { return 2; }
    void scrollRows(std::ptrdiff_t rows) override { scrolled += rows; }

    std::ptrdiff_t scrolled = 0;

private:
    std::vector<std::pair<std::size_t, std::size_t>> rows() const
    {
        const std::string text = m_model.text().copy(0, m_model.text().size());
        std::vector<std::pair<std::size_t, std::size_t>> all;
        for (std::size_t start = 0; all.empty() || start <= text.size();) {
            const std::size_t end = std::min(m_model.isMultiLine() ? text.find('\n', start) : text.size(), text.size());
            do {
                all.emplace_back(start, m_model.isMultiLine() ? std::min(start + 4, end) : end);
                start = all.back().second;
            } while (start < end);
            start = end + 1;
        }
        return all;
    }
    std::size_t rowOf(std::size_t pos) const
    {
        const auto all = rows();
        return static_cast<std::size_t>(
            std::count_if(all.begin() + 1, all.end(), [&](auto row) { return row.first <= pos; }));
    }

    EditModel& m_model;
    bool m_rightToLeft;
};

} // namespace

// What each editing key does to the text, caret and selection, as QLineEdit and QPlainTextEdit
// do it.
TEST(EditController, KeysChangeTextCaretAndSelectionAsQtsBoxesDo)
{
    using Op = KeyOperation;
    constexpr auto kBack = Direction::Backward;
    constexpr auto kFwd = Direction::Forward;
    struct Row
    {
        const char* name;
        bool multiLine;
        bool rightToLeft;
        const char* start;
        std::size_t anchor, caret;
        std::vector<KeyAction> keys;
        State expected;
        std::ptrdiff_t scrolled = 0;
    } const rows[] = {
        {"one line: Ctrl+Backspace takes the word before", false, false, "hello world", 11, 11,
            {{Op::DeleteWord, kBack}}, {"hello ", 6, 6}},
        {"one line: Ctrl+Delete takes the word and its blanks", false, false, "hello world", 0, 0,
            {{Op::DeleteWord, kFwd}}, {"world", 0, 0}},
        {"one line: the selection grows to the word and all of it goes", false, false, "hello world", 11, 8,
            {{Op::DeleteWord, kBack}}, {"hello ", 6, 6}},
        {"multi-line: Ctrl+Backspace takes the word before", true, false, "ab cd", 5, 5, {{Op::DeleteWord, kBack}},
            {"ab ", 3, 3}},
        {"multi-line: a word key over a selection takes only the selection", true, false, "ab cd", 1, 2,
            {{Op::DeleteWord, kFwd}}, {"a cd", 1, 1}},
        {"one line: to the line end is to the text end", false, false, "ab\ncd", 1, 1, {{Op::DeleteToLineEnd}},
            {"a", 1, 1}},
        {"multi-line: to the line end is to the paragraph end", true, false, "ab\ncd", 1, 1, {{Op::DeleteToLineEnd}},
            {"a\ncd", 1, 1}},
        {"an arrow collapses a selection to its side", false, false, "abcd", 3, 1, {{Op::Character, kFwd}},
            {"abcd", 3, 3}},
        {"under Windows' bindings a one-line arrow moves from the caret", false, false, "abcd", 3, 1,
            {{Op::Character, kFwd, false, true}}, {"abcd", 2, 2}},
        {"multi-line arrows collapse under every binding", true, false, "abcd", 3, 1,
            {{Op::Character, kBack, false, true}}, {"abcd", 1, 1}},
        {"right to left: the right arrow goes back", true, true, "abc", 1, 1, {{Op::Character, kFwd}}, {"abc", 0, 0}},
        {"right to left: the right arrow collapses to the start", true, true, "abcd", 1, 3, {{Op::Character, kFwd}},
            {"abcd", 1, 1}},
        {"right to left: words move on screen", true, true, "ab cd", 0, 0, {{Op::Word, kBack}}, {"ab cd", 3, 3}},
        {"Home goes to the start of the wrapped row", true, false, "abcdefgh", 6, 6, {{Op::LineStart}},
            {"abcdefgh", 4, 4}},
        {"End on a wrapped row stops before the next row", true, false, "abcdefgh", 0, 0, {{Op::LineEnd}},
            {"abcdefgh", 4, 4}},
        {"End on a row wrapped after a blank stops before the blank", true, false, "abc defg", 0, 0,
            {{Op::LineEnd, kFwd, true}}, {"abc defg", 3, 0}},
        {"paragraph and document ends", true, false, "ab\ncd\nef", 4, 4,
            {{Op::ParagraphEnd}, {Op::ParagraphStart, kFwd, true}, {Op::DocumentEnd, kFwd, true}},
            {"ab\ncd\nef", 8, 5}},
        {"Down keeps the column through a short row", true, false, "abc\nd\nefgh", 2, 2,
            {{Op::Row, kFwd}, {Op::Row, kFwd}}, {"abc\nd\nefgh", 8, 8}},
        {"Up on the first row does nothing", true, false, "abc\nd", 2, 2, {{Op::Row, kBack}}, {"abc\nd", 2, 2}},
        {"Shift+Up on the first row selects to the start", true, false, "abc\nd", 2, 2, {{Op::Row, kBack, true}},
            {"abc\nd", 0, 2}},
        {"Page Down scrolls a page and moves as many rows", true, false, "ab\ncd\nef\ngh", 1, 1, {{Op::Page, kFwd}},
            {"ab\ncd\nef\ngh", 7, 7}, 2},
        {"the clipboard and history keys are the widget's", true, false, "ab", 0, 2,
            {{Op::Undo}, {Op::Redo}, {Op::Cut}, {Op::Copy}, {Op::Paste}, {Op::SelectAll}}, {"ab", 2, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PlainBoundaries boundaries;
        EditModel model(boundaries);
        model.setMultiLine(row.multiLine);
        model.setText(row.start);
        model.select(row.anchor, row.caret);
        FixedRows layout(model, row.rightToLeft);
        EditController keys(model, layout);
        bool ran = false;
        for (const KeyAction& key : row.keys) {
            ran = keys.run(key) || ran;
        }
        EXPECT_EQ(stateOf(model), row.expected);
        EXPECT_EQ(layout.scrolled, row.scrolled);
        EXPECT_EQ(ran, row.keys.front().operation > Op::SelectAll);
    }
}
