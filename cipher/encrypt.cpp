#include "cipher.h"
#include "textconv/boxtext.h"
#include "textconv/errors.h"
#include "textconv/memory.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <sodium.h>
#include <utility>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MORVALEN_ENCRYPT_AVX2 1
#include <immintrin.h>
#endif

namespace morvalen {
namespace {

// Room to expect for a key: 13 masks and the "|" per digit, and one extra mask per digit in 15
// on average (a digit is zero after a mask with chance 1/16). Half again of that mean covers
// large texts; short ones get a few masks of slack. Past it the string simply grows.
std::size_t expectedKeySize(std::size_t digits)
{
    return digits * kUsualGroupChars + digits / 10 * kMaskChars + 16 * kMaskChars;
}

// The XOR of the masks of a packed group.
unsigned xorOf(PackedGroup masks)
{
    masks ^= masks >> 32;
    masks ^= masks >> 16;
    masks ^= masks >> 8;
    masks ^= masks >> 4;
    return static_cast<unsigned>(masks & 0xF);
}

// The kMasksPerDigit masks from mask `first` on, of bytes whose first mask is the low one.
PackedGroup packedAt(const std::uint8_t* bytes, std::size_t first)
{
    // Eight bytes hold the masks from any mask on.
    bytes += first / 2;
    PackedGroup word = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&word, bytes, sizeof word);
    } else {
        for (std::size_t i = 0; i < sizeof word; ++i) {
            word |= PackedGroup {bytes[i]} << (8 * i);
        }
    }
    return word >> (4 * (first % 2)) & ((PackedGroup {1} << (4 * kMasksPerDigit)) - 1);
}

// Encrypts up to count digits at text with the masks in bytes from mask `next` on, 13 a digit,
// and writes each digit's masks to groups, stopping at a digit that is zero after its masks (whose
// masks it writes, leaving the digit as it is). Returns how many digits it encrypted.
std::size_t encryptDigitsPlain(
    const std::uint8_t* bytes, std::size_t next, char* text, std::size_t count, PackedGroup* groups)
{
    for (std::size_t d = 0; d < count; ++d, next += kMasksPerDigit) {
        const PackedGroup masks = packedAt(bytes, next);
        groups[d] = masks;
        const unsigned nibble = hexValue(text[d]) ^ xorOf(masks);
        if (nibble == 0) {
            return d;
        }
        text[d] = kHexDigits[nibble];
    }
    return count;
}

#if MORVALEN_ENCRYPT_AVX2
// Four digits' masks are 26 bytes from the first one's byte on; each 16-byte lane of a vector
// takes two digits, the second lane from 13 bytes on. Within a lane the first digit's masks begin
// at byte 0 and the second's 52 bits later, at byte 6 or 7 as the first begins on a byte or half
// way: which bytes make each lane's two words, and how far to shift each.
struct DigitVectors
{
    alignas(32) std::array<std::array<std::uint8_t, 32>, 2> pick {};
    alignas(32) std::array<std::array<std::uint64_t, 4>, 2> shift {};
};
constexpr DigitVectors kDigitVectors = [] {
    DigitVectors vectors;
    for (std::size_t half = 0; half < 2; ++half) {
        const std::size_t second = (4 * half + 4 * kMasksPerDigit) / 8;
        for (std::size_t lane = 0; lane < 2; ++lane) {
            for (std::size_t i = 0; i < 8; ++i) {
                vectors.pick[half][16 * lane + i] = static_cast<std::uint8_t>(i);
                vectors.pick[half][16 * lane + 8 + i] = static_cast<std::uint8_t>(second + i);
            }
            vectors.shift[half][2 * lane] = 4 * half;
            vectors.shift[half][2 * lane + 1] = (4 * half + 4 * kMasksPerDigit) % 8;
        }
    }
    return vectors;
}();

