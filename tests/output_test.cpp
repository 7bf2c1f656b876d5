// The command line's outputs in-process: the steps that put a file safely in place, what a crash
// between two of them leaves, targets written in place, links, permissions, and printed names.
#include "io.h"
#include "output.h"
#include "secret.h"
#include "support/folder.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace morvalen::cli {
namespace {

namespace fs = std::filesystem;

struct Crash
{
};

class Outputs : public testing::InFreshFolder
{
protected:
    void TearDown() override
    {
        observeSteps(nullptr);
        InFreshFolder::TearDown();
    }

    std::set<std::string> names() const
    {
        std::set<std::string> all;
        for (const auto& [name, entry] : listing()) {
            all.insert(name);
        }
        return all;
    }
    // The steps of the commits run in f, as "step name" lines with the folder left out.
    std::vector<std::string> steps(const std::function<void()>& f) const
    {
        std::vector<std::string> seen;
        observeSteps([&](Step step, const std::string& name) {
            static constexpr const char* kNames[] = {"sync", "remove", "place", "sync folder"};
            seen.push_back(std::string(kNames[static_cast<int>(step)]) + " " + fs::path(name).filename().string());
        });
        f();
        observeSteps(nullptr);
        return seen;
    }
};

TEST_F(Outputs, AFileIsSyncedBeforeItIsPlacedAndItsFolderAfter)
{
    // A pair replacing an older pair: both old files go, and that is on the disk, before either
    // new one takes its place.
    write("key", "old key");
    write("enc", "old hex");
    const std::vector<std::string> pair = steps([&] {
        Output key("key", Output::Kind::Secret, Output::Existing::Replace);
        Output enc("enc", Output::Kind::Text, Output::Existing::Replace);
        key.write("new key");
        enc.write("new hex");
        commitPair(key, enc);
    });
    EXPECT_EQ(pair,
        (std::vector<std::string> {"sync key", "sync enc", "remove enc", "sync folder enc", "remove key",
            "sync folder key", "place key", "sync folder key", "place enc", "sync folder enc"}));
    EXPECT_EQ(read("key") + "," + read("enc"), "new key,new hex");
    EXPECT_EQ(names(), (std::set<std::string> {"key", "enc"}));
}

// Stopped after any step, as by a crash, a pair is old, new or missing, never one of each, and
// no temporary file is left.
TEST_F(Outputs, ACrashBetweenAnyTwoStepsLeavesNoMixedPair)
{
    for (int stop = 0; stop < 10; ++stop) {
        SCOPED_TRACE("stopped after step " + std::to_string(stop + 1));
        write("key", "old key");
        write("enc", "old hex");
        int step = 0;
        observeSteps([&](Step, const std::string&) {
            if (step++ == stop) {
                throw Crash {};
            }
        });
        EXPECT_THROW(
            {
                Output key("key", Output::Kind::Secret, Output::Existing::Replace);
                Output enc("enc", Output::Kind::Text, Output::Existing::Replace);
                key.write("new key");
                enc.write("new hex");
                commitPair(key, enc);
            },
            Crash);
        const std::string key = read("key");
        const std::string enc = read("enc");
        const bool mixed = (key == "old key" && enc == "new hex") || (key == "new key" && enc == "old hex");
        EXPECT_FALSE(mixed) << key << " beside " << enc;
        for (const std::string& name : names()) {
            EXPECT_TRUE(name == "key" || name == "enc") << name;
        }
    }
}

TEST_F(Outputs, PermissionsOwnerAndLinks)
{
    const mode_t previous = ::umask(022);
    write("setuid", "old");
    fs::permissions("setuid", fs::perms(04755));
    write("open", "old");
    fs::permissions("open", fs::perms(0644));
    fs::create_symlink("target", "dangling");
    fs::create_symlink("setuid", "link");
    const struct
    {
        std::string name;
        Output::Kind kind;
        std::string file; // where the text lands
        unsigned mode;
    } rows[] = {
        {"new", Output::Kind::Text, "new", 0644}, {"key", Output::Kind::Secret, "key", 0600},
        {"open", Output::Kind::Secret, "open", 0600}, // key text is never looser than 0600
        {"setuid", Output::Kind::Text, "setuid", 0755}, // setuid stays with the old contents
        {"dangling", Output::Kind::Text, "target", 0644}, // not the link's own 0777
        {"link", Output::Kind::Text, "setuid", 0755}, // the file it points to is replaced
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Output out(row.name, row.kind, Output::Existing::Replace);
        out.write("text");
        out.commit();
        EXPECT_EQ(read(row.file), "text");
        EXPECT_EQ(mode(row.file), row.mode);
    }
    ::umask(previous);
    // A file replaced by root stays its owner's, as long as the owner may have it.
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown("open", 65534, 65534), 0);
        Output out("open", Output::Kind::Secret, Output::Existing::Replace);
        out.commit();
        struct stat status
        {
        };
        ::stat("open", &status);
        EXPECT_EQ(status.st_uid, 65534u);
        EXPECT_EQ(status.st_mode & 0777, 0600u);
    }
    EXPECT_TRUE(fs::is_symlink("dangling"));
    EXPECT_TRUE(fs::is_symlink("link"));
    // A key file already there is refused; a device is no key to lose.
    EXPECT_THROW(Output("key", Output::Kind::Secret, Output::Existing::Refuse), FileError);
    Output device("/dev/null", Output::Kind::Secret, Output::Existing::Refuse);
    EXPECT_TRUE(device.inPlace());
}

