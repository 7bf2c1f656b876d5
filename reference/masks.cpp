#include "masks.h"

#include "conversions.h"
#include "primitives.h"

#include <vector>

namespace morvalen {
namespace {

std::int32_t slotNumber(const std::string& slot)
{
    return slot.empty() ? 0 : toInt32(strictNumber(slot));
}

} // namespace

std::string Randombits(std::int32_t bitsLen, RandomSource& random)
{
    if (bitsLen <= 0) {
        return {};
    }
    const auto length = static_cast<std::size_t>(bitsLen);
    std::vector<std::uint8_t> bytes((length + 7) / 8);
    random.fill(bytes);
    std::string bits(length, '0');
    for (std::size_t i = 0; i < length; ++i) {
        if ((static_cast<unsigned>(bytes[i / 8]) >> (7 - i % 8)) & 1u) {
            bits[i] = '1';
        }
    }
    return bits;
}

XorResult xorencrytyptbits(std::string& bitsstring, std::string& encryptbits)
{
    const TextArray bits = bitsarray(bitsstring);
    const TextArray mask = bitsarray(encryptbits);
    XorResult result;
    for (std::size_t k = 0; k + 1 < bits.size(); ++k) {
        if (k >= mask.size()) {
            throw Fault(FaultKind::SubscriptOutOfRange, "Subscript out of range: the mask is too short.");
        }
        result.combined += integerText(slotNumber(bits[k]) ^ slotNumber(mask[k]));
        result.maskUsed += mask[k];
    }
    return result;
}

} // namespace morvalen
