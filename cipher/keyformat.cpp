#include "keyformat.h"

#include "byteorder.h"
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

// What the matchers below give for text that is not 13 masks.
constexpr unsigned kNoMatch = 16;
// The readers keep a group's XOR as its four digits' XORs, the first digit in the lowest bit, as
// they fall out of the text; a mask's value has its first digit highest.
constexpr std::array<std::uint8_t, 16> kReversed = [] {
    std::array<std::uint8_t, 16> values {};
    for (unsigned r = 0; r < 16; ++r) {
        values[r] = static_cast<std::uint8_t>((r & 1) << 3 | (r & 2) << 1 | (r & 4) >> 1 | (r & 8) >> 3);
    }
    return values;
}();
// Every encrypted digit with every such XOR, decrypted: one look-up per group. The digits are hex
// digits, upper case, as HexReader gives them; other bytes have an entry only to keep it simple.
constexpr std::array<char, 256 * 16> kDecryptedDigits = [] {
    std::array<char, 256 * 16> digits {};
    for (unsigned c = 0; c < 256; ++c) {
        for (unsigned r = 0; r < 16; ++r) {
            digits[c << 4 | r] = kHexDigits[(hexValue(static_cast<char>(c)) ^ kReversed[r]) & 0xF];
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

#if defined(__SSE2__)
// A fresh key's group, 13 masks and the '|', is matched whole in five 16-byte blocks: the bytes
// that must be ',' or '|' exactly, and the digits, which may differ in their lowest bit only.
constexpr std::size_t kUsualGroupSpan = 80; // bytes read, the group and what follows
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

// The XOR of the 13 masks at text, digit by digit, which has kUsualGroupSpan bytes to read, when a group of 13 or
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
        result |= static_cast<unsigned>(std::popcount(ones) % 2) << digit;
    }
    return result;
}
#endif

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

// Reads whole groups from piece[i] on, up to the last digit, into digits; returns where it
// stopped: at a group of any other shape, or one that does not lie whole in the piece, which the
// callers read on. Match gives the XOR of a group's first 13 masks, reading Span bytes; a group
// with more goes on mask by mask, as one digit in sixteen does.
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

#if defined(__SSE2__)
std::size_t readGroupsSse2(std::string_view piece, std::size_t i, std::span<char> digits, std::size_t& groups)
{
    return readGroups<kUsualGroupSpan, usualGroupXor>(piece, i, digits, groups);
}
#endif

#if MORVALEN_KEY_AVX2
// The 64 bytes before a group's last digit and its end: the bits compared, and what they must be.
struct UsualGroupVectors
{
    alignas(64) std::array<std::uint8_t, 64> keep {};
    alignas(64) std::array<std::uint8_t, 64> want {};
};
constexpr UsualGroupVectors kUsualGroupVectors = [] {
    UsualGroupVectors vectors;
    for (std::size_t p = 0; p < 64; ++p) {
        const bool digit = p % kMaskChars != 0;
        vectors.keep[p] = digit ? 0xFE : 0xFF;
        vectors.want[p] = digit ? '0' : ',';
    }
    return vectors;
}();
// The last digit and the byte after it, read as one 16-bit word: '0' or '1', then '|' or ','.
constexpr std::uint16_t kTailKeep = 0xFE | kEndKeep << 8;
constexpr std::uint16_t kTailWant = '0' | ('|' & kEndKeep) << 8;

// Carry-less multiplication by this adds (XORs) a word shifted by every multiple of 5 up to 60:
// bit 60 + r of the product is the XOR of bits r, r + 5, ..., r + 60, digit r of every mask.
constexpr std::uint64_t kFoldMasks = [] {
    std::uint64_t fold = 0;
    for (std::size_t k = 0; k < kMasksPerDigit; ++k) {
        fold |= std::uint64_t {1} << (kMaskChars * k);
    }
    return fold;
}();

// The group's last digit and the byte after it, when they are '0' or '1' and then '|' or ','.
inline std::optional<std::uint16_t> usualTail(const char* text)
{
    const auto tail = loadLittle<std::uint16_t>(text + 64);
    return (tail & kTailKeep) == kTailWant ? std::optional(tail) : std::nullopt;
}

// The XOR of the group's 13 masks, digit by digit, from the lowest bits of bytes 1 to 64 (lowest
// first; bytes 1 to 63 as given, byte 64 from the tail).
[[gnu::target("pclmul")]] inline unsigned foldedDigits(std::uint64_t lowestBits, std::uint16_t tail)
{
    const std::uint64_t bits = lowestBits | std::uint64_t {tail & 1u} << 63;
    const __m128i product = _mm_clmulepi64_si128(
        _mm_cvtsi64_si128(static_cast<long long>(bits)), _mm_cvtsi64_si128(static_cast<long long>(kFoldMasks)), 0);
    return static_cast<unsigned>(static_cast<std::uint64_t>(_mm_cvtsi128_si64(product)) >> 60);
}

// usualGroupXor with AVX2, reading only the group's kUsualGroupChars bytes, and the XOR folded
// by one carry-less multiplication.
[[gnu::target("avx2,pclmul")]] unsigned usualGroupXorAvx2(const char* text)
{
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + 32));
    const auto* keep = reinterpret_cast<const __m256i*>(kUsualGroupVectors.keep.data());
    const auto* want = reinterpret_cast<const __m256i*>(kUsualGroupVectors.want.data());
    const __m256i match
        = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_and_si256(low, _mm256_load_si256(keep)), _mm256_load_si256(want)),
            _mm256_cmpeq_epi8(_mm256_and_si256(high, _mm256_load_si256(keep + 1)), _mm256_load_si256(want + 1)));
    const std::optional<std::uint16_t> tail = usualTail(text);
    if (_mm256_movemask_epi8(match) != -1 || !tail) {
        return kNoMatch;
    }
    // The lowest bit of every byte (shifting each 16-bit lane by 7 brings it to the byte's top),
    // bytes 1 to 64 as bits 0 to 63: a mask's digit r is bit 5k + r. Commas add nothing.
    const std::uint64_t bits
        = (static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(low, 7)))
              | std::uint64_t {static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(high, 7)))} << 32)
        >> 1;
    return foldedDigits(bits, *tail);
}

