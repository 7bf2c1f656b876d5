// Small pieces the rooms share, inlined into each. Internal linkage on purpose: every room is
// compiled with its own instruction set, and a shared out-of-line copy could be one that only
// the widest processors run.
#pragma once

#include "cipher/arch/kernels.h"
#include "cipher/byteorder.h"
#include "cipher/grouptext.h"
#include "textconv/boxtext.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace morvalen::arch {
namespace {

// The layout every room relies on: 13 masks a digit, written ",dddd" each and closed by '|'.
static_assert(kMasksPerDigit == 13 && kMaskChars == 5 && kUsualGroupChars == 66);
static_assert(sizeof(PackedGroup) == 8 && 4 * kMasksPerDigit <= 64);

// The XOR of the masks of a packed group.
inline unsigned xorOf(PackedGroup masks)
{
    masks ^= masks >> 32;
    masks ^= masks >> 16;
    masks ^= masks >> 8;
    masks ^= masks >> 4;
    return static_cast<unsigned>(masks & 0xF);
}

// How many digits from the run's next on have all 13 masks in the buffer and room in the batch.
inline std::size_t digitsAtHand(const DigitRun& run, std::size_t digits) noexcept
{
    const std::size_t room = run.capacity - run.count;
    const std::size_t masks = (run.end - run.next) / kMasksPerDigit;
    const std::size_t most = room < masks ? room : masks;
    return digits < most ? digits : most;
}

// The further masks of the digit whose group is the batch's last, zero after its 13, taken from
// the buffer until one is not zero: that one is its encrypted value. 0 when the buffer or the
// room for them runs out first, having taken nothing.
inline unsigned extendFromBuffer(DigitRun& run)
{
    if (run.longer == nullptr || run.longerCount == run.longerRoom) {
        return 0;
    }
    for (std::size_t at = run.next; at < run.end; ++at) {
        const auto mask = static_cast<unsigned>(run.bytes[at / 2] >> (4 * (at % 2)) & 0xF);
        if (mask == 0) {
            continue;
        }
        const std::size_t count = at + 1 - run.next;
        if (count > run.extraRoom - run.extraCount) {
            return 0;
        }
        for (std::size_t taken = run.next; taken <= at; ++taken) {
            run.extraMasks[run.extraCount++]
                = static_cast<std::uint8_t>(run.bytes[taken / 2] >> (4 * (taken % 2)) & 0xF);
        }
        run.longer[run.longerCount++] = {run.count - 1, count};
        run.next = at + 1;
        return mask;
    }
    return 0;
}

// After the digits before a zero one: takes that digit's group into the batch and its further
// masks from the buffer. False, with the digit pending, when they are not at hand.
inline bool passZeroDigit(DigitRun& run, char* text, std::size_t& d, std::size_t before)
{
    run.next += kMasksPerDigit * (before + 1);
    run.count += before + 1;
    d += before;
    const unsigned nibble = extendFromBuffer(run);
    if (nibble == 0) {
        run.zeroPending = true;
        return false;
    }
    text[d++] = kHexDigits[nibble];
    return true;
}

// The longer groups of a batch, met in order while its groups are written. Copied out of the
// batch: the text is chars, so the compiler would read the batch again after every store.
class LongerGroups
{
public:
    explicit LongerGroups(const MaskBatch& batch)
        : m_longer(batch.longer.data())
        , m_end(batch.longer.data() + batch.longer.size())
        , m_extraMasks(batch.extraMasks.data())
        , m_nextGroup(m_longer != m_end ? m_longer->first : kNone)
    {
    }

    // Whether group is the next longer one.
    bool at(std::size_t group) const { return group == m_nextGroup; }

