#include "keyformat.h"

#include "cipher.h"
#include "grouptext.h"
#include "textconv/boxtext.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MORVALEN_KEY_AVX2 1
#include <immintrin.h>
#endif

namespace morvalen {
namespace {

// The text of every mask value, padded to eight bytes so that writing one is a single 8-byte
// store; the three bytes past the mask are overwritten by whatever follows.
constexpr std::array<std::array<char, 8>, 16> kMaskTexts = [] {
    std::array<std::array<char, 8>, 16> texts {};
    for (std::size_t m = 0; m < 16; ++m) {
        writeMaskText(texts[m].data(), m);
    }
    return texts;
}();

#if defined(__SSE2__)
// A fresh key's group, 13 masks and the '|', is matched whole in five 16-byte blocks: the bytes
// that must be ',' or '|' exactly, and the digits, which may differ in their lowest bit only.
constexpr std::size_t kUsualGroupSpan = 80; // bytes read, the group and what follows
// What the matchers below give for text that is not 13 masks.
constexpr unsigned kNoMatch = 16;
// The bits that '|' and ',' share, compared in the byte after 13 masks: a group of more masks
// begins as a usual one, and the rest of it is read mask by mask.
constexpr std::uint8_t kEndKeep = static_cast<std::uint8_t>(~('|' ^ ','));
struct UsualGroupPattern
{
    alignas(16) std::array<std::uint8_t, kUsualGroupSpan> keep {}; // bits compared
    alignas(16) std::array<std::uint8_t, kUsualGroupSpan> want {};
    // For each digit of a mask, first (its highest bit) to last, the places of that digit in the
    // group as bits 0 to 79, split in two words.
    std::array<std::array<std::uint64_t, 2>, 4> digits {};
};
constexpr UsualGroupPattern kUsualGroup = [] {
    UsualGroupPattern pattern;
    for (std::size_t p = 0; p < kUsualGroupChars; ++p) {
        const bool digit = p % kMaskChars != 0 && p + 1 != kUsualGroupChars;
        pattern.keep[p] = digit ? 0xFE : p + 1 == kUsualGroupChars ? kEndKeep : 0xFF;
        pattern.want[p] = digit ? '0' : ',';
        if (digit) {
            pattern.digits[p % kMaskChars - 1][p / 64] |= std::uint64_t {1} << (p % 64);
        }
    }
    return pattern;
}();

// The XOR of the 13 masks at text, which has kUsualGroupSpan bytes to read, when a group of 13 or
// more begins there: the byte after them matches '|' and ',' (and two more the caller rejects).
// kNoMatch when the text is anything else there.
unsigned usualGroupXor(const char* text)
{
    __m128i differ = _mm_setzero_si128();
    std::array<std::uint64_t, 2> low {}; // the lowest bit of every byte
    for (std::size_t block = 0; block < kUsualGroupSpan / 16; ++block) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16 * block));
        const __m128i keep = _mm_load_si128(reinterpret_cast<const __m128i*>(kUsualGroup.keep.data() + 16 * block));
        const __m128i want = _mm_load_si128(reinterpret_cast<const __m128i*>(kUsualGroup.want.data() + 16 * block));
        differ = _mm_or_si128(differ, _mm_xor_si128(_mm_and_si128(bytes, keep), want));
        // Shifting each 16-bit lane by 7 brings both bytes' lowest bits to their top bits.
        const auto bits = static_cast<std::uint64_t>(_mm_movemask_epi8(_mm_slli_epi16(bytes, 7)));
        low[block / 4] |= bits << (16 * (block % 4));
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(differ, _mm_setzero_si128())) != 0xFFFF) {
        return kNoMatch;
    }
    unsigned result = 0;
    for (std::size_t digit = 0; digit < 4; ++digit) {
        const std::uint64_t ones = (low[0] & kUsualGroup.digits[digit][0]) ^ (low[1] & kUsualGroup.digits[digit][1]);
        result |= static_cast<unsigned>(std::popcount(ones) % 2) << (3 - digit);
    }
    return result;
}
#endif

// Reads usual groups from piece[i] on, up to the last digit, into digits; returns where it stopped.
// open: the XOR of the first 13 masks of a group with more, where it stopped in one.
template<std::size_t Span, auto Match>
[[gnu::always_inline]] inline std::size_t readUsualGroups(std::string_view piece, std::size_t i, std::span<char> digits,
    std::size_t& groups, std::optional<std::uint8_t>& open)
{
    // In locals: the digits are chars, so every store to them could change a member.
    char* const text = digits.data();
    const std::size_t digitCount = digits.size();
    std::size_t count = groups;
    while (count < digitCount && i + Span <= piece.size()) {
        const unsigned masks = Match(piece.data() + i);
        if (masks == kNoMatch) {
            break;
        }
        const char end = piece[i + kUsualGroupChars - 1];
        if (end != '|') {
            if (end == ',') {
                open = static_cast<std::uint8_t>(masks);
                i += kUsualGroupChars - 1;
            }
            break;
        }
        text[count] = kHexDigits[hexValue(text[count]) ^ masks];
        ++count;
        i += kUsualGroupChars;
    }
    groups = count;
    return i;
}

