// morvalen-cli as scripts meet it, in a fresh folder per test so that file names in messages are
// the short names given and the folder can be listed afterwards. The commands run in-process with
// their standard streams in memory files; real processes where the process is the point: exit
// statuses, signals, resource limits, the shell's descriptors.
#include "cipher/cpupath.h"
#include "commands.h"
#include "support/folder.h"
#include "support/helpers.h"
#include "support/process.h"
#include "version.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace morvalen {
namespace {

namespace fs = std::filesystem;
using testing::ProcessResult;
using Args = std::vector<std::string>;

const std::string kBom = "\xEF\xBB\xBF";
const std::string kPlain = "0a1B 2c3D\n4e5F6789";
const std::string kDecrypted = "0A1B2C3D4E5F6789\n";
const std::string kTry = "Try 'morvalen-cli --help' for more information.\n";

class Cli : public testing::InFreshFolder
{
protected:
    // The command line run in-process, its standard streams memory files.
    static ProcessResult cli(const Args& args, const std::string& input = {})
    {
        std::vector<std::string> words {"morvalen-cli"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(word.data());
        }
        const int in = testing::memoryFile(input);
        const int out = testing::memoryFile();
        const int err = testing::memoryFile();
        ProcessResult result {cli::run(argv, {in, out, err}), testing::contents(out), testing::contents(err)};
        ::close(in);
        return result;
    }
};

struct Form
{
    Args args;
    std::string input; // standard input
    std::string output; // the file the result goes to; empty for standard output
    std::string key = {}; // the key file encrypt writes; empty when the key follows the hex
};

TEST_F(Cli, EveryEncryptFormDecryptsThroughEveryDecryptForm)
{
    write("plain.hex", kPlain);
    write("bom.hex", kBom + kPlain);
    for (const Form& form : std::vector<Form> {{{"encrypt"}, kPlain, ""}, {{"encrypt", "-i", "-"}, kBom + kPlain, ""},
             {{"encrypt", "-i", "plain.hex"}, "", ""}, {{"encrypt", kBom + kPlain}, "", ""},
             {{"encrypt", "--input=bom.hex", "-o", "out.txt"}, "", "out.txt"},
             {{"encrypt", kPlain, "--output=out.txt", "-k", "key.bits"}, "", "out.txt", "key.bits"},
             {{"encrypt", "-f", "--key=key.bits", "-o", "-", "--", kPlain}, "", "", "key.bits"}}) {
        SCOPED_TRACE(form.args.front() + " " + form.args.back());
        fs::remove("out.txt");
        fs::remove("key.bits");
        const ProcessResult encrypted = cli(form.args, form.input);
        ASSERT_EQ(encrypted.status, 0) << encrypted.err;
        const std::string text = form.output.empty() ? encrypted.out : read(form.output);
        EXPECT_EQ(form.output.empty() ? "" : encrypted.out, "");
        std::smatch parts; // the key on a line of its own after the hex, or in its file
        const char* pattern = form.key.empty() ? "([0-9A-F]{16})\n(((,[01]{4})+\\|){16})\n" : "([0-9A-F]{16})\n";
        ASSERT_TRUE(std::regex_match(text, parts, std::regex(pattern))) << text;
        const std::string hex = parts[1];
        const std::string key = form.key.empty() ? std::string(parts[2]) : read(form.key);
        write("enc.hex", hex + "\n");
        write("key.bits", key);
        write("bom.bits", kBom + key);
        // One stream: the split itself is the core's, tested there.
        for (const Form& decrypt :
            std::vector<Form> {{{"decrypt", hex, key}, "", ""}, {{"decrypt", hex, kBom + key}, "", ""},
                {{"decrypt", "-k", "key.bits", hex}, "", ""}, {{"decrypt", "-k", "bom.bits", hex}, "", ""},
                {{"decrypt", "-i", "enc.hex", "--key=key.bits", "-o", "-"}, "", ""},
                {{"decrypt", "-k", "-", "-i", "enc.hex"}, key, ""}, {{"decrypt", hex, "-k", "-"}, key, ""},
                {{"decrypt"}, hex + "\n" + key + "\n", ""}, {{"decrypt", "--", hex + key}, "", ""},
                {{"decrypt", "--output=out.txt", "--", hex, key}, "", "out.txt"},
                {{"decrypt", "-i", "enc.hex", "-k", "key.bits", "-o", "out.txt"}, "", "out.txt"}}) {
            fs::remove("out.txt");
            const ProcessResult result = cli(decrypt.args, decrypt.input);
            EXPECT_EQ(result.status, 0) << result.err;
            EXPECT_EQ(decrypt.output.empty() ? result.out : result.out + read(decrypt.output), kDecrypted)
                << ::testing::PrintToString(decrypt.args);
        }
    }
}

TEST_F(Cli, ErrorsNameTheirPlaceAndLeaveStdoutAndTheFolderAsTheyWere)
{
    write("plain.hex", "0a0b\n\t1234 G6\n");
    write("odd.hex", "123\n");
    write("key.bits", ",0000|,0000|\n,0000|\n    ,000|\n");
    write("short.bits", ",0000|,0000|\n,0000|\n");
    write("pair.txt", "12 34,0000|,00x0|\n");
    write("bom.hex", "0a\n" + kBom + "0b");
    write("out.txt", "old output\n");
    const std::vector<std::tuple<Args, std::string, std::string>> rows
        = {{{"encrypt", "-i", "plain.hex", "-o", "out.txt"}, "", "plain.hex:2:7: 'G' is not a hex digit."},
            {{"encrypt", "-o", "out.txt"}, "12\n3g", "<stdin>:2:2: 'g' is not a hex digit."},
            {{"encrypt", "--", "ab\ncd x"}, "", "HEX:2:4: 'x' is not a hex digit."},
            {{"decrypt", "-k", "key.bits", "-i", "plain.hex"}, "", "plain.hex:2:7: 'G' is not a hex digit."},
            {{"encrypt", "-k", "new.bits", "-o", "out.txt", "-i", "odd.hex"}, "",
                "odd.hex: 3 hex digits is an odd count; each byte takes two."},
            {{"decrypt", "-k", "key.bits", "-o", "out.txt", "1234"}, "",
                "key.bits:3:5: this mask has 3 digits; a mask has 4."},
            {{"decrypt", "-k", "short.bits", "1234"}, "",
                "short.bits: 3 mask groups for 4 hex digits; each digit needs its own group."},
            {{"decrypt", "-k", "-", "12"}, ",0000|\n,01a1|", "<stdin>:2:4: 'a' is not 0, 1, ',' or '|'."},
            {{"decrypt", "12", ",0000|,1111"}, "", "BITS:1:7: this group is not closed by '|'."},
            // One stream: the key's places count on from the hex before it.
            {{"decrypt", "-o", "out.txt", "-i", "pair.txt"}, "", "pair.txt:1:15: 'x' is not 0, 1, ',' or '|'."},
            {{"decrypt"}, "\n  12\t34 ,0000|,00x0|", "<stdin>:2:18: 'x' is not 0, 1, ',' or '|'."},
            {{"decrypt", "12 34,0000|,00x0|"}, "", "HEX:1:15: 'x' is not 0, 1, ',' or '|'."},
            // A byte order mark anywhere but at the very start is no blank.
            {{"encrypt"}, "0a" + kBom + "0b", "<stdin>:1:3: U+FEFF is not a hex digit."},
            {{"encrypt", "-i", "bom.hex"}, "", "bom.hex:2:1: U+FEFF is not a hex digit."},
            {{"encrypt", kBom + kBom + "0a"}, "", "HEX:1:1: U+FEFF is not a hex digit."},
            {{"decrypt", "12", ",0000|" + kBom + ",0000|"}, "", "BITS:1:7: U+FEFF is not 0, 1, ',' or '|'."},
            {{"decrypt", "-i", "nosuch.hex", "-o", "out.txt"}, "", "nosuch.hex: No such file or directory"},
            {{"decrypt", "-k", "nosuch.bits", "12"}, "", "nosuch.bits: No such file or directory"},
            {{"encrypt", "-k", "key.bits", "-o", "out.txt", "12"}, "", "key.bits: exists; use -f to replace it."},
            // The encrypted hex waits for its key to be safely written.
            {{"encrypt", "-k", "/dev/full", "12"}, "", "/dev/full: " + std::string(std::strerror(ENOSPC))},
            {{"encrypt", "-k", "nosuch/key.bits", "12"}, "", "nosuch/key.bits: No such file or directory"},
            // Names reach the terminal with their control characters quoted.
            {{"encrypt", "-i", "no\nsuch\x1b[2J"}, "", "'no'$'\\n''such'$'\\033''[2J': No such file or directory"},
            // The key's temporary file is made before the output fails.
            {{"encrypt", "-k", "key.bits", "-f", "-o", "nosuch/out.txt", "12"}, "",
                "nosuch/out.txt: No such file or directory"}};
    const auto before = listing();
    for (const auto& [args, input, message] : rows) {
        SCOPED_TRACE(message);
        const ProcessResult result = cli(args, input);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "morvalen-cli: " + message + "\n");
        EXPECT_EQ(listing(), before) << message;
    }
}

