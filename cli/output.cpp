// An output's file: opened in place or as a temporary in its folder, synced, put in place under
// its name (or withdrawn again), and the folder synced after. The bytes written to it, and those
// held back, are in outputwrite.cpp.
#include "output.h"

#include "heldnames.h"
#include "names.h"
#include "secret.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace morvalen::cli {
namespace {

int g_warnings = STDERR_FILENO;

StepObserver& observer()
{
    static StepObserver steps;
    return steps;
}

void done(Step step, const std::string& name)
{
    if (observer()) {
        observer()(step, name);
    }
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

std::string randomName(const std::string& base)
{
    static constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::array<unsigned char, 8> bytes {};
    if (::getrandom(bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
        bytes.fill(static_cast<unsigned char>(::getpid()));
    }
    std::string name = "." + (base.size() <= 200 ? base : std::string("morvalen")) + ".";
    for (const unsigned char byte : bytes) {
        name += kLetters[byte % kLetters.size()];
    }
    return name;
}

bool noPermissions(int error)
{
    return error == EPERM || error == ENOSYS || error == EOPNOTSUPP;
}

} // namespace

void warningsTo(int fd)
{
    g_warnings = fd;
}

void observeSteps(StepObserver steps)
{
    observer() = std::move(steps);
}

Output::Output(const std::string& path, Kind kind, Existing existing, int standardOutput)
    : m_kind(kind)
    , m_existing(existing)
    , m_name(path)
{
    if (path == "-") {
        m_name = "<stdout>";
        m_fd = standardOutput;
        m_owned = false;
        return;
    }
    try {
        open(path);
    } catch (...) {
        // No destructor runs for an object that was never made: what the opening made goes here.
        release();
        throw;
    }
}

void Output::open(const std::string& path)
{
    const Destination destination = resolveOutput(path);
    if (destination.error != 0) {
        fail(destination.error);
    }
    switch (destination.kind) {
    case Destination::Kind::Descriptor: openInPlace(path, destination.fd); return;
    case Destination::Kind::InPlace: openInPlace(destination.path, -1); return;
    case Destination::Kind::Missing:
        openTemporary(destination.path, m_kind == Kind::Secret ? 0600 : 0666 & ~currentUmask(), nullptr);
        return;
    case Destination::Kind::Regular:
        if (m_existing == Existing::Refuse) {
            refuseExisting();
        }
        // setuid, setgid and sticky bits stay with the old file: they were given to other contents.
        openTemporary(
            destination.path, m_kind == Kind::Secret ? 0600 : destination.status.st_mode & 0777, &destination.status);
        return;
    }
}

void Output::openInPlace(const std::string& path, int fd)
{
    m_fd = fd >= 0 ? ::fcntl(fd, F_DUPFD_CLOEXEC, 3) : ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0) {
        fail(errno);
    }
}

void Output::openTemporary(const std::string& target, mode_t mode, const struct stat* old)
{
    m_folder = folderOf(target);
    m_base = target.substr(m_folder.size());
    m_replaces = old != nullptr;
    m_folderFd = ::open(m_folder.empty() ? "." : m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folderFd < 0) {
        fail(errno);
    }
    m_fd = ::openat(m_folderFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    m_temporary = 0;
    if (m_fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR)) {
        // A file system without unnamed files: a hidden name, removed again on failure and on
        // the usual signals; only a kill leaves it behind.
        do {
            m_temporaryName = randomName(m_base);
            m_fd = ::openat(m_folderFd, m_temporaryName.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
        } while (m_fd < 0 && errno == EEXIST);
        m_temporary = 1;
        if (m_fd < 0) {
            m_temporaryName.clear();
        } else {
            m_slot = holdName(m_folderFd, m_temporaryName);
        }
    }
    if (m_fd < 0) {
        fail(errno);
    }
    // Whoever owned the file replaced owns the new one, where we may give it (as root); the
    // permissions then, as a change of owner clears some of them. A key is never given away.
    if (old != nullptr && m_kind == Kind::Text && (old->st_uid != ::geteuid() || old->st_gid != ::getegid())) {
        [[maybe_unused]] const int ignored = ::fchown(m_fd, old->st_uid, old->st_gid);
    }
    // A file system that keeps no permissions (FAT, exFAT) refuses this or ignores it; what the
    // file ends up with is looked at once it is written.
    if (::fchmod(m_fd, mode) != 0 && !noPermissions(errno)) {
        fail(errno);
    }
}

Output::~Output()
{
    release();
}

void Output::release() noexcept
{
    m_worker.stop();
    wipe(m_handed);
    dropHeld();
    if (m_owned && m_fd >= 0) {
        ::close(std::exchange(m_fd, -1));
    }
    if (!m_temporaryName.empty()) {
        ::unlinkat(m_folderFd, m_temporaryName.c_str(), 0);
        m_temporaryName.clear();
    }
    releaseName(m_slot);
    withdraw();
    if (m_folderFd >= 0) {
        ::close(std::exchange(m_folderFd, -1));
    }
}

void Output::finish()
{
    m_worker.wait();
    if (m_finished) {
        return;
    }
    if (m_holding) {
        releaseHeld();
    }
    if (inPlace()) {
        // A redirection to a file is synced too; pipes, terminals and devices cannot be.
        struct stat status
        {
        };
        if (::fstat(m_fd, &status) == 0 && S_ISREG(status.st_mode) && ::fsync(m_fd) != 0) {
            fail(errno);
        }
        m_finished = true;
        return;
    }
    if (::fsync(m_fd) != 0) {
        fail(errno);
    }
    struct stat status
    {
    };
    m_exposed = m_kind == Kind::Secret && ::fstat(m_fd, &status) == 0 && (status.st_mode & 077) != 0;
    // Closing can fail too (a network or FUSE file system writes back then): that comes before
    // the file has a name. An unnamed file needs its descriptor to be linked in, so a copy of it
    // is closed, which checks the same.
    if (m_temporary == 1) {
        if (::close(std::exchange(m_fd, -1)) != 0) {
            fail(errno);
        }
    } else {
        const int copy = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 3);
        if (copy < 0 || ::close(copy) != 0) {
            fail(errno);
        }
    }
    m_finished = true;
    done(Step::SyncFile, m_name);
}

void Output::removeOld()
{
    if (inPlace() || !m_replaces) {
        return;
    }
    if (::unlinkat(m_folderFd, m_base.c_str(), 0) != 0 && errno != ENOENT) {
        fail(errno);
    }
    m_removedOld = true;
    done(Step::RemoveOld, m_name);
    syncFolder();
}

void Output::place()
{
    if (inPlace() || m_placed) {
        return;
    }
    const bool replace = m_existing == Existing::Replace;
    if (m_temporary == 0 && !replace) {
        // A link never replaces, so a key that appeared meanwhile is kept.
        linked(linkTemporary(m_base));
    } else if (m_temporary == 0) {
        // A hidden name first, to be renamed over the target in one step.
        int error = 0;
        do {
            m_temporaryName = randomName(m_base);
            error = linkTemporary(m_temporaryName);
        } while (error == EEXIST);
        if (error != 0) {
            m_temporaryName.clear();
        }
        linked(error);
        m_temporary = 1;
        m_slot = holdName(m_folderFd, m_temporaryName);
    }
    if (m_temporary == 1 && !m_temporaryName.empty()) {
        int error = 0;
        if (replace) {
            error = ::renameat(m_folderFd, m_temporaryName.c_str(), m_folderFd, m_base.c_str()) == 0 ? 0 : errno;
        } else {
            error = renameNoReplace();
        }
        linked(error);
        m_temporaryName.clear();
        releaseName(m_slot);
    }
    m_placed = true;
    if (m_provisional) {
        m_provisionalSlot = holdName(m_folderFd, m_base);
    }
    done(Step::Place, m_name);
    if (m_fd >= 0 && ::close(std::exchange(m_fd, -1)) != 0) {
        fail(errno);
    }
    syncFolder();
    if (m_exposed) {
        warn(g_warnings,
            printableName(m_name) + ": other users can read this key: its file system keeps no permissions.");
    }
}

int Output::renameNoReplace()
{
    const char* from = m_temporaryName.c_str();
    const char* to = m_base.c_str();
    if (::renameat2(m_folderFd, from, m_folderFd, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return errno;
    }
    // A file system without that flag: a hard link, too, never replaces.
    if (::linkat(m_folderFd, from, m_folderFd, to, 0) == 0) {
        ::unlinkat(m_folderFd, from, 0);
        return 0;
    }
    if (!noPermissions(errno)) {
        return errno;
    }
    // Nor hard links (exFAT): look, then rename, under the folder's lock, which our other
    // writers honour; only another program could take the name between the two.
    const bool locked = m_locked || ::flock(m_folderFd, LOCK_EX) == 0;
    struct stat status
    {
    };
    int error = 0;
    if (::fstatat(m_folderFd, to, &status, AT_SYMLINK_NOFOLLOW) == 0) {
        error = EEXIST;
    } else if (errno != ENOENT) {
        error = errno;
    } else if (::renameat(m_folderFd, from, m_folderFd, to) != 0) {
        error = errno;
    }
    if (locked && !m_locked) {
        ::flock(m_folderFd, LOCK_UN);
    }
    return error;
}

int Output::linkTemporary(const std::string& name) const
{
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    int result = ::linkat(AT_FDCWD, self.c_str(), m_folderFd, name.c_str(), AT_SYMLINK_FOLLOW);
    if (result != 0 && errno == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {
        // No /proc: the call that needs a capability before Linux 6.10.
        result = ::linkat(m_fd, "", m_folderFd, name.c_str(), AT_EMPTY_PATH);
    }
    return result == 0 ? 0 : errno;
}

void Output::linked(int error) const
{
    if (error == EEXIST && m_existing == Existing::Refuse) {
        refuseExisting();
    }
    if (error != 0) {
        fail(error);
    }
}

void Output::placeProvisionally()
{
    m_provisional = !inPlace();
    place();
}

void Output::confirm()
{
    m_provisional = false;
    releaseName(m_provisionalSlot);
}

bool Output::withdraw() noexcept
{
    bool gone = true;
    if (m_provisional && m_placed) {
        gone = ::unlinkat(m_folderFd, m_base.c_str(), 0) == 0 || errno == ENOENT;
        ::fsync(m_folderFd);
    }
    m_provisional = false;
    releaseName(m_provisionalSlot);
    return gone;
}

void Output::syncFolder()
{
    if (::fsync(m_folderFd) != 0) {
        fail(errno);
    }
    done(Step::SyncFolder, m_name);
}

void Output::refuseExisting() const
{
    throw FileError {m_name, "exists; use -f to replace it."};
}

void Output::fail(int error) const
{
    throw FileError {m_name, std::strerror(error)};
}

} // namespace morvalen::cli