std::size_t readUsualGroupsSse2(std::string_view piece, std::size_t i, std::span<char> digits, std::size_t& groups,
    std::optional<std::uint8_t>& open)
{
    return readUsualGroups<kUsualGroupSpan, usualGroupXor>(piece, i, digits, groups, open);
}

#if MORVALEN_KEY_AVX2
// The same match in three 32-byte loads, at 0, 32 and 34, which end with the group's '|': the
// bytes compared there, and the mask of each.
struct UsualGroupVectors
{
    alignas(32) std::array<std::uint8_t, 96> keep {};
    alignas(32) std::array<std::uint8_t, 96> want {};
};
constexpr std::array<std::size_t, 3> kVectorStarts = {0, 32, kUsualGroupChars - 32};
constexpr UsualGroupVectors kUsualGroupVectors = [] {
    UsualGroupVectors vectors;
    for (std::size_t v = 0; v < 3; ++v) {
        for (std::size_t j = 0; j < 32; ++j) {
            const std::size_t p = kVectorStarts[v] + j;
            const bool digit = p % kMaskChars != 0 && p + 1 != kUsualGroupChars;
            vectors.keep[32 * v + j] = digit ? 0xFE : p + 1 == kUsualGroupChars ? kEndKeep : 0xFF;
            vectors.want[32 * v + j] = digit ? '0' : ',';
        }
    }
    return vectors;
}();

// usualGroupXor with AVX2, reading only the group's kUsualGroupChars bytes.
[[gnu::target("avx2")]] unsigned usualGroupXorAvx2(const char* text)
{
    __m256i bytes[3];
    __m256i match = _mm256_set1_epi8(-1);
    for (std::size_t v = 0; v < 3; ++v) {
        bytes[v] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + kVectorStarts[v]));
        const __m256i keep
            = _mm256_load_si256(reinterpret_cast<const __m256i*>(kUsualGroupVectors.keep.data() + 32 * v));
        const __m256i want
            = _mm256_load_si256(reinterpret_cast<const __m256i*>(kUsualGroupVectors.want.data() + 32 * v));
        match = _mm256_and_si256(match, _mm256_cmpeq_epi8(_mm256_and_si256(bytes[v], keep), want));
    }
    if (_mm256_movemask_epi8(match) != -1) {
        return kNoMatch;
    }
    // The lowest bit of every byte: shifting each 16-bit lane by 7 brings it to the byte's top.
    std::array<std::uint64_t, 3> low {};
    for (std::size_t v = 0; v < 3; ++v) {
        low[v] = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(bytes[v], 7)));
    }
    // The digits' bits, bytes 1 to 64, as bits 0 to 63; commas add nothing, their low bit is 0.
    std::uint64_t bits = (low[0] | low[1] << 32) >> 1 | (low[2] >> (64 - kVectorStarts[2])) << 63;
    // Folding by multiples of five XORs digit r of every mask into bit r.
    bits ^= bits >> 40;
    bits ^= bits >> 20;
    bits ^= bits >> 10;
    bits ^= bits >> 5;
    // Bit r is the mask's digit r, the first its highest bit.
    return static_cast<unsigned>((bits & 1) << 3 | (bits & 2) << 1 | (bits & 4) >> 1 | (bits & 8) >> 3);
}

[[gnu::target("avx2")]] std::size_t readUsualGroupsAvx2(std::string_view piece, std::size_t i, std::span<char> digits,
    std::size_t& groups, std::optional<std::uint8_t>& open)
{
    return readUsualGroups<kUsualGroupChars, usualGroupXorAvx2>(piece, i, digits, groups, open);
}
#endif

// Key text written straight into the key, which is grown first by the room the text can take,
// and cut back to the text when done: no staging copy, and the string's memory is reused.
class KeyText
{
public:
    KeyText(std::string& out, std::size_t room)
        : m_out(out)
        , m_end(out.size())
    {
        out.resize(m_end + room + kGroupTextSlack);
    }
    KeyText(const KeyText&) = delete;
    KeyText& operator=(const KeyText&) = delete;
    ~KeyText() { m_out.resize(m_end); }

