// Runs a program as a real process with the given standard input, and captures what it prints.
#pragma once

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <spawn.h>
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

inline ProcessResult runProcess(
    const std::string& program, const std::vector<std::string>& args, const std::string& input = {})
{
    const auto dir = std::filesystem::temp_directory_path() / ("morvalen-test-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto file = [&](const char* name) { return (dir / name).string(); };
    std::ofstream(file("in"), std::ios::binary) << input;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, file("in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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
    const auto read = [&](const char* name) {
        std::ifstream in(file(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    result.out = read("out");
    result.err = read("err");
    std::filesystem::remove_all(dir);
    return result;
}

} // namespace morvalen::testing
