#include "cipher.h"
#include "textconv/boxtext.h"
#include "textconv/errors.h"
#include "textconv/memory.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>
#include <vector>

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

} // namespace

Encryptor::Encryptor(RandomSource& random, YieldFn onExtraMask)
    : m_random(random)
    , m_onExtraMask(std::move(onExtraMask))
{
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
        // Digits whose masks all stand in the buffer, up to one that is zero after them. Kept in
        // locals: the digits are chars, so every store to them could change a member.
        const std::size_t start = d;
        const std::size_t last
            = std::min({digits.size(), d + groups.size() - count, d + (m_end - m_next) / kMasksPerDigit});
        std::size_t next = m_next;
        unsigned nibble = 1;
        while (d < last) {
            const PackedGroup masks = packedAt(m_bytes.data(), next);
            next += kMasksPerDigit;
            groups[count++] = masks;
            nibble = hexValue(text[d]) ^ xorOf(masks);
            if (nibble == 0) {
                break;
            }
            text[d++] = kHexDigits[nibble];
        }
        m_next = next;
        if (nibble != 0 && d == start) {
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
    const std::size_t bytes = std::clamp<std::size_t>((certain + 1) / 2, 1, kRandomBytes);
    m_random.fill(std::span(m_bytes.data(), bytes));
    for (std::size_t i = 0; i < bytes; ++i) {
        m_bytes[i] = static_cast<std::uint8_t>(m_bytes[i] >> 4 | m_bytes[i] << 4);
    }
    std::memset(m_bytes.data() + bytes, 0, 8);
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
    translateAllocationFailure([&] {
        result.encryptingBits.clear();
        result.encryptedHex.resize(hexadesimals.size());
        HexReader hex(ErrorInput::PlainHex);
        result.encryptedHex.resize(hex.read(hexadesimals, result.encryptedHex.data()));
        hex.finish();
        const std::size_t room = expectedKeySize(result.encryptedHex.size());
        if (room > result.encryptingBits.capacity()) {
            result.encryptingBits.reserve(room);
            adviseHugePages(result.encryptingBits.data(), result.encryptingBits.capacity());
        }
        KeyWriter key(result.encryptingBits);
        Encryptor(random, onExtraMask).encrypt(result.encryptedHex, key);
        if (!result.encryptedHex.empty()) {
            hexadesimals.clear();
        }
    });
}

} // namespace morvalen