// A link another user planted in a sticky folder anyone may write to is not followed, as the
// kernel's protected_symlinks has shells do; our own link there is.
TEST_F(Outputs, ALinkPlantedInAStickyFolderIsRefused)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a link to another user takes root";
    }
    fs::create_directory("shared");
    fs::permissions("shared", fs::perms(01777));
    write("victim", "precious");
    fs::create_symlink(fs::absolute("victim"), "shared/planted");
    ASSERT_EQ(::lchown("shared/planted", 65534, 65534), 0);
    fs::create_symlink(fs::absolute("victim"), "shared/mine");
    try {
        Output out("shared/planted", Output::Kind::Text, Output::Existing::Replace);
        ADD_FAILURE() << "the planted link was followed";
    } catch (const FileError& e) {
        EXPECT_EQ(e.what, std::strerror(EACCES));
    }
    EXPECT_EQ(read("victim"), "precious");
    Output out("shared/mine", Output::Kind::Text, Output::Existing::Replace);
    out.write("ours");
    out.commit();
    EXPECT_EQ(read("victim"), "ours");
}

TEST(Names, ControlCharactersAndMalformedUtf8AreQuotedAsGnuToolsDo)
{
    const std::pair<std::string, std::string> rows[] = {
        {"plain.hex", "plain.hex"},
        {"with space é.hex", "with space é.hex"},
        {"a\nb", "'a'$'\\n''b'"},
        {"\x1b[31mred", "''$'\\033''[31mred'"},
        {"it's\t", "'it'\\''s'$'\\t'''"},
        {"bad\xff", "'bad'$'\\377'''"},
        {"c1\xc2\x9b", "'c1'$'\\302'''$'\\233'''"},
    };
    for (const auto& [name, printed] : rows) {
        EXPECT_EQ(printableName(name), printed) << name;
    }
}

TEST(Secrets, TheProcessCannotBeDumped)
{
    const pid_t child = ::fork();
    if (child == 0) {
        hardenProcess();
        rlimit core {};
        ::getrlimit(RLIMIT_CORE, &core);
        ::_exit(::prctl(PR_GET_DUMPABLE) == 0 && core.rlim_cur == 0 && core.rlim_max == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
} // namespace morvalen::cli
