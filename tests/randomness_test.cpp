// The masks and encrypted digits the system's generator gives, over a large sample: uniform by a
// chi-square test, and never the same key twice, within one process or across processes.
#include "cipher/cipher.h"
#include "support/process.h"
#include "textconv/boxtext.h"

#include <array>
#include <gtest/gtest.h>
#include <set>

namespace morvalen {
namespace {

// Each statistic is held to its upper 5e-7 quantile, so a correct generator fails the pair less
// than once in a million runs. The exact quantiles, from the regularised upper incomplete gamma
// function Q(df/2, x/2) = 5e-7, are 56.384 for 14 degrees of freedom (digits 1-F) and 58.265
// for 15 (masks 0-F); the Wilson-Hilferty approximation is about 0.9 too high here.
constexpr double kDigitThreshold = 56.39;
constexpr double kMaskThreshold = 58.27;
constexpr std::size_t kDigits = 100000;

double chiSquare(const std::array<double, 16>& counts, std::size_t first, double expected)
{
    double statistic = 0;
    for (std::size_t v = first; v < 16; ++v) {
        statistic += (counts[v] - expected) * (counts[v] - expected) / expected;
    }
    return statistic;
}

TEST(Randomness, MasksAndEncryptedDigitsAreUniform)
{
    std::string plain(kDigits, 'A'); // one plain digit, so any structure left would show
    const EncryptResult result = encrypthexbytes(plain);
    std::array<double, 16> digits {};
    for (const char c : result.encryptedHex) {
        ++digits[hexValue(c)];
    }
    EXPECT_EQ(digits[0], 0);
    const double digitStatistic = chiSquare(digits, 1, kDigits / 15.0);
    EXPECT_LT(digitStatistic, kDigitThreshold);

    // Only the first 13 masks of each group: more are drawn only while the digit is zero, so they
    // are not a fixed-size sample.
    std::array<double, 16> masks {};
    std::size_t inGroup = 0;
    const std::string& key = result.encryptingBits;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (key[i] == '|') {
            inGroup = 0;
        } else if (key[i] == ',' && inGroup++ < kMasksPerDigit) {
            ++masks[std::stoul(key.substr(i + 1, 4), nullptr, 2)];
        }
    }
    const double maskStatistic = chiSquare(masks, 0, kDigits * kMasksPerDigit / 16.0);
    EXPECT_LT(maskStatistic, kMaskThreshold);
    std::printf("chi-square: digits %.2f (df 14), masks %.2f (df 15)\n", digitStatistic, maskStatistic);
}

TEST(Randomness, NoTwoEncryptionsShareAMaskGroup)
{
    // A group holds at least 52 random bits, so among these ~800 groups a repeat by chance has
    // odds below 1e-10; a repeat means a generator that restarts or was seeded alike.
    std::vector<std::string> keys;
    for (int i = 0; i < 200; ++i) {
        std::string plain = "AAAA";
        keys.push_back(encrypthexbytes(plain).encryptingBits);
    }
    for (int i = 0; i < 3; ++i) {
        const std::string out = testing::runProcess(MORVALEN_CLI, {"encrypt", "AAAA"}).out;
        keys.push_back(out.substr(out.find('\n') + 1, out.size() - out.find('\n') - 2));
    }
    std::set<std::string> groups;
    for (const std::string& key : keys) {
        for (std::size_t start = 0, end; (end = key.find('|', start)) != std::string::npos; start = end + 1) {
            groups.insert(key.substr(start, end - start));
        }
    }
    EXPECT_EQ(groups.size(), keys.size() * 4);
}

} // namespace
} // namespace morvalen