    // Writes the next longer group's further masks over the '|' its usual text ended with at out,
    // and the '|' after them; returns the end of its text.
    char* writeMore(char* out)
    {
        const std::size_t count = m_longer->second;
        out = writeMaskTexts({m_extraMasks, count}, out - 1);
        m_extraMasks += count;
        *out++ = '|';
        ++m_longer;
        m_nextGroup = m_longer != m_end ? m_longer->first : kNone;
        return out;
    }

private:
    static constexpr std::size_t kNone = ~std::size_t {0};
    const std::pair<std::size_t, std::size_t>* m_longer;
    const std::pair<std::size_t, std::size_t>* m_end;
    const std::uint8_t* m_extraMasks;
    std::size_t m_nextGroup;
};

// What the group matchers give for text that is not 13 masks.
constexpr unsigned kNoMatch = 16;

// The readers keep a group's XOR as its four digits' XORs, the first digit in the lowest bit, as
// they fall out of the text; a mask's value has its first digit highest. Every encrypted digit
// with every such XOR, decrypted: one look-up per group. The digits are hex digits, upper case,
// as HexReader gives them; other bytes have an entry only to keep it simple.
constexpr std::array<char, 256 * 16> kDecryptedDigits = [] {
    std::array<char, 256 * 16> digits {};
    for (unsigned c = 0; c < 256; ++c) {
        for (unsigned r = 0; r < 16; ++r) {
            const unsigned reversed = (r & 1) << 3 | (r & 2) << 1 | (r & 4) >> 1 | (r & 8) >> 3;
            digits[c << 4 | r] = kHexDigits[(hexValue(static_cast<char>(c)) ^ reversed) & 0xF];
        }
    }
    return digits;
}();
inline char decryptedDigit(char digit, unsigned digitXors)
{
    return kDecryptedDigits[static_cast<unsigned>(static_cast<unsigned char>(digit)) << 4 | digitXors];
}

// The bits that '|' and ',' share, compared in the byte after 13 masks: a group of more masks
// begins as a usual one, and the rest of it is read mask by mask.
constexpr std::uint8_t kEndKeep = static_cast<std::uint8_t>(~('|' ^ ','));

// The digits of the mask at text, ",dddd" followed by ',' or '|', the first lowest, read as one
// little-endian 8-byte word; kNoMatch for any other shape.
inline unsigned maskAt(const char* text)
{
    const auto word = loadLittle<std::uint64_t>(text);
    const auto next = static_cast<char>(word >> 40);
    // Byte 0 is ',' and bytes 1 to 4 are '0' or '1'.
    if (((word ^ 0x303030302CULL) & 0xFEFEFEFEFFULL) != 0 || (next != ',' && next != '|')) {
        return kNoMatch;
    }
    // Gathers the low bits of bytes 1 to 4 into bits 28 to 31, first digit lowest.
    const std::uint64_t bits = (word >> 8) & 0x01010101ULL;
    return static_cast<unsigned>(((bits * 0x10204080ULL) >> 28) & 0xF);
}

// Kernels::readGroups with a matcher: Match gives the XOR of a group's first 13 masks, reading
// Span bytes, or kNoMatch; a group with more goes on mask by mask, as one digit in sixteen does.
template<std::size_t Span, auto Match>
[[gnu::always_inline]] inline std::size_t readGroups(
    std::string_view piece, std::size_t i, std::span<char> digits, std::size_t& groups)
{
    // In locals: the digits are chars, so every store to them could change a member.
    char* const text = digits.data();
    const std::size_t digitCount = digits.size();
    const char* const data = piece.data();
    std::size_t count = groups;
    while (count < digitCount && i + Span <= piece.size()) {
        unsigned masks = Match(data + i);
        if (masks == kNoMatch) {
            break;
        }
        std::size_t end = i + kUsualGroupChars - 1;
        while (data[end] == ',') {
            if (end + 8 > piece.size()) {
                groups = count;
                return i;
            }
            const unsigned more = maskAt(data + end);
            if (more == kNoMatch) {
                groups = count;
                return i;
            }
            masks ^= more;
            end += kMaskChars;
        }
        if (data[end] != '|') {
            break; // two more bytes match as '|' and ',' do
        }
        text[count] = decryptedDigit(text[count], masks);
        ++count;
        i = end + 1;
    }
    groups = count;
    return i;
}

} // namespace
} // namespace morvalen::arch
