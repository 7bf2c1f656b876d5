// Edits, undos and redos in random order on the text box's editing model. A plain string replays
// every edit; after each step the model's text must equal it, the history must count the steps
// the replay counted, undo must bring back the text and selection from before its step, and the
// caret and anchor must stand at character starts. At the end, undoing everything must give the
// text last set from code and redoing everything the latest text. A UTF-16 index with short
// strides, kept up by the model's reports, must count units as a plain count of the text does.
// The editing keys go through the controller over a plain layout of fixed-width rows: a moving key
// leaves the text as it was, a deleting one takes one range, the selection where there was one
// and else a range that touches the caret, and leaves the caret where the range began.
//
// Input: operations, each an opcode byte and its arguments (see Session::step). Inserted text is
// one of kTokens, so that clusters, line breaks and malformed bytes turn up often.
#include "EditController.h"
#include "EditModel.h"
#include "fuzz_support.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using namespace morvalen::fuzz;
using namespace morvalen::textbox;

namespace {

constexpr std::size_t kMaxSteps = 512;

// A letter, a blank, a line break, a combining mark, a two-byte letter, an emoji, a word, and
// malformed bytes: a stray continuation byte, a lone lead byte, a cut-short sequence.
constexpr std::array<std::string_view, 10> kTokens
    = {"a", " ", "\n", "\xCC\x81", "\xC3\xA9", "\xF0\x9F\x98\x80", "word ", "\x80", "\xF0", "\xE2\x82"};

// Clusters are a character and the combining marks (U+0300 to U+036F) after it; words end at
// blanks. Written here from those definitions, not taken from the widget.
class PlainBoundaries : public Boundaries
{
public:
    std::size_t step(const TextBuffer& text, std::size_t pos, Direction direction, Unit unit) override
    {
        const bool forward = direction == Direction::Forward;
        const auto move = [&](std::size_t at) { return forward ? text.nextCharacter(at) : text.previousCharacter(at); };
        const auto mark = [&](std::size_t at) {
            const auto lead = static_cast<unsigned char>(text.at(at));
            return at + 1 < text.size()
                && (lead == 0xCC || (lead == 0xCD && static_cast<unsigned char>(text.at(at + 1)) <= 0xAF));
        };
        const auto blank = [&](std::size_t at) { return text.at(forward ? at : at - 1) == ' '; };
        const auto atEnd = [&](std::size_t at) { return forward ? at >= text.size() : at == 0; };
        if (unit == Unit::Character) {
            pos = move(pos);
            while (!atEnd(pos) && pos > 0 && mark(pos)) {
                pos = move(pos);
            }
            return pos;
        }
        while (!atEnd(pos) && !blank(pos)) {
            pos = move(pos);
        }
        while (!atEnd(pos) && blank(pos)) {
            pos = move(pos);
        }
        return pos;
    }
};

// Rows of up to kRowWidth bytes, cut at character starts and at line breaks; one row for all of a
// one-line box. The goal column counts bytes; a page is three rows.
class FixedRows : public LayoutQueries
{
public:
    static constexpr std::size_t kRowWidth = 5;

    explicit FixedRows(EditModel& model)
        : m_model(model)
    {
    }

    std::pair<std::size_t, std::size_t> rowAround(std::size_t pos) override { return rows()[rowOf(pos)]; }
    bool rightToLeft(std::size_t pos) override { return pos % 3 == 0; } // any answer must do
    std::optional<VerticalMove> verticalTarget(int rows, bool keepAnchor) override
    {
        const auto all = this->rows();
        const std::size_t row = rowOf(m_model.caret());
        if (!m_model.goalColumn()) {
            m_model.setGoalColumn(static_cast<double>(m_model.caret() - all[row].first));
        }
        const auto wanted = static_cast<std::ptrdiff_t>(row) + rows;
        if (wanted < 0 || static_cast<std::size_t>(wanted) >= all.size()) {
            if (!keepAnchor && (rows == 1 || rows == -1)) {
                return std::nullopt;
            }
            return VerticalMove {wanted < 0 ? 0 : m_model.text().size(), false};
        }
        const auto [start, end] = all[static_cast<std::size_t>(wanted)];
        return VerticalMove {std::min(end, start + static_cast<std::size_t>(*m_model.goalColumn())), true};
    }
    int visibleRows() override { return 3; }
    void scrollRows(std::ptrdiff_t) override { }

private:
    std::vector<std::pair<std::size_t, std::size_t>> rows() const
    {
        const TextBuffer& text = m_model.text();
        if (!m_model.isMultiLine()) {
            return {{0, text.size()}};
        }
        std::vector<std::pair<std::size_t, std::size_t>> all;
        std::size_t start = 0;
        while (true) {
            std::size_t end = start;
            while (end < text.size() && text.at(end) != '\n' && end - start < kRowWidth) {
                end = text.nextCharacter(end);
            }
            all.emplace_back(start, end);
            if (end == text.size()) {
                return all;
            }
            start = text.at(end) == '\n' ? end + 1 : end;
        }
    }
    std::size_t rowOf(std::size_t pos) const
    {
        const auto all = rows();
        std::size_t row = 0;
        while (row + 1 < all.size() && all[row + 1].first <= pos) {
            ++row;
        }
        return row;
    }

