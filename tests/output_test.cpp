// The command line's outputs in-process: the steps that put a file safely in place, what a crash
// between two of them leaves, targets written in place, links, permissions, and printed names.
#include "io.h"
#include "output.h"
#include "secret.h"
#include "support/folder.h"
#include "support/helpers.h"

#include <cstdio>
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

// Stopped after any step, by a crash (the process ends there, nothing cleans up) or by a failure
// (the step reports an error), a pair is old, new or missing, never one of each, and no temporary
// file is left. A failure leaves no key without its hex nor a hex without its key: the old pair,
// none, or the new pair whole.
TEST_F(Outputs, ACrashOrAFailureAtAnyStepLeavesNoMixedPair)
{
    const auto commit = [](const StepObserver& steps) {
        observeSteps(steps);
        Output key("key", Output::Kind::Secret, Output::Existing::Replace);
        Output enc("enc", Output::Kind::Text, Output::Existing::Replace);
        key.write("new key");
        enc.write("new hex");
        commitPair(key, enc);
    };
    for (const bool crash : {true, false}) {
        for (int stop = 0; stop < 10; ++stop) {
            SCOPED_TRACE((crash ? "crash after step " : "failure at step ") + std::to_string(stop + 1));
            write("key", "old key");
            write("enc", "old hex");
            int step = 0;
            const StepObserver steps = [&](Step, const std::string& name) {
                if (step++ == stop) {
                    if (crash) {
                        ::_exit(0);
                    }
                    throw FileError {name, std::strerror(EIO)};
                }
            };
            if (crash) {
                const pid_t child = ::fork();
                if (child == 0) {
                    commit(steps);
                    ::_exit(1);
                }
                int status = 0;
                ASSERT_EQ(::waitpid(child, &status, 0), child);
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            } else {
                EXPECT_THROW(commit(steps), FileError);
            }
            const std::string pair = read("key") + " / " + read("enc");
            const std::set<std::string> allowed = crash
                ? std::set<std::string> {"old key / old hex", "(none) / old hex", "old key / (none)", "(none) / (none)",
                    "new key / (none)", "new key / new hex"}
                : std::set<std::string> {"old key / old hex", "(none) / (none)", "new key / new hex"};
            EXPECT_TRUE(allowed.contains(pair)) << pair;
            for (const std::string& name : names()) {
                EXPECT_TRUE(name == "key" || name == "enc") << name;
            }
            fs::remove("key");
            fs::remove("enc");
        }
    }
}

// Two writers of one pair take turns: the first, paused once its key is in place, holds the
// second back until its hex is in place too, so the pair is one writer's whole.
TEST_F(Outputs, TwoWritersOfOnePairTakeTurns)
{
    write("key", "old key");
    write("enc", "old hex");
    const auto writer = [](const std::string& letter, bool pause) {
        const pid_t child = ::fork();
        if (child == 0) {
            observeSteps([&](Step step, const std::string& name) {
                if (pause && step == Step::Place && name == "key") {
                    ::usleep(400000);
                }
            });
            Output key("key", Output::Kind::Secret, Output::Existing::Replace);
            Output enc("enc", Output::Kind::Text, Output::Existing::Replace);
            key.write("key " + letter);
            enc.write("hex " + letter);
            commitPair(key, enc);
            ::_exit(0);
        }
        return child;
    };
    const pid_t first = writer("A", true);
    ::usleep(150000);
    const pid_t second = writer("B", false);
    for (const pid_t child : {first, second}) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(read("key").substr(4), read("enc").substr(4));
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
    // A file replaced by root stays its owner's, as long as the owner may have it; a key is never
    // given away.
    if (::geteuid() == 0) {
        for (const auto kind : {Output::Kind::Text, Output::Kind::Secret}) {
            ASSERT_EQ(::chown("open", 65534, 65534), 0);
            Output out("open", kind, Output::Existing::Replace);
            out.commit();
            struct stat status
            {
            };
            ::stat("open", &status);
            EXPECT_EQ(status.st_uid, kind == Output::Kind::Text ? 65534u : 0u);
        }
    }
    EXPECT_TRUE(fs::is_symlink("dangling"));
    EXPECT_TRUE(fs::is_symlink("link"));
    // A key file already there is refused; a device is no key to lose.
    EXPECT_THROW(Output("key", Output::Kind::Secret, Output::Existing::Refuse), FileError);
    Output device("/dev/null", Output::Kind::Secret, Output::Existing::Refuse);
    EXPECT_TRUE(device.inPlace());
}

