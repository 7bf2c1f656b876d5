// Runs a program as a real process with the given standard input, and captures what it prints;
// its streams are memory files, which the in-process runs of the command line use too.
#pragma once

#include <spawn.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace morvalen::testing {

struct ProcessResult
{
    int status = -1; // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// A memory file holding text, its offset at the start.
inline int memoryFile(const std::string& text = {})
{
    const int fd = ::memfd_create("stream", MFD_CLOEXEC);
    return ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) ? fd : -1;
}

// All a memory file holds; closes it.
inline std::string contents(int fd)
{
    std::string all(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)), '\0');
    all.resize(static_cast<std::size_t>(std::max<ssize_t>(::pread(fd, all.data(), all.size(), 0), 0)));
    ::close(fd);
    return all;
}

inline ProcessResult runProcess(
    const std::string& program, const std::vector<std::string>& args, const std::string& input = {})
{
    const int streams[3] = {memoryFile(input), memoryFile(), memoryFile()};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int i = 0; i < 3; ++i) {
        posix_spawn_file_actions_adddup2(&actions, streams[i], i);
    }
    std::vector<char*> argv {const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    ProcessResult result;
    pid_t pid = 0;
    int status = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0
        && waitpid(pid, &status, 0) == pid) {
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(streams[0]);
    result.out = contents(streams[1]);
    result.err = contents(streams[2]);
    return result;
}

} // namespace morvalen::testing
