#include "RowTable.h"

#include <algorithm>

namespace morvalen::textbox {
namespace {

// Bytes first handed to the measure for one row, or twice the last row if more; more only when a
// row takes all of them.
constexpr std::size_t kFirstWindow = 64;
// Text fetched at once for filling rows: some hundreds of rows of a key.
constexpr std::size_t kStretch = 16 * 1024;

} // namespace

RowTable::RowTable(const TextBuffer& text, RowMeasure& measure)
    : m_text(text)
    , m_measure(measure)
{
    reset();
}

void RowTable::reset()
{
    m_starts.reset();
    m_complete = false;
    m_lastRowLength = 0;
}

void RowTable::edited(std::size_t pos)
{
    m_complete = false;
    // The row before the edited character's row goes too: what was inserted may join the cluster
    // that ended it, and the row before that one measured that cluster as its look-ahead. The
    // edited character may start up to three bytes before pos: bytes inserted or erased there can
    // complete or cut short a UTF-8 sequence whose lead came earlier.
    const std::size_t before = pos - std::min<std::size_t>(pos, 3);
    m_starts.truncate(m_starts.holderOf(before));
}

std::size_t RowTable::ensureRows(std::size_t count)
{
    while (m_starts.size() < count && !m_complete) {
        fillNext();
    }
    return m_starts.size();
}

std::size_t RowTable::rowCount()
{
    while (!m_complete) {
        fillNext();
    }
    return m_starts.size();
}

std::size_t RowTable::rowOf(std::size_t pos)
{
    while (!m_complete && m_starts.back() <= pos) {
        fillNext();
    }
    return m_starts.holderOf(pos);
}

std::size_t RowTable::rowStart(std::size_t row)
{
    ensureRows(row + 1);
    return m_starts[std::min(row, m_starts.size() - 1)];
}

std::size_t RowTable::rowEnd(std::size_t row)
{
    ensureRows(row + 2);
    return row + 1 < m_starts.size() ? m_starts[row + 1] : m_text.size();
}

std::size_t RowTable::rowTextEnd(std::size_t row)
{
    const std::size_t end = rowEnd(row);
    return end > rowStart(row) && m_text.at(end - 1) == '\n' ? end - 1 : end;
}

// Fills the rows of one stretch of text at a time: a paragraph of 70 MB is never searched for its
// end, and the cost of fetching text is shared by the rows in the stretch.
void RowTable::fillNext()
{
    const std::size_t start = m_starts.back();
    if (start >= m_text.size()) {
        m_complete = true;
        return;
    }
    for (std::size_t window = std::max(kStretch, 4 * m_lastRowLength);; window *= 4) {
        const std::size_t length = std::min(m_text.size() - start, window);
        std::string_view text = m_text.piece(start, length);
        // A stretch that reaches across the gap is copied, unless its paragraph ends before.
        if (text.size() < length && text.find('\n') == std::string_view::npos) {
            m_scratch = m_text.copy(start, length);
            text = m_scratch;
        }
        const std::size_t lineBreak = text.find('\n');
        const std::string_view paragraph = text.substr(0, lineBreak);
        // Whether the paragraph may go on past what this stretch holds.
        const bool cut = lineBreak == std::string_view::npos && start + length < m_text.size();
        if (paragraph.empty() && !cut) {
            m_starts.push_back(start + 1); // an empty paragraph: its line break is its row
            return;
        }
        bool filled = false;
        for (std::size_t at = 0;;) {
            const std::size_t end = fitRow(start + at, paragraph.substr(at), cut);
            if (end == TextBuffer::npos) {
                break; // the row may reach past the stretch
            }
            filled = true;
            if (end == start + paragraph.size()) {
                if (lineBreak == std::string_view::npos) {
                    m_complete = true; // the row ends the text
                } else {
                    m_starts.push_back(end + 1); // the line break ends the row and its paragraph
                }
                return;
            }
            m_starts.push_back(end);
            at = end - start;
        }
        if (filled) {
            return;
        }
    }
}

// Where the row that starts at `start` with this rest of its paragraph ends, or npos when the
// rest was cut short and the row might reach past it.
std::size_t RowTable::fitRow(std::size_t start, std::string_view rest, bool cut)
{
    for (std::size_t reach = std::max(kFirstWindow, 2 * m_lastRowLength);; reach *= 4) {
        const std::string_view text = rest.substr(0, reach);
        const bool more = cut || text.size() < rest.size();
        const std::size_t fits = m_measure.fit(text, more);
        if (more && fits >= text.size()) {
            if (text.size() < rest.size()) {
                continue;
            }
            return TextBuffer::npos;
        }
        // Never split a character, and never make an empty row.
        std::size_t end = m_text.characterStart(start + std::min(fits, text.size()));
        end = end > start ? end : m_text.nextCharacter(start);
        m_lastRowLength = end - start;
        return end;
    }
}

} // namespace morvalen::textbox
