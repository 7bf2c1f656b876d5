#include "io.h"

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

// The temporary files not yet renamed into place, for the signal handler: plain arrays, since
// a handler may touch nothing else. A command has at most two outputs.
std::array<std::array<char, PATH_MAX>, 2> g_temporaries {};
std::array<volatile std::sig_atomic_t, 2> g_temporaryInUse {};

extern "C" void removeTemporariesAndDie(int signal)
{
    for (std::size_t i = 0; i < g_temporaries.size(); ++i) {
        if (g_temporaryInUse[i] != 0) {
            ::unlink(g_temporaries[i].data());
        }
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

std::string errorText(int error)
{
    return std::strerror(error);
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

void removeTemporariesOnSignals()
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction action
        {
        };
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) {
            action.sa_handler = removeTemporariesAndDie;
            sigemptyset(&action.sa_mask);
            action.sa_flags = 0;
            ::sigaction(signal, &action, nullptr);
        }
    }
}

Input::Input(int fd, std::string name, std::string_view text)
    : m_fd(fd)
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
        m_buffers[i] = std::make_unique_for_overwrite<char[]>(kPieceSize);
    }
}

Input Input::file(const std::string& path)
{
    if (path == "-") {
        return Input(STDIN_FILENO, "<stdin>", {});
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw FileError {path, errorText(errno)};
    }
    return Input(fd, path, {});
}

Input Input::argument(std::string_view text, std::string name)
{
    return Input(-1, std::move(name), text);
}

Input::~Input()
{
    m_worker.stop();
    if (m_fd > STDIN_FILENO) {
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
            m_ahead = fill(m_buffers[0].get(), kByteOrderMark.size());
        } else if (m_readsAhead) {
            m_worker.wait();
            m_current = 1 - m_current;
        } else {
            m_ahead = fill(m_buffers[0].get(), 1);
        }
        piece = {m_buffers[m_current].get(), m_ahead};
        if (m_readsAhead && !piece.empty()) {
            char* const other = m_buffers[1 - m_current].get();
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

ByteBuffer::~ByteBuffer()
{
    std::free(m_data);
}

char* ByteBuffer::room(std::size_t bytes)
{
    if (m_capacity - m_size < bytes) {
        const std::size_t capacity = std::max({m_capacity * 2, m_size + bytes, kPieceSize});
        void* data = std::realloc(m_data, capacity);
        if (data == nullptr) {
            throw std::bad_alloc();
        }
        m_data = static_cast<char*>(data);
        m_capacity = capacity;
    }
    return m_data + m_size;
}

Output::Output(const std::string& path, Kind kind, bool replace)
    : m_kind(kind)
    , m_replace(replace)
    , m_name(path)
    , m_target(path)
{
    if (path == "-") {
        m_fd = STDOUT_FILENO;
        m_name = "<stdout>";
        return;
    }
    struct stat status
    {
    };
    mode_t mode = kind == Kind::Key ? 0600 : 0666 & ~currentUmask();
    if (::lstat(path.c_str(), &status) == 0) {
        if (kind == Kind::Key && !replace) {
            throw FileError {path, "exists; use -f to replace it."};
        }
        if (S_ISLNK(status.st_mode)) {
            // Replace the file the link points to, not the link.
            if (char* real = ::realpath(path.c_str(), nullptr)) {
                m_target = real;
                std::free(real);
                ::stat(m_target.c_str(), &status);
            }
        }
        if (!S_ISREG(status.st_mode) && !S_ISLNK(status.st_mode)) {
            m_fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (m_fd < 0) {
                fail(errno);
            }
            return;
        }
        mode = kind == Kind::Key ? mode : status.st_mode & 07777;
    } else if (errno != ENOENT) {
        fail(errno);
    }

    const std::size_t slash = m_target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : m_target.substr(0, slash + 1);
    const std::string base = m_target.substr(folder.size());
    const std::string pattern = folder + "." + (base.size() <= 200 ? base : "morvalen") + ".XXXXXX";
    const auto slot = static_cast<std::size_t>(
        std::find(g_temporaryInUse.begin(), g_temporaryInUse.end(), 0) - g_temporaryInUse.begin());
    if (slot == g_temporaries.size() || pattern.size() >= PATH_MAX) {
        fail(ENAMETOOLONG);
    }
    char* name = g_temporaries[slot].data();
    std::memcpy(name, pattern.c_str(), pattern.size() + 1);
    m_fd = ::mkostemp(name, O_CLOEXEC);
    if (m_fd < 0) {
        fail(errno);
    }
    g_temporaryInUse[slot] = 1;
    m_slot = static_cast<int>(slot);
    m_temporary = name;
    if (::fchmod(m_fd, mode) != 0) {
        fail(errno);
    }
}

Output::~Output()
{
    m_worker.stop();
    if (m_fd > STDOUT_FILENO) {
        ::close(m_fd);
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        g_temporaryInUse[static_cast<std::size_t>(m_slot)] = 0;
    }
}

void Output::write(std::string_view text)
{
    m_worker.wait();
    writeAll(text);
}

void Output::writeAndClear(std::string& text)
{
    m_worker.wait();
    m_handed.swap(text);
    text.clear();
    m_worker.start([this] { writeAll(m_handed); });
}

void Output::writeAll(std::string_view text) const
{
    while (!text.empty()) {
        const ssize_t written = ::write(m_fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(errno);
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

void Output::finish()
{
    m_worker.wait();
    if (m_fd > STDOUT_FILENO) {
        const int fd = std::exchange(m_fd, -1);
        if (::close(fd) != 0) {
            fail(errno);
        }
    }
}

void Output::commit()
{
    finish();
    if (m_temporary.empty()) {
        return;
    }
    int result = 0;
    bool linked = false;
    if (m_kind == Kind::Key && !m_replace) {
        // Never over a key that appeared while this one was written.
        result = ::renameat2(AT_FDCWD, m_temporary.c_str(), AT_FDCWD, m_target.c_str(), RENAME_NOREPLACE);
        if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without that flag: a hard link, too, never replaces.
            result = ::link(m_temporary.c_str(), m_target.c_str());
            linked = result == 0;
        }
        if (result != 0 && errno == EEXIST) {
            throw FileError {m_name, "exists; use -f to replace it."};
        }
    } else {
        result = ::rename(m_temporary.c_str(), m_target.c_str());
    }
    if (result != 0) {
        fail(errno);
    }
    if (linked) {
        ::unlink(m_temporary.c_str());
    }
    g_temporaryInUse[static_cast<std::size_t>(m_slot)] = 0;
    m_temporary.clear();
}

void Output::fail(int error) const
{
    throw FileError {m_name, errorText(error)};
}

} // namespace morvalen::cli
