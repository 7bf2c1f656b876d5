#include "cipher.h"
#include "textconv/boxtext.h"
#include "textconv/errors.h"

#include <algorithm>
#include <array>

namespace morvalen {
namespace {

// ",dddd" for every mask value, so a mask is written with one copy.
constexpr std::array<std::array<char, 5>, 16> kMaskTexts = [] {
    std::array<std::array<char, 5>, 16> texts {};
    for (std::size_t m = 0; m < 16; ++m) {
        texts[m] = {',', (m & 8) ? '1' : '0', (m & 4) ? '1' : '0', (m & 2) ? '1' : '0', (m & 1) ? '1' : '0'};
    }
    return texts;
}();

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
        const std::string digits = readHexDigits(hexadesimals, kPlainBox);
        EncryptResult result;
        result.encryptedHex.resize(digits.size());
        // 13 masks of five characters and the closing "|" per digit; extra masks are rare.
        result.encryptingBits.reserve(digits.size() * (kMasksPerDigit * 5 + 1) + 64);
        MaskStream masks(random, digits.size() * kMasksPerDigit);
        for (std::size_t n = 0; n < digits.size(); ++n) {
            unsigned nibble = hexValue(digits[n]);
            const auto apply = [&](bool extra) {
                const unsigned mask = masks.next(extra);
                nibble ^= mask;
                result.encryptingBits.append(kMaskTexts[mask].data(), kMaskTexts[mask].size());
            };
            for (int pass = 0; pass < kMasksPerDigit; ++pass) {
                apply(false);
            }
            while (nibble == 0) {
                apply(true);
                if (onExtraMask) {
                    onExtraMask();
                }
            }
            result.encryptedHex[n] = kHexDigits[nibble];
            result.encryptingBits.push_back('|');
        }
        if (!digits.empty()) {
            hexadesimals.clear();
        }
        return result;
    });
}

} // namespace morvalen
