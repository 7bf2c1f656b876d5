// Encryption and decryption against the floor the work itself sets: writing the bytes of the
// output, drawing the random bytes the masks take, or reading every byte of the key once.
#include "bench_data.h"
#include "cipher/cipher.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstring>
#include <map>
#include <random>
#include <vector>

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

void BM_Encrypt(benchmark::State& state)
{
    const std::string& plain = plainHex(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::string hex = plain;
        EncryptResult result = morvalen::encrypthexbytes(hex);
        benchmark::DoNotOptimize(result.encryptingBits.data());
    }
    reportDigits(state, plain.size());
}

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

void BM_Decrypt(benchmark::State& state)
{
    const EncryptResult& sample = encrypted(static_cast<std::size_t>(state.range(0)));
    std::string check = sample.encryptedHex;
    if (morvalen::decrypthexbytes(check, sample.encryptingBits) != plainHex(sample.encryptedHex.size())) {
        state.SkipWithError("decryption does not give the plain hex back");
    }
    for (auto _ : state) {
        std::string hex = sample.encryptedHex;
        std::string plain = morvalen::decrypthexbytes(hex, sample.encryptingBits);
        benchmark::DoNotOptimize(plain.data());
    }
    reportDigits(state, sample.encryptedHex.size());
}

void BM_DecryptFloor(benchmark::State& state)
{
    const EncryptResult& sample = encrypted(static_cast<std::size_t>(state.range(0)));
    const std::string& key = sample.encryptingBits;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::count(key.begin(), key.end(), '|'));
    }
    reportDigits(state, sample.encryptedHex.size());
}

void sizes(benchmark::internal::Benchmark* b)
{
    b->Arg(1024)->Arg(65536)->Arg(1048576)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Encrypt)->Apply(sizes);
BENCHMARK(BM_EncryptFloor)->Apply(sizes);
BENCHMARK(BM_Decrypt)->Apply(sizes);
BENCHMARK(BM_DecryptFloor)->Apply(sizes);

} // namespace