// In a sticky folder anyone may write to, a link or a file of another user is neither followed nor
// replaced, as the kernel's protected_symlinks and protected_regular have it: it may have been
// planted to make us overwrite a file of its owner's choosing, or to hand its owner what we write.
// Our own, and the folder owner's, are.
TEST_F(Outputs, OtherUsersLinksAndFilesInAStickyFolderAreRefused)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a file to another user takes root";
    }
    fs::create_directory("shared");
    fs::permissions("shared", fs::perms(01777));
    ASSERT_EQ(::chown("shared", 65533, 65533), 0); // the folder's owner
    const struct
    {
        std::string name;
        uid_t owner;
        bool link; // to "victim"
        bool refused;
    } rows[] = {
        {"planted-link", 65534, true, true},
        {"planted-file", 65534, false, true},
        {"planted-pipe", 65534, false, true}, // its owner would read what goes in
        {"my-link", 0, true, false},
        {"my-file", 0, false, false},
        {"folder-owners-file", 65533, false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        write("victim", "precious");
        const std::string name = "shared/" + row.name;
        if (row.link) {
            fs::create_symlink(fs::absolute("victim"), name);
        } else if (row.name.ends_with("pipe")) {
            ASSERT_EQ(::mkfifo(name.c_str(), 0666), 0);
        } else {
            write(name, "theirs");
        }
        ASSERT_EQ(::lchown(name.c_str(), row.owner, row.owner), 0);
        for (const auto kind : {Output::Kind::Text, Output::Kind::Secret}) {
            try {
                Output out(name, kind, Output::Existing::Replace);
                out.write("ours");
                out.commit();
                EXPECT_FALSE(row.refused);
                EXPECT_EQ(read(name), "ours");
            } catch (const FileError& e) {
                EXPECT_TRUE(row.refused);
                EXPECT_EQ(e.what, std::strerror(EACCES));
                if (!row.name.ends_with("pipe")) {
                    EXPECT_EQ(read(row.link ? "victim" : name), row.link ? "precious" : "theirs");
                }
            }
        }
    }
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

// The memory both programs keep secrets in: grown with its contents, its pages marked for no core
// dump (the "dd" of the mapping's VmFlags), however it was grown.
TEST(Secrets, ABlockKeepsItsBytesWhenItGrowsAndStaysOutOfCoreDumps)
{
    SecretBlock block(100);
    std::memcpy(block.data(), "key text", 8);
    block.resize(std::size_t {8} << 20);
    EXPECT_EQ(std::string(block.data(), 8), "key text");
    if (morvalen::testing::kUnderEmulator) {
        GTEST_SKIP() << "qemu-user takes the advice not to dump a mapping and does not pass it on";
    }
    const auto start = reinterpret_cast<unsigned long>(block.data());
    std::ifstream maps("/proc/self/smaps");
    bool inBlock = false;
    std::string flags;
    for (std::string line; std::getline(maps, line);) {
        unsigned long from = 0;
        unsigned long to = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &from, &to) == 2) {
            inBlock = from <= start && start < to;
        } else if (inBlock && line.starts_with("VmFlags:")) {
            flags = line;
        }
    }
    EXPECT_NE(flags.find(" dd"), std::string::npos) << flags;
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
