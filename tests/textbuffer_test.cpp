// The text box's buffer on its own: what an edit costs (which blocks it copies), that snapshots
// and copies keep their text, and that every block that held text is wiped when it is let go.
// The fuzz target checks the bytes against a plain string; these check what it cannot see.
#include "RowStarts.h"
#include "TextBuffer.h"
#include "support/helpers.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace morvalen::textbox {
namespace {

constexpr std::size_t kMebibyte = 1 << 20;

std::string keyLike(std::size_t size)
{
    std::string text(size, '0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = "01|\n"[(i * 7 + i / 5) % 4];
    }
    return text;
}

// Records every block released while it lives: its size and whether it was all zero.
class Releases
{
public:
    Releases()
    {
        TextBuffer::observeReleases([this](std::string_view bytes) {
            sizes.push_back(bytes.size());
            allZero = allZero && std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == '\0'; });
        });
    }
    ~Releases() { TextBuffer::observeReleases(nullptr); }
    std::size_t largest() const { return sizes.empty() ? 0 : *std::max_element(sizes.begin(), sizes.end()); }

    std::vector<std::size_t> sizes;
    bool allZero = true;
};

TEST(TextBuffer, EditsInTheMiddleCopyNoneOfTheText)
{
    TextBuffer buffer;
    buffer.assign(keyLike(4 * kMebibyte));
    const char* block = buffer.piece(0).data();
    const TextSnapshot whole = buffer.snapshot(0, buffer.size()); // shared, as a copied key is
    std::string model = keyLike(4 * kMebibyte);
    for (int i = 0; i < 100; ++i) {
        const std::size_t pos = model.size() / 2 + static_cast<std::size_t>(i) * 4099;
        buffer.insert(pos, std::string_view("5"));
        model.insert(pos, "5");
    }
    buffer.erase(kMebibyte, 3);
    model.erase(kMebibyte, 3);
    // The text it was given is still where it was: nothing moved it or copied it.
    EXPECT_EQ(buffer.piece(0).data(), block);
    EXPECT_LE(buffer.pieceCount(), 2 * 100 + 3);
    EXPECT_EQ(buffer.copy(0, buffer.size()), model);
    EXPECT_EQ(whole.toString(), keyLike(4 * kMebibyte));
    // Undoing a large deletion puts the same blocks back.
    const TextSnapshot removed = buffer.erase(0, 3 * kMebibyte);
    buffer.insert(0, removed);
    EXPECT_EQ(buffer.piece(0).data(), block);
    EXPECT_EQ(buffer.copy(0, buffer.size()), model);
    EXPECT_EQ(buffer.contiguous(), model);
    EXPECT_EQ(buffer.pieceCount(), 1u);
}

TEST(TextBuffer, ACopyTypesIntoItsOwnBlock)
{
    TextBuffer original;
    original.insert(0, std::string_view("abc"));
    TextBuffer copy(original);
    original.insert(3, std::string_view("1"));
    copy.insert(3, std::string_view("2"));
    TextBuffer moved(std::move(copy));
    moved.insert(4, std::string_view("3"));
    EXPECT_EQ(original.copy(0, 10), "abc1");
    EXPECT_EQ(moved.copy(0, 10), "abc23");
    EXPECT_TRUE(copy.empty()); // NOLINT(bugprone-use-after-move): a moved-from buffer is empty
}

