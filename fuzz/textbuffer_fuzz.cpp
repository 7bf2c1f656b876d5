// Edits, snapshots (taken and put back) and row queries in random order on the text box's buffer
// and its row table. A plain string follows every edit: the buffer must hold the same bytes, walk
// characters as the UTF-8 reading written here does and keep every snapshot as it was taken; the
// row table, told of each edit as the widget tells it, must hold the rows worked out afresh from
// the string.
//
// Input: a header byte (the row width in columns; the high bit makes rows follow the caret), then
// operations, each an opcode byte and its arguments (see Session::step). Inserted text is raw
// bytes or tokens (see kTokens); a bulk insert repeats one token, enough to pass the size above
// which a snapshot shares the buffer's blocks instead of copying them.
//
// Small texts are checked whole after every step; larger ones around the last edit, and whole
// once at the end. Texts stay a little past the sharing size, so an input runs in well under a
// millisecond and the fuzzer tries thousands a second.
#include "RowTable.h"
#include "TextBuffer.h"
#include "fuzz_support.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace morvalen::fuzz;
using morvalen::textbox::RowMeasure;
using morvalen::textbox::RowTable;
using morvalen::textbox::TextBuffer;
using morvalen::textbox::TextSnapshot;

namespace {

constexpr std::size_t npos = TextBuffer::npos;
// Up to this size every position and row is checked after every step.
constexpr std::size_t kFullCheckLimit = 64;
// Up to this size every row is checked at the end.
constexpr std::size_t kFinalCheckLimit = 1 << 10;
// A little past the size above which snapshots share the buffer's blocks.
constexpr std::size_t kMaxText = TextBuffer::kShareAbove + (8 << 10);
// Bytes of text checked per input at most, a full check counting eight times and a lighter one
// one, so that no input takes long.
constexpr std::size_t kBudget = std::size_t {64} << 10;
constexpr std::size_t kMaxSnapshots = 8;

// A letter, a blank, a line break; the first and last of the combining marks (U+0300, U+036F)
// and the letter after them; a two-byte letter, the last narrow and first wide code points
// (U+10FF, U+1100) and a four-byte emoji; then malformed: a stray continuation byte, a lone lead,
// cut-short sequences (that the stray byte completes), a surrogate, an overlong form, a code
// point past U+10FFFF.
constexpr std::array<std::string_view, 18> kTokens = {"a", " ", "\n", "\xCC\x80", "\xCD\xAF", "\xCD\xB0", "\xC3\xA9",
    "\xE1\x83\xBF", "\xE1\x84\x80", "\xF0\x9F\x98\x80", "\x80", "\xF0", "\xE0\xA0", "\xF0\x9F\x98", "\xCC",
    "\xED\xA0\x80", "\xC0\x80", "\xF4\x90\x80\x80"};

// The model's own code gets no coverage feedback: only the buffer's and the table's branches
// should steer the fuzzer, and the model runs over every byte of texts past a megabyte.
// Only Clang knows the attribute; the replay build with GCC has no coverage to steer anyway.
#if defined(__clang__)
#define MODEL_CODE __attribute__((no_sanitize("coverage")))
#else
#define MODEL_CODE
#endif

struct Character
{
    std::size_t length = 1;
    std::uint32_t codePoint = 0;
    bool valid = false;
};

// Strict UTF-8; a byte that starts no valid sequence is a character of its own.
MODEL_CODE Character decodeAt(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<std::uint8_t>(text[at]);
    const Character invalid {1, lead, false};
    const std::size_t length = sequenceLength(lead);
    if (length == 0 || at + length > text.size()) {
        return invalid;
    }
    std::uint32_t codePoint = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<std::uint8_t>(text[at + k]);
        if ((next & 0xC0u) != 0x80u) {
            return invalid;
        }
        codePoint = codePoint << 6 | (next & 0x3Fu);
    }
    constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < kSmallest[length] || (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF) {
        return invalid;
    }
    return {length, codePoint, true};
}