    EditModel& m_model;
};

// UTF-16 units of bytes as Qt counts them, each character walked from the start.
std::size_t plainUnits(std::string_view bytes)
{
    std::size_t units = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = utf8Length(bytes.substr(i));
        units += length == 4 ? 2 : 1;
        i += length;
    }
    return units;
}

class Session : private EditObserver
{
public:
    Session(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size)
        , m_model(m_boundaries, this)
    {
        m_model.setMultiLine(byte() & 1);
        m_states.push_back({});
    }

    void run()
    {
        for (std::size_t steps = 0; m_at < m_size && steps < kMaxSteps; ++steps) {
            step();
            checkState();
        }
        while (m_model.canUndo()) {
            m_model.undo();
        }
        check(text() == m_states.front().text, "undoing everything gives the text set from code", text());
        while (m_model.canRedo()) {
            m_model.redo();
        }
        check(text() == m_states.back().text, "redoing everything gives the latest text", text());
    }

private:
    struct State
    {
        std::string text;
        Selection before; // the selection before the step that led here
    };

    void textReplaced(std::size_t pos, const TextSnapshot& removed, std::size_t inserted) override
    {
        m_units.edited(pos, removed.size(), inserted);
    }
    void selectionMoved(Selection) override { }

    std::uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    std::size_t position()
    {
        const std::size_t raw = (std::size_t {byte()} << 8) | byte();
        return raw % (m_model.text().size() + 2); // now and then past the end
    }
    std::string token() { return std::string(kTokens[byte() % kTokens.size()]); }
    std::string text() const { return m_model.text().copy(0, m_model.text().size()); }

    void step()
    {
        const std::uint8_t op = byte();
        Selection before = m_model.selection();
        const std::size_t start = m_model.selectionStart();
        const std::size_t length = m_model.selectionEnd() - start;
        switch (op % 13) {
        case 0: {
            std::string fresh = token() + token() + token();
            m_model.setText(fresh);
            m_plain = fresh;
            m_states = {{fresh, {}}};
            m_done = 0;
            return;
        }
        case 1:
        case 2: {
            const std::string typed = token();
            m_model.insert(typed, op % 13 == 1 ? EditKind::Typing : EditKind::Other);
            if (!typed.empty() || length > 0) {
                m_plain.replace(start, length, typed);
            }
            break;
        }
        case 3: {
            const std::size_t caret = m_model.caret();
            const std::size_t from = length > 0 ? start : m_model.text().previousCharacter(caret);
            m_model.backspace();
            m_plain.erase(from, length > 0 ? length : caret - from);
            break;
        }
        case 4: {
            const std::size_t to
                = length > 0 ? start + length : m_model.step(start, Direction::Forward, Unit::Character);
            m_model.deleteForward();
            m_plain.erase(start, to - start);
            break;
        }
        case 5: m_model.moveTo(position(), (op & 0x80) != 0); return;
        case 6: {
            const std::size_t anchor = position();
            m_model.select(anchor, position());
            return;
        }
        case 7: m_model.selectAll(); return;
        case 8:
            if (m_done > 0) {
                m_model.undo();
                --m_done;
                check(m_model.selection() == m_states[m_done + 1].before, "undo puts back the selection", text());
            }
            return;
        case 9:
            if (m_done + 1 < m_states.size()) {
                m_model.redo();
                ++m_done;
            }
            return;
        case 10: {
            std::size_t from = std::min(position(), m_model.text().size());
            std::size_t to = std::min(position(), m_model.text().size());
            from = m_model.text().characterStart(std::min(from, to));
            to = m_model.text().characterStart(std::max(from, to));
            const std::string typed = token();
            m_model.replace(from, to, typed, EditKind::Other);
            m_plain.replace(from, to - from, typed);
            break;
        }
        case 12:
            if (!key(before)) {
                return;
            }
            break;
        default: {
            const std::string lineBreak = op & 1 ? "\n" : "";
            if (lineBreak.empty()) {
                m_model.removeSelection();
                m_plain.erase(start, length);
            } else {
                m_model.insert(lineBreak, EditKind::Other);
                m_plain.replace(start, length, lineBreak);
            }
            break;
        }
        }
        recordStep(before);
    }

