// morvalen-cli: the cipher for scripts. Errors go to standard error with exit status 1, usage
// errors with exit status 2. Output appears only once the input has been read and checked:
// standard output gets nothing from a command that fails, and files named by -o and -k are
// renamed into place only when everything in them is written.
#include "cipher/cipher.h"
#include "cipher/masklog.h"
#include "io.h"
#include "textconv/boxtext.h"
#include "textconv/errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <getopt.h>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvalen::cli {
namespace {

constexpr std::string_view kUsage = R"(Usage: morvalen-cli encrypt [-i FILE] [-o FILE] [-k KEYFILE [-f]] [HEX]
       morvalen-cli decrypt [-i FILE] [-o FILE] [-k KEYFILE] [HEX [BITS]]
       morvalen-cli --help | --version

Encrypts hex with fresh random 4-bit masks, and decrypts it with the key that lists them
(the encrypting bits).

  encrypt   Encrypts HEX, or the input. Writes the encrypted hex on one line and the key on
            the next, or with -k the key to KEYFILE and only the encrypted hex.
  decrypt   Decrypts the encrypted hex in HEX, or in the input, with the key in BITS or in
            KEYFILE. Without either, the input holds both (see below). Writes the plain hex,
            two upper-case digits per byte.

  -i, --input=FILE    read the input from FILE; '-' or no -i and no HEX: standard input
  -o, --output=FILE   write the output to FILE; '-' or no -o: standard output
  -k, --key=KEYFILE   encrypt: write the key to KEYFILE, created with permissions 0600;
                      an existing KEYFILE is refused, as the data its key decrypts would be lost.
                      decrypt: read the key from KEYFILE ('-': standard input).
  -f, --force         encrypt: replace an existing KEYFILE
  -h, --help          show this help and exit
      --version       show the version and exit

One stream: decrypt without -k and without BITS reads the encrypted hex and the key from one
input. The encrypted hex is everything before the first ',' or '|', the key is the rest. So
what encrypt writes decrypts as it stands:  morvalen-cli encrypt < plain.hex | morvalen-cli decrypt

Blanks and line breaks carry no meaning in any input, hex digits may be lower case, and a UTF-8
byte order mark at the start of an input is skipped. Files named by -o and -k appear whole or
not at all. Errors read 'morvalen-cli: NAME:LINE:COLUMN: what is wrong', NAME being the file,
<stdin>, HEX or BITS.

Exit status: 0 on success, 1 for an invalid input or a file that cannot be read or written,
2 for a usage error.
)";

constexpr int kFailure = 1;
constexpr int kUsageError = 2;
// Digits encrypted between two writes of the key: about a megabyte of key text.
constexpr std::size_t kDigitsPerSlice = 16384;

struct UsageError
{
    std::string message;
};

// An input error with the name of the input it is about.
struct NamedError
{
    std::string name;
    Error error;
};

struct Options
{
    std::string command;
    std::vector<std::string> operands; // after the command
    std::optional<std::string> input;
    std::optional<std::string> output;
    std::optional<std::string> key;
    bool force = false;
};

// Runs read, naming whichever input an error is about.
template<typename Read>
void naming(const std::string& hexName, const std::string& keyName, Read&& read)
{
    try {
        read();
    } catch (const Error& e) {
        throw NamedError {e.input() == ErrorInput::EncryptingBits ? keyName : hexName, e};
    }
}

Input hexInput(const Options& options)
{
    return options.operands.empty() ? Input::file(options.input.value_or("-"))
                                    : Input::argument(options.operands.front(), "HEX");
}

int encrypt(const Options& options)
{
    std::optional<Output> key;
    if (options.key) {
        key.emplace(*options.key, Output::Kind::Key, options.force);
    }
    Output out(options.output.value_or("-"), Output::Kind::Text, false);
    Input in = hexInput(options);
    Encryptor encryptor;
    ByteBuffer encrypted;
    std::string keyText;
    KeyWriter keyWriter(keyText);
    // Without a key file the key follows the encrypted hex, so it is kept at four bits a mask
    // until that is written.
    MaskLog masks;
    MaskGroupSink& groups = key ? static_cast<MaskGroupSink&>(keyWriter) : masks;
    naming(in.name(), in.name(), [&] {
        HexReader hex(ErrorInput::PlainHex);
        for (std::string_view piece = in.next(); !piece.empty(); piece = in.next()) {
            char* digits = encrypted.room(piece.size());
            const std::size_t count = hex.read(piece, digits);
            for (std::size_t done = 0; done < count; done += kDigitsPerSlice) {
                encryptor.encrypt({digits + done, std::min(kDigitsPerSlice, count - done)}, groups);
                if (key) {
                    key->writeAndClear(keyText);
                }
            }
            encrypted.append(count);
        }
        hex.finish();
    });
    // Everything is written before anything is renamed into place, so that a failed write, even
    // to standard output, leaves the key file as it was: -f never trades a working key for a
    // failed run.
    out.write(encrypted.view());
    out.write("\n");
    if (!key) {
        while (masks.replay(keyWriter, kDigitsPerSlice) > 0) {
            out.writeAndClear(keyText);
        }
        out.write("\n");
    }
    out.finish();
    if (key) {
        key->finish();
        key->commit();
    }
    out.commit();
    return 0;
}

