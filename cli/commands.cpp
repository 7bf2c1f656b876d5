#include "commands.h"

#include "cipher/cipher.h"
#include "cipher/masklog.h"
#include "cipher/pipeline.h"
#include "io.h"
#include "mistakes.h"
#include "names.h"
#include "output.h"
#include "secret.h"
#include "textconv/boxtext.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

namespace morvalen::cli {
namespace {

// Digits encrypted between two writes of the key: about a megabyte of key text.
constexpr std::size_t kDigitsPerSlice = 16384;
// Twice what a slice's key text takes with groups of 13 masks.
constexpr std::size_t kKeyRoom = std::size_t {2} << 20;

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

// An operand's text, or standard input for "-".
Input operandInput(const std::string& operand, std::string name, const Streams& streams)
{
    return operand == "-" ? Input::file("-", streams.in) : Input::argument(operand, std::move(name));
}

Input hexInput(const Options& options, const Streams& streams)
{
    return options.operands.empty() ? Input::file(options.input.value_or("-"), streams.in)
                                    : operandInput(options.operands.front(), "HEX", streams);
}

} // namespace

void encrypt(const Options& options, const Streams& streams)
{
    std::optional<Output> key;
    if (options.key) {
        key.emplace(
            *options.key, Output::Kind::Secret, options.force ? Output::Existing::Replace : Output::Existing::Refuse);
        key->holdBack(); // a stream gets no key before the whole input is found valid
    }
    // Without a key file the output holds the key too.
    Output out(options.output.value_or("-"), key ? Output::Kind::Text : Output::Kind::Secret, Output::Existing::Replace,
        streams.out);
    Input in = hexInput(options, streams);
    Encryptor encryptor;
    ByteBuffer encrypted;
    std::string keyText;
    // Room for a slice's key from the start, so that no smaller copy of it is freed unwiped.
    keyText.reserve(kKeyRoom);
    KeyWriter keyWriter(keyText);
    // Without a key file the key follows the encrypted hex, so it is kept at four bits a mask
    // until that is written.
    MaskLog masks;
    MaskGroupSink& groups = key ? static_cast<MaskGroupSink&>(keyWriter) : masks;
    const WipedOnExit wiped(keyText);
    naming(in.name(), in.name(), [&] {
        encryptPieces([&] { return in.next(); }, encrypted, encryptor, groups, kDigitsPerSlice,
            [&] {
                if (key) {
                    key->writeAndClear(keyText);
                }
            });
    });
    if (!key) {
        out.write(encrypted.view());
        out.write("\n");
        while (masks.replay(keyWriter, kDigitsPerSlice) > 0) {
            out.writeAndClear(keyText);
        }
        out.write("\n");
        out.commit();
        return;
    }
    // The key is safely in place before any of the encrypted hex is: ciphertext without its key
    // is lost data. Where both go to files, a crash leaves no new key beside an old hex or the
    // reverse; where the hex goes to a stream, a key whose hex could not be written is taken away.
    key->finish();
    if (out.inPlace()) {
        key->placeProvisionally();
    }
    out.write(encrypted.view());
    out.write("\n");
    if (out.inPlace()) {
        out.finish();
        key->confirm();
    } else {
        commitPair(*key, out);
    }
}

void decrypt(const Options& options, const Streams& streams)
{
    Output out(options.output.value_or("-"), Output::Kind::Text, Output::Existing::Replace, streams.out);
    Input in = hexInput(options, streams);
    ByteBuffer digits;
    if (options.key || options.operands.size() == 2) {
        Input keyIn
            = options.key ? Input::file(*options.key, streams.in) : operandInput(options.operands[1], "BITS", streams);
        naming(in.name(), keyIn.name(), [&] {
            Start start = Start::Unknown;
            const auto hexPieces = [&] {
                const std::string_view piece = in.next();
                if (start == Start::Unknown && (start = startOf(piece)) == Start::Key) {
                    throw keyInsteadOfHex(in.name(), options);
                }
                return piece;
            };
            // The key is first asked for once the whole encrypted hex is read.
            bool hexRead = false;
            const auto keyPieces = [&] {
                if (!std::exchange(hexRead, true)) {
                    warnIfPlainHex(digits.view(), in.name(), streams.err);
                }
                return keyIn.next();
            };
            decryptPieces(hexPieces, keyPieces, digits);
        });
    } else {
        naming(in.name(), in.name(), [&] {
            decryptOneStream([&] { return in.next(); }, digits,
                [&] {
                    if (digits.view().empty()) {
                        throw keyInsteadOfHex(in.name(), options);
                    }
                    warnIfPlainHex(digits.view(), in.name(), streams.err);
                },
                [&] {
                    if (!digits.view().empty()) {
                        throw noKeyAfterHex(in.name());
                    }
                });
        });
    }
    out.write(digits.view());
    out.write("\n");
    out.commit();
}

namespace {

// 0, or the error that stopped the writing. Nothing more can be done should a report itself fail.
int print(int fd, const std::string& text)
{
    for (std::string_view rest = text; !rest.empty();) {
        const ssize_t written = ::write(fd, rest.data(), rest.size());
        if (written <= 0 && errno != EINTR) {
            return written < 0 ? errno : EIO;
        }
        rest.remove_prefix(written > 0 ? static_cast<std::size_t>(written) : 0);
    }
    return 0;
}

// Help and version text go to standard output as any output does: a failure is an error.
void printOut(int fd, const std::string& text)
{
    if (const int error = print(fd, text); error != 0) {
        throw FileError {"<stdout>", std::strerror(error)};
    }
}

std::string describe(const NamedError& e)
{
    const std::string name = printableName(e.name);
    if (e.error.citesPlace()) {
        return name + ":" + std::to_string(e.error.place().line) + ":" + std::to_string(e.error.place().column) + ": "
            + e.error.detail();
    }
    return name + ": " + e.error.detail();
}

} // namespace

int run(std::span<char* const> args, const Streams& streams)
{
    try {
        const Options options = parseOptions(args);
        checkOperands(options);
        checkDistinctFiles(options, streams);
        warningsTo(streams.err);
        switch (options.command) {
        case Command::Help: printOut(streams.out, std::string(usageText())); break;
        case Command::Version:
            printOut(streams.out, versionText() + "cipher path: " + std::string(cpuPathName(processCpuPath())) + "\n");
            break;
        case Command::Encrypt: encrypt(options, streams); break;
        case Command::Decrypt: decrypt(options, streams); break;
        }
        return 0;
    } catch (const UsageError& e) {
        const std::string hint = e.hint.empty() ? "" : e.hint + "\n";
        print(streams.err,
            "morvalen-cli: " + e.message + "\n" + hint + "Try 'morvalen-cli --help' for more information.\n");
        return 2;
    } catch (const NamedError& e) {
        print(streams.err, "morvalen-cli: " + describe(e) + "\n");
    } catch (const FileError& e) {
        print(streams.err, "morvalen-cli: " + printableName(e.name) + ": " + e.what + "\n");
    } catch (const std::bad_alloc&) {
        print(streams.err, "morvalen-cli: not enough memory for this input.\n");
    } catch (const std::exception& e) {
        print(streams.err, "morvalen-cli: " + std::string(e.what()) + "\n");
    }
    return 1;
}

} // namespace morvalen::cli
