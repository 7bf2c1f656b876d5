// The x86-64 baseline room: SSE2 matches a key's usual groups whole; digits and key text as the
// portable room makes them.
#include "cipher/arch/shared.h"

#include <bit>
#include <emmintrin.h>

namespace morvalen::arch {
namespace {

static_assert(kMasksPerDigit == 13 && kUsualGroupChars == 66, "the layout this room relies on");

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

// The XOR of the 13 masks at text, digit by digit, which has kUsualGroupSpan bytes to read, when
// a group of 13 or more begins there: the byte after them matches '|' and ',' (and two more the
// caller rejects). kNoMatch when the text is anything else there.
unsigned usualGroupXorSse2(const char* text)
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

std::size_t readGroupsSse2(std::string_view piece, std::size_t i, std::span<char> digits, std::size_t& groups)
{
    return readGroups<kUsualGroupSpan, usualGroupXorSse2>(piece, i, digits, groups);
}

} // namespace

const Kernels kSse2 {encryptDigitsPlain, writeGroupsPlain, readGroupsSse2};

} // namespace morvalen::arch
