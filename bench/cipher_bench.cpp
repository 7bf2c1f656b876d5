// Encryption and decryption against the floor the work itself sets: writing the bytes of the
// output, drawing the random bytes the masks take, or reading every byte of the key once.
#include "bench_data.h"
#include "cipher/cipher.h"
#include "textconv/memory.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstring>
#include <map>
#include <random>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using morvalen::EncryptResult;

using morvalen::bench::plainHex;

const EncryptResult& encrypted(std::size_t digits)
{
    static std::map<std::size_t, EncryptResult> cache;
    auto [it, inserted] = cache.try_emplace(digits);
    if (inserted) {
        std::string hex = plainHex(digits);
        it->second = morvalen::encrypthexbytes(hex);
    }
    return it->second;
}

// Throughput in hex digits of the plain text, so every row compares with every other.
void reportDigits(benchmark::State& state, std::size_t digits)
{
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(digits));
}

std::size_t maskCount(const EncryptResult& result)
{
    return static_cast<std::size_t>(std::count(result.encryptingBits.begin(), result.encryptingBits.end(), ','));
}

// Into strings that keep their memory from one run to the next, as the floor writes.
void BM_Encrypt(benchmark::State& state)
{
    const std::string& plain = plainHex(static_cast<std::size_t>(state.range(0)));
    EncryptResult result;
    for (auto _ : state) {
        std::string hex = plain;
        morvalen::encryptInto(result, hex);
        benchmark::DoNotOptimize(result.encryptingBits.data());
    }
    reportDigits(state, plain.size());
}

// The random bytes the masks take drawn, and as many bytes as the output written into a buffer
// written before: what encryption must cost.
void BM_EncryptFloor(benchmark::State& state)
{
    const EncryptResult& sample = encrypted(static_cast<std::size_t>(state.range(0)));
    const std::size_t outputBytes = sample.encryptedHex.size() + sample.encryptingBits.size();
    const std::size_t randomBytes = (maskCount(sample) + 1) / 2;
    std::vector<char> output(outputBytes);
    std::vector<std::uint8_t> random(randomBytes);
    for (auto _ : state) {
        morvalen::systemRandom().fill(random);
        std::memset(output.data(), ',', output.size());
        benchmark::DoNotOptimize(output.data());
        benchmark::DoNotOptimize(random.data());
        benchmark::ClobberMemory();
    }
    reportDigits(state, static_cast<std::size_t>(state.range(0)));
}

// Into new strings, as the window does, which hands them on to its boxes: against the same floor
// written into memory fresh from the system, this shows what the first touch of a large key's
// pages costs on this machine.
void BM_EncryptFresh(benchmark::State& state)
{
    const std::string& plain = plainHex(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string hex = plain;
        EncryptResult result = morvalen::encrypthexbytes(hex);
        benchmark::DoNotOptimize(result.encryptingBits.data());
    }
    reportDigits(state, plain.size());
}

void BM_EncryptFloorFresh(benchmark::State& state)
{
    const EncryptResult& sample = encrypted(static_cast<std::size_t>(state.range(0)));
    const std::size_t randomBytes = (maskCount(sample) + 1) / 2;
    std::vector<std::uint8_t> random(randomBytes);
    for (auto _ : state) {
        morvalen::systemRandom().fill(random);
        for (const std::size_t size : {sample.encryptedHex.size(), sample.encryptingBits.size()}) {
            std::string output;
            output.reserve(size);
            morvalen::adviseHugePages(output.data(), output.capacity());
            output.append(size, ',');
            benchmark::DoNotOptimize(output.data());
        }
        benchmark::DoNotOptimize(random.data());
        benchmark::ClobberMemory();
    }
    reportDigits(state, static_cast<std::size_t>(state.range(0)));
}

void BM_Decrypt(benchmark::State& state)
{
    const EncryptResult& sample = encrypted(static_cast<std::size_t>(state.range(0)));
    std::string check = sample.encryptedHex;
    if (morvalen::decrypthexbytes(check, sample.encryptingBits) != plainHex(sample.encryptedHex.size())) {
        state.SkipWithError("decryption does not give the plain hex back");
    }
    // Into strings that keep their memory, as the floor reads a key it has read before.
    std::string hex;
    std::string plain;
    for (auto _ : state) {
        hex.assign(sample.encryptedHex);
        morvalen::decryptInto(plain, hex, sample.encryptingBits);
        benchmark::DoNotOptimize(plain.data());
    }
    reportDigits(state, sample.encryptedHex.size());
}

// How often c occurs in text, 16 bytes at a time: the cheapest pass that reads every byte.
std::size_t countOf(std::string_view text, char c)
{
    std::size_t count = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(c);
    while (i + 16 <= text.size()) {
        // Byte counters subtract the all-ones of each match, and are summed before they can wrap.
        __m128i counters = _mm_setzero_si128();
        for (std::size_t block = 0; block < 255 && i + 16 <= text.size(); ++block, i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
            counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(bytes, wanted));
        }
        const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
        count += static_cast<std::size_t>(_mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
#endif
    return count + static_cast<std::size_t>(std::count(text.begin() + static_cast<std::ptrdiff_t>(i), text.end(), c));
}

void BM_DecryptFloor(benchmark::State& state)
{
    const EncryptResult& sample = encrypted(static_cast<std::size_t>(state.range(0)));
    const std::string& key = sample.encryptingBits;
    if (countOf(key, '|') != static_cast<std::size_t>(std::count(key.begin(), key.end(), '|'))) {
        state.SkipWithError("the vector count is wrong");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(countOf(key, '|'));
    }
    reportDigits(state, sample.encryptedHex.size());
}

void sizes(benchmark::internal::Benchmark* b)
{
    b->Arg(1024)->Arg(65536)->Arg(1048576)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Encrypt)->Apply(sizes);
BENCHMARK(BM_EncryptFloor)->Apply(sizes);
BENCHMARK(BM_EncryptFresh)->Apply(sizes);
BENCHMARK(BM_EncryptFloorFresh)->Apply(sizes);
BENCHMARK(BM_Decrypt)->Apply(sizes);
BENCHMARK(BM_DecryptFloor)->Apply(sizes);

} // namespace
