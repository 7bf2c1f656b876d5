// morvalen-cli: the cipher for scripts. Errors go to standard error with exit status 1, usage
// errors with exit status 2, and nothing is printed on standard output unless the command succeeds.
#include "cipher/cipher.h"
#include "textconv/errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::string_view kUsage = R"(Usage: morvalen-cli encrypt [HEX]
       morvalen-cli decrypt [HEX BITS]
       morvalen-cli --help | --version

  encrypt   Encrypt HEX, or without it all of standard input, with fresh random masks.
            Prints the encrypted hex on line 1 and the encrypting bits (the key) on line 2.
  decrypt   Decrypt HEX with the encrypting bits BITS. Without arguments it reads standard
            input: the encrypted hex on the first line, the encrypting bits after it.
            Prints the plain hex, two upper-case digits per byte.

Blanks and line breaks carry no meaning in any input; hex digits may be lower case.
Exit status: 0 on success, 1 when the input is invalid, 2 for a usage error.
)";

constexpr int kFailure = 1;
constexpr int kUsageError = 2;

struct UsageError
{
    std::string message;
};

struct WriteError
{
    int error;
};

// All of standard input. Grown with realloc, which moves a large block by remapping its pages
// rather than copying them, so a 70 MB key never stands in memory twice while it is read.
// (No huge-page hint here: it would split the mapping, and remapping then falls back to a copy.)
class StandardInput
{
public:
    StandardInput()
    {
        for (;;) {
            if (m_capacity - m_size < kChunk) {
                grow();
            }
            const ssize_t got = ::read(STDIN_FILENO, m_data + m_size, m_capacity - m_size);
            if (got == 0) {
                break;
            }
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                throw morvalen::Error(morvalen::ErrorKind::InvalidInput,
                    std::string("cannot read standard input: ") + std::strerror(errno));
            }
            m_size += static_cast<std::size_t>(got);
        }
    }

    StandardInput(const StandardInput&) = delete;
    StandardInput& operator=(const StandardInput&) = delete;
    ~StandardInput() { std::free(m_data); }

    std::string_view text() const { return {m_data, m_size}; }

private:
    static constexpr std::size_t kChunk = 1 << 16;

    void grow()
    {
        const std::size_t capacity = std::max(m_capacity * 2, 4 * kChunk);
        void* data = std::realloc(m_data, capacity);
        if (data == nullptr) {
            throw std::bad_alloc();
        }
        m_data = static_cast<char*>(data);
        m_capacity = capacity;
    }

    char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

void writeLine(std::string_view text)
{
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fputc('\n', stdout) == EOF) {
        throw WriteError {errno};
    }
}

int encryptCommand(const std::vector<std::string_view>& args)
{
    if (args.size() > 1) {
        throw UsageError {"encrypt takes at most one argument, HEX."};
    }
    std::string hex = args.empty() ? std::string(StandardInput().text()) : std::string(args[0]);
    const morvalen::EncryptResult result = morvalen::encrypthexbytes(hex);
    writeLine(result.encryptedHex);
    writeLine(result.encryptingBits);
    return 0;
}

int decryptCommand(const std::vector<std::string_view>& args)
{
    if (args.size() == 1 || args.size() > 2) {
        throw UsageError {"decrypt takes no arguments, or both HEX and BITS."};
    }
    if (!args.empty()) {
        std::string hex(args[0]);
        writeLine(morvalen::decrypthexbytes(hex, args[1]));
        return 0;
    }
    const StandardInput input;
    const std::string_view text = input.text();
    const std::size_t lineEnd = std::min(text.find('\n'), text.size());
    std::string hex(text.substr(0, lineEnd));
    writeLine(morvalen::decrypthexbytes(hex, text.substr(std::min(lineEnd + 1, text.size()))));
    return 0;
}

int run(const std::vector<std::string_view>& argv)
{
    std::vector<std::string_view> operands;
    bool optionsEnded = false;
    for (const std::string_view arg : argv) {
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            writeLine(kUsage.substr(0, kUsage.size() - 1));
            return 0;
        } else if (!optionsEnded && arg == "--version") {
            writeLine("morvalen-cli 1.0.0.0");
            return 0;
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            throw UsageError {"unknown option '" + std::string(arg) + "'."};
        } else {
            operands.push_back(arg);
        }
    }
    if (operands.empty()) {
        throw UsageError {"no command given."};
    }
    const std::string_view command = operands.front();
    operands.erase(operands.begin());
    if (command == "encrypt") {
        return encryptCommand(operands);
    }
    if (command == "decrypt") {
        return decryptCommand(operands);
    }
    throw UsageError {"unknown command '" + std::string(command) + "'."};
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const int status = run(std::vector<std::string_view>(argv + 1, argv + argc));
        if (std::fflush(stdout) != 0) {
            throw WriteError {errno};
        }
        return status;
    } catch (const UsageError& e) {
        std::fprintf(stderr, "morvalen-cli: %s\n%s", e.message.c_str(), kUsage.data());
        return kUsageError;
    } catch (const WriteError& e) {
        std::fprintf(stderr, "morvalen-cli: cannot write the output: %s\n", std::strerror(e.error));
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "morvalen-cli: not enough memory for this input.\n");
    } catch (const morvalen::Error& e) {
        std::fprintf(stderr, "morvalen-cli: %s\n", e.what());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "morvalen-cli: %s\n", e.what());
    }
    return kFailure;
}
