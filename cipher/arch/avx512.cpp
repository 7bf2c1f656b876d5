// The AVX-512 room, compiled with -mavx512bw -mavx512vl -mavx512vbmi -mpclmul and run only where
// the processor has them all: eight digits encrypted at a time, the first 64 bytes of a group's
// text made and matched in one vector each.
#include "cipher/arch/x86.h"

#include <bit>

namespace morvalen::arch {
namespace {

static_assert(kMasksPerDigit == 13 && kUsualGroupChars == 66, "the layout this room relies on");

// The 16-byte lanes of one 64-byte load arranged as in the AVX2 room by one byte permutation,
// each lane from 13 bytes past the one before.
struct WideDigitVectors
{
    alignas(64) std::array<std::array<std::uint8_t, 64>, 2> pick {};
    alignas(64) std::array<std::array<std::uint64_t, 8>, 2> shift {};
};
constexpr WideDigitVectors kWideDigitVectors = [] {
    WideDigitVectors vectors;
    for (std::size_t half = 0; half < 2; ++half) {
        for (std::size_t lane = 0; lane < 4; ++lane) {
            for (std::size_t i = 0; i < 16; ++i) {
                vectors.pick[half][16 * lane + i]
                    = static_cast<std::uint8_t>(kMasksPerDigit * lane + kDigitVectors.pick[half][i]);
            }
            vectors.shift[half][2 * lane] = kDigitVectors.shift[half][0];
            vectors.shift[half][2 * lane + 1] = kDigitVectors.shift[half][1];
        }
    }
    return vectors;
}();

// GCC 12 warns about the undefined vector some AVX-512 intrinsics start from (its bug 105593).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
std::size_t encryptDigitsAvx512(DigitRun& result, char* text, std::size_t digits)
{
    // In locals: the digits are chars, so every store to them could change the run.
    DigitRun run = result;
    const __m512i groupBits = _mm512_set1_epi64((1LL << (4 * kMasksPerDigit)) - 1);
    std::size_t d = 0;
    while (digitsAtHand(run, digits - d) >= 8) {
        const std::size_t half = run.next % 2;
        const __m512i pick = _mm512_load_si512(kWideDigitVectors.pick[half].data());
        const __m512i shift = _mm512_load_si512(kWideDigitVectors.shift[half].data());
        const __m512i raw = _mm512_loadu_si512(run.bytes + run.next / 2);
        const __m512i masks = _mm512_and_si512(_mm512_srlv_epi64(_mm512_permutexvar_epi8(pick, raw), shift), groupBits);
        _mm512_storeu_si512(run.groups + run.count, masks);
        __m512i x = _mm512_xor_si512(masks, _mm512_srli_epi64(masks, 32));
        x = _mm512_xor_si512(x, _mm512_srli_epi64(x, 16));
        x = _mm512_xor_si512(x, _mm512_srli_epi64(x, 8));
        x = _mm512_xor_si512(x, _mm512_srli_epi64(x, 4));
        // The digits worked on in a vector too, off the path from the masks to the test for zero.
        const __m128i low = _mm_set1_epi8(0x0F);
        const __m128i plain = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(text + d));
        const __m128i letter = _mm_and_si128(_mm_srli_epi16(plain, 6), _mm_set1_epi8(1));
        const __m128i values = _mm_add_epi8(_mm_and_si128(plain, low), _mm_add_epi8(letter, _mm_slli_epi16(letter, 3)));
        const __m128i nibbles = _mm_xor_si128(values, _mm_and_si128(_mm512_cvtepi64_epi8(x), low));
        const __m128i encrypted = _mm_add_epi8(_mm_add_epi8(nibbles, _mm_set1_epi8('0')),
            _mm_and_si128(_mm_cmpgt_epi8(nibbles, _mm_set1_epi8(9)), _mm_set1_epi8(7)));
        const auto zero = static_cast<unsigned>(_mm_testn_epi8_mask(nibbles, nibbles)) & 0xFFU;
        if (zero == 0) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(text + d), encrypted);
            run.next += 8 * kMasksPerDigit;
            run.count += 8;
            d += 8;
            continue;
        }
        const auto before = static_cast<std::size_t>(std::countr_zero(zero));
        // Only the digits before the zero one, as in the AVX2 room.
        _mm_mask_storeu_epi8(text + d, static_cast<__mmask16>((1U << before) - 1), encrypted);
        if (!passZeroDigit(run, text, d, before)) {
            result = run;
            return d;
        }
    }
    d += encryptDigitsAvx2(run, text + d, digits - d);
    result = run;
    return d;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// The first 64 bytes of a group in one shuffle, one test and one masked add; the last digit and
// the '|' as one 16-bit store.
char* writeGroupsAvx512(const MaskBatch& batch, char* out)
{
    const __m512i source = _mm512_loadu_si512(kWriter.source.data());
    const __m512i bit = _mm512_loadu_si512(kWriter.bit.data());
    const __m512i clear = _mm512_loadu_si512(kWriter.clear.data());
    const __m512i one = _mm512_set1_epi8(1);
    LongerGroups longer(batch);
    const PackedGroup* const groups = batch.groups.data();
    const std::size_t count = batch.groups.size();
    for (std::size_t g = 0; g < count; ++g) {
        const PackedGroup masks = groups[g];
        const __m512i picked = _mm512_shuffle_epi8(_mm512_set1_epi64(static_cast<long long>(masks)), source);
        _mm512_storeu_si512(out, _mm512_mask_add_epi8(clear, _mm512_test_epi8_mask(picked, bit), clear, one));
        // The last mask's last digit is its lowest bit.
        const auto tail = static_cast<std::uint16_t>(('0' + (masks >> (4 * (kMasksPerDigit - 1)) & 1)) | '|' << 8);
        storeLittle(out + 64, tail);
        out += kUsualGroupChars;
        if (longer.at(g)) {
            out = longer.writeMore(out);
        }
    }
    return out;
}

// As the AVX2 room's: one 64-byte load, compared and its low bits taken in a mask register each.
unsigned usualGroupXorAvx512(const char* text)
{
    const __m512i bytes = _mm512_loadu_si512(text);
    const __mmask64 match
        = _mm512_cmpeq_epi8_mask(_mm512_and_si512(bytes, _mm512_load_si512(kUsualGroupVectors.keep.data())),
            _mm512_load_si512(kUsualGroupVectors.want.data()));
    const std::uint32_t tail = usualTail(text);
    if (match != ~__mmask64 {0} || tail == kNoTail) {
        return kNoMatch;
    }
    return foldedDigits(_mm512_test_epi8_mask(bytes, _mm512_set1_epi8(1)) >> 1, tail);
}

std::size_t readGroupsAvx512(std::string_view piece, std::size_t i, std::span<char> digits, std::size_t& groups)
{
    return readGroups<kUsualGroupChars, usualGroupXorAvx512>(piece, i, digits, groups);
}

} // namespace

const Kernels kAvx512 {encryptDigitsAvx512, writeGroupsAvx512, readGroupsAvx512};

} // namespace morvalen::arch
