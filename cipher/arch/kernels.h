// The rooms: one file per instruction set, each compiled with its own flags, each filling one
// table of the processor-specific work: encrypting digits, writing groups of key text, reading
// them. The algorithm files keep only the portable logic and call through the table.
#pragma once

#include "cipher/cpupath.h"
#include "cipher/maskbatch.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

namespace morvalen::arch {

// Where a run of digits takes its masks from and puts their groups.
struct DigitRun
{
    const std::uint8_t* bytes; // the random bytes, two masks to a byte, the first in the low bits
    std::size_t next; // the next mask to take
    std::size_t end; // the masks in bytes
    PackedGroup* groups; // the batch
    std::size_t count; // groups in the batch
    std::size_t capacity; // groups the batch can take
    // Where the masks past 13 go, as MaskBatch lists them, while they have room; null longer
    // leaves them all to the caller. Plain arrays: no room grows memory.
    std::pair<std::size_t, std::size_t>* longer;
    std::size_t longerCount;
    std::size_t longerRoom;
    std::uint8_t* extraMasks;
    std::size_t extraCount;
    std::size_t extraRoom;
    // Set when the run stopped at a digit zero after its 13 masks, whose group is the batch's
    // last: the caller draws its further masks.
    bool zeroPending;
};

struct Kernels
{
    // Encrypts digits at text with the run's masks, 13 a digit and more for one zero after them,
    // and writes each digit's masks to the batch; stops when the digits, the batch or the masks at
    // hand run out, or at a zero digit whose further masks are not. Returns how many it encrypted.
    std::size_t (*encryptDigits)(DigitRun& run, char* text, std::size_t digits);
    // Writes the text of a batch's groups to out, which has room for it and kGroupTextSlack bytes
    // more; returns its end.
    char* (*writeGroups)(const MaskBatch& batch, char* out);
    // Reads whole groups from piece[i] on, up to the last digit, into digits, counting them in
    // groups; returns where it stopped: at a group of any other shape, or one that does not lie
    // whole in the piece, which the caller reads on.
    std::size_t (*readGroups)(std::string_view piece, std::size_t i, std::span<char> digits, std::size_t& groups);
};

// The table of path, Fastest the process's; path must run here.
const Kernels& kernels(CpuPath path = CpuPath::Fastest) noexcept;

// Each room's table.
extern const Kernels kPlain;
#if MORVALEN_X86_ROOMS
extern const Kernels kSse2;
extern const Kernels kAvx2;
extern const Kernels kAvx512;
#endif

// Shared by the rooms, compiled for every processor: the portable digit loop, which the vector
// loops finish with.
std::size_t encryptDigitsPlain(DigitRun& run, char* text, std::size_t digits);
char* writeGroupsPlain(const MaskBatch& batch, char* out);
#if MORVALEN_X86_ROOMS
std::size_t encryptDigitsAvx2(DigitRun& run, char* text, std::size_t digits);
#endif

} // namespace morvalen::arch