TEST(TextBuffer, EveryBlockIsWipedWhenLetGo)
{
    const std::string key = keyLike(2 * kMebibyte);
    struct Row
    {
        const char* name;
        void (*drop)(TextBuffer&, const std::string& key);
    };
    const Row rows[] = {
        {"text replaced", [](TextBuffer& b, const std::string&) { b.assign("new"); }},
        {"text cleared", [](TextBuffer& b, const std::string&) { b.erase(0, b.size()); }},
        {"buffer destroyed", [](TextBuffer& b, const std::string&) { b = TextBuffer(); }},
        {"pieces joined",
            [](TextBuffer& b, const std::string&) {
                b.insert(kMebibyte, std::string_view("x"));
                b.contiguous();
            }},
        {"large paste replaced",
            [](TextBuffer& b, const std::string& k) {
                b.insert(3, k.substr(0, k.size() / 2));
                b.assign("");
            }},
        {"typing replaced",
            [](TextBuffer& b, const std::string& k) {
                b.assign("");
                for (std::size_t i = 0; i < 5000; ++i) {
                    b.insert(b.size(), k.substr(i, 1));
                }
                b.assign("");
            }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TextBuffer buffer;
        buffer.assign(key);
        // A snapshot holds the text until it goes: only then are its blocks released.
        auto held = std::make_unique<TextSnapshot>(buffer.snapshot(0, buffer.size()));
        Releases releases;
        row.drop(buffer, key);
        EXPECT_LT(releases.largest(), key.size()) << "released while a snapshot held it";
        held.reset();
        EXPECT_EQ(releases.largest(), key.size());
        EXPECT_TRUE(releases.allZero);
    }
}

TEST(TextBuffer, SmallSnapshotsCopyAndAreWipedToo)
{
    TextBuffer buffer;
    buffer.assign(keyLike(100));
    Releases releases;
    {
        const TextSnapshot removed = buffer.erase(10, 5);
        buffer.assign("");
        EXPECT_FALSE(releases.sizes.empty());
        EXPECT_EQ(std::count(releases.sizes.begin(), releases.sizes.end(), 5u), 0) << "released while kept";
        EXPECT_EQ(removed.toString(), keyLike(100).substr(10, 5));
    }
    EXPECT_EQ(releases.sizes.back(), 5u);
    EXPECT_TRUE(releases.allZero);
}

// The kernel's flags for the mapping that holds address: "dd" marks it as left out of core dumps.
std::string mappingFlags(const void* address)
{
    std::ifstream maps("/proc/self/smaps");
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    bool inside = false;
    for (std::string line; std::getline(maps, line);) {
        std::uintptr_t from = 0;
        std::uintptr_t to = 0;
        char dash = 0;
        std::istringstream range(line);
        if (range >> std::hex >> from >> dash >> to && dash == '-') {
            inside = from <= at && at < to;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line;
        }
    }
    return {};
}

TEST(TextBuffer, LargeTextsStayOutOfCoreDumps)
{
    if (morvalen::testing::kUnderEmulator) {
        GTEST_SKIP() << "qemu-user takes the advice not to dump a mapping and does not pass it on";
    }
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    TextBuffer buffer;
    buffer.assign(keyLike(2 * kMebibyte));
    EXPECT_NE(mappingFlags(buffer.contiguous().data() + page).find(" dd"), std::string::npos) << "taken over";
    buffer.insert(kMebibyte, std::string_view("x"));
    EXPECT_NE(mappingFlags(buffer.contiguous().data() + page).find(" dd"), std::string::npos) << "joined";
}

} // namespace
} // namespace morvalen::textbox

namespace morvalen::textbox {
namespace {

// Row starts kept in 16-bit chunks give what a plain list of starts gives: gaps on both sides of
// 64 KiB, chunks filled and cut short, and cut back to a row in the middle of a chunk, at a chunk's
// first row and to the first row.
TEST(RowStarts, AnswerAsAListOfStarts)
{
    struct Step
    {
        const char* name;
        std::size_t rows;
        std::size_t gap;
        std::size_t keep; // rows kept afterwards
    };
    const Step steps[] = {
        {"short rows over three chunks", 3 * RowStarts::kChunkRows, 33, 2 * RowStarts::kChunkRows + 7},
        {"gaps of 64 KiB less one", 5, 65535, 2 * RowStarts::kChunkRows + 9},
        {"gaps of 64 KiB and more", 4, 65536, 2 * RowStarts::kChunkRows + 10},
        {"short rows after long ones", RowStarts::kChunkRows + 3, 1, RowStarts::kChunkRows},
        {"back to one chunk", 10, 100000, RowStarts::kChunkRows + 1},
        {"refilled after a cut", 2000, 2, 1},
        {"from the first row again", 1500, 40, 1500},
    };
    RowStarts starts;
    std::vector<std::size_t> model {0};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        for (std::size_t i = 0; i < step.rows; ++i) {
            model.push_back(model.back() + step.gap);
            starts.push_back(model.back());
        }
        for (int pass = 0; pass < 2; ++pass) {
            ASSERT_EQ(starts.size(), model.size());
            ASSERT_EQ(starts.back(), model.back());
            for (std::size_t row = 0; row < model.size(); ++row) {
                ASSERT_EQ(starts[row], model[row]) << "row " << row;
                for (const std::size_t pos : {model[row], model[row] + 1, model[row] + step.gap - 1}) {
                    const auto holder = std::upper_bound(model.begin(), model.end(), pos) - model.begin() - 1;
                    ASSERT_EQ(starts.holderOf(pos), static_cast<std::size_t>(holder)) << "pos " << pos;
                }
            }
            model.resize(std::min(step.keep, model.size()));
            starts.truncate(step.keep);
        }
    }
}

} // namespace
} // namespace morvalen::textbox
