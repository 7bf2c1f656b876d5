// Input the benchmarks share: random hex of a given length, made once per length.
#pragma once

#include <algorithm>
#include <cstddef>
#include <map>
#include <random>
#include <string>
#include <string_view>

namespace morvalen::bench {

// digits: "0123456789ABCDEF" or the lower-case set, which a decryption gives back upper case.
inline const std::string& plainHex(std::size_t count, std::string_view digits = "0123456789ABCDEF")
{
    static std::map<std::pair<std::size_t, std::string_view>, std::string> cache;
    std::string& hex = cache[{count, digits}];
    if (hex.empty()) {
        std::mt19937_64 generator(count); // test data only; the cipher's masks come from the CSPRNG
        hex.resize(count);
        std::generate(hex.begin(), hex.end(), [&] { return digits[generator() % 16]; });
    }
    return hex;
}

} // namespace morvalen::bench
