#include "grouptext.h"

#include "byteorder.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MORVALEN_GROUP_TEXT_AVX2 1
#include <immintrin.h>
#endif

namespace morvalen {
namespace {

// The text of every mask value, padded to eight bytes so that writing one is a single 8-byte
// store; the three bytes past the mask are overwritten by whatever follows.
constexpr std::array<std::array<char, 8>, 16> kMaskTexts = [] {
    std::array<std::array<char, 8>, 16> texts {};
    for (std::size_t mask = 0; mask < texts.size(); ++mask) {
        writeMaskText(texts[mask].data(), mask);
    }
    return texts;
}();

// The text of every pair of masks, the first in the low four bits as in a PackedGroup, padded to
// sixteen bytes so that writing one is a single store; the six bytes past the pair are
// overwritten by what follows.
constexpr std::array<std::array<char, 16>, 256> kPairTexts = [] {
    std::array<std::array<char, 16>, 256> texts {};
    for (std::size_t pair = 0; pair < 256; ++pair) {
        for (std::size_t i = 0; i < 2; ++i) {
            writeMaskText(texts[pair].data() + kMaskChars * i, pair >> (4 * i) & 0xF);
        }
    }
    return texts;
}();

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

char* writePlain(const MaskBatch& batch, char* out)
{
    constexpr std::size_t kPairs = (kMasksPerDigit + 1) / 2;
    LongerGroups longer(batch);
    const PackedGroup* const groups = batch.groups.data();
    const std::size_t count = batch.groups.size();
    for (std::size_t g = 0; g < count; ++g) {
        const PackedGroup masks = groups[g];
        for (std::size_t pair = 0; pair < kPairs; ++pair) {
            std::memcpy(out + 2 * kMaskChars * pair, kPairTexts[masks >> (8 * pair) & 0xFF].data(), 16);
        }
        out[kUsualGroupChars - 1] = '|';
        out += kUsualGroupChars;
        if (longer.at(g)) {
            out = longer.writeMore(out);
        }
    }
    return out;
}

#if MORVALEN_GROUP_TEXT_AVX2
// For each byte of a group's text, in three 32-byte vectors: which byte of the packed group holds
// its bit, that bit, and the character for a clear bit. Commas and the '|' read no byte (index
// 0x80 gives zero), so they keep their character.
struct VectorTables
{
    alignas(64) std::array<std::uint8_t, 96> source {};
    alignas(64) std::array<std::uint8_t, 96> bit {};
    alignas(64) std::array<std::uint8_t, 96> clear {};
};
constexpr VectorTables kVector = [] {
    VectorTables tables;
    for (std::size_t p = 0; p < tables.source.size(); ++p) {
        const std::size_t place = p % kMaskChars;
        tables.source[p] = 0x80;
        tables.bit[p] = 1;
        tables.clear[p] = p + 1 == kUsualGroupChars ? '|' : place == 0 ? ',' : '0';
        if (place != 0 && p + 1 < kUsualGroupChars) {
            // The mask's first digit is its highest bit.
            const std::size_t bitIndex = 4 * (p / kMaskChars) + 4 - place;
            tables.source[p] = static_cast<std::uint8_t>(bitIndex / 8);
            tables.bit[p] = static_cast<std::uint8_t>(1u << (bitIndex % 8));
        }
    }
    return tables;
}();

[[gnu::target("avx2")]] char* writeVector(const MaskBatch& batch, char* out)
{
    __m256i source[3];
    __m256i bit[3];
    __m256i clear[3];
    for (std::size_t v = 0; v < 3; ++v) {
        source[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(kVector.source.data() + 32 * v));
        bit[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(kVector.bit.data() + 32 * v));
        clear[v] = _mm256_load_si256(reinterpret_cast<const __m256i*>(kVector.clear.data() + 32 * v));
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

// The same with AVX-512: the first 64 bytes in one shuffle, one test and one masked add; the
// last digit and the '|' as one 16-bit store.
[[gnu::target("avx512bw")]] char* writeWide(const MaskBatch& batch, char* out)
{
    const __m512i source = _mm512_loadu_si512(kVector.source.data());
    const __m512i bit = _mm512_loadu_si512(kVector.bit.data());
    const __m512i clear = _mm512_loadu_si512(kVector.clear.data());
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
#endif

} // namespace

bool hasGroupTextPath(GroupTextPath path) noexcept
{
#if MORVALEN_GROUP_TEXT_AVX2
    static const bool vector = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul");
    static const bool wide = vector && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl")
        && __builtin_cpu_supports("avx512vbmi");
    return path == GroupTextPath::Wide ? wide : path != GroupTextPath::Vector || vector;
#else
    return path == GroupTextPath::Fastest || path == GroupTextPath::Plain;
#endif
}

GroupTextPath chosenGroupTextPath(GroupTextPath path) noexcept
{
    if (path != GroupTextPath::Fastest) {
        return path;
    }
    for (const GroupTextPath widest : {GroupTextPath::Wide, GroupTextPath::Vector}) {
        if (hasGroupTextPath(widest)) {
            return widest;
        }
    }
    return GroupTextPath::Plain;
}

char* writeMaskTexts(MaskGroup masks, char* out)
{
    for (const std::uint8_t mask : masks) {
        std::memcpy(out, kMaskTexts[mask].data(), kMaskTexts[mask].size());
        out += kMaskChars;
    }
    return out;
}

std::size_t writeGroups(const MaskBatch& batch, char* out, [[maybe_unused]] GroupTextPath path)
{
    char* end = nullptr;
#if MORVALEN_GROUP_TEXT_AVX2
    switch (chosenGroupTextPath(path)) {
    case GroupTextPath::Wide: end = writeWide(batch, out); break;
    case GroupTextPath::Vector: end = writeVector(batch, out); break;
    default: end = writePlain(batch, out); break;
    }
#else
    end = writePlain(batch, out);
#endif
    return static_cast<std::size_t>(end - out);
}

} // namespace morvalen
