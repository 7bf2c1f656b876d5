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

TEST(Cli, EncryptPrintsHexThenKeyAndThePipelineRoundTrips)
{
    const ProcessResult result = cli({"encrypt", "AAAA"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(std::regex_match(result.out, std::regex("[1-9A-F]{4}\n((,[01]{4}){13,}\\|){4}\n"))) << result.out;

    std::mt19937 generator(1); // varies the plain text only, never a key
    for (const std::size_t digits : {0u, 2u, 130u, 20000u}) {
        std::string plain(digits, '0');
        std::string upper(digits, '0');
        for (std::size_t i = 0; i < digits; ++i) {
            plain[i] = "0123456789abcdefABCDEF"[generator() % 22];
            upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(plain[i])));
        }
        const ProcessResult encrypted = cli({"encrypt"}, plain + "\n");
        const ProcessResult decrypted = cli({"decrypt"}, encrypted.out);
        EXPECT_EQ(decrypted.status, 0) << decrypted.err;
        EXPECT_EQ(decrypted.out, upper + "\n");
    }
}

TEST(Cli, DecryptFromArgumentsAndAWrappedKeyOnStandardInput)
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
    for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>> {
             {{"encrypt", "12G4"}, "Hex to encrypt: 'G' at position 3 is not a hex digit."},
             {{"decrypt", "1", ""}, "Hex encrypted: 1 hex digit is an odd count; each byte takes two."},
             {{"decrypt", "12", ",0101|"},
              "Encrypting bits: 1 mask group for 2 hex digits; each digit needs its own group."}}) {
        const ProcessResult result = cli(args);
        EXPECT_EQ(result.status, 1) << args[1];
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "morvalen-cli: " + message + "\n");
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
