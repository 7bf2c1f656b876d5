// The text of one box as UTF-8 bytes in a piece table: the text is a list of pieces, each a range
// of a block that never changes once written. An edit anywhere splits or trims a piece and copies
// only what it inserts, however long the text; a snapshot shares the blocks instead of copying
// them, and no later edit has to copy them either. The whole text can be handed out contiguously
// for the core to read in place. No Qt here, so the buffer and its row table can be tested and
// fuzzed alone.
//
// The text is usually a key, so every block is wiped when the last piece or snapshot that holds
// it lets go, and blocks of a mebibyte or more are kept out of core dumps.
//
// Positions are byte offsets. Bytes that start no valid UTF-8 sequence count as one character
// each, so any byte string can be stored and walked without splitting a character.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace morvalen::textbox {

// Length of the valid UTF-8 sequence starting with these bytes, 1 for a byte that starts none.
std::size_t utf8Length(std::string_view bytes) noexcept;

// Bytes that may have held text, wiped when released (see TextBuffer's header comment).
class TextBlock;

// A range of one block.
struct TextSpan
{
    std::shared_ptr<const TextBlock> block;
    std::size_t offset = 0;
    std::size_t length = 0;
    std::string_view view() const noexcept;
};

// A read-only view of a range of the text as it stood when taken. Large ones share the buffer's
// blocks, so taking one costs little whatever its size; small ones copy their range, so that a
// few deleted characters kept for undo do not keep a whole text alive.
class TextSnapshot
{
public:
    TextSnapshot() = default;
    std::size_t size() const noexcept { return m_length; }
    std::string toString() const;
    // The snapshot's bytes in order, in this many contiguous parts.
    std::size_t partCount() const noexcept { return m_spans.size(); }
    std::string_view part(std::size_t index) const noexcept { return m_spans[index].view(); }

private:
    friend class TextBuffer;
    std::vector<TextSpan> m_spans;
    std::size_t m_length = 0;
};

class TextBuffer
{
public:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    // Snapshots longer than this share the blocks; shorter ones copy.
    static constexpr std::size_t kShareAbove = 16 << 10;
    // No two neighbouring pieces are both shorter than this: they are merged into one, which
    // bounds the number of pieces by twice the text's size over it.
    static constexpr std::size_t kSmallPiece = 1024;

    TextBuffer() = default;
    // A copy shares the blocks but fills a block of its own.
    TextBuffer(const TextBuffer& other);
    TextBuffer& operator=(const TextBuffer& other);
    TextBuffer(TextBuffer&& other) noexcept;
    TextBuffer& operator=(TextBuffer&& other) noexcept;
    ~TextBuffer() = default;

    std::size_t size() const noexcept { return m_size; }
    bool empty() const noexcept { return m_size == 0; }
    // The byte at pos; '\0' past the end.
    char at(std::size_t pos) const noexcept;
    // Whether every byte is below 0x80, so that byte offsets are also UTF-16 offsets.
    bool isAscii() const noexcept { return m_nonAscii == 0; }
    // How many pieces hold the text (for tests and the fuzzer: see kSmallPiece).
    std::size_t pieceCount() const noexcept { return m_pieces.size(); }

    // The longest contiguous stretch of text starting at pos, at most maxLength bytes.
    std::string_view piece(std::size_t pos, std::size_t maxLength = npos) const noexcept;
    std::string copy(std::size_t pos, std::size_t length) const;
    TextSnapshot snapshot(std::size_t pos, std::size_t length) const;
    // The whole text in one piece; valid until the next change. Joins the pieces into one block
    // when there are several, which costs one copy of the text.
    std::string_view contiguous();

    // Takes the text over without copying it. A caller that knows the text is ASCII (the core's
    // hex and keys are) saves the pass that counts other bytes, which is most of the cost of
    // setting a 70 MB key.
    void assign(std::string text, bool knownAscii = false);
    // text must not point into this buffer.
    void insert(std::size_t pos, std::string_view text);
    // Takes a long text over as a block of its own instead of copying it.
    void insert(std::size_t pos, std::string&& text);
    // Puts a snapshot's text back (an undo, say), sharing its blocks rather than copying them.
    void insert(std::size_t pos, const TextSnapshot& text);
    // Returns what was removed, sharing the blocks when it is large rather than copying it.
    TextSnapshot erase(std::size_t pos, std::size_t length);

    // Offset of the first c at or after from, or npos.
    std::size_t find(char c, std::size_t from) const noexcept;
    // Offset of the last c before `before`, or npos.
    std::size_t findBackward(char c, std::size_t before) const noexcept;

    // Character boundaries: the start of the character after / before pos.
    std::size_t nextCharacter(std::size_t pos) const noexcept;
    std::size_t previousCharacter(std::size_t pos) const noexcept;
    // pos itself if a character starts there, else the start of the character that holds it.
    std::size_t characterStart(std::size_t pos) const noexcept;

    // Called with each block's bytes after they are wiped and before they are freed, so tests can
    // see that the wipe happened. Not thread-safe; pass nullptr to stop.
    using ReleaseObserver = std::function<void(std::string_view wiped)>;
    static void observeReleases(ReleaseObserver observer);

private:
    struct Piece
    {
        TextSpan span;
        std::size_t start = 0; // position in the text
    };

    // Index of the piece that holds pos (< size()).
    std::size_t locate(std::size_t pos) const noexcept;
    // Index of the piece that starts at pos, splitting the one that holds it if need be.
    std::size_t boundaryAt(std::size_t pos);
    // Copies bytes to the end of the block being filled, or to a block of their own when long;
    // the span they now occupy.
    TextSpan store(std::string_view bytes);
    // Room for length bytes at the end of the block being filled, taken.
    char* fillRoom(std::size_t length);
    void placePiece(std::size_t index, TextSpan span);
    void renumberFrom(std::size_t index) noexcept;
    void mergeSmallAround(std::size_t index);
    static std::size_t countNonAscii(std::string_view text) noexcept;
    std::size_t countNonAscii(std::size_t pos, std::size_t length) const noexcept;

    std::vector<Piece> m_pieces;
    // Where typed text goes: a block filled from the front, shared by the pieces cut from it.
    std::shared_ptr<TextBlock> m_fill;
    std::size_t m_filled = 0;
    std::size_t m_size = 0;
    std::size_t m_nonAscii = 0;
    mutable std::size_t m_lastPiece = 0; // where the last look-up landed: reads tend to stay near
};

} // namespace morvalen::textbox
