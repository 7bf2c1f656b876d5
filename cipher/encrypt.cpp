#include "cipher.h"
#include "textconv/boxtext.h"
#include "textconv/errors.h"
#include "textconv/memory.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace morvalen {
namespace {

constexpr std::size_t kMaskChars = 5; // ",dddd"

// The text of every mask value, padded to eight bytes so that writing one is a single 8-byte
// store; the three bytes past the mask are overwritten by whatever follows.
constexpr std::array<std::array<char, 8>, 16> kMaskTexts = [] {
    std::array<std::array<char, 8>, 16> texts {};
    for (std::size_t m = 0; m < 16; ++m) {
        texts[m] = {',', (m & 8) ? '1' : '0', (m & 4) ? '1' : '0', (m & 2) ? '1' : '0', (m & 1) ? '1' : '0'};
    }
    return texts;
}();

// Room to expect for a key: 13 masks and the "|" per digit, and one extra mask per digit in 15
// on average (a digit is zero after a mask with chance 1/16). Half again of that mean covers
// large texts; short ones get a few masks of slack. Past it the string simply grows.
std::size_t expectedKeySize(std::size_t digits)
{
    return digits * (kMasksPerDigit * kMaskChars + 1) + digits / 10 * kMaskChars + 16 * kMaskChars;
}

// One digit's group is gathered here and appended to the key in one piece.
class GroupBuffer
{
public:
    explicit GroupBuffer(std::string& key)
        : m_key(key)
    {
    }

    void writeMask(unsigned mask)
    {
        if (m_end + kMaskTexts[mask].size() > m_text.size()) {
            flush();
        }
        std::memcpy(m_text.data() + m_end, kMaskTexts[mask].data(), kMaskTexts[mask].size());
        m_end += kMaskChars;
    }

    void close()
    {
        m_text[m_end++] = '|';
        flush();
    }

private:
    void flush()
    {
        m_key.append(m_text.data(), m_end);
        m_end = 0;
    }

    std::string& m_key;
    std::array<char, 128> m_text {};
    std::size_t m_end = 0;
};

// Hands out 4-bit masks, two per random byte. It draws no further ahead than the 13 masks per
// digit still certain to be needed, so a scripted source sees only the bytes encryption consumes.
class MaskStream
{
public:
    MaskStream(RandomSource& random, std::size_t certainMasks)
        : m_random(random)
        , m_certain(certainMasks)
    {
    }

    // extra: a mask beyond a digit's 13, which the certain count did not include.
    unsigned next(bool extra)
    {
        if (m_next == m_end) {
            refill();
        }
        m_certain -= !extra && m_certain > 0;
        return m_masks[m_next++];
    }

private:
    void refill()
    {
        const std::size_t bytes = std::clamp<std::size_t>((m_certain + 1) / 2, 1, m_bytes.size());
        m_random.fill(std::span(m_bytes.data(), bytes));
        for (std::size_t i = 0; i < bytes; ++i) {
            m_masks[2 * i] = static_cast<std::uint8_t>(m_bytes[i] >> 4);
            m_masks[2 * i + 1] = static_cast<std::uint8_t>(m_bytes[i] & 0xF);
        }
        m_next = 0;
        m_end = 2 * bytes;
    }

    RandomSource& m_random;
    std::size_t m_certain;
    std::array<std::uint8_t, 4096> m_bytes {};
    std::array<std::uint8_t, 8192> m_masks {};
    std::size_t m_next = 0;
    std::size_t m_end = 0;
};

} // namespace

EncryptResult encrypthexbytes(std::string& hexadesimals, RandomSource& random, const YieldFn& onExtraMask)
{
    return translateAllocationFailure([&] {
        const std::string digits = readHexDigits(hexadesimals, ErrorInput::PlainHex);
        EncryptResult result;
        result.encryptedHex.resize(digits.size());
        result.encryptingBits.reserve(expectedKeySize(digits.size()));
        adviseHugePages(result.encryptingBits.data(), result.encryptingBits.capacity());
        MaskStream masks(random, digits.size() * kMasksPerDigit);
        GroupBuffer group(result.encryptingBits);
        for (std::size_t n = 0; n < digits.size(); ++n) {
            unsigned nibble = hexValue(digits[n]);
            for (int pass = 0; pass < kMasksPerDigit; ++pass) {
                const unsigned mask = masks.next(false);
                nibble ^= mask;
                group.writeMask(mask);
            }
            while (nibble == 0) {
                const unsigned mask = masks.next(true);
                nibble ^= mask;
                group.writeMask(mask);
                if (onExtraMask) {
                    onExtraMask();
                }
            }
            group.close();
            result.encryptedHex[n] = kHexDigits[nibble];
        }
        if (!digits.empty()) {
            hexadesimals.clear();
        }
        return result;
    });
}

} // namespace morvalen