TEST_F(Cli, FilesThatHoldAKeyArePrivateWhateverTheUmask)
{
    write("out.txt", "old output\n");
    fs::permissions("out.txt", fs::perms(0640));
    const mode_t previous = ::umask(022);
    const std::vector<std::tuple<Args, std::string, unsigned>> rows = {
        {{"encrypt", "-k", "key.bits", "-o", "new.txt", "12"}, "new.txt", 0644}, // no key: the usual
        {{"encrypt", "-o", "both.txt", "12"}, "both.txt", 0600}, // the key on line 2
        {{"encrypt", "-o", "out.txt", "12"}, "out.txt", 0600},
    };
    for (const auto& [args, file, expected] : rows) {
        fs::remove("key.bits");
        EXPECT_EQ(cli(args).status, 0) << file;
        EXPECT_EQ(mode(file), expected) << file;
    }
    ::umask(previous);
    EXPECT_EQ(cli({"decrypt", "-i", "both.txt", "-o", "out.txt"}).status, 0);
    EXPECT_EQ(mode("out.txt"), 0600u); // a replaced output keeps its permissions
    // -f replaces a key; a key whose encrypted hex could not be written is taken away again.
    write("key.bits", "old key\n");
    const ProcessResult full
        = testing::runProcess("/bin/sh", {"-c", "\"$0\" encrypt -k key.bits -f 12 >/dev/full", MORVALEN_CLI});
    EXPECT_EQ(full.status, 1);
    EXPECT_FALSE(fs::exists("key.bits"));
    EXPECT_EQ(cli({"encrypt", "-k", "key.bits", "-o", "out.txt", "abcd"}).status, 0);
    EXPECT_EQ(cli({"decrypt", "-k", "key.bits", "-i", "out.txt"}).out, "ABCD\n");
}