// The same four digits at a time: their masks picked out of the bytes and XORed together in a
// vector, the digits worked on as the bytes of one word.
[[gnu::target("avx2")]] std::size_t encryptDigitsVector(
    const std::uint8_t* bytes, std::size_t next, char* text, std::size_t count, PackedGroup* groups)
{
    // Four digits take 52 masks, an even number, so every step begins as the first on a byte or half way.
    const std::size_t half = next % 2;
    const __m256i pick = _mm256_load_si256(reinterpret_cast<const __m256i*>(kDigitVectors.pick[half].data()));
    const __m256i shift = _mm256_load_si256(reinterpret_cast<const __m256i*>(kDigitVectors.shift[half].data()));
    const __m256i groupBits = _mm256_set1_epi64x((1LL << (4 * kMasksPerDigit)) - 1);
    // Byte 0 of each word to bytes 0 and 1 of the low lane and 2 and 3 of the high one.
    const __m256i firstBytes = _mm256_setr_epi8(0, 8, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0,
        8, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    std::size_t d = 0;
    for (; d + 4 <= count; d += 4, next += 4 * kMasksPerDigit) {
        const std::uint8_t* const first = bytes + next / 2;
        const __m256i raw = _mm256_loadu2_m128i(
            reinterpret_cast<const __m128i*>(first + kMasksPerDigit), reinterpret_cast<const __m128i*>(first));
        const __m256i masks = _mm256_and_si256(_mm256_srlv_epi64(_mm256_shuffle_epi8(raw, pick), shift), groupBits);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(groups + d), masks);
        __m256i x = _mm256_xor_si256(masks, _mm256_srli_epi64(masks, 32));
        x = _mm256_xor_si256(x, _mm256_srli_epi64(x, 16));
        x = _mm256_xor_si256(x, _mm256_srli_epi64(x, 8));
        x = _mm256_xor_si256(x, _mm256_srli_epi64(x, 4));
        const __m256i gathered = _mm256_shuffle_epi8(x, firstBytes);
        const auto xors = static_cast<std::uint32_t>(_mm_cvtsi128_si32(
                              _mm_or_si128(_mm256_castsi256_si128(gathered), _mm256_extracti128_si256(gathered, 1))))
            & 0x0F0F0F0FU;
        std::uint32_t digits = 0;
        std::memcpy(&digits, text + d, sizeof digits);
        // Upper-case hex digits to values: letters have bit 6 set and need 9 more than their low bits.
        const std::uint32_t values = (digits & 0x0F0F0F0FU) + ((digits >> 6) & 0x01010101U) * 9;
        const std::uint32_t nibbles = values ^ xors;
        // Values back to digits: 7 more for those past 9, which 6 more carries into bit 4.
        const std::uint32_t letters = ((nibbles + 0x06060606U) >> 4) & 0x01010101U;
        const std::uint32_t encrypted = nibbles + 0x30303030U + letters * 7;
        // A byte that is zero sets its top bit here; bytes past the first such may too.
        const std::uint32_t zero = (nibbles - 0x01010101U) & ~nibbles & 0x80808080U;
        if (zero != 0) {
            const auto before = static_cast<std::size_t>(std::countr_zero(zero)) / 8;
            const std::uint32_t kept = before == 0 ? 0 : 0xFFFFFFFFU >> (32 - 8 * before);
            digits = (encrypted & kept) | (digits & ~kept);
            std::memcpy(text + d, &digits, sizeof digits);
            return d + before;
        }
        std::memcpy(text + d, &encrypted, sizeof encrypted);
    }
    return d + encryptDigitsPlain(bytes, next, text + d, count - d, groups + d);
}
#endif

