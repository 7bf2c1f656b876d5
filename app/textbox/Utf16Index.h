// Offsets in UTF-16 code units, as Qt, input methods and screen readers count them, for a text
// the box keeps as UTF-8. The one place that counts them over the whole text: checkpoints every
// few kilobytes, laid as far as answers have needed and moved along by edits, so that an answer
// walks at most one stretch between checkpoints past the nearest, and an edit re-counts only
// around itself. An ASCII text needs none: its byte offsets are its unit offsets.
//
// A byte that starts no valid UTF-8 sequence is one unit (it shows as one U+FFFD); a character of
// four bytes is two (a surrogate pair). The same rule counts a piece of text on its own, as a row
// or an input method's neighbourhood sees it.
#pragma once

#include "TextBuffer.h"

#include <cstddef>
#include <string_view>
#include <vector>

namespace morvalen::textbox {

class Utf16Index
{
public:
    // Bytes between checkpoints; tests and the fuzzer set it short.
    static constexpr std::size_t kStride = 4096;

    // Units in a piece of text.
    static std::size_t unitsIn(std::string_view bytes) noexcept;
    // The byte offset `units` units into a piece of text; a unit inside a surrogate pair rounds up
    // to the end of its character; past the end is the end.
    static std::size_t positionIn(std::string_view bytes, std::size_t units) noexcept;
    static constexpr std::size_t unitsOfCharacter(std::size_t bytes) noexcept { return bytes == 4 ? 2 : 1; }

    explicit Utf16Index(const TextBuffer& text, std::size_t stride = kStride) noexcept
        : m_text(text)
        , m_stride(stride)
    {
    }

    // Units before the character boundary at or before pos.
    std::size_t unitsAt(std::size_t pos) const;
    // The offset `units` units into the text; a unit inside a surrogate pair rounds up to the end
    // of its character; past the end is the end.
    std::size_t positionOf(std::size_t units) const;
    std::size_t size() const { return unitsAt(m_text.size()); }

    // [pos, pos + removed) of the text became inserted bytes.
    void edited(std::size_t pos, std::size_t removed, std::size_t inserted);
    // The whole text was replaced.
    void reset() noexcept { m_marks.clear(); }

private:
    struct Mark
    {
        std::size_t pos = 0; // a character boundary
        std::size_t units = 0; // units before it
    };
    // The last mark at or before pos, laying marks up to pos first.
    Mark markBefore(std::size_t pos) const;
    Mark markBeforeUnits(std::size_t units) const;
    // Walks characters from `from` while the next one ends at or before `limit` and the units stay
    // within unitLimit, laying marks on the way.
    Mark walk(Mark from, std::size_t limit, std::size_t unitLimit) const;

    const TextBuffer& m_text;
    std::size_t m_stride;
    mutable std::vector<Mark> m_marks; // ascending, the first at 0 once any is laid
};

} // namespace morvalen::textbox
