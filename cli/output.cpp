#include "output.h"

#include "secret.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace morvalen::cli {
namespace {

// Names to remove should the program be ended by a signal: named temporaries, and a key placed
// before the output that belongs with it was written. Plain arrays, since a handler may touch
// nothing else.
std::array<std::array<char, PATH_MAX>, 4> g_names {};
std::array<volatile std::sig_atomic_t, 4> g_nameInUse {};

extern "C" void removeNamesAndDie(int signal)
{
    for (std::size_t i = 0; i < g_names.size(); ++i) {
        if (g_nameInUse[i] != 0) {
            ::unlink(g_names[i].data());
        }
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

int holdName(const std::string& name)
{
    const auto slot
        = static_cast<std::size_t>(std::find(g_nameInUse.begin(), g_nameInUse.end(), 0) - g_nameInUse.begin());
    if (slot == g_names.size() || name.size() >= PATH_MAX) {
        return -1;
    }
    std::memcpy(g_names[slot].data(), name.c_str(), name.size() + 1);
    g_nameInUse[slot] = 1;
    return static_cast<int>(slot);
}

void releaseName(int& slot)
{
    if (slot >= 0) {
        g_nameInUse[static_cast<std::size_t>(std::exchange(slot, -1))] = 0;
    }
}

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

// The descriptor a name such as /dev/stdout or /proc/self/fd/3 stands for, if it is open here.
// Written to through a copy of it, a redirection keeps its offset and its appending, where
// opening the name anew would start the file over.
std::optional<int> openDescriptor(std::string_view path)
{
    int fd = -1;
    if (path == "/dev/stdout") {
        fd = STDOUT_FILENO;
    } else if (path == "/dev/stderr") {
        fd = STDERR_FILENO;
    } else {
        const std::string self = "/proc/" + std::to_string(::getpid()) + "/fd/";
        for (const std::string_view prefix : {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/"),
                 std::string_view("/proc/thread-self/fd/"), std::string_view(self)}) {
            if (path.starts_with(prefix)) {
                const std::string_view number = path.substr(prefix.size());
                const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), fd);
                if (error != std::errc() || end != number.data() + number.size() || number.empty()) {
                    fd = -1;
                }
                break;
            }
        }
    }
    if (fd < 0 || ::fcntl(fd, F_GETFD) < 0) {
        return std::nullopt;
    }
    return fd;
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Whether the kernel's protected_symlinks rule forbids following this link: it sits in a sticky
// folder anyone may write to, and neither we nor the folder's owner own it. Such a link may have
// been planted by another user to make us write over a file of theirs choosing. Applied whatever
// the system's setting, since following it is never what the user asked for.
bool planted(const std::string& link, const struct stat& status)
{
    const std::string folder = folderOf(link);
    struct stat folderStatus
    {
    };
    if (::stat(folder.empty() ? "." : folder.c_str(), &folderStatus) != 0) {
        return false;
    }
    const bool shared = (folderStatus.st_mode & S_ISVTX) != 0 && (folderStatus.st_mode & S_IWOTH) != 0;
    return shared && status.st_uid != ::geteuid() && status.st_uid != folderStatus.st_uid;
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

} // namespace

void removeTemporariesOnSignals()
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction action
        {
        };
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        if (::sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_IGN) {
            action.sa_handler = removeNamesAndDie;
            sigemptyset(&action.sa_mask);
            action.sa_flags = 0;
            ::sigaction(signal, &action, nullptr);
        }
    }
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
    if (const std::optional<int> fd = openDescriptor(path)) {
        openInPlace(path, *fd);
        return;
    }
    // Follow the links one at a time, to the file that will be replaced.
    std::string target = path;
    struct stat status
    {
    };
    for (int links = 0;; ++links) {
        if (::lstat(target.c_str(), &status) != 0) {
            if (errno != ENOENT) {
                fail(errno);
            }
            openTemporary(target, kind == Kind::Secret ? 0600 : 0666 & ~currentUmask(), nullptr);
            return;
        }
        if (!S_ISLNK(status.st_mode)) {
            break;
        }
        if (links == 40) {
            fail(ELOOP);
        }
        if (planted(target, status)) {
            fail(EACCES);
        }
        if (target.starts_with("/proc/")) {
            // The kernel's own links to open files and processes name no path to follow.
            openInPlace(target, -1);
            return;
        }
        std::array<char, PATH_MAX> buffer {};
        const ssize_t length = ::readlink(target.c_str(), buffer.data(), buffer.size());
        if (length < 0 || static_cast<std::size_t>(length) == buffer.size()) {
            fail(length < 0 ? errno : ENAMETOOLONG);
        }
        const std::string next(buffer.data(), static_cast<std::size_t>(length));
        target = next.starts_with('/') ? next : folderOf(target) + next;
    }
    if (S_ISDIR(status.st_mode)) {
        fail(EISDIR);
    }
    if (!S_ISREG(status.st_mode)) {
        openInPlace(target, -1);
        return;
    }
    if (existing == Existing::Refuse) {
        throw FileError {m_name, "exists; use -f to replace it."};
    }
    // setuid, setgid and sticky bits stay with the old file: they were given to other contents.
    openTemporary(target, kind == Kind::Secret ? 0600 : status.st_mode & 0777, &status);
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
            m_slot = holdName(m_folder + m_temporaryName);
        }
    }
    if (m_fd < 0) {
        fail(errno);
    }
    // Whoever owned the file replaced owns the new one, where we may give it (as root); the
    // permissions then, as a change of owner clears some of them.
    if (old != nullptr && (old->st_uid != ::geteuid() || old->st_gid != ::getegid())) {
        [[maybe_unused]] const int ignored = ::fchown(m_fd, old->st_uid, old->st_gid);
    }
    if (::fchmod(m_fd, mode) != 0) {
        fail(errno);
    }
}