    void usual(std::span<const PackedGroup> groups)
    {
        writeUsualGroups(groups, m_out.data() + m_end);
        m_end += groups.size() * kUsualGroupChars;
    }

    void masks(MaskGroup masks)
    {
        for (const std::uint8_t mask : masks) {
            std::memcpy(m_out.data() + m_end, kMaskTexts[mask].data(), kMaskTexts[mask].size());
            m_end += kMaskChars;
        }
    }

    // A group of 13 masks and more: the usual text without its '|', then the rest.
    void longer(PackedGroup first, MaskGroup more)
    {
        usual(std::span(&first, 1));
        --m_end;
        masks(more);
        close();
    }

    void close() { m_out[m_end++] = '|'; }

private:
    std::string& m_out;
    std::size_t m_end;
};

} // namespace

void KeyWriter::groups(const MaskBatch& batch)
{
    KeyText text(m_out, batch.groups.size() * kUsualGroupChars + batch.extraMasks.size() * kMaskChars);
    std::size_t next = 0;
    std::size_t extra = 0;
    for (const auto& [index, count] : batch.longer) {
        text.usual(batch.groups.subspan(next, index - next));
        text.longer(batch.groups[index], batch.extraMasks.subspan(extra, count));
        next = index + 1;
        extra += count;
    }
    text.usual(batch.groups.subspan(next));
}

void KeyWriter::usualGroups(std::span<const PackedGroup> groups)
{
    KeyText(m_out, groups.size() * kUsualGroupChars).usual(groups);
}

void KeyWriter::group(MaskGroup masks)
{
    KeyText text(m_out, masks.size() * kMaskChars + 1);
    text.masks(masks);
    text.close();
}

KeyReader::KeyReader(std::span<char> digits, TextPlace start, GroupTextPath path)
    : m_digits(digits)
    , m_vector(path == GroupTextPath::Vector || (path == GroupTextPath::Fastest && hasVectorGroupText()))
    , m_place(start)
{
}

void KeyReader::read(std::string_view piece)
{
    if (m_bad.pending()) {
        if (m_bad.add(piece)) {
            failAtBadCharacter();
        }
        return;
    }
    for (std::size_t i = readWholeMasks(piece, 0); i < piece.size() && !m_bad.pending();
         i = readWholeMasks(piece, i + 1)) {
        readByte(piece, i);
    }
    m_place.skip(piece.size());
}

// The common case: whole groups of the usual size read at once, and otherwise whole masks, each
// followed by ',' or '|', and the '|' that close groups, read eight bytes at a time. Returns where
// the byte-by-byte reader must take over: at a byte of any other shape, inside a mask it began,
// and near the end of a piece.
std::size_t KeyReader::readWholeMasks(std::string_view piece, std::size_t i)
{
    if constexpr (std::endian::native != std::endian::little) {
        return i;
    }
    if (m_inMask) {
        return i;
    }
    const std::size_t start = i;
    for (;;) {
#if defined(__SSE2__)
        if (!m_inGroup) {
            std::size_t groups = m_groupCount;
            std::optional<std::uint8_t> open;
            // A group past the last digit is left to closeGroup, which fails on it.
#if MORVALEN_KEY_AVX2
            i = m_vector ? readUsualGroupsAvx2(piece, i, m_digits, groups, open)
                         : readUsualGroupsSse2(piece, i, m_digits, groups, open);
#else
            i = readUsualGroupsSse2(piece, i, m_digits, groups, open);
#endif
            m_groupCount = groups;
            if (open) {
                m_inGroup = true;
                m_groupPlace = m_place.placeOf(m_place.offset() + i - (kUsualGroupChars - 1));
                m_groupXor = *open;
            }
        }
#endif
        if (i + 8 > piece.size()) {
            break;
        }
        std::uint64_t word = 0;
        std::memcpy(&word, piece.data() + i, sizeof word);
        const auto first = static_cast<char>(word);
        const auto next = static_cast<char>(word >> 40);
        // Byte 0 is ',' and bytes 1 to 4 are '0' or '1', then ',' or '|'.
        if (((word ^ 0x303030302CULL) & 0xFEFEFEFEFFULL) == 0 && (next == ',' || next == '|')) {
            if (!m_inGroup) {
                m_inGroup = true;
                m_groupPlace = m_place.placeOf(m_place.offset() + i);
            }
            // Gathers the low bits of bytes 1 to 4 into bits 27 to 24, first digit highest.
            const std::uint64_t bits = (word >> 8) & 0x01010101ULL;
            m_groupXor ^= static_cast<std::uint8_t>(((bits * 0x08040201ULL) >> 24) & 0xF);
            i += kMaskChars;
        } else if (first == '|') {
            closeGroup();
            ++i;
        } else {
            break;
        }
    }
    if (i != start) {
        m_significantEnd = m_place.offset() + i;
    }
    return i;
}

