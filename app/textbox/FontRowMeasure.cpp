#include "FontRowMeasure.h"

#include "Utf16.h"
#include "Utf16Index.h"

#include <QFontMetricsF>
#include <QTextLayout>
#include <algorithm>

namespace morvalen::textbox {

void FontRowMeasure::setFont(const QFont& font)
{
    m_font = font;
    for (auto& row : m_pairs) {
        row.fill(kUnknown);
    }
}

void FontRowMeasure::setWidth(qreal width)
{
    m_width = std::max(64, qRound(64 * width));
}

std::size_t FontRowMeasure::fit(std::string_view text, bool /*more*/)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::int64_t x = 0;
    for (std::size_t i = 0; (i = sumUntilPastEdge(bytes, text.size(), i, x)) < text.size(); ++i) {
        const unsigned c = bytes[i];
        const unsigned next = i + 1 < text.size() ? bytes[i + 1] : 0;
        // Past the edge, or a pair not measured yet, or a character past ASCII.
        if (m_pairs[c][next] == kUnknown) {
            x += (m_pairs[c][next] = measurePair(c, next)) - kUnknown;
            if (x <= m_width) {
                continue;
            }
        }
        if (c < 0x80 && next < 0x80) {
            if (c <= 0x20) {
                continue; // blanks at a row's end hang past its edge, as in Qt's layout
            }
            return std::max<std::size_t>(i, 1);
        }
        // A character past ASCII, or one that may combine with this one: the layout knows.
        return fitByLayout(text);
    }
    return text.size();
}

// The advance of character a followed by b in 26.6 fixed point, as Qt's text engine adds
// them: integer sums are exact and fast. Kerning moves a character by what follows it in the
// shaped layout that draws Qt's rows, so the sum takes pairs; b == 0 means nothing follows.
// Pairs are measured as they turn up: a key uses a handful. A character past ASCII overflows
// any row at once, which sends the row to the layout.
// Adds the pairs' advances from byte `from` on to x, and returns the byte that takes x past the
// row's width (x includes it), or size. The hot loop of filling rows: one look-up per byte.
std::size_t FontRowMeasure::sumUntilPastEdge(
    const unsigned char* bytes, std::size_t size, std::size_t from, std::int64_t& x) const
{
    std::int64_t sum = x;
    const std::int64_t width = m_width;
    std::size_t i = from;
    for (; i + 1 < size; ++i) {
        sum += m_pairs[bytes[i]][bytes[i + 1]];
        if (sum > width) {
            x = sum;
            return i;
        }
    }
    if (i < size) {
        sum += m_pairs[bytes[i]][0];
        if (sum > width) {
            x = sum;
            return i;
        }
    }
    x = sum;
    return size;
}

int FontRowMeasure::measurePair(unsigned a, unsigned next) const
{
    if (a >= 0x80 || next >= 0x80) {
        return kNotAscii;
    }
    const auto shown = [](unsigned c) { return QChar(c < 0x20 ? 0x20 : static_cast<char16_t>(c)); };
    const QFontMetricsF metrics(m_font);
    const qreal alone = metrics.horizontalAdvance(shown(a));
    if (next == 0) {
        return qRound(64 * alone);
    }
    const QChar both[] = {shown(a), shown(next)};
    return qRound(64 * (metrics.horizontalAdvance(QString(both, 2)) - metrics.horizontalAdvance(shown(next))));
}

std::size_t FontRowMeasure::fitByLayout(std::string_view text) const
{
    // A run that fits however long it is (a letter under a megabyte of combining marks) is cut
    // into rows of this size rather than shaped whole.
    text = text.substr(0, kMaxRowBytes);
    QTextLayout layout(displayed(decode(text)), m_font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(m_width / 64.0);
    layout.endLayout();
    return Utf16Index::positionIn(text, static_cast<std::size_t>(std::max(line.textLength(), 0)));
}

} // namespace morvalen::textbox
