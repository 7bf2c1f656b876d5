#include "options.h"

#include "version.h"

#include <cerrno>
#include <getopt.h>
#include <string>
#include <vector>

namespace morvalen::cli {
namespace {

constexpr std::string_view kUsageHead = R"(Usage: morvalen-cli encrypt [-i FILE] [-o FILE] [-k KEYFILE [-f]] [HEX]
       morvalen-cli decrypt [-i FILE] [-o FILE] [-k KEYFILE] [HEX [BITS]]
       morvalen-cli --help | --version

Encrypts hex with fresh random 4-bit masks, and decrypts it with the key that
lists them (the encrypting bits).

  encrypt   Encrypts HEX, or the input. Writes the encrypted hex on one line
            and the key on the next, or with -k the key to KEYFILE and only
            the encrypted hex.
  decrypt   Decrypts the encrypted hex in HEX, or in the input, with the key in
            BITS or in KEYFILE. Without either, the input holds both (see
            below). Writes the plain hex, two upper-case digits per byte.

)";

constexpr std::string_view kUsageTail = R"(
'-' as FILE, as decrypt's KEYFILE, as HEX or as BITS means standard input;
-o - means standard output.

One stream: decrypt without -k and without BITS reads the encrypted hex and the
key from one input. The encrypted hex is everything before the first ',' or
'|', the key is the rest. So what encrypt writes decrypts as it stands:
  morvalen-cli encrypt < plain.hex | morvalen-cli decrypt

A wrong key cannot be detected: another key of the same length decrypts to
other hex, with exit status 0. Keep each key with its encrypted hex.

BITS on the command line, like any argument, can be read by every user of the
machine while the command runs (ps, /proc): keep keys in files readable by you
alone, and give them with -k.

Blanks and line breaks carry no meaning in any input, hex digits may be lower
case, and a UTF-8 byte order mark at the start of an input is skipped. Files
named by -o and -k appear whole or not at all, and are on the disk when the
command succeeds; a file that holds a key is created with permissions 0600.
Errors read 'morvalen-cli: NAME:LINE:COLUMN: what is wrong', NAME being the
file, <stdin>, HEX or BITS.

Exit status: 0 on success, 1 for an invalid input or a file that cannot be read
or written, 2 for a usage error.
)";

constexpr std::size_t kHelpColumn = 22; // where the options' descriptions begin

std::string makeUsage()
{
    std::string text(kUsageHead);
    for (const OptionEntry& entry : optionTable()) {
        std::string head = entry.shortName != 0 ? std::string("  -") + entry.shortName + ", " : std::string(6, ' ');
        head += "--" + std::string(entry.longName);
        if (!entry.argument.empty()) {
            // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) of "=" + string.
            head += '=';
            head += entry.argument;
        }
        head.resize(kHelpColumn, ' ');
        // Each line of the description after the first begins at the same column.
        std::string_view help = entry.help;
        for (std::size_t end = help.find('\n'); !help.empty(); end = help.find('\n')) {
            text += head + std::string(help.substr(0, end)) + "\n";
            head.assign(kHelpColumn, ' ');
            help.remove_prefix(end == std::string_view::npos ? help.size() : end + 1);
        }
    }
    return text + std::string(kUsageTail);
}

// getopt_long's short option string: ':' first for our own message on a missing argument.
std::string makeShortOptions()
{
    std::string text = ":";
    for (const OptionEntry& entry : optionTable()) {
        if (entry.shortName != 0) {
            text += entry.shortName;
            text += entry.argument.empty() ? "" : ":";
        }
    }
    return text;
}

std::vector<option> makeLongOptions()
{
    std::vector<option> options;
    for (const OptionEntry& entry : optionTable()) {
        options.push_back(
            {entry.longName.data(), entry.argument.empty() ? no_argument : required_argument, nullptr, entry.code});
    }
    options.push_back({nullptr, 0, nullptr, 0});
    return options;
}

void check(bool ok, const char* message)
{
    if (!ok) {
        throw UsageError {message};
    }
}

