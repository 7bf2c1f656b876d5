// Hostile input: a megabyte of random bytes (NUL, control characters and invalid UTF-8 among
// them) into morvalen-cli on standard input and as arguments as long as the system allows, and
// into the core directly. Every time: a short, printable message and no partial output.
#include "cipher/cipher.h"
#include "cipher/masks.h"
#include "support/helpers.h"
#include "support/process.h"
#include "textconv/conversions.h"

#include <gtest/gtest.h>
#include <random>
#include <regex>

namespace morvalen {
namespace {

constexpr std::size_t kMiB = 1 << 20;
// Linux caps one argument at MAX_ARG_STRLEN, 128 KiB with its terminating NUL; stay below.
constexpr std::size_t kLongestArgument = 128 * 1024 - 1024;

std::string randomBytes(std::size_t size, unsigned seed, bool noNul = false)
{
    std::mt19937 generator(seed); // test data only, never keys
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(generator() & 0xFF);
        c = noNul && c == '\0' ? '\x01' : c; // arguments cannot hold NUL
    }
    return bytes;
}

// One line a user can read: it names the box, does not echo the input, and holds no control
// characters or bytes beyond ASCII other than one quoted, whole character.
void expectClearMessage(std::string_view message, std::string_view prefix)
{
    EXPECT_EQ(message.substr(0, prefix.size()), prefix) << message.substr(0, 200);
    EXPECT_LT(message.size(), 200u);
    const auto high
        = static_cast<std::size_t>(std::count_if(message.begin(), message.end(), [](char c) { return c < 0; }));
    const std::size_t quote = message.find('\'');
    EXPECT_TRUE(high == 0 || message.find('\'', quote + 1) - quote - 1 == high) << message;
    EXPECT_EQ(std::count_if(message.begin(), message.end(), [](char c) { return c >= 0 && c < 0x20; }), 0);
}

// name: the input the message is about, "<stdin>", "HEX" or "BITS", followed by the line and column.
std::string expectRejected(const std::vector<std::string>& args, const std::string& input, std::string_view name)
{
    const testing::ProcessResult result = testing::runProcess(MORVALEN_CLI, args, input);
    EXPECT_EQ(result.status, 1) << args.front();
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.back(), '\n');
    const std::string prefix = "morvalen-cli: " + std::string(name) + ":";
    expectClearMessage(std::string_view(result.err).substr(0, result.err.size() - 1), prefix);
    EXPECT_TRUE(std::regex_search(result.err.substr(prefix.size()), std::regex("^[0-9]+:[0-9]+: "))) << result.err;
    return result.err;
}

TEST(Hostile, CommandLineOnStandardInputAndInArguments)
{
    const std::string junk = randomBytes(kMiB, 1);
    expectRejected({"encrypt"}, junk, "<stdin>");
    expectRejected({"decrypt"}, junk, "<stdin>");
    expectRejected({"decrypt"}, "1234\n," + junk, "<stdin>"); // the key begins at the first ','
    // The first bad byte a megabyte in, so the whole input is read before it fails.
    EXPECT_EQ(expectRejected({"encrypt"}, std::string(kMiB - 16, 'a') + "\xFF" + junk.substr(0, 15), "<stdin>"),
        "morvalen-cli: <stdin>:1:1048561: byte 0xFF is not a hex digit.\n");
    const std::string argument = randomBytes(kLongestArgument, 2, true);
    expectRejected({"encrypt", "--", argument}, {}, "HEX");
    expectRejected({"decrypt", "--", std::string(kLongestArgument - 1, 'a') + "\x07", argument}, {}, "HEX");
    expectRejected({"decrypt", "--", "0a0b", argument}, {}, "BITS");
}

TEST(Hostile, CoreCipherAndConversions)
{
    const std::string junk = randomBytes(kMiB, 3);
    // Junk fails at a character of the input's box; conversions name no box.
    const auto expectError = [&](ErrorKind kind, ErrorInput input, auto&& run) {
        try {
            run();
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), kind) << e.what();
            EXPECT_EQ(e.input(), input) << e.what();
            EXPECT_EQ(testing::placeIn(e, junk).starts_with('@'), input != ErrorInput::None)
                << testing::placeIn(e, junk);
            expectClearMessage(e.what(), input == ErrorInput::None ? "" : std::string(boxName(input)) + ": ");
        }
    };
    std::string hex = junk;
    expectError(ErrorKind::InvalidInput, ErrorInput::PlainHex, [&] { encrypthexbytes(hex); });
    expectError(ErrorKind::InvalidInput, ErrorInput::EncryptedHex, [&] { decrypthexbytes(hex, junk); });
    EXPECT_EQ(hex, junk) << "consumed on error";
    std::string pair = "0a0b";
    expectError(ErrorKind::InvalidInput, ErrorInput::EncryptingBits, [&] { decrypthexbytes(pair, junk); });
    expectError(ErrorKind::Overflow, ErrorInput::None, [&] { hextodecimal(junk); });
    expectError(ErrorKind::Overflow, ErrorInput::None, [&] { bitstodecimal(junk); });
    // The reading of a number used to quote its whole text, raw bytes and all, in the message.
    expectError(ErrorKind::TypeMismatch, ErrorInput::None, [&] { decimaltobits(junk, 8); });
    std::string bits = junk;
    std::string mask = junk;
    expectError(ErrorKind::TypeMismatch, ErrorInput::None, [&] { xorencrytyptbits(bits, mask); });
}

} // namespace
} // namespace morvalen