// Standard output, its other names and descriptors handed over by the shell are written where they
// stand: a redirection that appends keeps what it had, and nothing is renamed over /dev.
TEST_F(Cli, DescriptorNamesAreWrittenInPlace)
{
    const std::string both = cli({"encrypt", "12ab"}).out;
    write("both.txt", both);
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"\"$0\" decrypt -i both.txt -o /dev/stdout >>log", "earlier\n12AB\n"},
        {"\"$0\" decrypt -i both.txt -o /dev/fd/1 >>log", "earlier\n12AB\n"},
        {"\"$0\" decrypt -i both.txt -o /proc/self/fd/1 | cat >>log", "earlier\n12AB\n"},
        {"\"$0\" decrypt -i both.txt -o >(cat >>log); wait $!", "earlier\n12AB\n"},
        {"\"$0\" encrypt 12ab -k /dev/fd/3 3>>log >/dev/null", "earlier\n,"}, // and the key after
    };
    for (const auto& [command, expected] : rows) {
        write("log", "earlier\n");
        const ProcessResult result = testing::runProcess("/bin/bash", {"-c", command, MORVALEN_CLI});
        EXPECT_EQ(result.err, "") << command;
        EXPECT_EQ(read("log").substr(0, expected.size()), expected) << command;
    }
}

// A crash writes no core file, which would hold the key, whatever the shell's limit.
TEST_F(Cli, ACrashDumpsNoCore)
{
    ASSERT_EQ(::mkfifo("fifo", 0600), 0);
    const ProcessResult result = testing::runProcess("/bin/sh",
        {"-c", "ulimit -c unlimited; \"$0\" decrypt -k fifo 12 & sleep 0.3; kill -SEGV $! && echo sent; wait $!",
            MORVALEN_CLI});
    EXPECT_EQ(result.out, "sent\n"); // while it waited for its key
    for (const auto& [name, entry] : listing()) {
        EXPECT_FALSE(name.starts_with("core")) << name;
    }
}