MODEL_CODE bool isAscii(std::string_view text)
{
    return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

MODEL_CODE bool isMark(const Character& c)
{
    return c.valid && c.codePoint >= 0x300 && c.codePoint <= 0x36F;
}

MODEL_CODE std::size_t widthOf(const Character& c)
{
    return isMark(c) ? 0 : c.valid && c.codePoint >= 0x1100 ? 2 : 1;
}

// A made-up font: marks take no room and stay with the character before them, code points from
// U+1100 take two columns, everything else (malformed bytes too) one.
class ColumnMeasure final : public RowMeasure
{
public:
    std::size_t columns = 1;

    MODEL_CODE std::size_t fit(std::string_view text, bool more) override
    {
        check(!text.empty(), "measure given an empty row");
        // Near the end of a part the next character may be cut short, so only more text can tell.
        const auto unsure = [&](std::size_t at) { return at == text.size() || (more && text.size() - at < 4); };
        std::size_t used = 0;
        for (std::size_t at = 0;;) {
            if (unsure(at)) {
                return text.size();
            }
            const Character base = decodeAt(text, at);
            check(base.codePoint != '\n', "measure given a line break");
            if (at > 0 && used + widthOf(base) > columns) {
                return at;
            }
            used += widthOf(base);
            at += base.length;
            for (;;) {
                if (unsure(at)) {
                    return text.size();
                }
                const Character next = decodeAt(text, at);
                if (!isMark(next)) {
                    break;
                }
                at += next.length;
            }
        }
    }
};

// Character starts from `from`, which must be one, through the first past `to` (text.size()
// counting as one).
MODEL_CODE std::vector<std::size_t> characterStarts(std::string_view text, std::size_t from = 0, std::size_t to = npos)
{
    std::vector<std::size_t> starts;
    starts.reserve(to == npos ? text.size() - from + 1 : 8);
    std::size_t at = from;
    for (; at < text.size() && at <= to; at += decodeAt(text, at).length) {
        starts.push_back(at);
    }
    starts.push_back(at);
    return starts;
}

// A character start at most three bytes before pos (< text.size()), found without walking from
// the beginning: a byte that is no continuation byte starts a character, and so does one with no
// lead among the three bytes before it.
MODEL_CODE std::size_t characterStartNear(std::string_view text, std::size_t pos)
{
    for (std::size_t back = 0; back <= 3 && back <= pos; ++back) {
        if (back == pos || (static_cast<std::uint8_t>(text[pos - back]) & 0xC0u) != 0x80u) {
            return pos - back;
        }
    }
    return pos;
}

// Row starts from the row rules, each paragraph measured whole: all of them through the first past
// `until`.
MODEL_CODE std::vector<std::size_t> rowStarts(std::string_view text, RowMeasure& measure, std::size_t until)
{
    std::vector<std::size_t> starts {0};
    for (std::size_t start = 0;;) {
        const std::size_t lineBreak = text.find('\n', start);
        const std::size_t end = lineBreak == std::string_view::npos ? text.size() : lineBreak;
        while (start < end) {
            const std::size_t fits = measure.fit(text.substr(start, end - start), false);
            check(fits > 0 && fits <= end - start, "measure answered outside the row");
            start += fits;
            if (start < end) {
                starts.push_back(start);
            }
            if (start > until) {
                return starts;
            }
        }
        if (lineBreak == std::string_view::npos) {
            return starts;
        }
        start = end + 1;
        starts.push_back(start);
    }
}

// Formats the position only on failure, which costs less than formatting it for every check.
void checkAt(bool ok, const char* what, std::size_t pos)
{
    if (!ok) {
        fail(what, "at " + std::to_string(pos));
    }
}

std::size_t before(const std::vector<std::size_t>& sorted, std::size_t pos)
{
    return static_cast<std::size_t>(std::upper_bound(sorted.begin(), sorted.end(), pos) - sorted.begin() - 1);
}

// 1 to 40, narrow rows more often: the more row breaks, the more of them land next to an edit.
std::size_t columnsFrom(std::size_t seven)
{
    return 1 + seven * seven / 410;
}

class Reader
{
public:
    explicit Reader(std::string_view data)
        : m_data(data)
    {
    }
    bool done() const { return m_at >= m_data.size(); }
    std::uint8_t byte() { return m_at < m_data.size() ? static_cast<std::uint8_t>(m_data[m_at++]) : 0; }
    std::size_t word()
    {
        const std::size_t low = byte();
        return low | std::size_t {byte()} << 8;
    }
    std::string_view bytes(std::size_t count)
    {
        const std::string_view part = m_data.substr(m_at, std::min(count, m_data.size() - m_at));
        m_at += part.size();
        return part;
    }

private:
    std::string_view m_data;
    std::size_t m_at = 0;
};

class Session
{
public:
    explicit Session(std::string_view data)
        : m_in(data)
    {
        const std::uint8_t header = m_in.byte();
        m_measure.columns = columnsFrom(header & 0x7Fu);
        m_followCaret = header & 0x80u;
    }

    void run()
    {
        while (!m_in.done() && m_spent < kBudget) {
            step(m_in.byte());
            ++m_steps;
            const bool full = m_model.size() <= kFullCheckLimit;
            checkAll(full, false);
            m_spent += full ? 8 * (m_model.size() + 1) : 256;
        }
        // The whole table once at the end; on large texts only as far as the steps filled it.
        if (m_model.size() <= kFinalCheckLimit) {
            m_rows.rowCount();
        }
        checkAll(m_model.size() <= kFullCheckLimit, true);
    }

private:
    void step(std::uint8_t op)
    {
        switch (op % 16) {
        case 0: { // insert; the widget moves the string in when the box is empty
            const std::size_t pos = position();
            const std::uint8_t flags = m_in.byte();
            std::string text = makeText(flags & 0x3Fu, flags & 0x40u);
            m_model.insert(pos, text);
            const std::size_t caret = pos + text.size();
            if (flags & 0x80u) {
                m_buffer.insert(pos, std::move(text));
            } else {
                m_buffer.insert(pos, std::string_view(text));
            }
            edited(pos, caret);
            break;
        }
        case 1: { // erase
            const std::size_t pos = position();
            const std::size_t length = upTo(m_model.size() - pos);
            keep(m_buffer.erase(pos, length), m_model.substr(pos, length));
            m_model.erase(pos, length);
            edited(pos, pos);
            break;
        }
        case 2: { // replace, as the widget does it: both changes, then one word to the rows
            const std::size_t pos = position();
            const std::size_t length = upTo(m_model.size() - pos);
            const std::uint8_t flags = m_in.byte();
            std::string text = makeText(flags & 0x3Fu, flags & 0x40u, length);
            keep(m_buffer.erase(pos, length), m_model.substr(pos, length));
            m_model.replace(pos, length, text);
            const std::size_t caret = pos + text.size();
            if (m_buffer.empty()) {
                m_buffer.insert(pos, std::move(text));
            } else {
                m_buffer.insert(pos, std::string_view(text));
            }
            edited(pos, caret);
            break;
        }
        case 3:
        case 5: // erase everything
            keep(m_buffer.erase(0, m_model.size()), m_model);
            m_model.clear();
            edited(0, 0);
            break;
        case 4: { // assign, maybe with spare capacity that becomes the gap
            const std::uint8_t flags = m_in.byte();
            std::string text = makeText(flags & 0x3Fu, flags & 0x40u, m_model.size());
            if (flags & 0x80u) {
                text.reserve(text.size() + m_in.byte());
            }
            m_model = text;
            m_buffer.assign(std::move(text));
            newText();
            break;
        }
        case 6: { // snapshot
            const std::size_t pos = position();
            const std::size_t length = upTo(m_model.size() - pos);
            keep(m_buffer.snapshot(pos, length), m_model.substr(pos, length));
            break;
        }
        case 7: // a snapshot of the whole text, which shares storage once the text is large
            keep(m_buffer.snapshot(0, m_model.size()), m_model);
            break;
        case 8: check(m_buffer.contiguous() == m_model, "contiguous text differs"); break;
        case 15: { // a kept snapshot put back, as an undo puts back what was removed
            if (m_snapshots.empty()) {
                break;
            }
            const auto& [snapshot, text] = m_snapshots[m_in.byte() % m_snapshots.size()];
            if (text.size() > kMaxText - m_model.size()) {
                break;
            }
            const std::size_t pos = position();
            m_model.insert(pos, text);
            m_buffer.insert(pos, snapshot);
            edited(pos, pos + text.size());
            break;
        }
        case 9: // a new width forgets every row
            m_measure.columns = columnsFrom(m_in.byte() & 0x7Fu);
            m_rows.reset();
            m_modelRows.clear();
            break;
        case 10: {
            const std::size_t count = m_in.word();
            const std::size_t known = m_rows.ensureRows(count);
            const std::size_t all = modelRows(npos).size();
            check(known <= all && (known >= count || (m_rows.complete() && known == all)), "ensureRows stopped short");
            checkKnownRows();
            break;
        }
        case 11: {
            const std::size_t pos = upTo(m_model.size() + 1);
            check(m_rows.rowOf(pos) == before(modelRows(pos), pos), "rowOf differs");
            break;
        }
        case 12: check(m_rows.rowCount() == modelRows(npos).size(), "rowCount differs"); break;
        case 13: {
            const std::vector<std::size_t>& rows = modelRows(npos);
            const std::size_t row = upTo(rows.size());
            const std::size_t start = rows[std::min(row, rows.size() - 1)];
            const std::size_t end = row + 1 < rows.size() ? rows[row + 1] : m_model.size();
            const std::size_t textEnd = end > start && m_model[end - 1] == '\n' ? end - 1 : end;
            check(m_rows.rowStart(row) == start, "rowStart differs");
            check(m_rows.rowEnd(row) == end, "rowEnd differs");
            check(m_rows.rowTextEnd(row) == textEnd, "rowTextEnd differs");
            break;
        }
        default: { // bulk insert
            const std::size_t pos = position();
            // Up to 256 copies, or 64 times as many with the high bit: paragraphs longer than the
            // table fetches at once. A pick of 0xFF passes the size at which snapshots share
            // blocks, and moves the text in as a block of its own when the next byte is odd.
            const std::uint8_t pick = m_in.byte();
            const std::string_view token = kTokens[pick % kTokens.size()];
            const std::size_t copies = 1 + std::size_t {m_in.byte()};
            const std::size_t count = copies * (pick == 0xFF ? 256 : pick & 0x80u ? 64 : 1);
            const bool adopt = m_in.byte() & 1u;
            const std::size_t room = (kMaxText - m_model.size()) / token.size();
            const std::size_t length = std::min(count, room) * token.size();
            std::string text(token);
            while (text.size() < length) {
                text.append(text, 0, std::min(text.size(), length - text.size()));
            }
            text.resize(length);
            m_model.insert(pos, text);
            if (adopt) {
                m_buffer.insert(pos, std::move(text));
            } else {
                m_buffer.insert(pos, std::string_view(text));
            }
            edited(pos, pos + text.size());
            break;
        }
        }
    }

    // A snapshot, or what an erase removed, to be checked after every later step.
    void keep(TextSnapshot snapshot, std::string text)
    {
        check(snapshot.size() == text.size() && snapshot.toString() == text, "snapshot differs from the text");
        if (m_snapshots.size() == kMaxSnapshots) {
            m_snapshots.erase(m_snapshots.begin());
        }
        m_snapshots.emplace_back(std::move(snapshot), std::move(text));
    }

    // 0 to limit from a word: exact up to 65535, spread over the whole range past it.
    std::size_t upTo(std::size_t limit)
    {
        const std::size_t word = m_in.word();
        return limit < 0xFFFF ? word % (limit + 1) : word * (limit + 1) >> 16;
    }

    std::size_t position() { return upTo(m_model.size()); }

    // Raw bytes or tokens, kept within kMaxText once `replaced` bytes are gone.
    std::string makeText(std::size_t count, bool tokens, std::size_t replaced = 0)
    {
        std::string text;
        if (tokens) {
            for (std::size_t i = 0; i < count; ++i) {
                text += kTokens[m_in.byte() % kTokens.size()];
            }
        } else {
            text = m_in.bytes(count);
        }
        text.resize(std::min(text.size(), kMaxText - (m_model.size() - replaced)));
        return text;
    }

    // As the widget does after each change: the table learns of it, and the rows down to the
    // caret are filled again to keep the caret in view (not past kFinalCheckLimit, for time).
    void edited(std::size_t pos, std::size_t caret)
    {
        m_rows.edited(pos);
        m_lastEdit = pos;
        m_modelRows.clear();
        if (m_followCaret && caret <= kFinalCheckLimit) {
            m_rows.rowOf(caret);
            m_spent += caret;
        }
    }

    void newText()
    {
        m_rows.reset();
        m_lastEdit = 0;
        m_modelRows.clear();
    }

    // Every row start through the first past `until`, and maybe more.
    const std::vector<std::size_t>& modelRows(std::size_t until)
    {
        if (m_modelRows.empty() || m_modelRowsUntil < until) {
            m_modelRows = rowStarts(m_model, m_measure, until);
            m_modelRowsUntil = until;
            // Twice: the table's own filling, which these rows check, costs about as much.
            m_spent += 2 * std::min(until, m_model.size());
        }
        return m_modelRows;
    }

    void checkKnownRows()
    {
        const std::size_t known = m_rows.knownRows();
        const std::vector<std::size_t>& rows = modelRows(m_rows.complete() ? npos : m_rows.rowStart(known - 1));
        check(known <= rows.size() && (!m_rows.complete() || known == rows.size()), "row count differs");
        for (std::size_t row = 0; row < known; ++row) {
            checkAt(m_rows.rowStart(row) == rows[row], "a known row starts elsewhere than when rebuilt", row);
        }
    }

    // full: every position and row. last: every snapshot whatever its size, every row up to
    // kFinalCheckLimit and the known ones past it.
    void checkAll(bool full, bool last)
    {
        const std::size_t size = m_model.size();
        check(m_buffer.size() == size && m_buffer.empty() == (size == 0), "size differs");
        check(!(full || last) || m_buffer.isAscii() == isAscii(m_model), "isAscii differs");
        // Whole copies only of small texts: the memory they churn stays in the sanitizer's quarantine.
        check(!(full || last) || m_buffer.copy(0, size) == m_model, "text differs");
        // Neighbouring small pieces are merged, which bounds how many there can be.
        check(m_buffer.pieceCount() <= 2 * size / TextBuffer::kSmallPiece + 1, "too many pieces");
        const std::string_view model = m_model;
        const std::size_t edit = std::min(m_lastEdit, size);
        const auto checkPiece = [&](std::size_t pos) {
            const std::string_view part = m_buffer.piece(pos);
            check(!part.empty() && part == model.substr(pos, part.size()), "piece differs");
            return part.size();
        };
        if (full || last) {
            for (std::size_t pos = 0; pos < size;) {
                pos += checkPiece(pos);
            }
        } else if (edit < size) {
            checkPiece(edit);
            if (edit > 0) {
                checkPiece(edit - 1);
            }
        }
        check(m_buffer.piece(edit, 3) == model.substr(edit, m_buffer.piece(edit, 3).size())
                && m_buffer.piece(edit, 3).size() <= 3,
            "short piece differs");
        const std::size_t from = full ? edit / 2 : edit - std::min<std::size_t>(edit, 32);
        const std::size_t length = full ? (size - edit) / 2 + edit / 2 : std::min<std::size_t>(size - from, 64);
        check(m_buffer.copy(from, length) == model.substr(from, length), "copy around the edit differs");
        checkFind(full);
        checkSnapshots(last);
        checkCharacters(full);
        if (full || (last && size <= kFinalCheckLimit)) {
            checkRows();
        } else if (last) {
            checkKnownRows();
        }
    }

    void checkFind(bool full)
    {
        const std::size_t size = m_model.size();
        const std::size_t edit = std::min(m_lastEdit, size);
        if (!full) {
            // Searches that may cross a large text are slow under instrumentation; these end at
            // once, or use memchr.
            check(m_buffer.find('\n', edit) == m_model.find('\n', edit), "find differs");
            if (edit < size) {
                const char c = m_model[edit];
                check(m_buffer.find(c, edit) == edit && m_buffer.findBackward(c, edit + 1) == edit, "search differs");
            }
            return;
        }
        for (const char c : {'\n', 'a', edit < size ? m_model[edit] : '\0'}) {
            const auto backward = [&](std::size_t pos) { return pos == 0 ? npos : m_model.rfind(c, pos - 1); };
            for (const std::size_t from : {edit, edit + 1, size + 1}) {
                check(m_buffer.find(c, from) == m_model.find(c, from), "find differs");
                check(m_buffer.findBackward(c, from) == backward(std::min(from, size)), "findBackward differs");
            }
            // Every hit, from one to the next, so every stretch between hits is searched once.
            for (std::size_t from = 0; from <= size;) {
                const std::size_t hit = m_buffer.find(c, from);
                check(hit == m_model.find(c, from), "find differs");
                from = hit == npos ? size + 1 : hit + 1;
            }
            for (std::size_t from = size;;) {
                const std::size_t hit = m_buffer.findBackward(c, from);
                check(hit == backward(from), "findBackward differs");
                if (hit == npos) {
                    break;
                }
                from = hit;
            }
        }
    }

    // Large snapshots are read back only at the end: reading them every step would be slow.
    void checkSnapshots(bool all)
    {
        for (const auto& [snapshot, text] : m_snapshots) {
            check(snapshot.size() == text.size(), "snapshot size changed");
            if (all || text.size() <= kFullCheckLimit) {
                check(snapshot.toString() == text, "snapshot changed");
            }
        }
    }

    void checkCharacters(bool full)
    {
        const std::size_t size = m_model.size();
        if (full) {
            const std::vector<std::size_t> starts = characterStarts(m_model);
            for (std::size_t pos = 0; pos <= size; ++pos) {
                checkCharacterAt(starts, pos);
            }
            return;
        }
        // Around both ends, the last edit and a few places that move with every step, each walked
        // from a start a few bytes before it.
        const std::size_t edit = std::min(m_lastEdit, size);
        const auto checkNear = [&](std::size_t pos) {
            const std::size_t from = characterStartNear(m_model, pos - std::min<std::size_t>(pos, 4));
            checkCharacterAt(characterStarts(m_model, from, pos), pos);
        };
        for (std::size_t d = 0; d < 8; ++d) {
            checkNear(edit - std::min(d, edit));
            checkNear(std::min(edit + d, size));
        }
        for (std::size_t d = 0; d < 2; ++d) {
            checkNear(std::min(d, size));
            checkNear(size - std::min(d, size));
            checkNear((d * (size / 2 + 1) + m_steps * 7919) % (size + 1));
        }
    }

    // starts: every character start from at least four bytes before pos through the first after it.
    void checkCharacterAt(const std::vector<std::size_t>& starts, std::size_t pos)
    {
        const std::size_t size = m_model.size();
        const std::size_t holder = before(starts, pos);
        checkAt(m_buffer.characterStart(pos) == starts[holder], "characterStart differs", pos);
        if (pos < size) {
            check(m_buffer.at(pos) == m_model[pos], "at differs");
        }
        if (starts[holder] == pos) {
            checkAt(m_buffer.nextCharacter(pos) == starts[std::min(holder + 1, starts.size() - 1)],
                "nextCharacter differs", pos);
            checkAt(m_buffer.previousCharacter(pos) == starts[holder == 0 ? 0 : holder - 1],
                "previousCharacter differs", pos);
        } else {
            checkAt(m_buffer.nextCharacter(pos) > pos && m_buffer.nextCharacter(pos) <= size
                    && m_buffer.previousCharacter(pos) < pos,
                "character step inside a character goes nowhere", pos);
        }
    }

    void checkRows()
    {
        checkKnownRows();
        const std::vector<std::size_t>& rows = modelRows(npos);
        RowTable rebuilt(m_buffer, m_measure);
        check(rebuilt.rowCount() == rows.size(), "rebuilt row count differs");
        const std::vector<std::size_t> starts = characterStarts(m_model);
        for (std::size_t row = 0; row < rows.size(); ++row) {
            const std::size_t start = rebuilt.rowStart(row);
            checkAt(start == rows[row], "rebuilt row starts elsewhere", row);
            check(std::binary_search(starts.begin(), starts.end(), start), "row starts inside a character");
            check(row == 0 || start > rows[row - 1], "empty row");
        }
        const bool emptyLast = m_model.empty() || m_model.back() == '\n';
        check((rows.back() == m_model.size()) == emptyLast,
            "last row empty when it should not be, or not when it should");
    }

    Reader m_in;
    TextBuffer m_buffer;
    ColumnMeasure m_measure;
    RowTable m_rows {m_buffer, m_measure};
    std::string m_model;
    std::vector<std::pair<TextSnapshot, std::string>> m_snapshots;
    std::size_t m_lastEdit = 0;
    std::size_t m_steps = 0;
    std::size_t m_spent = 0; // see kBudget
    bool m_followCaret = false;
    std::vector<std::size_t> m_modelRows; // empty until worked out for the current text and width
    std::size_t m_modelRowsUntil = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Session(std::string_view(reinterpret_cast<const char*>(data), size)).run();
    return 0;
}
