// The portable room: plain C++ for every processor, words read and written in one byte order.
// The vector rooms finish their runs here.
#include "cipher/arch/shared.h"

#include <cstring>

namespace morvalen::arch {
namespace {

static_assert(kMasksPerDigit == 13 && kUsualGroupChars == 66, "the layout this room relies on");

// The kMasksPerDigit masks from mask `first` on, of bytes whose first mask is the low one.
PackedGroup packedAt(const std::uint8_t* bytes, std::size_t first)
{
    // Eight bytes hold the masks from any mask on.
    const auto word = loadLittle<PackedGroup>(bytes + first / 2);
    return word >> (4 * (first % 2)) & ((PackedGroup {1} << (4 * kMasksPerDigit)) - 1);
}

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

// The XOR of the 13 masks at text, each read as one word, when a group of 13 or more begins
// there; kNoMatch otherwise.
inline unsigned usualGroupXorPlain(const char* text)
{
    unsigned result = 0;
    for (std::size_t k = 0; k < kMasksPerDigit; ++k) {
        const unsigned mask = maskAt(text + kMaskChars * k);
        if (mask == kNoMatch) {
            return kNoMatch;
        }
        result ^= mask;
    }
    return result;
}

std::size_t readGroupsPlain(std::string_view piece, std::size_t i, std::span<char> digits, std::size_t& groups)
{
    // The last mask's word reaches 8 bytes from its start.
    return readGroups<kMaskChars*(kMasksPerDigit - 1) + 8, usualGroupXorPlain>(piece, i, digits, groups);
}

} // namespace

char* writeGroupsPlain(const MaskBatch& batch, char* out)
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

const Kernels kPlain {encryptDigitsPlain, writeGroupsPlain, readGroupsPlain};

} // namespace morvalen::arch