// The key is written while the next of it is made; a write that fails there must still fail the
// command, name the file and leave nothing behind. A file size limit fails writes past 1 KiB with
// EFBIG, SIGXFSZ ignored by the shell or not; a key whose hex then cannot follow on standard
// output is taken away again.
TEST_F(Cli, AWriteThatFailsBehindTheWorkOrPastTheSizeLimitFailsTheCommand)
{
    write("plain.hex", std::string(200, '5'));
    write("log", std::string(2048, 'x'));
    for (const auto& [command, file] : std::vector<std::pair<std::string, std::string>> {
             {"trap '' XFSZ; ulimit -f 1 && \"$0\" encrypt -i plain.hex -o out.txt", "out.txt"},
             {"ulimit -f 1 && \"$0\" encrypt -i plain.hex -o out.txt -k key.bits", "key.bits"},
             {"ulimit -f 2 && \"$0\" encrypt -k key.bits 12 >>log", "<stdout>"}}) {
        const ProcessResult result = testing::runProcess("/bin/sh", {"-c", command, MORVALEN_CLI});
        EXPECT_EQ(result.status, 1) << command;
        EXPECT_EQ(result.err, "morvalen-cli: " + file + ": " + std::strerror(EFBIG) + "\n");
        EXPECT_EQ(listing().size(), 2u) << command; // plain.hex and log alone
    }
}

// Nothing reaches a stream before the whole input has been read and found valid: a key going to
// one is held back, beyond a few megabytes in an unnamed file in $TMPDIR that leaves no trace.
TEST_F(Cli, StreamsGetNothingBeforeTheInputIsValid)
{
    const std::string digits(100000, '5'); // a key of 6.6 MB
    write("good.hex", digits);
    write("bad.hex", digits + "G5");
    fs::create_directory("tmp");
    const std::vector<std::tuple<std::string, int, std::string>> rows = {
        {"\"$0\" encrypt -k /dev/fd/3 -i bad.hex 3>log", 1, ""},
        {"\"$0\" encrypt -k /dev/stdout -o enc -i bad.hex >log", 1, ""},
        {"\"$0\" encrypt -k /dev/fd/3 -i 12 3>log", 1, ""},
        // Through a pipe, which must get copies of the held-back bytes, not the pages wiped after.
        {"\"$0\" encrypt -k /dev/stdout -o enc -i good.hex | cat >log && \"$0\" decrypt -k log -i enc", 0, digits},
    };
    for (const auto& [command, status, out] : rows) {
        const ProcessResult result
            = testing::runProcess("/bin/sh", {"-c", "TMPDIR=tmp; export TMPDIR; " + command, MORVALEN_CLI});
        EXPECT_EQ(result.status, status) << command << result.err;
        EXPECT_EQ(result.out, out.empty() ? "" : out + "\n") << command;
        EXPECT_EQ(status == 0 ? 0 : fs::file_size("log"), 0u) << command;
        EXPECT_TRUE(fs::is_empty("tmp")) << command;
    }
}

