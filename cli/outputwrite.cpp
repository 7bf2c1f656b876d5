// How an output's bytes go out: written in full, by the worker while the caller goes on, or held
// back until the input is found valid, in memory and then in an unnamed spool file, and wiped
// wherever they were held. Opening, syncing and placing the file are in output.cpp.
#include "output.h"
#include "secret.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace morvalen::cli {
namespace {

// What is held back stays in memory up to this size, and goes to a temporary file beyond it.
constexpr std::size_t kHeldInMemory = std::size_t {4} << 20;

void writeTo(int fd, std::string_view text, const std::string& name)
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw FileError {name, std::strerror(errno)};
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::string spoolFolder()
{
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

// An unnamed file only we can read, for what is held back: O_TMPFILE, or where the file system
// lacks it a name removed at once.
int openSpool()
{
    const std::string folder = spoolFolder();
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR)) {
        std::string name = folder + "/.morvalen-held.XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) {
            ::unlink(name.c_str());
        }
    }
    if (fd < 0) {
        throw FileError {folder, std::strerror(errno)};
    }
    return fd;
}

} // namespace

void Output::holdBack()
{
    m_holding = inPlace();
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
    // The room goes on with the caller, so that its text is never moved to a larger copy and the
    // smaller one freed unwiped.
    if (text.capacity() < m_handed.capacity()) {
        text.reserve(m_handed.capacity());
        keepOutOfDumps(text);
    }
    text.clear();
    m_worker.start([this] { writeAll(m_handed); });
}

void Output::writeAll(std::string_view text)
{
    if (m_holding) {
        hold(text);
    } else {
        writeTo(m_fd, text, m_name);
    }
}

void Output::hold(std::string_view text)
{
    if (m_spool < 0 && m_heldSize + text.size() <= kHeldInMemory) {
        m_held.resize(m_heldSize + text.size());
        std::memcpy(m_held.data() + m_heldSize, text.data(), text.size());
        m_heldSize += text.size();
        return;
    }
    if (m_spool < 0) {
        m_spool = openSpool();
        writeTo(m_spool, {m_held.data(), m_heldSize}, spoolFolder());
        m_spooled = m_heldSize;
        wipe(m_held.data(), m_heldSize);
        m_heldSize = 0;
    }
    writeTo(m_spool, text, spoolFolder());
    m_spooled += text.size();
}

// What was held back, to the output now. Not by sendfile: into a pipe it would hand over the
// temporary file's pages themselves, which the wiping after would then zero under the reader.
void Output::releaseHeld()
{
    m_holding = false;
    writeTo(m_fd, {m_held.data(), m_heldSize}, m_name);
    if (m_spool >= 0) {
        SecretBlock buffer(std::size_t {1} << 20);
        for (off_t offset = 0; static_cast<std::size_t>(offset) < m_spooled;) {
            const ssize_t got = ::pread(m_spool, buffer.data(), buffer.size(), offset);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                throw FileError {spoolFolder(), std::strerror(got < 0 ? errno : EIO)};
            }
            writeTo(m_fd, {buffer.data(), static_cast<std::size_t>(got)}, m_name);
            offset += got;
        }
    }
    dropHeld();
}

// Wipes what was held back, in memory and in the temporary file, whose pages would otherwise go
// back to the file system with the key on them.
void Output::dropHeld() noexcept
{
    wipe(m_held.data(), m_heldSize);
    m_heldSize = 0;
    if (m_spool < 0) {
        return;
    }
    static constexpr std::array<char, 65536> kZeros {};
    for (off_t offset = 0; static_cast<std::size_t>(offset) < m_spooled;) {
        const std::size_t chunk = std::min(kZeros.size(), m_spooled - static_cast<std::size_t>(offset));
        const ssize_t written = ::pwrite(m_spool, kZeros.data(), chunk, offset);
        if (written <= 0 && errno != EINTR) {
            break;
        }
        offset += std::max<ssize_t>(written, 0);
    }
    ::close(std::exchange(m_spool, -1));
    m_spooled = 0;
}

} // namespace morvalen::cli
