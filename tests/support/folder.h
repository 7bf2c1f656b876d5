// A fresh folder for each test, made the current one, so that file names stay short in messages
// and the folder can be listed afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <map>
#include <string>
#include <sys/stat.h>

namespace morvalen::testing {

class InFreshFolder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string folder = (std::filesystem::temp_directory_path() / "morvalen-test-XXXXXX").string();
        ASSERT_NE(::mkdtemp(folder.data()), nullptr);
        m_folder = folder;
        std::filesystem::current_path(m_folder);
    }
    void TearDown() override
    {
        std::filesystem::current_path(m_folder.parent_path());
        std::filesystem::remove_all(m_folder);
    }

    static void write(const std::string& name, const std::string& text)
    {
        std::ofstream(name, std::ios::binary) << text;
    }
    // A file's text, "(none)" when there is no such file.
    static std::string read(const std::string& name)
    {
        std::ifstream in(name, std::ios::binary);
        return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "(none)";
    }
    // Permission bits, setuid and the like included, of the name itself (not what a link leads to).
    static unsigned mode(const std::string& name)
    {
        struct stat status
        {
        };
        return ::lstat(name.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
    }
    // Every entry of the folder, hidden ones too, with its permissions and content.
    std::map<std::string, std::string> listing() const
    {
        std::map<std::string, std::string> entries;
        for (const std::filesystem::directory_entry& entry : std::filesystem::directory_iterator(m_folder)) {
            const std::string name = entry.path().filename().string();
            entries[name] = std::to_string(mode(name)) + " " + (entry.is_regular_file() ? read(name) : "");
        }
        return entries;
    }

    std::filesystem::path m_folder;
};

} // namespace morvalen::testing