// Two names that lead to one file, through links followed as the writes would follow them or
// by standard output redirected there, are refused before anything is written: the second write
// would destroy the first, a key with it.
TEST_F(Cli, NamesThatLeadToOneFileAreRefused)
{
    write("data.key", "old\n");
    write("in.hex", "12\n");
    write("key.bits", ",0000|\n");
    fs::create_symlink("data.key", "key.lnk");
    fs::create_symlink("in.hex", "in.lnk");
    fs::create_directory("b");
    fs::create_symlink("../t", "b/l1");
    fs::create_symlink("t", "l2");
    const std::vector<std::pair<Args, std::string>> rows = {
        {{"encrypt", "-k", "key.lnk", "-o", "data.key", "12"}, "-k key.lnk and -o data.key"},
        {{"encrypt", "-f", "-k", "key.lnk", "-o", "./data.key", "12"}, "-k key.lnk and -o ./data.key"},
        {{"encrypt", "-k", "b/l1", "-o", "l2", "12"}, "-k b/l1 and -o l2"}, // both dangling, to t
        {{"encrypt", "-i", "in.hex", "-o", "in.lnk"}, "-o in.lnk and -i in.hex"},
        {{"decrypt", "-i", "in.lnk", "-k", "key.bits", "-o", "in.hex"}, "-o in.hex and -i in.lnk"},
        {{"decrypt", "-k", "key.bits", "-o", "key.bits", "1"}, "-o key.bits and -k key.bits"},
    };
    const auto before = listing();
    for (const auto& [args, names] : rows) {
        const ProcessResult result = cli(args);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.err, "morvalen-cli: " + names + " name the same file.\n" + kTry);
        EXPECT_EQ(listing(), before) << names;
    }
    const ProcessResult redirected
        = testing::runProcess("/bin/sh", {"-c", "\"$0\" encrypt -f -k data.key 12 >>data.key", MORVALEN_CLI});
    EXPECT_EQ(redirected.status, 2);
    EXPECT_TRUE(redirected.err.starts_with("morvalen-cli: -k data.key and standard output name the same file."));
    EXPECT_EQ(read("data.key"), "old\n");
}

TEST_F(Cli, UsageErrorsTakeOneLineAndTheHint)
{
    const std::vector<std::pair<Args, std::string>> rows
        = {{{}, "no command"}, {{"frob"}, "'frob'"}, {{"encrypt", "12", "34"}, "one operand"},
            {{"decrypt", "12", "34", "56"}, "two operands"}, {{"encrypt", "-i", "p.hex", "12"}, "-i and HEX"},
            {{"decrypt", "-k", "k", "12", "34"}, "-k and BITS"}, {{"encrypt", "-f", "12"}, "-f only"},
            {{"decrypt", "-f", "-k", "k", "12"}, "-f only"}, {{"encrypt", "-k", "-", "12"}, "not '-'"},
            {{"encrypt", "-k", "", "12"}, "empty"}, {{"encrypt", "-k", "x", "--output=./x", "12"}, "same file"},
            {{"decrypt", "-k", "-"}, "-k -"}, {{"decrypt", "-i", "-", "-k", "-"}, "-k -"}, {{"encrypt", "-x"}, "'-x'"},
            {{"--frob=1", "encrypt"}, "'--frob'"}, {{"--version=1"}, "'--version' takes no"},
            {{"decrypt", "-o"}, "'-o'"}, {{"encrypt", "--output"}, "'--output'"}};
    for (const auto& [args, reason] : rows) {
        SCOPED_TRACE(reason);
        const ProcessResult result = cli(args);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        const std::size_t lineEnd = result.err.find('\n');
        EXPECT_TRUE(result.err.starts_with("morvalen-cli: ") && result.err.substr(0, lineEnd).find(reason) < lineEnd)
            << reason << ": " << result.err;
        EXPECT_EQ(result.err.substr(lineEnd + 1), kTry);
    }
    EXPECT_TRUE(listing().empty()); // found before any file is made
    const ProcessResult help = cli({"encrypt", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: morvalen-cli encrypt")) << help.out;
    EXPECT_EQ(cli({"-h"}).out, help.out);
    EXPECT_EQ(cli({"--version"}).out,
        "morvalen-cli " MORVALEN_VERSION "\ncipher path: " + std::string(cpuPathName(processCpuPath())) + "\n");
}

// The option table is the one list of options: the help is made from it and fits a terminal of 80
// columns, and the manual and the completion name exactly its options.
TEST_F(Cli, TheHelpTheManualAndTheCompletionFollowTheOptionTable)
{
    const std::string help(cli::usageText());
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80U) << line;
    }
    const std::string manual = read(MORVALEN_SOURCE_DIR "/share/man/morvalen-cli.1.scd");
    const std::string completion = read(MORVALEN_SOURCE_DIR "/share/completion/morvalen-cli");
    std::set<std::string> table;
    for (const cli::OptionEntry& entry : cli::optionTable()) {
        const std::string name = "--" + std::string(entry.longName);
        table.insert(name);
        std::string manualLine = entry.shortName != 0 ? "*-" + std::string(1, entry.shortName) + "*, " : "";
        manualLine += "*" + name + "*" + (entry.argument.empty() ? "\n" : "=_" + std::string(entry.argument) + "_\n");
        EXPECT_NE(manual.find("\n" + manualLine), std::string::npos) << manualLine;
        EXPECT_NE(
            help.find(name + (entry.argument.empty() ? " " : "=" + std::string(entry.argument))), std::string::npos)
            << name;
        if (entry.shortName != 0) {
            EXPECT_NE(help.find("-" + std::string(1, entry.shortName) + ", " + name), std::string::npos) << name;
        }
    }
    // No option the table lacks: every long option the manual or the completion names is in it.
    const std::regex longOption("--([a-z]+)");
    for (const std::string* text : {&manual, &completion}) {
        for (std::sregex_iterator it(text->begin(), text->end(), longOption), end; it != end; ++it) {
            const std::string name = it->str();
            if (name != "--inp") { // the manual's and the completion's example of an abbreviation
                EXPECT_TRUE(table.contains(name)) << name;
            }
        }
    }
    // And every option of the table is offered where it may stand.
    const ProcessResult offered = testing::runProcess("/bin/bash",
        {"-c",
            "source \"$1\"; for line in 'morvalen-cli ' 'morvalen-cli encrypt -' 'morvalen-cli decrypt -'; do "
            "COMP_LINE=$line; read -ra COMP_WORDS <<< \"$line\"; [[ $line == *' ' ]] && COMP_WORDS+=(''); "
            "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=(); _morvalen_cli; echo \"${COMPREPLY[*]}\"; done",
            "bash", MORVALEN_SOURCE_DIR "/share/completion/morvalen-cli"});
    EXPECT_EQ(offered.out,
        "encrypt decrypt --help --version\n-i --input= -o --output= -k --key= -f --force -h --help\n"
        "-i --input= -o --output= -k --key= -h --help\n");
    for (const std::string& name : table) {
        EXPECT_NE(offered.out.find(name), std::string::npos) << name;
    }
}