Output::~Output()
{
    m_worker.stop();
    wipe(m_handed);
    if (m_owned && m_fd >= 0) {
        ::close(m_fd);
    }
    if (!m_temporaryName.empty()) {
        ::unlinkat(m_folderFd, m_temporaryName.c_str(), 0);
    }
    releaseName(m_slot);
    withdraw();
    if (m_folderFd >= 0) {
        ::close(m_folderFd);
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
    if (inPlace()) {
        // A redirection to a file is synced too; pipes, terminals and devices cannot be.
        struct stat status
        {
        };
        if (::fstat(m_fd, &status) == 0 && S_ISREG(status.st_mode) && ::fsync(m_fd) != 0) {
            fail(errno);
        }
        return;
    }
    if (::fsync(m_fd) != 0) {
        fail(errno);
    }
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
        linked(error);
        m_temporary = 1;
        m_slot = holdName(m_folder + m_temporaryName);
    }
    if (m_temporary == 1) {
        const char* name = m_temporaryName.c_str();
        int result = 0;
        if (replace) {
            result = ::renameat(m_folderFd, name, m_folderFd, m_base.c_str());
        } else {
            result = ::renameat2(m_folderFd, name, m_folderFd, m_base.c_str(), RENAME_NOREPLACE);
            if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
                // A file system without that flag: a hard link, too, never replaces.
                result = ::linkat(m_folderFd, name, m_folderFd, m_base.c_str(), 0);
                if (result == 0) {
                    ::unlinkat(m_folderFd, name, 0);
                }
            }
        }
        linked(result == 0 ? 0 : errno);
        m_temporaryName.clear();
        releaseName(m_slot);
    }
    m_placed = true;
    done(Step::Place, m_name);
    if (::close(std::exchange(m_fd, -1)) != 0) {
        fail(errno);
    }
    syncFolder();
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
        throw FileError {m_name, "exists; use -f to replace it."};
    }
    if (error != 0) {
        fail(error);
    }
}

void Output::placeProvisionally()
{
    place();
    if (!inPlace()) {
        m_provisionalSlot = holdName(m_folder + m_base);
    }
}

void Output::confirm()
{
    releaseName(m_provisionalSlot);
}

void Output::withdraw() noexcept
{
    if (m_provisionalSlot >= 0) {
        ::unlinkat(m_folderFd, m_base.c_str(), 0);
        ::fsync(m_folderFd);
        releaseName(m_provisionalSlot);
    }
}

void Output::syncFolder()
{
    if (::fsync(m_folderFd) != 0) {
        fail(errno);
    }
    done(Step::SyncFolder, m_name);
}

void Output::fail(int error) const
{
    throw FileError {m_name, std::strerror(error)};
}

void commitPair(Output& key, Output& text)
{
    key.finish();
    text.finish();
    text.removeOld();
    key.removeOld();
    key.place();
    text.place();
}

} // namespace morvalen::cli
