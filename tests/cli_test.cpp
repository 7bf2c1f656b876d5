#include "support/helpers.h"
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

TEST(Cli, EncryptThenDecryptThroughArgumentsAndPipes)
{
    const ProcessResult result = cli({"encrypt", "0a0b"});
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(std::regex_match(result.out, std::regex("[1-9A-F]{4}\n((,[01]{4}){13,}\\|){4}\n"))) << result.out;
    const std::string hex = result.out.substr(0, 4);
    std::string bits = result.out.substr(5);
    EXPECT_EQ(cli({"decrypt", hex, bits}).out, "0A0B\n");
    for (std::size_t i = 40; i < bits.size(); i += 41) {
        bits.insert(i, "\n"); // a key wrapped over lines
    }
    EXPECT_EQ(cli({"decrypt"}, hex + "\r\n" + bits).out, "0A0B\n");

    std::mt19937 generator(1); // varies the plain text only, never a key
    for (const std::size_t digits : {0u, 130u, 20000u}) {
        std::string plain(digits, '0');
        for (char& c : plain) {
            c = "0123456789abcdefABCDEF"[generator() % 22];
        }
        const ProcessResult decrypted = cli({"decrypt"}, cli({"encrypt"}, plain + "\n").out);
        EXPECT_EQ(decrypted.out + decrypted.err, testing::upper(plain) + "\n");
    }
}

TEST(Cli, ErrorsUsageHelpAndVersion)
{
    const ProcessResult invalid = cli({"decrypt", "1", ""});
    EXPECT_EQ(invalid.status, 1);
    EXPECT_EQ(
        invalid.out + invalid.err, "morvalen-cli: Hex encrypted: 1 hex digit is an odd count; each byte takes two.\n");
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
