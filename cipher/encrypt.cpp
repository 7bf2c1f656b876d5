#include "byteorder.h"
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
    const auto word = loadLittle<PackedGroup>(bytes + first / 2);
    return word >> (4 * (first % 2)) & ((PackedGroup {1} << (4 * kMasksPerDigit)) - 1);
}

} // namespace

// Where a run of digits takes its masks from and puts their groups.
struct detail::DigitRun
{
    const std::uint8_t* bytes; // the masks, swapped as Encryptor::m_bytes holds them
    std::size_t next; // the next mask to take
    std::size_t end; // the masks in bytes
    PackedGroup* groups; // the batch
    std::size_t count; // groups in the batch
    std::size_t capacity; // groups the batch can take
    // Where the masks past 13 go, as MaskBatch lists them; null leaves them to the caller.
    std::vector<std::pair<std::size_t, std::size_t>>* longer;
    std::vector<std::uint8_t>* extraMasks;
    // Set when the run stopped at a digit zero after its 13 masks, whose group is the batch's
    // last: the caller draws its further masks.
    bool zeroPending;
};

namespace {

using detail::DigitRun;

// Further masks for the digit whose group is the batch's last, zero after its 13, taken from the
// buffer until one is not zero; that one is its encrypted value. 0 when the buffer runs out first,
// having taken nothing.
inline unsigned extendFromBuffer(DigitRun& run)
{
    if (run.longer == nullptr) {
        return 0;
    }
    for (std::size_t at = run.next; at < run.end; ++at) {
        const auto mask = static_cast<unsigned>(run.bytes[at / 2] >> (4 * (at % 2)) & 0xF);
        if (mask != 0) {
            for (std::size_t taken = run.next; taken <= at; ++taken) {
                run.extraMasks->push_back(static_cast<std::uint8_t>(run.bytes[taken / 2] >> (4 * (taken % 2)) & 0xF));
            }
            run.longer->emplace_back(run.count - 1, at + 1 - run.next);
            run.next = at + 1;
            return mask;
        }
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

// How many digits from the run's next on have all 13 masks in the buffer and room in the batch.
inline std::size_t digitsAtHand(const DigitRun& run, std::size_t digits)
{
    return std::min({digits, run.capacity - run.count, (run.end - run.next) / kMasksPerDigit});
}

// Encrypts digits at text with the run's masks, 13 a digit and more for one zero after them, and
// writes each digit's masks to the batch; stops when the digits, the batch or the masks at hand
// run out, or at a zero digit whose further masks are not. Returns how many digits it encrypted.
std::size_t encryptDigitsPlain(DigitRun& result, char* text, std::size_t digits)
{
    // In locals: the digits are chars, so every store to them could change the run.
    DigitRun run = result;
    std::size_t d = 0;
    std::size_t last = digitsAtHand(run, digits);
    while (d < last) {
        const PackedGroup masks = packedAt(run.bytes, run.next);
        run.next += kMasksPerDigit;
        run.groups[run.count++] = masks;
        const unsigned nibble = hexValue(text[d]) ^ xorOf(masks);
        if (nibble != 0) {
            text[d++] = kHexDigits[nibble];
            continue;
        }
        const unsigned extended = extendFromBuffer(run);
        if (extended == 0) {
            run.zeroPending = true;
            result = run;
            return d;
        }
        text[d++] = kHexDigits[extended];
        last = d + digitsAtHand(run, digits - d); // the further masks came from the buffer
    }
    result = run;
    return d;
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
[[gnu::target("avx2")]] std::size_t encryptDigitsVector(DigitRun& result, char* text, std::size_t digits)
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
[[gnu::target("avx512bw,avx512vl,avx512vbmi")]] std::size_t encryptDigitsWide(
    DigitRun& result, char* text, std::size_t digits)
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
        // Only the digits before the zero one, as above.
        _mm_mask_storeu_epi8(text + d, static_cast<__mmask16>((1U << before) - 1), encrypted);
        if (!passZeroDigit(run, text, d, before)) {
            result = run;
            return d;
        }
    }
    d += encryptDigitsVector(run, text + d, digits - d);
    result = run;
    return d;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

auto digitEncryptor([[maybe_unused]] GroupTextPath path) -> std::size_t (*)(DigitRun&, char*, std::size_t)
{
#if MORVALEN_ENCRYPT_AVX2
    switch (chosenGroupTextPath(path)) {
    case GroupTextPath::Wide: return encryptDigitsWide;
    case GroupTextPath::Vector: return encryptDigitsVector;
    default: break;
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
    // Room for a batch's longer groups as they usually come, one in sixteen, allocated once.
    m_longer.reserve(64);
    m_extraMasks.reserve(128);
}

Encryptor::~Encryptor()
{
    sodium_memzero(m_bytes.data(), m_drawn);
    sodium_memzero(m_extraMasks.data(), m_extraMasks.capacity());
}

void Encryptor::encrypt(std::span<char> digits, MaskGroupSink& sink)
{
    // Groups are handed on 256 at a time.
    std::array<PackedGroup, 256> groups;
    m_longer.clear();
    m_extraMasks.clear();
    // Further masks are taken from the buffer in the run only where nobody waits for each.
    DigitRun run {m_bytes.data(), m_next, m_end, groups.data(), 0, groups.size(), m_onExtraMask ? nullptr : &m_longer,
        &m_extraMasks, false};
    char* const text = digits.data();
    std::size_t d = 0;
    while (d < digits.size()) {
        if (run.count == groups.size()) {
            sink.groups({std::span(groups).first(run.count), m_longer, m_extraMasks});
            run.count = 0;
            m_longer.clear();
            m_extraMasks.clear();
        }
        run.next = m_next;
        run.end = m_end;
        run.zeroPending = false;
        d += m_encryptDigits(run, text + d, digits.size() - d);
        m_next = run.next;
        unsigned nibble = 1;
        if (run.zeroPending) {
            nibble = 0;
        } else if (d < digits.size() && run.count < groups.size()) {
            // The buffer holds fewer masks than a digit takes.
            PackedGroup masks = 0;
            for (std::size_t i = 0; i < kMasksPerDigit; ++i) {
                masks |= PackedGroup {nextMask(kMasksPerDigit * (digits.size() - d) - i)} << (4 * i);
            }
            groups[run.count++] = masks;
            nibble = hexValue(text[d]) ^ xorOf(masks);
            if (nibble != 0) {
                text[d++] = kHexDigits[nibble];
            }
        }
        if (nibble == 0) {
            text[d] = kHexDigits[extend(run.count - 1, kMasksPerDigit * (digits.size() - d - 1))];
            ++d;
        }
    }
    sink.groups({std::span(groups).first(run.count), m_longer, m_extraMasks});
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
    m_drawn = std::max(m_drawn, bytes);
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