// The same eight digits at a time with AVX-512: the 16-byte lanes of one 64-byte load arranged
// as above by one byte permutation, each lane from 13 bytes past the one before.
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
[[gnu::target("avx512bw,avx512vbmi")]] std::size_t encryptDigitsWide(
    const std::uint8_t* bytes, std::size_t next, char* text, std::size_t count, PackedGroup* groups)
{
    const std::size_t half = next % 2;
    const __m512i pick = _mm512_load_si512(kWideDigitVectors.pick[half].data());
    const __m512i shift = _mm512_load_si512(kWideDigitVectors.shift[half].data());
    const __m512i groupBits = _mm512_set1_epi64((1LL << (4 * kMasksPerDigit)) - 1);
    std::size_t d = 0;
    for (; d + 8 <= count; d += 8, next += 8 * kMasksPerDigit) {
        const __m512i raw = _mm512_loadu_si512(bytes + next / 2);
        const __m512i masks = _mm512_and_si512(_mm512_srlv_epi64(_mm512_permutexvar_epi8(pick, raw), shift), groupBits);
        _mm512_storeu_si512(groups + d, masks);
        __m512i x = _mm512_xor_si512(masks, _mm512_srli_epi64(masks, 32));
        x = _mm512_xor_si512(x, _mm512_srli_epi64(x, 16));
        x = _mm512_xor_si512(x, _mm512_srli_epi64(x, 8));
        x = _mm512_xor_si512(x, _mm512_srli_epi64(x, 4));
        const auto xors
            = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm512_cvtepi64_epi8(x))) & 0x0F0F0F0F0F0F0F0FULL;
        std::uint64_t digits = 0;
        std::memcpy(&digits, text + d, sizeof digits);
        const std::uint64_t values = (digits & 0x0F0F0F0F0F0F0F0FULL) + ((digits >> 6) & 0x0101010101010101ULL) * 9;
        const std::uint64_t nibbles = values ^ xors;
        const std::uint64_t letters = ((nibbles + 0x0606060606060606ULL) >> 4) & 0x0101010101010101ULL;
        const std::uint64_t encrypted = nibbles + 0x3030303030303030ULL + letters * 7;
        const std::uint64_t zero = (nibbles - 0x0101010101010101ULL) & ~nibbles & 0x8080808080808080ULL;
        if (zero != 0) {
            const auto before = static_cast<std::size_t>(std::countr_zero(zero)) / 8;
            const std::uint64_t kept = before == 0 ? 0 : ~std::uint64_t {0} >> (64 - 8 * before);
            digits = (encrypted & kept) | (digits & ~kept);
            std::memcpy(text + d, &digits, sizeof digits);
            return d + before;
        }
        std::memcpy(text + d, &encrypted, sizeof encrypted);
    }
    return d + encryptDigitsVector(bytes, next, text + d, count - d, groups + d);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

auto digitEncryptor([[maybe_unused]] GroupTextPath path)
    -> std::size_t (*)(const std::uint8_t*, std::size_t, char*, std::size_t, PackedGroup*)
{
#if MORVALEN_ENCRYPT_AVX2
    if constexpr (std::endian::native == std::endian::little) {
        switch (chosenGroupTextPath(path)) {
        case GroupTextPath::Wide: return encryptDigitsWide;
        case GroupTextPath::Vector: return encryptDigitsVector;
        default: break;
        }
    }
#endif
    return encryptDigitsPlain;
}

} // namespace

Encryptor::Encryptor(RandomSource& random, YieldFn onExtraMask, GroupTextPath path)
    : m_random(random)
    , m_onExtraMask(std::move(onExtraMask))
    , m_encryptDigits(digitEncryptor(path))
{
}

Encryptor::~Encryptor()
{
    sodium_memzero(m_bytes.data(), m_end / 2);
}

