// Encryption and decryption of hex text with random 4-bit masks.
//
// Every hex digit (a nibble) is XORed with 13 fresh masks, and with further masks for as long as
// it comes out zero, so no encrypted digit is ever "0". The key, the encrypting bits, lists every
// mask: per digit a group of ",dddd" masks in the order applied, closed by "|".
//
// Both operations read their hex strictly (blanks skipped, upper or lower case, an even number of
// hex digits) and throw Error with a message naming the box and the position of what is wrong,
// and with the input, byte range, line and column of it. Encryptor, KeyReader and KeyWriter do
// the same work on texts that arrive in pieces.
// Like the original tool they consume their hex argument: when at least one byte was taken it ends
// empty; on an error it is left as it was.
#pragma once

#include "keyreader.h"
#include "keywriter.h"
#include "onestream.h"
#include "random.h"
#include "textconv/errors.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvalen {

inline constexpr std::string_view kPlainBox = boxName(ErrorInput::PlainHex);
inline constexpr std::string_view kEncryptedBox = boxName(ErrorInput::EncryptedHex);
inline constexpr std::string_view kBitsBox = boxName(ErrorInput::EncryptingBits);

struct EncryptResult
{
    std::string encryptedHex; // one digit 1-F per plain digit
    std::string encryptingBits;
};

// Called after each extra mask applied to a digit that came out zero; the window runs its event
// loop here. It may start a nested encryption or decryption.
using YieldFn = std::function<void()>;

namespace arch {
struct DigitRun;
}

// Encrypts digits that may arrive in pieces, for texts too large to hold with their key.
class Encryptor
{
public:
    // path: which room's code works on the digits (see cpupath.h); every path gives the same.
    explicit Encryptor(
        RandomSource& random = systemRandom(), YieldFn onExtraMask = {}, CpuPath path = CpuPath::Fastest);
    Encryptor(const Encryptor&) = delete;
    Encryptor& operator=(const Encryptor&) = delete;
    // Wipes the masks it drew and those it kept for longer groups: they are the key.
    ~Encryptor();

    // Replaces each upper-case hex digit with its encrypted digit and hands its masks to groups.
    void encrypt(std::span<char> digits, MaskGroupSink& groups);

private:
    // Masks come two to a random byte, the first in its low bits, as in a PackedGroup. Each draw takes the 13 masks
    // per digit still certain to be needed, a 128th more and 32 to spare, for the one digit in 16
    // that takes more than 13 (some 1/195 more masks on average): every draw costs a system call,
    // and another draw near the end would cost more than the spare masks. At most 128 Ki masks
    // are drawn at once.
    static constexpr std::size_t kRandomBytes = 65536;
    static constexpr std::size_t kSpareMasks = 32;

    // More masks for a digit zero after its 13, until it is not; returns its encrypted value.
    // certainAfter: the masks the digits after it will take.
    unsigned extend(std::size_t group, std::size_t certainAfter);
    // certain: the masks still certain to be needed, this one included unless it is an extra.
    std::uint8_t nextMask(std::size_t certain);
    // Makes room for one more longer group and one more extra mask.
    void keepMore();
    void refill(std::size_t certain);

    RandomSource& m_random;
    YieldFn m_onExtraMask;
    // Encrypts digits while their masks stand in the buffer.
    std::size_t (*m_encryptDigits)(arch::DigitRun& run, char* text, std::size_t digits);
    // The longer groups of the groups not yet handed on, as MaskBatch lists them: the first
    // m_longerCount and m_extraCount entries. The vectors are kept at their full size, which the
    // runs write into without growing memory, and grow only in keepMore.
    std::vector<std::pair<std::size_t, std::size_t>> m_longer;
    std::vector<std::uint8_t> m_extraMasks;
    std::size_t m_longerCount = 0;
    std::size_t m_extraCount = 0;
    // The random bytes, and room past the last of them for the reads of whole words and vectors,
    // zeroed. Not zeroed whole: encrypting a short text would cost noticeably more.
    static constexpr std::size_t kReadSlack = 16;
    std::array<std::uint8_t, kRandomBytes + kReadSlack> m_bytes;
    std::size_t m_drawn = 0; // the most bytes a draw has filled, to wipe
    std::size_t m_next = 0; // masks, counted from the buffer's start
    std::size_t m_end = 0;
};

EncryptResult encrypthexbytes(
    std::string& hexadesimals, RandomSource& random = systemRandom(), const YieldFn& onExtraMask = {});

// The same into result, whose strings keep their memory: a caller that encrypts again and again
// writes a large key into pages it already has, where a fresh 70 MB string costs more in first
// touches of its pages than making the key. After an error they hold no result.
void encryptInto(EncryptResult& result, std::string& hexadesimals, RandomSource& random = systemRandom(),
    const YieldFn& onExtraMask = {});

// Plain hex, two upper-case digits per byte. The encrypting bits must hold exactly one group per
// digit of the encrypted hex; any departure from the format is an error that says where.
std::string decrypthexbytes(std::string& hexadesimals, std::string_view bitspassword);

// The same into plain, which keeps its memory (see encryptInto); after an error it holds no result.
void decryptInto(std::string& plain, std::string& hexadesimals, std::string_view bitspassword);

} // namespace morvalen
