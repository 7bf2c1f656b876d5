#include "cipher.h"
#include "textconv/boxtext.h"
#include "textconv/errors.h"
#include "textconv/memory.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace morvalen {
namespace {

constexpr std::size_t kMaskChars = 5; // ",dddd"

// Room to expect for a key: 13 masks and the "|" per digit, and one extra mask per digit in 15
// on average (a digit is zero after a mask with chance 1/16). Half again of that mean covers
// large texts; short ones get a few masks of slack. Past it the string simply grows.
std::size_t expectedKeySize(std::size_t digits)
{
    return digits * (kMasksPerDigit * kMaskChars + 1) + digits / 10 * kMaskChars + 16 * kMaskChars;
}

} // namespace

Encryptor::Encryptor(RandomSource& random, YieldFn onExtraMask)
    : m_random(random)
    , m_onExtraMask(std::move(onExtraMask))
{
}

void Encryptor::encrypt(std::span<char> digits, MaskGroupSink& groups)
{
    m_certain += digits.size() * kMasksPerDigit;
    // A digit's group: 13 masks, and with chance 1/16 more, gathered in the vector. The 13 are
    // read where they stand in the buffer when it holds them all.
    std::array<std::uint8_t, kMasksPerDigit> gathered {};
    std::vector<std::uint8_t> longGroup;
    for (char& digit : digits) {
        MaskGroup group;
        if (m_end - m_next >= kMasksPerDigit) {
            group = {m_masks.data() + m_next, kMasksPerDigit};
            m_next += kMasksPerDigit;
            m_certain -= std::min<std::size_t>(m_certain, kMasksPerDigit);
        } else {
            for (std::uint8_t& mask : gathered) {
                mask = nextMask(false);
            }
            group = gathered;
        }
        unsigned nibble = hexValue(digit);
        for (const std::uint8_t mask : group) {
            nibble ^= mask;
        }
        if (nibble == 0) {
            longGroup.assign(group.begin(), group.end());
            while (nibble == 0) {
                longGroup.push_back(nextMask(true));
                nibble ^= longGroup.back();
                if (m_onExtraMask) {
                    m_onExtraMask();
                }
            }
            group = longGroup;
        }
        groups.group(group);
        digit = kHexDigits[nibble];
    }
}

std::uint8_t Encryptor::nextMask(bool extra)
{
    if (m_next == m_end) {
        refill();
    }
    m_certain -= !extra && m_certain > 0;
    return m_masks[m_next++];
}

void Encryptor::refill()
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

EncryptResult encrypthexbytes(std::string& hexadesimals, RandomSource& random, const YieldFn& onExtraMask)
{
    return translateAllocationFailure([&] {
        EncryptResult result;
        result.encryptedHex = readHexDigits(hexadesimals, ErrorInput::PlainHex);
        result.encryptingBits.reserve(expectedKeySize(result.encryptedHex.size()));
        adviseHugePages(result.encryptingBits.data(), result.encryptingBits.capacity());
        KeyWriter key(result.encryptingBits);
        Encryptor(random, onExtraMask).encrypt(result.encryptedHex, key);
        if (!result.encryptedHex.empty()) {
            hexadesimals.clear();
        }
        return result;
    });
}

} // namespace morvalen