// Mistakes told as what was meant, with a hint, rather than as the first character that breaks a
// format; "-" as HEX or BITS is standard input, as for every GNU tool.
TEST_F(Cli, MistakesAreToldAsWhatWasMeant)
{
    write("p.hex", kPlain);
    ASSERT_EQ(cli({"encrypt", "-k", "p.key", "-o", "p.enc", "-i", "p.hex"}).status, 0);
    const std::string enc = read("p.enc");
    const std::string key = read("p.key");
    const std::string noKey = " holds no key after the encrypted hex.\n";
    const std::string keyFirst = "p.key holds a key where the encrypted hex belongs.\n";
    struct Row
    {
        Args args;
        std::string input;
        int status;
        std::string err; // after "morvalen-cli: "; usage errors end with the pointer to --help
        std::string out = {};
    };
    const std::vector<Row> rows = {
        {{"decrypt", "-i", "p.enc"}, "", 2, "no key given: p.enc" + noKey + "Give the key with -k KEYFILE.\n"},
        {{"decrypt"}, enc, 2, "no key given: <stdin>" + noKey + "Give the key with -k KEYFILE.\n"},
        {{"decrypt", "--", "1F"}, "", 2,
            "no key given: HEX" + noKey + "Give the key with -k KEYFILE, or as BITS after HEX.\n"},
        {{"decrypt", "-i", "p.key"}, "", 2,
            keyFirst + "Give the encrypted hex with -i FILE or as HEX, and the key with -k KEYFILE.\n"},
        {{"decrypt", "-k", "p.enc", "-i", "p.key"}, "", 2,
            keyFirst + "Were -i and -k swapped? -i takes the encrypted hex, -k the key.\n"},
        {{"encrypt", "p.hex"}, "", 2,
            "HEX p.hex is the name of a file, not hex.\nTo read the file, give it as -i p.hex.\n"},
        {{"decrypt", "p.enc"}, "", 2,
            "HEX p.enc is the name of a file, not hex.\nTo read the file, give it as -i p.enc.\n"},
        {{"decrypt", "1F", "p.key"}, "", 2,
            "BITS p.key is the name of a file, not a key.\nTo read the file, give it as -k p.key.\n"},
        {{"decrypt", "-", "-"}, "", 2, "HEX and BITS are both '-': standard input can give only one of them.\n"},
        {{"decrypt", "-", "-k", "p.key"}, enc, 0, "", kDecrypted},
        {{"decrypt", enc, "-"}, key, 0, "", kDecrypted},
        // Plain hex given to decrypt is still decrypted: it may have been edited on purpose.
        {{"decrypt", "-k", "p.key", "-i", "p.hex"}, "", 0,
            "warning: p.hex holds the digit 0, which encrypted hex never does: is this plain hex?\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.err);
        const ProcessResult result = cli(row.args, row.input);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.err, row.err.empty() ? "" : "morvalen-cli: " + row.err + (row.status == 2 ? kTry : ""));
        if (row.status == 0 && row.out.empty()) {
            EXPECT_EQ(result.out.size(), enc.size());
        } else {
            EXPECT_EQ(result.out, row.out);
        }
    }
    const ProcessResult fromStdin = cli({"encrypt", "-"}, kPlain);
    EXPECT_EQ(cli({"decrypt"}, fromStdin.out).out, kDecrypted);
}

