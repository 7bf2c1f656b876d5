#include "support/process.h"

#include <gtest/gtest.h>
#include <random>
#include <regex>

namespace morvalen {
namespace {

using testing::ProcessResult;

ProcessResult cli(const std::vector<std::string>& args, const std::string& input = {})
{
    return testing::runProcess(MORVALEN_CLI, args, input);
}

std::string randomHex(std::size_t digits, unsigned seed)
{
    std::mt19937 generator(seed); // only to vary the test's plain text, never for keys
    std::string hex(digits, '0');
    for (char& c : hex) {
        c = "0123456789abcdefABCDEF"[generator() % 22];
    }
    return hex;
}

std::string upper(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

TEST(Cli, EncryptPrintsHexThenKey)
{
    const ProcessResult result = cli({"encrypt", "AAAA"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(std::regex_match(result.out, std::regex("[1-9A-F]{4}\n((,[01]{4}){13,}\\|){4}\n"))) << result.out;
}

TEST(Cli, PipelineRoundTripsFromStandardInput)
{
    for (const std::size_t digits : {0u, 2u, 130u, 20000u}) {
        const std::string plain = randomHex(digits, static_cast<unsigned>(digits));
        const ProcessResult encrypted = cli({"encrypt"}, plain + "\n");
        ASSERT_EQ(encrypted.status, 0) << encrypted.err;
        const ProcessResult decrypted = cli({"decrypt"}, encrypted.out);
        ASSERT_EQ(decrypted.status, 0) << decrypted.err;
        EXPECT_EQ(decrypted.out, upper(plain) + "\n");
    }
}

TEST(Cli, DecryptFromArgumentsAndWrappedKeyOnStandardInput)
{
    const ProcessResult encrypted = cli({"encrypt", "0a0b"});
    const std::size_t newline = encrypted.out.find('\n');
    const std::string hex = encrypted.out.substr(0, newline);
    std::string bits = encrypted.out.substr(newline + 1);
    EXPECT_EQ(cli({"decrypt", hex, bits}).out, "0A0B\n");
    for (std::size_t i = 40; i < bits.size(); i += 41) {
        bits.insert(i, "\n");
    }
    EXPECT_EQ(cli({"decrypt"}, hex + "\r\n" + bits).out, "0A0B\n");
}

TEST(Cli, InvalidInputFailsWithStatusOneAndNothingOnStandardOutput)
{
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"encrypt", "12G4"}, "morvalen-cli: Hex to encrypt: 'G' at position 3 is not a hex digit.\n"},
        {{"encrypt", "123"}, "morvalen-cli: Hex to encrypt: 3 hex digits is an odd count; each byte takes two.\n"},
        {{"decrypt", "1", ""}, "morvalen-cli: Hex encrypted: 1 hex digit is an odd count; each byte takes two.\n"},
        {{"decrypt", "12", ",0101|"},
         "morvalen-cli: Encrypting bits: 1 mask group for 2 hex digits; each digit needs its own group.\n"},
    };
    for (const auto& [args, message] : cases) {
        const ProcessResult result = cli(args);
        EXPECT_EQ(result.status, 1) << args[1];
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, message);
    }
}

TEST(Cli, UsageHelpAndVersion)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>> {
             {}, {"frobnicate"}, {"encrypt", "12", "34"}, {"decrypt", "12"}, {"--frob"}, {"encrypt", "-x"}}) {
        const ProcessResult result = cli(args);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find("Usage: morvalen-cli"), std::string::npos);
    }
    const ProcessResult help = cli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: morvalen-cli", 0), 0u);
    EXPECT_EQ(cli({"-h"}).out, help.out);
    EXPECT_EQ(cli({"--version"}).out, "morvalen-cli 1.0.0.0\n");
    EXPECT_EQ(cli({"--", "encrypt", "12"}).status, 0);
}

} // namespace
} // namespace morvalen
