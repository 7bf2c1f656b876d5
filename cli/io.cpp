#include "io.h"

#include "textconv/boxtext.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace morvalen::cli {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kPieceSize = std::size_t {1} << 20;

std::string errorText(int error)
{
    return std::strerror(error);
}

// Bytes of the character at the start of text when a terminal shows it as one (valid UTF-8, by
// the product's one decoder, and no control character), or 0.
std::size_t shownLength(std::string_view text)
{
    const DecodedCharacter c = decodeCharacter(text, 0);
    const bool invalid = c.codePoint == 0xFFFD && c.length == 1;
    const bool control = c.codePoint < 0x20 || (c.codePoint >= 0x7F && c.codePoint < 0xA0);
    return invalid || control ? 0 : c.length;
}

} // namespace

std::string printableName(std::string_view name)
{
    bool plain = true;
    for (std::size_t i = 0, length = 0; plain && i < name.size(); i += length) {
        length = shownLength(name.substr(i));
        plain = length > 0;
    }
    if (plain) {
        return std::string(name);
    }
    static constexpr std::string_view kNamed = "abtnvfr";
    std::string quoted = "'";
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t length = shownLength(name.substr(i));
        if (length > 0) {
            quoted += name[i] == '\'' ? std::string_view("'\\''") : name.substr(i, length);
            i += length;
            continue;
        }
        const auto byte = static_cast<unsigned char>(name[i++]);
        quoted += "'$'\\";
        if (byte >= '\a' && byte <= '\r') {
            quoted += kNamed[byte - '\a'];
        } else {
            quoted += static_cast<char>('0' + (byte >> 6));
            quoted += static_cast<char>('0' + (byte >> 3 & 7));
            quoted += static_cast<char>('0' + (byte & 7));
        }
        quoted += "''";
    }
    return quoted + "'";
}

void warn(int fd, std::string_view what)
{
    const std::string warning = "morvalen-cli: warning: " + std::string(what) + "\n";
    [[maybe_unused]] const ssize_t ignored = ::write(fd, warning.data(), warning.size());
}

Input::Input(int fd, bool owned, std::string name, std::string_view text)
    : m_fd(fd)
    , m_owned(owned)
    , m_name(std::move(name))
    , m_text(text)
{
    if (m_fd < 0) {
        return;
    }
    struct stat status
    {
    };
    m_readsAhead = ::fstat(m_fd, &status) == 0 && S_ISREG(status.st_mode);
    for (std::size_t i = 0; i < (m_readsAhead ? 2 : 1); ++i) {
        m_buffers[i].resize(kPieceSize);
    }
}

Input Input::file(const std::string& path, int standardInput)
{
    if (path == "-") {
        return Input(standardInput, false, "<stdin>", {});
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw FileError {path, errorText(errno)};
    }
    return Input(fd, true, path, {});
}

Input Input::argument(std::string_view text, std::string name)
{
    return Input(-1, false, std::move(name), text);
}

Input::~Input()
{
    m_worker.stop();
    if (m_owned) {
        ::close(m_fd);
    }
}

std::string_view Input::next()
{
    std::string_view piece;
    if (m_fd < 0) {
        piece = std::exchange(m_text, {});
    } else {
        if (!m_started) {
            m_ahead = fill(m_buffers[0].data(), kByteOrderMark.size());
        } else if (m_readsAhead) {
            m_worker.wait();
            m_current = 1 - m_current;
        } else {
            m_ahead = fill(m_buffers[0].data(), 1);
        }
        piece = {m_buffers[m_current].data(), m_ahead};
        if (m_readsAhead && !piece.empty()) {
            char* const other = m_buffers[1 - m_current].data();
            m_worker.start([this, other] { m_ahead = fill(other, 1); });
        }
    }
    if (!m_started) {
        m_started = true;
        if (piece.starts_with(kByteOrderMark)) {
            piece.remove_prefix(kByteOrderMark.size());
            return piece.empty() ? next() : piece;
        }
    }
    return piece;
}

// Reads until at least `least` bytes are in buffer or the input ends; returns how many.
std::size_t Input::fill(char* buffer, std::size_t least)
{
    std::size_t size = 0;
    while (size < least) {
        const ssize_t got = ::read(m_fd, buffer + size, kPieceSize - size);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileError {m_name, errorText(errno)};
        }
        size += static_cast<std::size_t>(got);
    }
    return size;
}

char* ByteBuffer::room(std::size_t bytes)
{
    if (m_block.size() - m_size < bytes) {
        // An eighth more than needed: remapping costs little, and doubling for the last few bytes
        // of an input would need twice its memory.
        const std::size_t needed = m_size + bytes;
        m_block.resize(std::max(needed + needed / 8, kPieceSize));
    }
    return m_block.data() + m_size;
}

} // namespace morvalen::cli
