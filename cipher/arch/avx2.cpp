// The AVX2 room, compiled with -mavx2 -mpclmul and run only where the processor has both: four
// digits encrypted at a time, a group's text made in three vectors, and a group matched in two
// with its masks folded by one carry-less multiplication.
#include "cipher/arch/x86.h"

#include <bit>

namespace morvalen::arch {

static_assert(kMasksPerDigit == 13 && kUsualGroupChars == 66, "the layout this room relies on");

// Four digits at a time: their masks picked out of the bytes and XORed together in a vector, the
// digits worked on as the bytes of one word.
std::size_t encryptDigitsAvx2(DigitRun& result, char* text, std::size_t digits)
{
    // In locals: the digits are chars, so every store to them could change the run.
    DigitRun run = result;
    const __m256i groupBits = _mm256_set1_epi64x((1LL << (4 * kMasksPerDigit)) - 1);
    // Byte 0 of each word to bytes 0 and 1 of the low lane and 2 and 3 of the high one.
    const __m256i firstBytes = _mm256_setr_epi8(0, 8, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0,
        8, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    std::size_t d = 0;
    while (digitsAtHand(run, digits - d) >= 4) {
        // Whether the first digit's masks begin half way into a byte.
        const std::size_t half = run.next % 2;
        const __m256i pick = _mm256_load_si256(reinterpret_cast<const __m256i*>(kDigitVectors.pick[half].data()));
        const __m256i shift = _mm256_load_si256(reinterpret_cast<const __m256i*>(kDigitVectors.shift[half].data()));
        const std::uint8_t* const first = run.bytes + run.next / 2;
        const __m256i raw = _mm256_loadu2_m128i(
            reinterpret_cast<const __m128i*>(first + kMasksPerDigit), reinterpret_cast<const __m128i*>(first));
        const __m256i masks = _mm256_and_si256(_mm256_srlv_epi64(_mm256_shuffle_epi8(raw, pick), shift), groupBits);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(run.groups + run.count), masks);
        __m256i x = _mm256_xor_si256(masks, _mm256_srli_epi64(masks, 32));
        x = _mm256_xor_si256(x, _mm256_srli_epi64(x, 16));
        x = _mm256_xor_si256(x, _mm256_srli_epi64(x, 8));
        x = _mm256_xor_si256(x, _mm256_srli_epi64(x, 4));
        const __m256i gathered = _mm256_shuffle_epi8(x, firstBytes);
        const auto xors = static_cast<std::uint32_t>(_mm_cvtsi128_si32(
                              _mm_or_si128(_mm256_castsi256_si128(gathered), _mm256_extracti128_si256(gathered, 1))))
            & 0x0F0F0F0FU;
        const auto plain = loadLittle<std::uint32_t>(text + d);
        // Upper-case hex digits to values: letters have bit 6 set and need 9 more than their low bits.
        const std::uint32_t values = (plain & 0x0F0F0F0FU) + ((plain >> 6) & 0x01010101U) * 9;
        const std::uint32_t nibbles = values ^ xors;
        // Values back to digits: 7 more for those past 9, which 6 more carries into bit 4.
        const std::uint32_t letters = ((nibbles + 0x06060606U) >> 4) & 0x01010101U;
        const std::uint32_t encrypted = nibbles + 0x30303030U + letters * 7;
        // A byte that is zero sets its top bit here; bytes past the first such may too.
        const std::uint32_t zero = (nibbles - 0x01010101U) & ~nibbles & 0x80808080U;
        if (zero == 0) {
            storeLittle(text + d, encrypted);
            run.next += 4 * kMasksPerDigit;
            run.count += 4;
            d += 4;
            continue;
        }
        const auto before = static_cast<std::size_t>(std::countr_zero(zero)) / 8;
        // Only the digits before the zero one: a store over the digits the next step reads would
        // keep that read waiting until the store is done.
        for (std::size_t i = 0; i < before; ++i) {
            text[d + i] = static_cast<char>(encrypted >> (8 * i));
        }
        if (!passZeroDigit(run, text, d, before)) {
            result = run;
            return d;
        }
    }
    d += encryptDigitsPlain(run, text + d, digits - d);
    result = run;
    return d;
}

namespace {

char* writeGroupsAvx2(const MaskBatch& batch, char* out)
{
    __m256i source[3];
    __m256i bit[3];
    __m256i clear[3];
    for (std::size_t v = 0; v < 3; ++v) {
        source[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(kWriter.source.data() + 32 * v));
        bit[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(kWriter.bit.data() + 32 * v));
        clear[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(kWriter.clear.data() + 32 * v));
    }
    LongerGroups longer(batch);
    const PackedGroup* const groups = batch.groups.data();
    const std::size_t count = batch.groups.size();
    for (std::size_t g = 0; g < count; ++g) {
        // The group's eight bytes in every lane, as the byte shuffle works within 16-byte lanes.
        const __m256i group = _mm256_set1_epi64x(static_cast<long long>(groups[g]));
        for (std::size_t v = 0; v < 3; ++v) {
            const __m256i bits = _mm256_and_si256(_mm256_shuffle_epi8(group, source[v]), bit[v]);
            // A set bit compares equal, all ones: subtracting that makes '0' a '1'.
            const __m256i set = _mm256_cmpeq_epi8(bits, bit[v]);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32 * v), _mm256_sub_epi8(clear[v], set));
        }
        out += kUsualGroupChars;
        if (longer.at(g)) {
            out = longer.writeMore(out);
        }
    }
    return out;
}

// The XOR of a group's 13 masks, reading only its kUsualGroupChars bytes, folded by one
// carry-less multiplication; kNoMatch where no group of 13 or more begins.
unsigned usualGroupXorAvx2(const char* text)
{
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + 32));
    const auto* keep = reinterpret_cast<const __m256i*>(kUsualGroupVectors.keep.data());
    const auto* want = reinterpret_cast<const __m256i*>(kUsualGroupVectors.want.data());
    const __m256i match
        = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_and_si256(low, _mm256_load_si256(keep)), _mm256_load_si256(want)),
            _mm256_cmpeq_epi8(_mm256_and_si256(high, _mm256_load_si256(keep + 1)), _mm256_load_si256(want + 1)));
    const std::uint32_t tail = usualTail(text);
    if (_mm256_movemask_epi8(match) != -1 || tail == kNoTail) {
        return kNoMatch;
    }
    // The lowest bit of every byte (shifting each 16-bit lane by 7 brings it to the byte's top),
    // bytes 1 to 64 as bits 0 to 63: a mask's digit r is bit 5k + r. Commas add nothing.
    const std::uint64_t bits
        = (static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(low, 7)))
              | std::uint64_t {static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_slli_epi16(high, 7)))} << 32)
        >> 1;
    return foldedDigits(bits, tail);
}

std::size_t readGroupsAvx2(std::string_view piece, std::size_t i, std::span<char> digits, std::size_t& groups)
{
    return readGroups<kUsualGroupChars, usualGroupXorAvx2>(piece, i, digits, groups);
}

} // namespace

const Kernels kAvx2 {encryptDigitsAvx2, writeGroupsAvx2, readGroupsAvx2};

} // namespace morvalen::arch
