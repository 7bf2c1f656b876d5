#include "AccessibleBoundaries.h"

#include "TextBuffer.h"

#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <algorithm>
#include <cstring>

namespace morvalen::textbox {
namespace {

// Words, sentences and paragraphs are looked for this many bytes either side of the offset asked
// about: one longer than that (the key is one paragraph of tens of megabytes) is answered by the
// stretch around the offset, so that no answer walks the whole text.
constexpr std::size_t kReach = 8192;

// Characters Qt's text engine ends words at besides blanks (QTextEngine::atWordSeparator).
bool wordSeparator(QChar c)
{
    return c.unicode() < 0x80 && std::strchr(".,?!@#$:;-<>[](){}=/+%&^*'\"`~|\\", static_cast<char>(c.unicode()))
        && c.unicode() != 0;
}

} // namespace

// The text around an offset as Qt strings hold it, and where it starts.
struct AccessibleBoundaries::Stretch
{
    QString text;
    int start = 0;
};

AccessibleBoundaries::Range AccessibleBoundaries::itemAt(int offset, QAccessible::TextBoundaryType boundary) const
{
    return m_box.isMultiLine() ? documentAt(resolved(offset), boundary) : lineAt(0, offset, boundary);
}

AccessibleBoundaries::Range AccessibleBoundaries::itemBefore(int offset, QAccessible::TextBoundaryType boundary) const
{
    if (!m_box.isMultiLine()) {
        return lineAt(-1, offset, boundary);
    }
    // As a text cursor: before the first item it cannot move, and stays where it was.
    const int at = resolved(offset);
    const int before = documentAt(at, boundary).start - 1;
    return documentAt(before < 0 ? at : before, boundary);
}

AccessibleBoundaries::Range AccessibleBoundaries::itemAfter(int offset, QAccessible::TextBoundaryType boundary) const
{
    if (!m_box.isMultiLine()) {
        return lineAt(1, offset, boundary);
    }
    return documentAt(documentAt(resolved(offset), boundary).end, boundary);
}

int AccessibleBoundaries::characterCount() const
{
    return units(buffer().size());
}

AccessibleBoundaries::Stretch AccessibleBoundaries::stretch(std::size_t from, std::size_t to) const
{
    from = buffer().characterStart(from);
    to = buffer().characterStart(to);
    return {m_box.textRange(from, to), units(from)};
}

std::pair<std::size_t, std::size_t> AccessibleBoundaries::paragraphAround(std::size_t pos) const
{
    const TextBuffer& text = buffer();
    const std::size_t low = pos > kReach ? pos - kReach : 0;
    const std::size_t high = std::min(text.size(), pos + kReach);
    std::size_t start = low;
    for (std::size_t i = pos; i > low; --i) {
        if (text.at(i - 1) == '\n') {
            start = i;
            break;
        }
    }
    std::size_t end = high;
    for (std::size_t i = pos; i < high; ++i) {
        if (text.at(i) == '\n') {
            end = i;
            break;
        }
    }
    return {start, end};
}

AccessibleBoundaries::Range AccessibleBoundaries::lineAt(
    int which, int offset, QAccessible::TextBoundaryType boundary) const
{
    const int count = characterCount();
    offset = offset == -2 ? cursorPosition() : offset == -1 ? count : offset;
    const bool outside = which < 0 ? offset <= 0 || offset > count
        : which > 0                ? offset < 0 || offset >= count
                                   : offset < 0 || offset > count;
    if (count == 0 || outside || (which == 0 && offset == count && boundary == QAccessible::CharBoundary)) {
        return {};
    }
    QTextBoundaryFinder::BoundaryType type = QTextBoundaryFinder::Grapheme;
    switch (boundary) {
    case QAccessible::CharBoundary: break;
    case QAccessible::WordBoundary: type = QTextBoundaryFinder::Word; break;
    case QAccessible::SentenceBoundary: type = QTextBoundaryFinder::Sentence; break;
    case QAccessible::LineBoundary:
    case QAccessible::ParagraphBoundary: return lineBreaksAround(which, offset, count);
    case QAccessible::NoBoundary: return which == 0 ? Range {0, count} : Range {};
    }
    const std::size_t pos = bytes(offset);
    const Stretch around = stretch(pos > kReach ? pos - kReach : 0, pos + kReach);
    QTextBoundaryFinder finder(type, around.text);
    finder.setPosition(offset - around.start);
    const auto item = [&finder] {
        return (finder.boundaryReasons() & (QTextBoundaryFinder::StartOfItem | QTextBoundaryFinder::EndOfItem)) != 0;
    };
    Range range;
    if (which <= 0) {
        do {
            if (item()) {
                break;
            }
        } while (finder.toPreviousBoundary() > 0);
        if (which < 0) {
            range.end = static_cast<int>(finder.position());
            while (finder.toPreviousBoundary() > 0 && !item()) { }
            range.start = static_cast<int>(finder.position());
        } else {
            range.start = static_cast<int>(finder.position());
            // At the very end there is no next boundary (Qt's own loop would not stop there).
            for (int to = 0; to >= 0 && to < around.text.size();) {
                to = static_cast<int>(finder.toNextBoundary());
                if (item()) {
                    break;
                }
            }
            range.end = std::max(range.start, static_cast<int>(finder.position()));
        }
    } else {
        const auto next = [&] {
            for (;;) {
                const auto to = finder.toNextBoundary();
                if (item() || to < 0 || to >= around.text.size()) {
                    return static_cast<int>(finder.position());
                }
            }
        };
        range.start = next();
        range.end = next();
        if (range.start == -1 || range.end == -1 || range.start == range.end) {
            return {};
        }
    }
    return {range.start + around.start, range.end + around.start};
}

// Lines of a one-line box are its paragraphs, with their line breaks (which pasting can
// bring in), as QAccessibleTextInterface's default finds them.
AccessibleBoundaries::Range AccessibleBoundaries::lineBreaksAround(int which, int offset, int count) const
{
    const TextBuffer& text = buffer();
    // QString::indexOf and lastIndexOf of a line break, from an offset, in units.
    const auto indexOf = [&](int from) {
        const std::size_t at = text.find('\n', bytes(from));
        return at == TextBuffer::npos ? -1 : units(at);
    };
    const auto lastIndexOf = [&](int from) {
        const std::size_t at = text.findBackward('\n', bytes(from) + 1);
        return at == TextBuffer::npos ? -1 : units(at);
    };
    if (which > 0) {
        offset = indexOf(std::min(offset, count - 1));
        if (offset < 0) {
            return {};
        }
        ++offset;
    } else if (which < 0) {
        offset = lastIndexOf(std::max(offset - 1, 0));
        if (offset < 0) {
            return {};
        }
    }
    Range range {offset > 0 ? lastIndexOf(offset - 1) + 1 : 0, indexOf(std::min(offset, count - 1)) + 1};
    if (range.end <= 0 || range.end > count) {
        range.end = count;
    }
    return range;
}

AccessibleBoundaries::Range AccessibleBoundaries::documentAt(int offset, QAccessible::TextBoundaryType boundary) const
{
    const int count = characterCount();
    const std::size_t pos = bytes(offset);
    switch (boundary) {
    case QAccessible::CharBoundary:
        if (units(pos) != offset) {
            return {offset, offset + 1}; // inside a surrogate pair, as a text cursor steps
        }
        return {offset, offset == count ? offset : units(m_box.nextCursorPosition(pos, false))};
    case QAccessible::WordBoundary: {
        const int start = startOfWord(pos);
        return {start, endOfWord(bytes(start))};
    }
    case QAccessible::SentenceBoundary: return sentenceAround(pos);
    case QAccessible::LineBoundary: {
        // A wrapped row ends before the blank it broke at; the last row of a paragraph
        // before its line break.
        const auto [start, end] = m_box.rowAround(pos);
        const bool wrapped = end < buffer().size() && buffer().at(end) != '\n' && end > start;
        const std::size_t last = wrapped ? buffer().previousCharacter(end) : end;
        const bool blank = wrapped && m_box.textRange(last, end).front().isSpace();
        return {units(start), units(blank ? last : end)};
    }
    case QAccessible::ParagraphBoundary: {
        const auto [start, end] = paragraphAround(pos);
        return {units(start), units(end)};
    }
    case QAccessible::NoBoundary: break;
    }
    return {0, count};
}

// A text cursor's StartOfWord: from just past pos back over a word, within the paragraph.
int AccessibleBoundaries::startOfWord(std::size_t pos) const
{
    const auto [first, last] = paragraphAround(pos);
    if (pos == first) {
        return units(pos);
    }
    const Stretch paragraph = stretch(first, last);
    const int at = units(pos) - paragraph.start;
    const QChar before = paragraph.text.at(at - 1);
    if (pos == last && (before.isSpace() || wordSeparator(before))) {
        return units(pos);
    }
    QTextLayout layout(paragraph.text);
    return paragraph.start + layout.previousCursorPosition(pos < last ? at + 1 : at, QTextLayout::SkipWords);
}

// A text cursor's EndOfWord: over a run of separators, or else of word characters.
int AccessibleBoundaries::endOfWord(std::size_t pos) const
{
    const auto [first, last] = paragraphAround(pos);
    const Stretch paragraph = stretch(pos, last);
    int at = 0;
    const int length = static_cast<int>(paragraph.text.size());
    if (length == 0) {
        return paragraph.start;
    }
    if (wordSeparator(paragraph.text.at(0))) {
        while (at < length && wordSeparator(paragraph.text.at(at))) {
            ++at;
        }
    } else {
        while (at < length && !paragraph.text.at(at).isSpace() && !wordSeparator(paragraph.text.at(at))) {
            ++at;
        }
    }
    (void)first;
    return paragraph.start + at;
}

AccessibleBoundaries::Range AccessibleBoundaries::sentenceAround(std::size_t pos) const
{
    const auto [first, last] = paragraphAround(pos);
    const Stretch paragraph = stretch(first, last);
    const int at = units(pos) - paragraph.start;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Sentence, paragraph.text);
    finder.setPosition(at);
    int previous = at;
    if ((finder.boundaryReasons() & QTextBoundaryFinder::StartOfItem) == 0) {
        previous = static_cast<int>(finder.toPreviousBoundary());
    }
    const auto next = static_cast<int>(finder.toNextBoundary());
    Range range {paragraph.start, paragraph.start + static_cast<int>(paragraph.text.size())};
    if (next != -1) {
        range.end = paragraph.start + next;
    }
    if (previous != -1) {
        range.start += previous;
    }
    return range;
}

} // namespace morvalen::textbox