void KeyReader::readByte(std::string_view piece, std::size_t i)
{
    const char c = piece[i];
    const std::size_t offset = m_place.offset() + i;
    if (isBlank(c)) {
        if (c == '\n') {
            m_place.lineBreakAt(offset);
        }
        return;
    }
    if (!m_inGroup) {
        m_inGroup = true;
        m_groupPlace = m_place.placeOf(offset);
        if (c == '0' || c == '1') {
            fail("the group at " + positionText(offset) + " does not begin with ','.",
                "this group does not begin with ','.", m_groupPlace, 1);
        }
    }
    switch (c) {
    case '0':
    case '1':
        m_maskValue = static_cast<std::uint8_t>(((m_maskValue << 1) | (c - '0')) & 0xF);
        ++m_maskDigits;
        break;
    case ',':
        finishMask();
        m_inMask = true;
        m_maskPlace = m_place.placeOf(offset);
        break;
    case '|':
        finishMask();
        closeGroup();
        break;
    default:
        if (m_bad.start(piece.substr(i), m_place.placeOf(offset))) {
            failAtBadCharacter();
        }
        return;
    }
    m_significantEnd = offset + 1;
}

void KeyReader::finishMask()
{
    if (!m_inMask) {
        return;
    }
    if (m_maskDigits != 4) {
        const std::string digits = counted(m_maskDigits, "digit", "digits") + "; a mask has 4.";
        fail("the mask at " + positionText(m_maskPlace.offset) + " has " + digits, "this mask has " + digits,
            m_maskPlace, m_significantEnd - m_maskPlace.offset);
    }
    m_groupXor ^= m_maskValue;
    m_inMask = false;
    m_maskDigits = 0;
    m_maskValue = 0;
}

void KeyReader::closeGroup()
{
    // Certain now, so the rest of the key, perhaps gigabytes, is not read to say so.
    if (m_groupCount == m_digits.size()) {
        const std::string what = "more than " + counted(m_groupCount, "mask group", "mask groups") + " for "
            + counted(m_digits.size(), "hex digit", "hex digits") + "; each digit needs its own group.";
        fail(what, what);
    }
    m_digits[m_groupCount] = kHexDigits[hexValue(m_digits[m_groupCount]) ^ m_groupXor];
    ++m_groupCount;
    m_groupXor = 0;
    m_inGroup = false;
}

void KeyReader::failAtBadCharacter() const
{
    const std::string what = m_bad.describe();
    fail(what + " at " + positionText(m_bad.place().offset) + " is not 0, 1, ',' or '|'.",
        what + " is not 0, 1, ',' or '|'.", m_bad.place(), m_bad.length());
}

void KeyReader::finish() const
{
    if (m_bad.pending()) {
        failAtBadCharacter();
    }
    if (m_inGroup) {
        fail("the text from " + positionText(m_groupPlace.offset) + " is not closed by '|'.",
            "this group is not closed by '|'.", m_groupPlace, m_significantEnd - m_groupPlace.offset);
    }
    if (m_groupCount < m_digits.size()) {
        const std::string what = counted(m_groupCount, "mask group", "mask groups") + " for "
            + counted(m_digits.size(), "hex digit", "hex digits") + "; each digit needs its own group.";
        fail(what, what);
    }
}

void KeyReader::fail(std::string_view message, std::string detail, TextPlace place, std::size_t length) const
{
    throw Error::invalidInput(ErrorInput::EncryptingBits, message, std::move(detail), place, length);
}

std::size_t OneStreamReader::readHex(std::string_view& piece, char* out)
{
    // Not find_first_of, which calls memchr on ",|" once for every byte.
    const auto split = static_cast<std::size_t>(
        std::find_if(piece.begin(), piece.end(), [](char c) { return c == ',' || c == '|'; }) - piece.begin());
    const std::size_t count = m_hex.read(piece.substr(0, split), out);
    piece.remove_prefix(split);
    if (!piece.empty()) {
        m_hex.finish();
    }
    return count;
}

void OneStreamReader::readKey(std::span<char> digits, std::string_view piece)
{
    if (!m_key) {
        m_key.emplace(digits, m_hex.place());
    }
    m_key->read(piece);
}

void OneStreamReader::finish(std::span<char> digits)
{
    if (!m_key) {
        m_hex.finish();
        m_key.emplace(digits, m_hex.place());
    }
    m_key->finish();
}

} // namespace morvalen