[[gnu::target("avx2,pclmul")]] std::size_t readGroupsAvx2(
    std::string_view piece, std::size_t i, std::span<char> digits, std::size_t& groups)
{
    return readGroups<kUsualGroupChars, usualGroupXorAvx2>(piece, i, digits, groups);
}

// The same with AVX-512: one 64-byte load, compared and its low bits taken in a mask register each.
[[gnu::target("avx512bw,pclmul")]] unsigned usualGroupXorAvx512(const char* text)
{
    const __m512i bytes = _mm512_loadu_si512(text);
    const __mmask64 match
        = _mm512_cmpeq_epi8_mask(_mm512_and_si512(bytes, _mm512_load_si512(kUsualGroupVectors.keep.data())),
            _mm512_load_si512(kUsualGroupVectors.want.data()));
    const std::optional<std::uint16_t> tail = usualTail(text);
    if (match != ~__mmask64 {0} || !tail) {
        return kNoMatch;
    }
    return foldedDigits(_mm512_test_epi8_mask(bytes, _mm512_set1_epi8(1)) >> 1, *tail);
}

[[gnu::target("avx512bw,pclmul")]] std::size_t readGroupsAvx512(
    std::string_view piece, std::size_t i, std::span<char> digits, std::size_t& groups)
{
    return readGroups<kUsualGroupChars, usualGroupXorAvx512>(piece, i, digits, groups);
}
#endif

auto groupReader([[maybe_unused]] GroupTextPath path)
    -> std::size_t (*)(std::string_view, std::size_t, std::span<char>, std::size_t&)
{
#if MORVALEN_KEY_AVX2
    switch (chosenGroupTextPath(path)) {
    case GroupTextPath::Wide: return readGroupsAvx512;
    case GroupTextPath::Vector: return readGroupsAvx2;
    default: break;
    }
#endif
#if defined(__SSE2__)
    return readGroupsSse2;
#else
    return nullptr;
#endif
}

// Key text written straight into the key, which is grown first by the room the text can take,
// where it does not have that room already, and cut back to the text when done unless it is
// written over: no staging copy, and the string's memory is reused.
class KeyText
{
public:
    KeyText(std::string& out, std::size_t& end, std::size_t room, bool over)
        : m_out(out)
        , m_end(end)
        , m_over(over)
    {
        if (end + room + kGroupTextSlack > out.size()) {
            out.resize(end + room + kGroupTextSlack);
        }
    }
    KeyText(const KeyText&) = delete;
    KeyText& operator=(const KeyText&) = delete;
    ~KeyText()
    {
        if (!m_over) {
            m_out.resize(m_end);
        }
    }

    void groups(const MaskBatch& batch, GroupTextPath path) { m_end += writeGroups(batch, m_out.data() + m_end, path); }

    void masks(MaskGroup masks)
    {
        m_end = static_cast<std::size_t>(writeMaskTexts(masks, m_out.data() + m_end) - m_out.data());
    }

    void close() { m_out[m_end++] = '|'; }

private:
    std::string& m_out;
    std::size_t& m_end;
    bool m_over;
};

} // namespace

void KeyWriter::groups(const MaskBatch& batch)
{
    if (!m_over) {
        m_end = m_out.size();
    }
    KeyText(m_out, m_end, batch.groups.size() * kUsualGroupChars + batch.extraMasks.size() * kMaskChars, m_over)
        .groups(batch, m_path);
}

void KeyWriter::usualGroups(std::span<const PackedGroup> groups)
{
    this->groups({groups, {}, {}});
}

void KeyWriter::group(MaskGroup masks)
{
    if (!m_over) {
        m_end = m_out.size();
    }
    KeyText text(m_out, m_end, masks.size() * kMaskChars + 1, m_over);
    text.masks(masks);
    text.close();
}

void KeyWriter::finish()
{
    if (m_over) {
        m_out.resize(m_end);
    }
}

KeyReader::KeyReader(std::span<char> digits, TextPlace start, GroupTextPath path)
    : m_digits(digits)
    , m_readGroups(groupReader(path))
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
    if (m_inMask) {
        return i;
    }
    const std::size_t start = i;
    for (;;) {
        if (!m_inGroup && m_readGroups != nullptr) {
            // A group past the last digit is left to closeGroup, which fails on it.
            i = m_readGroups(piece, i, m_digits, m_groupCount);
        }
        if (i + 8 > piece.size()) {
            break;
        }
        const unsigned mask = maskAt(piece.data() + i);
        if (mask != kNoMatch) {
            if (!m_inGroup) {
                m_inGroup = true;
                m_groupPlace = m_place.placeOf(m_place.offset() + i);
            }
            m_groupXor ^= static_cast<std::uint8_t>(mask);
            i += kMaskChars;
        } else if (piece[i] == '|') {
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
        m_maskValue = static_cast<std::uint8_t>(m_maskValue | (c - '0') << (m_maskDigits % 4));
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
    m_digits[m_groupCount] = decryptedDigit(m_digits[m_groupCount], m_groupXor);
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