    // An editing key through the controller; true when it is one that deletes. A one-line word
    // delete first grows the selection to the word, and undo puts back that grown selection.
    bool key(Selection& before)
    {
        const std::uint8_t pick = byte();
        const KeyAction action {static_cast<KeyOperation>(pick % (static_cast<int>(KeyOperation::Page) + 1)),
            (pick & 0x20) != 0 ? Direction::Backward : Direction::Forward, (pick & 0x40) != 0, (pick & 0x80) != 0};
        const std::string old = text();
        const std::size_t anchor = m_model.anchor();
        std::size_t caret = m_model.caret();
        std::size_t start = m_model.selectionStart();
        std::size_t end = m_model.selectionEnd();
        const std::size_t boundary = m_model.step(caret, action.direction, Unit::Word);
        const bool ran = m_keys.run(action);
        check(ran == (action.operation > KeyOperation::SelectAll), "the controller runs the editing keys only");
        const std::string now = text();
        const bool deletes = action.operation == KeyOperation::DeleteWord
            || action.operation == KeyOperation::DeleteToLineEnd || action.operation == KeyOperation::Delete;
        if (!deletes) {
            check(now == old, "a moving key leaves the text", now);
            return false;
        }
        check(now.size() <= old.size(), "a deleting key only takes text", now);
        const std::size_t taken = old.size() - now.size();
        // Where the bytes went: the caret may stand past a character the deletion joined.
        const auto takes = [&](std::size_t from) {
            return from + taken <= old.size() && now == old.substr(0, from) + old.substr(from + taken);
        };
        // A one-line word delete grows the selection to the word boundary first, and undo puts
        // back the grown selection.
        if (action.operation == KeyOperation::DeleteWord && !m_model.isMultiLine()) {
            caret = boundary;
            start = std::min(anchor, boundary);
            end = std::max(anchor, boundary);
            if (taken > 0) {
                before = {boundary, anchor};
            }
        }
        // A word delete in more lines, with nothing selected, takes from the caret to the boundary.
        const bool wordInLines = action.operation == KeyOperation::DeleteWord && m_model.isMultiLine();
        if (wordInLines && start == end) {
            start = std::min(caret, boundary);
            end = std::max(caret, boundary);
        }
        std::size_t from = TextBuffer::npos;
        if (start != end) {
            check(taken == end - start && takes(start), "a deleting key takes the selection", now);
            from = start;
        } else {
            for (std::size_t at = caret >= taken ? caret - taken : 0; at <= caret && from == TextBuffer::npos; ++at) {
                from = takes(at) ? at : from;
            }
            check(from != TextBuffer::npos, "a deleting key takes text at the caret", now);
        }
        m_plain.erase(from, taken);
        return true;
    }

    // After an edit the history has one step more, or the same number when the edit joined the
    // last step (or changed nothing); what was undone cannot be redone any more.
    void recordStep(Selection before)
    {
        const std::size_t steps = m_model.history().undoSteps();
        if (steps == m_done + 1) {
            m_states.resize(m_done + 1);
            m_states.push_back({m_plain, before});
            m_done = steps;
        } else {
            check(steps == m_done, "an edit adds at most one step");
            check(m_done > 0 || m_plain == m_states.front().text, "an edit is recorded");
            if (m_model.history().redoSteps() == 0) {
                m_states.resize(m_done + 1);
            }
            m_states[m_done].text = m_plain;
        }
    }

    void checkState()
    {
        if (m_done < m_states.size()) {
            m_plain = m_states[m_done].text;
        }
        check(text() == m_plain, "the text equals the plain replay", text());
        const UndoHistory& history = m_model.history();
        check(history.undoSteps() == m_done, "undo steps as the replay counted them");
        check(history.redoSteps() == m_states.size() - 1 - m_done, "redo steps as the replay counted them");
        const TextBuffer& buffer = m_model.text();
        for (const std::size_t pos : {m_model.caret(), m_model.anchor()}) {
            check(pos <= buffer.size() && buffer.characterStart(pos) == pos, "caret and anchor at character starts");
        }
        const std::string whole = text();
        const std::size_t caretUnits = plainUnits(std::string_view(whole).substr(0, m_model.caret()));
        check(m_units.unitsAt(m_model.caret()) == caretUnits, "UTF-16 units before the caret", whole);
        check(m_units.positionOf(caretUnits) == m_model.caret(), "the caret found by its UTF-16 units", whole);
        check(m_units.size() == plainUnits(whole), "UTF-16 units of the whole text", whole);
        // The same count over a piece of text on its own, as rows and input methods take it.
        check(Utf16Index::unitsIn(whole) == plainUnits(whole), "UTF-16 units of a piece", whole);
        check(Utf16Index::positionIn(whole, caretUnits) == m_model.caret(), "a piece's offset by its units", whole);
    }

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
    PlainBoundaries m_boundaries;
    EditModel m_model;
    FixedRows m_layout {m_model};
    EditController m_keys {m_model, m_layout};
    Utf16Index m_units {m_model.text(), 8};
    std::string m_plain;
    std::vector<State> m_states; // the text after each step, the first set from code
    std::size_t m_done = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Session(data, size).run();
    return 0;
}
