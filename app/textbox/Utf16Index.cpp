#include "Utf16Index.h"

#include "textconv/boxtext.h"

#include <algorithm>
#include <limits>

namespace morvalen::textbox {
namespace {

constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();
// How far back an edit can change how bytes decode: a character starting up to three bytes
// before it may now take bytes the edit put there.
constexpr std::size_t kLongestCharacter = 4;

std::size_t lengthAt(std::string_view bytes, std::size_t i) noexcept
{
    return static_cast<unsigned char>(bytes[i]) < 0x80 ? 1 : characterLength(bytes, i);
}

} // namespace

std::size_t Utf16Index::unitsIn(std::string_view bytes) noexcept
{
    std::size_t units = 0;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = lengthAt(bytes, i);
        units += unitsOfCharacter(length);
        i += length;
    }
    return units;
}

std::size_t Utf16Index::positionIn(std::string_view bytes, std::size_t units) noexcept
{
    std::size_t i = 0;
    for (std::size_t seen = 0; i < bytes.size() && seen < units;) {
        const std::size_t length = lengthAt(bytes, i);
        seen += unitsOfCharacter(length);
        i += length;
    }
    return i;
}

Utf16Index::Mark Utf16Index::walk(Mark from, std::size_t limit, std::size_t unitLimit) const
{
    Mark at = from;
    while (at.pos < limit) {
        // ASCII runs go a piece at a time; anything else a character at a time.
        const std::string_view run = m_text.piece(at.pos, limit - at.pos);
        std::size_t ascii = 0;
        while (ascii < run.size() && static_cast<unsigned char>(run[ascii]) < 0x80) {
            ++ascii;
        }
        ascii = std::min(ascii, unitLimit - at.units);
        if (ascii > 0) {
            const std::size_t nextMark = (at.pos / m_stride + 1) * m_stride;
            const std::size_t step = std::min(ascii, nextMark - at.pos);
            at = {at.pos + step, at.units + step};
        } else {
            const std::size_t next = m_text.nextCharacter(at.pos);
            const std::size_t units = unitsOfCharacter(next - at.pos);
            if (next > limit || at.units + units > unitLimit) {
                break;
            }
            at = {next, at.units + units};
        }
        if (at.pos >= m_marks.back().pos + m_stride) {
            m_marks.push_back(at);
        }
        if (at.units == unitLimit) {
            break;
        }
    }
    return at;
}

Utf16Index::Mark Utf16Index::markBefore(std::size_t pos) const
{
    if (m_marks.empty()) {
        m_marks.push_back({});
    }
    if (pos > m_marks.back().pos + m_stride) {
        walk(m_marks.back(), pos, kNoLimit);
    }
    const auto after = std::upper_bound(
        m_marks.begin(), m_marks.end(), pos, [](std::size_t p, const Mark& mark) { return p < mark.pos; });
    return *(after - 1);
}

Utf16Index::Mark Utf16Index::markBeforeUnits(std::size_t units) const
{
    if (m_marks.empty()) {
        m_marks.push_back({});
    }
    if (m_marks.back().units < units) {
        walk(m_marks.back(), m_text.size(), units);
    }
    const auto after = std::upper_bound(
        m_marks.begin(), m_marks.end(), units, [](std::size_t u, const Mark& mark) { return u < mark.units; });
    return *(after - 1);
}

std::size_t Utf16Index::unitsAt(std::size_t pos) const
{
    pos = std::min(pos, m_text.size());
    if (m_text.isAscii()) {
        return pos;
    }
    return walk(markBefore(pos), pos, kNoLimit).units;
}

std::size_t Utf16Index::positionOf(std::size_t units) const
{
    if (m_text.isAscii()) {
        return std::min(units, m_text.size());
    }
    const Mark at = walk(markBeforeUnits(units), m_text.size(), units);
    // Short of the units by one: the unit asked for is inside a surrogate pair.
    return at.units < units && at.pos < m_text.size() ? m_text.nextCharacter(at.pos) : at.pos;
}

void Utf16Index::edited(std::size_t pos, std::size_t removed, std::size_t inserted)
{
    // Marks before the edit stay where decoding cannot have changed; those after it move with the
    // text, once a walk from before the edit lands on one of them, which gives their new units.
    if (m_marks.empty()) {
        return;
    }
    // The first mark, at the start, always stays.
    const auto keep = std::upper_bound(m_marks.begin() + 1, m_marks.end(), pos,
        [](std::size_t p, const Mark& mark) { return p < mark.pos + kLongestCharacter; });
    std::vector<Mark> later;
    for (auto mark = keep; mark != m_marks.end(); ++mark) {
        if (mark->pos >= pos + removed + kLongestCharacter) {
            later.push_back({mark->pos - removed + inserted, mark->units});
        }
    }
    m_marks.erase(keep, m_marks.end());
    if (later.empty() || m_text.isAscii()) {
        return;
    }
    Mark at = m_marks.back();
    for (std::size_t i = 0; i < later.size(); ++i) {
        at = walk(at, later[i].pos, kNoLimit);
        if (at.pos == later[i].pos) {
            // Landed on a boundary: the rest keep their distance from it.
            const auto shift = static_cast<std::ptrdiff_t>(at.units) - static_cast<std::ptrdiff_t>(later[i].units);
            if (m_marks.back().pos == at.pos) {
                m_marks.pop_back();
            }
            for (std::size_t j = i; j < later.size(); ++j) {
                m_marks.push_back(
                    {later[j].pos, static_cast<std::size_t>(static_cast<std::ptrdiff_t>(later[j].units) + shift)});
            }
            return;
        }
    }
}

} // namespace morvalen::textbox
