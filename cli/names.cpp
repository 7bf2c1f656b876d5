#include "names.h"

#include "io.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace morvalen::cli {
namespace {

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

// Whether name, of this status, sits in a sticky folder that others may write to and belongs
// neither to us nor to the folder's owner: the case the kernel's protected_symlinks and
// protected_regular rules are made for.
bool othersInSharedFolder(const std::string& name, const struct stat& status)
{
    const std::string folder = folderOf(name);
    struct stat folderStatus
    {
    };
    if (::stat(folder.empty() ? "." : folder.c_str(), &folderStatus) != 0) {
        return false;
    }
    const bool shared = (folderStatus.st_mode & S_ISVTX) != 0 && (folderStatus.st_mode & (S_IWOTH | S_IWGRP)) != 0;
    return shared && status.st_uid != ::geteuid() && status.st_uid != folderStatus.st_uid;
}

Destination failed(int error)
{
    Destination destination;
    destination.error = error;
    return destination;
}

// A file as device, inode and, for a name not yet taken, the name it will have in its folder.
struct Identity
{
    dev_t device = 0;
    ino_t inode = 0;
    std::string name;
    bool operator==(const Identity&) const = default;
};

std::optional<Identity> regular(const struct stat& status)
{
    return S_ISREG(status.st_mode) ? std::optional<Identity>(Identity {status.st_dev, status.st_ino, {}})
                                   : std::nullopt;
}

std::optional<Identity> ofDescriptor(int fd)
{
    struct stat status
    {
    };
    return ::fstat(fd, &status) == 0 ? regular(status) : std::nullopt;
}

std::optional<Identity> ofOutput(const std::string& path, int standardOutput)
{
    if (path == "-") {
        return ofDescriptor(standardOutput);
    }
    const Destination destination = resolveOutput(path);
    switch (destination.kind) {
    case Destination::Kind::Descriptor: return destination.error == 0 ? ofDescriptor(destination.fd) : std::nullopt;
    case Destination::Kind::InPlace:
    case Destination::Kind::Regular: return destination.error == 0 ? regular(destination.status) : std::nullopt;
    case Destination::Kind::Missing:
        if (destination.error != 0 || destination.status.st_ino == 0) {
            return std::nullopt;
        }
        return Identity {destination.status.st_dev, destination.status.st_ino,
            destination.path.substr(folderOf(destination.path).size())};
    }
    return std::nullopt;
}

std::optional<Identity> ofInput(const std::string& path, int standardInput)
{
    if (path == "-") {
        return ofDescriptor(standardInput);
    }
    struct stat status
    {
    };
    return ::stat(path.c_str(), &status) == 0 ? regular(status) : std::nullopt;
}

struct Named
{
    std::string label; // as the user wrote it
    std::optional<Identity> identity;
};

std::string label(const char* option, const std::string& path, const char* stream)
{
    if (path == "-") {
        return stream;
    }
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) of " " + string.
    std::string text = option;
    text += ' ';
    text += printableName(path);
    return text;
}

} // namespace

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

Destination resolveOutput(const std::string& path)
{
    Destination destination;
    if (const std::optional<int> fd = openDescriptor(path)) {
        destination.kind = Destination::Kind::Descriptor;
        destination.fd = *fd;
        return destination;
    }
    std::string target = path;
    struct stat& status = destination.status;
    for (int links = 0;; ++links) {
        if (::lstat(target.c_str(), &status) != 0) {
            if (errno != ENOENT) {
                return failed(errno);
            }
            destination.kind = Destination::Kind::Missing;
            destination.path = target;
            const std::string folder = folderOf(target);
            if (::stat(folder.empty() ? "." : folder.c_str(), &status) != 0) {
                status = {};
            }
            return destination;
        }
        if (!S_ISLNK(status.st_mode)) {
            break;
        }
        if (links == 40) {
            return failed(ELOOP);
        }
        if (othersInSharedFolder(target, status)) {
            return failed(EACCES);
        }
        if (target.starts_with("/proc/")) {
            // The kernel's own links to open files and processes name no path to follow.
            destination.kind = Destination::Kind::InPlace;
            destination.path = target;
            if (::stat(target.c_str(), &status) != 0) {
                status = {};
            }
            return destination;
        }
        std::array<char, PATH_MAX> buffer {};
        const ssize_t length = ::readlink(target.c_str(), buffer.data(), buffer.size());
        if (length < 0 || static_cast<std::size_t>(length) == buffer.size()) {
            return failed(length < 0 ? errno : ENAMETOOLONG);
        }
        const std::string next(buffer.data(), static_cast<std::size_t>(length));
        target = next.starts_with('/') ? next : folderOf(target) + next;
    }
    if (S_ISDIR(status.st_mode)) {
        return failed(EISDIR);
    }
    // A pipe there is refused too, as protected_fifos has it: its owner would read what we write.
    if (othersInSharedFolder(target, status)) {
        return failed(EACCES);
    }
    destination.path = target;
    if (!S_ISREG(status.st_mode)) {
        destination.kind = Destination::Kind::InPlace;
        return destination;
    }
    destination.kind = Destination::Kind::Regular;
    return destination;
}

void checkDistinctFiles(const Options& options, const Streams& streams)
{
    if (options.command != Command::Encrypt && options.command != Command::Decrypt) {
        return;
    }
    const bool encrypting = options.command == Command::Encrypt;
    std::vector<Named> outputs;
    if (encrypting && options.key) {
        outputs.push_back({label("-k", *options.key, ""), ofOutput(*options.key, streams.out)});
    }
    const std::string output = options.output.value_or("-");
    outputs.push_back({label("-o", output, "standard output"), ofOutput(output, streams.out)});
    std::vector<Named> inputs;
    // HEX and BITS given as "-" read standard input.
    if (options.operands.empty() || options.operands.front() == "-") {
        const std::string input = options.operands.empty() ? options.input.value_or("-") : "-";
        inputs.push_back({label("-i", input, "standard input"), ofInput(input, streams.in)});
    }
    const bool keyFromStdin = options.operands.size() == 2 && options.operands[1] == "-";
    if (!encrypting && (options.key || keyFromStdin)) {
        const std::string key = options.key.value_or("-");
        inputs.push_back({label("-k", key, "standard input"), ofInput(key, streams.in)});
    }
    const auto check = [](const Named& a, const Named& b) {
        if (a.identity && a.identity == b.identity) {
            throw UsageError {a.label + " and " + b.label + " name the same file."};
        }
    };
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        for (std::size_t j = i + 1; j < outputs.size(); ++j) {
            check(outputs[i], outputs[j]);
        }
        for (const Named& input : inputs) {
            check(outputs[i], input);
        }
    }
}

} // namespace morvalen::cli
