#include "arch/shared.h"
#include "cipher.h"
#include "pipeline.h"
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
    m_longer.resize(64);
    m_extraMasks.resize(128);
}

Encryptor::~Encryptor()
{
    sodium_memzero(m_bytes.data(), m_drawn);
    sodium_memzero(m_extraMasks.data(), m_extraMasks.size());
}

void Encryptor::encrypt(std::span<char> digits, MaskGroupSink& sink)
{
    // Groups are handed on 256 at a time.
    std::array<PackedGroup, 256> groups;
    m_longerCount = 0;
    m_extraCount = 0;
    const auto batch = [&](std::size_t count) {
        return MaskBatch {std::span(groups).first(count), std::span(m_longer).first(m_longerCount),
            std::span(m_extraMasks).first(m_extraCount)};
    };
    arch::DigitRun run {
        m_bytes.data(), m_next, m_end, groups.data(), 0, groups.size(), nullptr, 0, 0, nullptr, 0, 0, false};
    char* const text = digits.data();
    std::size_t d = 0;
    while (d < digits.size()) {
        if (run.count == groups.size()) {
            sink.groups(batch(run.count));
            run.count = 0;
            m_longerCount = 0;
            m_extraCount = 0;
        }
        run.next = m_next;
        run.end = m_end;
        // Further masks are taken from the buffer in the run only where nobody waits for each.
        run.longer = m_onExtraMask ? nullptr : m_longer.data();
        run.longerCount = m_longerCount;
        run.longerRoom = m_longer.size();
        run.extraMasks = m_extraMasks.data();
        run.extraCount = m_extraCount;
        run.extraRoom = m_extraMasks.size();
        run.zeroPending = false;
        d += m_encryptDigits(run, text + d, digits.size() - d);
        m_next = run.next;
        if (run.longer != nullptr) {
            m_longerCount = run.longerCount;
            m_extraCount = run.extraCount;
        }
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
    sink.groups(batch(run.count));
    sodium_memzero(groups.data(), sizeof groups);
}

unsigned Encryptor::extend(std::size_t group, std::size_t certainAfter)
{
    // Zero after its 13 masks, with chance 1/16: more masks until it is not.
    const std::size_t before = m_extraCount;
    unsigned nibble = 0;
    while (nibble == 0) {
        keepMore();
        nibble = m_extraMasks[m_extraCount++] = nextMask(certainAfter);
        if (m_onExtraMask) {
            m_onExtraMask();
        }
    }
    m_longer[m_longerCount++] = {group, m_extraCount - before};
    return nibble;
}

void Encryptor::keepMore()
{
    if (m_longerCount == m_longer.size()) {
        m_longer.resize(2 * m_longer.size());
    }
    if (m_extraCount == m_extraMasks.size()) {
        // The masks are the key: the old memory is wiped, not just let go.
        std::vector<std::uint8_t> larger(2 * m_extraMasks.size());
        std::copy(m_extraMasks.begin(), m_extraMasks.end(), larger.begin());
        sodium_memzero(m_extraMasks.data(), m_extraMasks.size());
        m_extraMasks.swap(larger);
    }
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
