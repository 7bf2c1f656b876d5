// The encrypting bits, written and read. The text is a sequence of mask groups, one per digit,
// each closed by "|"; a group is its masks in the order applied, each written "," and four digits
// "0" or "1". The reader skips blanks anywhere, so a key wrapped over lines still reads, and it
// takes the text in pieces of any size, so a key far larger than memory can be read from a file.
#pragma once

#include "cpupath.h"
#include "textconv/boxtext.h"
#include "textconv/errors.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace morvalen {

// Masks every digit takes; a digit that is zero after them takes more until it is not.
inline constexpr std::size_t kMasksPerDigit = 13;
// Characters of one mask in the text: "," and four digits.
inline constexpr std::size_t kMaskChars = 5;
// Characters of a group of kMasksPerDigit masks with its closing "|".
inline constexpr std::size_t kUsualGroupChars = kMasksPerDigit * kMaskChars + 1;

// Writes one mask's text, "," and its four bits, most significant first, at out.
constexpr void writeMaskText(char* out, std::size_t mask)
{
    out[0] = ',';
    for (std::size_t bit = 0; bit < 4; ++bit) {
        out[1 + bit] = (mask >> (3 - bit) & 1) != 0 ? '1' : '0';
    }
}

// One digit's masks, each 0-15, in the order applied.
using MaskGroup = std::span<const std::uint8_t>;

// The first kMasksPerDigit masks of a group packed four bits a mask, the first lowest.
using PackedGroup = std::uint64_t;

// Consecutive groups as encryption hands them on, many at a time: every group's first 13 masks
// packed, and for the one digit in 16 that was zero after them, the masks it took past those.
struct MaskBatch
{
    std::span<const PackedGroup> groups;
    // The groups with more masks, in order: their index in groups and how many more they have.
    std::span<const std::pair<std::size_t, std::size_t>> longer;
    std::span<const std::uint8_t> extraMasks; // theirs, in order
};

// Where encryption hands each digit's masks, in digit order.
class MaskGroupSink
{
public:
    virtual void groups(const MaskBatch& batch) = 0;

protected:
    ~MaskGroupSink() = default;
};

// Appends each group to out as text; the caller may take text out of out between batches.
class KeyWriter final : public MaskGroupSink
{
public:
    enum class Start
    {
        AtEnd,
        // Over out from its start, taking the text already there as room to write into, as a
        // string kept from one key to the next holds: no byte of it is cleared first. out is the
        // key only after finish().
        Over,
    };

    // path: which room's code writes the text (see cpupath.h); every path gives the same.
    explicit KeyWriter(std::string& out, Start start = Start::AtEnd, CpuPath path = CpuPath::Fastest);

    void groups(const MaskBatch& batch) override;
    // Groups of exactly 13 masks, made whole (see grouptext.h).
    void usualGroups(std::span<const PackedGroup> groups);
    // Any group, written mask by mask: the plain path.
    void group(MaskGroup masks);
    // Cuts out to the text written, when it was written over.
    void finish();

private:
    std::string& m_out;
    char* (*m_writeGroups)(const MaskBatch& batch, char* out);
    bool m_over;
    std::size_t m_end = 0; // of the text written over out
};

// XORs the masks of group i into digits[i], upper-case hex digits as HexReader gives them.
// Throws InvalidInput about the encrypting bits when the text breaks the format or does not hold
// exactly one group per digit, a group past the last digit as soon as it closes; the digits are
// then partly decrypted, so callers hand in a copy they can drop. Positions in its messages are
// byte offsets plus one, and columns count bytes: it stops at the first byte that is not ASCII,
// so up to any place it reports the two agree.
class KeyReader
{
public:
    // start: where the key begins in its text, when it follows something else there.
    // path: which room's code reads whole groups (see cpupath.h); every path gives the same.
    explicit KeyReader(std::span<char> digits, TextPlace start = {}, CpuPath path = CpuPath::Fastest);

    void read(std::string_view piece);
    // The end of the text: the last group must be closed, and every digit have its group.
    void finish() const;

private:
    std::size_t readWholeMasks(std::string_view piece, std::size_t i);
    void readByte(std::string_view piece, std::size_t i);
    void finishMask();
    void closeGroup();
    [[noreturn]] void failAtBadCharacter() const;
    [[noreturn]] void fail(std::string_view message, std::string detail, TextPlace place = {Error::kNoPlace, 0, 0},
        std::size_t length = 0) const;

    std::span<char> m_digits;
    // Reads whole groups on from an index of a piece, as far as they go; returns where it stopped.
    std::size_t (*m_readGroups)(std::string_view piece, std::size_t i, std::span<char> digits, std::size_t& groups);
    PlaceCounter m_place; // its offset is that of the piece being read
    std::size_t m_significantEnd = 0; // just past the last byte read that is not blank
    std::size_t m_groupCount = 0;
    bool m_inGroup = false;
    TextPlace m_groupPlace;
    bool m_inMask = false;
    TextPlace m_maskPlace;
    std::size_t m_maskDigits = 0;
    // Digit by digit, the first lowest.
    std::uint8_t m_maskValue = 0;
    std::uint8_t m_groupXor = 0;
    BadCharacter m_bad;
};

// Encrypted hex and its key in one text, as one stream carries them: the hex is everything before
// the first ',' or '|', the key the rest, with places counted on from the hex. Takes the text in
// pieces; the hex's digits go where the caller keeps them, as all of them must be at hand, in one
// span, when the key begins.
class OneStreamReader
{
public:
    bool inKey() const { return m_key.has_value(); }
    // Reads piece up to where the key begins: the digits go to out, which has room for
    // piece.size(), and their count is returned. piece is left with the start of the key, if it
    // holds it, and is empty otherwise.
    std::size_t readHex(std::string_view& piece, char* out);
    // Reads a piece of the key; digits: every digit of the hex, the same span on every call.
    void readKey(std::span<char> digits, std::string_view piece);
    // The end of the text; errors as HexReader's and KeyReader's.
    void finish(std::span<char> digits);

private:
    HexReader m_hex {ErrorInput::EncryptedHex};
    std::optional<KeyReader> m_key;
};

} // namespace morvalen
