#include "arch/shared.h"
#include "pipeline.h"
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

namespace morvalen {
namespace {

// Room to expect for a key: 13 masks and the "|" per digit, and one extra mask per digit in 15
// on average (a digit is zero after a mask with chance 1/16). Half again of that mean covers
// large texts; short ones get a few masks of slack. Past it the string simply grows.
std::size_t expectedKeySize(std::size_t digits)
{
    return digits * kUsualGroupChars + digits / 10 * kMaskChars + 16 * kMaskChars;
}

} // namespace

Encryptor::Encryptor(RandomSource& random, YieldFn onExtraMask, CpuPath path)
    : m_random(random)
    , m_onExtraMask(std::move(onExtraMask))
    , m_encryptDigits(arch::kernels(path).encryptDigits)
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
    arch::DigitRun run {m_bytes.data(), m_next, m_end, groups.data(), 0, groups.size(),
        m_onExtraMask ? nullptr : &m_longer, &m_extraMasks, false};
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
            nibble = hexValue(text[d]) ^ arch::xorOf(masks);
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
            const std::size_t room = expectedKeySize(hexadesimals.size());
            if (room > result.encryptingBits.capacity()) {
                result.encryptingBits.clear(); // not copied to the new memory
                result.encryptingBits.reserve(room);
                adviseHugePages(result.encryptingBits.data(), result.encryptingBits.capacity());
            }
            // The last key's text is room to write over.
            KeyWriter key(result.encryptingBits, KeyWriter::Start::Over);
            Encryptor encryptor(random, onExtraMask);
            StringDigits digits(result.encryptedHex);
            encryptPieces(WholeText(hexadesimals), digits, encryptor, key, hexadesimals.size(), [] {});
            digits.finish();
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