// The program itself, as a script sees it: exit statuses, and what goes to which stream. The help
// and the version are output like any other: when they cannot be written, the program says so.
TEST_F(Cli, TheProgramExitsAsScriptsExpect)
{
    const std::string full = std::strerror(ENOSPC);
    const std::string closed = std::strerror(EBADF);
    const std::pair<std::string, std::string> rows[] = {
        {"\"$0\" encrypt 0a1b | \"$0\" decrypt", "00A1B\n"},
        {"\"$0\" frob", "2morvalen-cli: unknown command 'frob'; say encrypt or decrypt.\n" + kTry},
        {"\"$0\" --help >/dev/full", "1morvalen-cli: <stdout>: " + full + "\n"},
        {"\"$0\" --version >/dev/full", "1morvalen-cli: <stdout>: " + full + "\n"},
        {"\"$0\" --help >&-", "1morvalen-cli: <stdout>: " + closed + "\n"},
        // A file opened later does not take the closed stream's place and get the hex.
        {"\"$0\" encrypt -k k.bits 12 >&-; test ! -e k.bits", "0morvalen-cli: <stdout>: " + closed + "\n"},
    };
    for (const auto& [command, expected] : rows) {
        const ProcessResult result = testing::runProcess("/bin/sh", {"-c", command, MORVALEN_CLI});
        EXPECT_EQ(std::to_string(result.status) + result.out + result.err, expected);
    }
}

// 8 MiB of hex takes a key of about 560 MB: both ways of carrying it must stream it, in a
// process that may map only 256 MB and whose peak resident memory stays below that. Under
// qemu-user the cap would cap the emulator too, so there the peak alone shows the bound, the
// emulator's own memory counted with the program's.
TEST_F(Cli, EightMebibytesRoundTripInAQuarterGigabyte)
{
    if (testing::kUnderAddressSanitizer) {
        GTEST_SKIP() << "the sanitizer's shadow memory alone exceeds the cap";
    }
    const std::string plain = testing::repeat("0123456789abcDEF", 1 << 19);
    write("plain.hex", plain);
    const ProcessResult result = testing::runProcess("/bin/sh",
        {"-c",
            std::string(testing::kUnderEmulator ? "" : "ulimit -v 262144 && ")
                + "\"$0\" encrypt -i plain.hex -o enc.hex -k key.bits"
                  " && \"$0\" decrypt -i enc.hex -k key.bits -o files.hex"
                  " && \"$0\" encrypt -i plain.hex | \"$0\" decrypt -o stream.hex",
            MORVALEN_CLI});
    EXPECT_EQ(result.err + std::to_string(result.status), "0");
    // The largest of the processes waited for, this test's own before it started the shell included.
    rusage children {};
    ::getrusage(RUSAGE_CHILDREN, &children);
    EXPECT_LT(children.ru_maxrss, 256 * 1024) << "peak resident kilobytes";
    EXPECT_GT(fs::file_size("key.bits"), plain.size() * 60);
    EXPECT_TRUE(read("files.hex") == testing::upper(plain) + "\n");
    EXPECT_TRUE(read("stream.hex") == testing::upper(plain) + "\n");
}

} // namespace
} // namespace morvalen