void Encryptor::encrypt(std::span<char> digits, MaskGroupSink& sink)
{
    // Groups are handed on 64 at a time.
    std::array<PackedGroup, 64> groups;
    std::size_t count = 0;
    m_longer.clear();
    m_extraMasks.clear();
    char* const text = digits.data();
    std::size_t d = 0;
    while (d < digits.size()) {
        if (count == groups.size()) {
            sink.groups({std::span(groups).first(count), m_longer, m_extraMasks});
            count = 0;
            m_longer.clear();
            m_extraMasks.clear();
        }
        // Digits whose masks all stand in the buffer, up to one that is zero after them.
        const std::size_t room
            = std::min({digits.size() - d, groups.size() - count, (m_end - m_next) / kMasksPerDigit});
        unsigned nibble = 1;
        if (room > 0) {
            const std::size_t done = m_encryptDigits(m_bytes.data(), m_next, text + d, room, groups.data() + count);
            m_next += kMasksPerDigit * done;
            d += done;
            count += done;
            if (done < room) {
                m_next += kMasksPerDigit;
                ++count;
                nibble = 0;
            }
        } else {
            // The buffer holds fewer masks than a digit takes.
            PackedGroup masks = 0;
            for (std::size_t i = 0; i < kMasksPerDigit; ++i) {
                masks |= PackedGroup {nextMask(kMasksPerDigit * (digits.size() - d) - i)} << (4 * i);
            }
            groups[count++] = masks;
            nibble = hexValue(text[d]) ^ xorOf(masks);
            if (nibble != 0) {
                text[d++] = kHexDigits[nibble];
            }
        }
        if (nibble == 0) {
            text[d] = kHexDigits[extend(count - 1, kMasksPerDigit * (digits.size() - d - 1))];
            ++d;
        }
    }
    sink.groups({std::span(groups).first(count), m_longer, m_extraMasks});
    sodium_memzero(groups.data(), sizeof groups);
}

unsigned Encryptor::extend(std::size_t group, std::size_t certainAfter)
{
    // Zero after its 13 masks, with chance 1/16: more masks until it is not.
    const std::size_t before = m_extraMasks.size();
    unsigned nibble = 0;
    while (nibble == 0) {
        m_extraMasks.push_back(nextMask(certainAfter));
        nibble = m_extraMasks.back();
        if (m_onExtraMask) {
            m_onExtraMask();
        }
    }
    m_longer.emplace_back(group, m_extraMasks.size() - before);
    return nibble;
}

std::uint8_t Encryptor::nextMask(std::size_t certain)
{
    if (m_next == m_end) {
        refill(certain);
    }
    const std::uint8_t byte = m_bytes[m_next / 2];
    return static_cast<std::uint8_t>(m_next++ % 2 == 0 ? byte & 0xF : byte >> 4);
}

void Encryptor::refill(std::size_t certain)
{
    const std::size_t bytes = std::min((certain + certain / 128 + kSpareMasks + 1) / 2, kRandomBytes);
    m_random.fill(std::span(m_bytes.data(), bytes));
    for (std::size_t i = 0; i < bytes; ++i) {
        m_bytes[i] = static_cast<std::uint8_t>(m_bytes[i] >> 4 | m_bytes[i] << 4);
    }
    std::memset(m_bytes.data() + bytes, 0, kReadSlack);
    m_next = 0;
    m_end = 2 * bytes;
}

EncryptResult encrypthexbytes(std::string& hexadesimals, RandomSource& random, const YieldFn& onExtraMask)
{
    EncryptResult result;
    encryptInto(result, hexadesimals, random, onExtraMask);
    return result;
}

void encryptInto(EncryptResult& result, std::string& hexadesimals, RandomSource& random, const YieldFn& onExtraMask)
{
    try {
        translateAllocationFailure([&] {
            result.encryptedHex.resize(hexadesimals.size());
            HexReader hex(ErrorInput::PlainHex);
            result.encryptedHex.resize(hex.read(hexadesimals, result.encryptedHex.data()));
            hex.finish();
            const std::size_t room = expectedKeySize(result.encryptedHex.size());
            if (room > result.encryptingBits.capacity()) {
                result.encryptingBits.clear(); // not copied to the new memory
                result.encryptingBits.reserve(room);
                adviseHugePages(result.encryptingBits.data(), result.encryptingBits.capacity());
            }
            // The last key's text is room to write over.
            KeyWriter key(result.encryptingBits, KeyWriter::Start::Over);
            Encryptor(random, onExtraMask).encrypt(result.encryptedHex, key);
            key.finish();
            if (!result.encryptedHex.empty()) {
                hexadesimals.clear();
            }
        });
    } catch (...) {
        result.encryptedHex.clear();
        result.encryptingBits.clear();
        throw;
    }
}

} // namespace morvalen
