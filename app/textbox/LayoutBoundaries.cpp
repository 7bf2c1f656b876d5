#include "LayoutBoundaries.h"

#include "Utf16.h"
#include "Utf16Index.h"

#include <QTextLayout>

namespace morvalen::textbox {
namespace {

// Text handed to the layout around a position, at first.
constexpr std::size_t kNeighbourhood = 256;
// A cluster longer than this (a letter under a megabyte of combining marks) is stepped through
// by code points: shaping it whole at every step would freeze the box.
constexpr std::size_t kLongestCluster = 4096;

} // namespace

std::size_t LayoutBoundaries::step(const TextBuffer& text, std::size_t pos, Direction direction, Unit unit)
{
    const bool forward = direction == Direction::Forward;
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text.at(i)); };
    const std::size_t size = text.size();
    // The byte the step goes over first, and the one beyond it.
    const std::size_t near = forward ? pos : pos - 1;
    const bool crlf = forward ? byteAt(pos) == '\r' && pos + 1 < size && byteAt(pos + 1) == '\n'
                              : byteAt(pos - 1) == '\n' && pos >= 2 && byteAt(pos - 2) == '\r';
    const bool asciiAround = byteAt(near) < 0x80
        && (forward ? pos + 1 == size || byteAt(pos + 1) < 0x80 : pos == size || byteAt(pos) < 0x80);
    if (unit == Unit::Character && asciiAround && !crlf) {
        return forward ? pos + 1 : pos - 1;
    }
    // As in a text document, words end at a paragraph's end, and its line break is a step alone.
    if (m_multiLine && byteAt(near) == '\n') {
        return forward ? pos + 1 : pos - 1;
    }
    for (std::size_t reach = kNeighbourhood;; reach *= 4) {
        if (reach > kLongestCluster) {
            return forward ? text.nextCharacter(pos) : text.previousCharacter(pos);
        }
        const std::size_t start = text.characterStart(pos > reach ? pos - reach : 0);
        const std::size_t end = text.characterStart(std::min(size, pos + reach));
        const std::string window = text.copy(start, end - start);
        QTextLayout layout(decode(window));
        const auto from = static_cast<int>(Utf16Index::unitsIn(std::string_view(window).substr(0, pos - start)));
        const auto mode = unit == Unit::Word ? QTextLayout::SkipWords : QTextLayout::SkipCharacters;
        const int to = forward ? layout.nextCursorPosition(from, mode) : layout.previousCursorPosition(from, mode);
        const bool found = forward ? to < layout.text().size() || end == size : to > 0 || start == 0;
        if (!found) {
            continue;
        }
        const std::size_t boundary = start + Utf16Index::positionIn(window, static_cast<std::size_t>(std::max(to, 0)));
        if (!m_multiLine) {
            return boundary;
        }
        if (forward) {
            const std::size_t lineBreak = window.find('\n', pos - start);
            return lineBreak == std::string::npos ? boundary : std::min(boundary, start + lineBreak);
        }
        const std::size_t lineBreak = window.rfind('\n', pos - start - 1);
        return lineBreak == std::string::npos ? boundary : std::max(boundary, start + lineBreak + 1);
    }
}

} // namespace morvalen::textbox
