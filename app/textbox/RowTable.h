// Where each visual row of a wrapped text starts, filled lazily as far as it has been asked for.
// A row runs to the end of its paragraph or to the last character that fits the width; the line
// break that ends a paragraph belongs to the row before it, and a text that ends in one has an
// empty last row. Filling is one pass over the bytes, so asking for the last row of tens of
// megabytes costs one scan, and an edit drops only the rows from just before it.
#pragma once

#include "RowStarts.h"
#include "TextBuffer.h"

#include <cstddef>
#include <string_view>

namespace morvalen::textbox {

// How much of a paragraph fits on one row: the font's business, so the widget supplies it.
class RowMeasure
{
public:
    virtual ~RowMeasure() = default;
    // Bytes at the start of text that fit on a row, at least one character's worth. text starts a
    // row and never holds a line break; more says the paragraph goes on past it, so a measure
    // that would take all of text must say so by returning text.size().
    virtual std::size_t fit(std::string_view text, bool more) = 0;
};

class RowTable
{
public:
    RowTable(const TextBuffer& text, RowMeasure& measure);

    // Forgets every row, for a new width or font.
    void reset();
    // The text changed at pos; rows that cannot depend on it are kept.
    void edited(std::size_t pos);

    // Rows known so far; all of them once complete() is true.
    std::size_t knownRows() const noexcept { return m_starts.size(); }
    bool complete() const noexcept { return m_complete; }
    // Fills until at least count rows are known or the text ends; returns the rows known.
    std::size_t ensureRows(std::size_t count);
    std::size_t rowCount();

    // Row index that holds pos; a position where one row ends and the next starts is in the next.
    std::size_t rowOf(std::size_t pos);
    std::size_t rowStart(std::size_t row);
    // Where the next row starts (the text's size for the last row).
    std::size_t rowEnd(std::size_t row);
    // rowEnd less the line break that ends the paragraph, if the row has one.
    std::size_t rowTextEnd(std::size_t row);

private:
    void fillNext();
    std::size_t fitRow(std::size_t start, std::string_view rest, bool cut);

    const TextBuffer& m_text;
    RowMeasure& m_measure;
    RowStarts m_starts;
    bool m_complete = false;
    std::size_t m_lastRowLength = 0;
    std::string m_scratch;
};

} // namespace morvalen::textbox