int decrypt(const Options& options)
{
    Output out(options.output.value_or("-"), Output::Kind::Text, false);
    Input in = hexInput(options);
    ByteBuffer digits;
    const auto readHex
        = [&](HexReader& hex, std::string_view piece) { digits.append(hex.read(piece, digits.room(piece.size()))); };
    if (options.key || options.operands.size() == 2) {
        Input keyIn = options.key ? Input::file(*options.key) : Input::argument(options.operands[1], "BITS");
        naming(in.name(), keyIn.name(), [&] {
            HexReader hex(ErrorInput::EncryptedHex);
            for (std::string_view piece = in.next(); !piece.empty(); piece = in.next()) {
                readHex(hex, piece);
            }
            hex.finish();
            KeyReader key(digits.span());
            for (std::string_view piece = keyIn.next(); !piece.empty(); piece = keyIn.next()) {
                key.read(piece);
            }
            key.finish();
        });
    } else {
        naming(in.name(), in.name(), [&] {
            OneStreamReader reader;
            for (std::string_view piece = in.next(); !piece.empty(); piece = in.next()) {
                if (!reader.inKey()) {
                    digits.append(reader.readHex(piece, digits.room(piece.size())));
                }
                if (!piece.empty()) {
                    reader.readKey(digits.span(), piece);
                }
            }
            reader.finish(digits.span());
        });
    }
    out.write(digits.view());
    out.write("\n");
    out.commit();
    return 0;
}

void check(bool ok, const char* message)
{
    if (!ok) {
        throw UsageError {message};
    }
}

// Whether two names, each perhaps not yet a file, lead to the same file.
bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code error;
    if (std::filesystem::equivalent(a, b, error)) {
        return true;
    }
    // Made absolute first: of a path none of whose parts exist, libstdc++ keeps it relative.
    const auto resolved = [&](const std::string& name) {
        return std::filesystem::weakly_canonical(std::filesystem::absolute(name, error), error);
    };
    const std::filesystem::path pathA = resolved(a);
    const std::filesystem::path pathB = error ? std::filesystem::path() : resolved(b);
    return error ? a == b : pathA == pathB;
}

// Usage errors are found before anything is read or written.
void checkCombination(const Options& o)
{
    const bool encrypting = o.command == "encrypt";
    const std::size_t most = encrypting ? 1 : 2;
    check(o.operands.size() <= most,
        encrypting ? "encrypt takes at most one operand, HEX." : "decrypt takes at most two operands, HEX and BITS.");
    check(!o.input || o.operands.empty(), "-i and HEX both give the input; give one of them.");
    check(!o.force || (encrypting && o.key), "-f only goes with encrypt -k, to replace a key file.");
    if (encrypting) {
        check(o.key != "-", "encrypt writes the key to a file: -k needs a file name, not '-'.");
        check(!o.key || !o.output || !sameFile(*o.key, *o.output), "-o and -k name the same file.");
    } else {
        check(!o.key || o.operands.size() < 2, "-k and BITS both give the key; give one of them.");
        check(o.key != "-" || !o.operands.empty() || (o.input && *o.input != "-"),
            "-k - reads the key from standard input, so the hex needs HEX or -i FILE.");
    }
}

Options parse(int argc, char** argv)
{
    static const option kLong[]
        = {{"input", required_argument, nullptr, 'i'}, {"output", required_argument, nullptr, 'o'},
            {"key", required_argument, nullptr, 'k'}, {"force", no_argument, nullptr, 'f'},
            {"help", no_argument, nullptr, 'h'}, {"version", no_argument, nullptr, 'V'}, {nullptr, 0, nullptr, 0}};
    Options options;
    opterr = 0; // our own messages, which name the program the same way wherever it is installed
    for (;;) {
        const int c = getopt_long(argc, argv, ":i:o:k:fh", kLong, nullptr);
        const std::string given = optind > 0 && optind <= argc ? argv[optind - 1] : "";
        switch (c) {
        case -1:
            for (int i = optind; i < argc; ++i) {
                options.operands.emplace_back(argv[i]);
            }
            check(!options.operands.empty(), "no command given; say encrypt or decrypt.");
            options.command = options.operands.front();
            options.operands.erase(options.operands.begin());
            if (options.command != "encrypt" && options.command != "decrypt") {
                throw UsageError {"unknown command '" + options.command + "'; say encrypt or decrypt."};
            }
            checkCombination(options);
            return options;
        case 'i': options.input = optarg; break;
        case 'o': options.output = optarg; break;
        case 'k': options.key = optarg; break;
        case 'f': options.force = true; break;
        case 'h': options.command = "--help"; return options;
        case 'V': options.command = "--version"; return options;
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

int run(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    if (options.command == "--help") {
        std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
        return 0;
    }
    if (options.command == "--version") {
        std::puts("morvalen-cli 1.0.0.0");
        return 0;
    }
    removeTemporariesOnSignals();
    return options.command == "encrypt" ? encrypt(options) : decrypt(options);
}

} // namespace
} // namespace morvalen::cli

int main(int argc, char** argv)
{
    using namespace morvalen::cli;
    try {
        const int status = run(argc, argv);
        if (std::fflush(stdout) != 0) {
            throw FileError {"<stdout>", std::strerror(errno)};
        }
        return status;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "morvalen-cli: %s\nTry 'morvalen-cli --help' for more information.\n", e.message.c_str());
        return kUsageError;
    } catch (const NamedError& e) {
        if (e.error.citesPlace()) {
            std::fprintf(stderr, "morvalen-cli: %s:%zu:%zu: %s\n", e.name.c_str(), e.error.place().line,
                e.error.place().column, e.error.detail().c_str());
        } else {
            std::fprintf(stderr, "morvalen-cli: %s: %s\n", e.name.c_str(), e.error.detail().c_str());
        }
    } catch (const FileError& e) {
        std::fprintf(stderr, "morvalen-cli: %s: %s\n", e.name.c_str(), e.what.c_str());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "morvalen-cli: not enough memory for this input.\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morvalen-cli: %s\n", e.what());
    }
    return kFailure;
}
