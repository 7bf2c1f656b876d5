// Runs a program as a real process with the given standard input, and captures what it prints.
#pragma once

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <string>
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

inline std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

inline ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                                const std::string& input = {})
{
    char dir[] = "/tmp/morvalen-test-XXXXXX";
    if (!mkdtemp(dir)) {
        throw std::runtime_error("mkdtemp failed");
    }
    const std::string base = dir;
    std::ofstream(base + "/in", std::ios::binary) << input;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, (base + "/in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (base + "/out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (base + "/err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv {const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    ProcessResult result;
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = readFile(base + "/out");
    result.err = readFile(base + "/err");
    for (const char* name : {"/in", "/out", "/err"}) {
        std::remove((base + name).c_str());
    }
    rmdir(dir);
    return result;
}

} // namespace morvalen::testing