// Usage errors are found before anything is read or written.
void checkCombination(const Options& o)
{
    const bool encrypting = o.command == Command::Encrypt;
    const std::size_t most = encrypting ? 1 : 2;
    check(o.operands.size() <= most,
        encrypting ? "encrypt takes at most one operand, HEX." : "decrypt takes at most two operands, HEX and BITS.");
    check(!o.input || o.operands.empty(), "-i and HEX both give the input; give one of them.");
    check(o.input != "" && o.output != "" && o.key != "", "a file name may not be empty.");
    check(!o.force || (encrypting && o.key), "-f only goes with encrypt -k, to replace a key file.");
    const bool hexFromStdin = o.operands.empty() ? o.input.value_or("-") == "-" : o.operands.front() == "-";
    if (encrypting) {
        check(o.key != "-", "encrypt writes the key to a file: -k needs a file name, not '-'.");
    } else {
        check(!o.key || o.operands.size() < 2, "-k and BITS both give the key; give one of them.");
        check(
            o.key != "-" || !hexFromStdin, "-k - reads the key from standard input, so the hex needs HEX or -i FILE.");
        check(o.operands.size() < 2 || !hexFromStdin || o.operands[1] != "-",
            "HEX and BITS are both '-': standard input can give only one of them.");
    }
}

} // namespace

Options parseOptions(std::span<char* const> args)
{
    static const std::vector<option> kLong = makeLongOptions();
    static const std::string kShort = makeShortOptions();
    const int argc = static_cast<int>(args.size());
    char* const* argv = args.data();
    Options options;
    optind = 0; // starts getopt_long afresh, so that it can parse more than one command line
    opterr = 0; // our own messages, which name the program the same way wherever it is installed
    for (;;) {
        const int c = getopt_long(argc, argv, kShort.c_str(), kLong.data(), nullptr);
        const std::string given = optind > 0 && optind <= argc ? argv[optind - 1] : "";
        switch (c) {
        case -1:
            for (int i = optind; i < argc; ++i) {
                options.operands.emplace_back(argv[i]);
            }
            check(!options.operands.empty(), "no command given; say encrypt or decrypt.");
            if (options.operands.front() != "encrypt" && options.operands.front() != "decrypt") {
                throw UsageError {"unknown command '" + options.operands.front() + "'; say encrypt or decrypt."};
            }
            options.command = options.operands.front() == "encrypt" ? Command::Encrypt : Command::Decrypt;
            options.operands.erase(options.operands.begin());
            checkCombination(options);
            return options;
        case 'i': options.input = optarg; break;
        case 'o': options.output = optarg; break;
        case 'k': options.key = optarg; break;
        case 'f': options.force = true; break;
        case 'h': options.command = Command::Help; return options;
        case 'V': options.command = Command::Version; return options;
        case ':':
            throw UsageError {"option '" + (given.starts_with("--") ? given : "-" + std::string(1, char(optopt)))
                + "' needs a file name."};
        default:
            if (given.starts_with("--")) {
                // A long option known but given "=VALUE" sets optopt to its short code, which is
                // not what was typed: name it as given.
                const std::string name = given.substr(0, given.find('='));
                throw UsageError {
                    optopt != 0 ? "option '" + name + "' takes no argument." : "unknown option '" + name + "'."};
            }
            throw UsageError {"unknown option '-" + std::string(1, static_cast<char>(optopt)) + "'."};
        }
    }
}

std::span<const OptionEntry> optionTable()
{
    static constexpr OptionEntry kOptions[] = {
        {'i', 'i', "input", "FILE", "read the input from FILE; no -i and no HEX: standard input"},
        {'o', 'o', "output", "FILE", "write the output to FILE; no -o: standard output"},
        {'k', 'k', "key", "KEYFILE",
            "encrypt: write the key to KEYFILE, created with\n"
            "permissions 0600; an existing KEYFILE is refused, as the\n"
            "data its key decrypts would be lost. decrypt: read the\n"
            "key from KEYFILE"},
        {'f', 'f', "force", "", "encrypt: replace an existing KEYFILE"},
        {'h', 'h', "help", "", "show this help and exit"},
        {0, 'V', "version", "", "show the version and the cipher path, exit"},
    };
    return kOptions;
}

std::string_view usageText()
{
    static const std::string kUsage = makeUsage();
    return kUsage;
}

std::string versionText()
{
    return std::string("morvalen-cli ") + MORVALEN_VERSION + "\n";
}

} // namespace morvalen::cli
