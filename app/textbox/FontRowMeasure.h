// How much of a paragraph fits on one row of a wrapped box, in the box's font. Rows of ASCII text
// are measured from a table of advances, one look-up per byte, so filling the rows of a 70 MB key
// takes one pass; anything else goes through a QTextLayout of the row.
#pragma once

#include "RowTable.h"

#include <QFont>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace morvalen::textbox {

// The most bytes one row lays out: far more than any row of readable text holds.
constexpr std::size_t kMaxRowBytes = 4096;

class FontRowMeasure : public RowMeasure
{
public:
    void setFont(const QFont& font);
    void setWidth(qreal width);

    // Returns text.size() whenever all of it fits, which is all a cut text asks.
    std::size_t fit(std::string_view text, bool more) override;

private:
    std::size_t sumUntilPastEdge(const unsigned char* bytes, std::size_t size, std::size_t from, std::int64_t& x) const;
    int measurePair(unsigned a, unsigned next) const;
    std::size_t fitByLayout(std::string_view text) const;

    static constexpr int kNotAscii = 1 << 26;
    static constexpr int kUnknown = 1 << 27;
    QFont m_font;
    // The advance of each byte by the byte after it.
    std::array<std::array<int, 256>, 256> m_pairs {};
    int m_width = 64;
};

} // namespace morvalen::textbox
