#include "cipher/byteorder.h"
#include "cipher/cipher.h"
#include "cipher/masklog.h"
#include "support/helpers.h"
#include "textconv/boxtext.h"

#include <algorithm>
#include <array>
#include <gtest/gtest.h>

namespace morvalen {
namespace {

using Pieces = std::vector<std::string_view>;

// What read gives for text whole, split at every offset and in pieces of every size up to 20, which
// must all agree: the digits, or all a front end may show of the error.
std::string readEveryWay(std::string_view text, const auto& read)
{
    const auto outcome = [&](std::size_t first, std::size_t size) -> std::string {
        Pieces pieces {text.substr(0, first)};
        for (std::size_t i = first; i < text.size(); i += size) {
            pieces.push_back(text.substr(i, size));
        }
        try {
            return read(pieces);
        } catch (const Error& e) {
            const std::string place = std::to_string(e.place().line) + ":" + std::to_string(e.place().column);
            return e.what() + (" / " + e.detail()) + " @" + std::to_string(e.offset()) + "+"
                + std::to_string(e.length()) + (e.citesPlace() ? " " + place : " uncited");
        }
    };
    const std::string whole = outcome(text.size(), 1);
    for (std::size_t at = 0; at < text.size(); ++at) {
        EXPECT_EQ(outcome(at, text.size()), whole) << "split at " << at << " of " << text;
    }
    for (std::size_t size = 1; size <= 20; ++size) {
        EXPECT_EQ(outcome(size, size), whole) << "pieces of " << size << " of " << text;
    }
    return whole;
}

std::string readKey(std::string_view key, std::string digits, TextPlace start = {}, CpuPath path = CpuPath::Fastest)
{
    return readEveryWay(key, [&](const Pieces& pieces) {
        std::string out = digits;
        KeyReader reader(out, start, path);
        for (const std::string_view piece : pieces) {
            reader.read(piece);
        }
        reader.finish();
        return out;
    });
}

std::string readHex(std::string_view text, TextPlace start = {})
{
    return readEveryWay(text, [&](const Pieces& pieces) {
        HexReader reader(ErrorInput::PlainHex, start);
        std::string digits;
        for (const std::string_view piece : pieces) {
            std::string out(piece.size(), '\0');
            digits += out.substr(0, reader.read(piece, out.data()));
        }
        reader.finish();
        return digits;
    });
}

std::string readOneStream(std::string_view text)
{
    return readEveryWay(text, [&](const Pieces& pieces) {
        std::string digits(text.size(), '\0');
        std::size_t count = 0;
        OneStreamReader reader;
        for (std::string_view piece : pieces) {
            if (!reader.inKey()) {
                count += reader.readHex(piece, digits.data() + count);
            }
            if (!piece.empty()) {
                reader.readKey(std::span(digits).first(count), piece);
            }
        }
        reader.finish(std::span(digits).first(count));
        return digits.substr(0, count);
    });
}

// text with lineBreak after every width bytes.
std::string wrap(std::string_view text, std::size_t width, std::string_view lineBreak)
{
    std::string out(text.substr(0, width));
    for (std::size_t i = width; i < text.size(); i += width) {
        out.append(lineBreak).append(text.substr(i, width));
    }
    return out;
}

TEST(KeyReader, AnyPiecesGiveTheDigitsOrTheErrorOfTheWholeKey)
{
    std::string hex = "0123456789abcdef";
    const EncryptResult encrypted = encrypthexbytes(hex);
    EXPECT_EQ(readKey(encrypted.encryptingBits, encrypted.encryptedHex), "0123456789ABCDEF");
    // An odd width puts breaks inside masks as well as between them.
    EXPECT_EQ(readKey(wrap(encrypted.encryptingBits, 37, " \r\n\t"), encrypted.encryptedHex), "0123456789ABCDEF");
    EXPECT_EQ(readKey("\n|\t,0101,1111\n,1111|", "5A"), "5F");
    // The errors decrypt_test checks whole, with line breaks so that lines count.
    const std::string g = testing::repeat(",0110", 13) + "|";
    for (const std::string& key : {g + "\n,01x1|", g + "\xC3\xA9|", g + "\xF0\x9F\x98\x80", g + ",010\n|",
             g + ",0101 \n1|", g + ",0101,\n|", g + "\n0101|", g + ",0101,0101 \n", g, g + "\n" + g + g}) {
        EXPECT_TRUE(readKey(key, "12").starts_with("Encrypting bits: ")) << key;
    }
}

// A key of gigabytes of '|' is not read to its end to say it has too many groups: the piece that
// closes the group past the last digit fails, whole groups read at once or not. The message is
// decrypt_test's.
TEST(KeyReader, AGroupPastTheLastDigitFailsAtThePieceThatClosesIt)
{
    const std::string g = testing::repeat(",0110", 13) + "|";
    const std::string three = g + g + g;
    const std::string open = g + ",0110";
    for (const Pieces& pieces : {Pieces {three}, Pieces {g, open, "|"}, Pieces {"||", "|"}}) {
        std::string digits = "12";
        KeyReader reader(digits);
        std::for_each(pieces.begin(), pieces.end() - 1, [&](std::string_view piece) { reader.read(piece); });
        EXPECT_EQ(testing::errorOf([&] { reader.read(pieces.back()); }), ErrorKind::InvalidInput) << pieces.front();
    }
}

// Whole groups are read at once when the bytes from their start allow (66 with AVX2 or AVX-512, 80
// without), a longer one's further masks eight bytes at a time; any one byte changed must read as
// the byte-by-byte reader, which small pieces use, reads it, on every path. A blank in place of any
// byte also moves the eight-byte reader on and off at every offset.
TEST(KeyReader, GroupsReadWholeAgreeWithEveryOneByteChange)
{
    const std::string groups = ",0110,0110,0110,0110,0110,0110,0110,0110,0110,0110,0110,0110,0110,0001|"
                               ",0001,0010,0100,1000,0011,0110,1100,1001,0101,1010,0111,1110,1111|"
                               ",1111,0000,0000,0000,0000,0000,0000,0000,0000,0000,0000,0000,0001|";
    const std::vector<CpuPath> paths = testing::runnableCpuPaths();
    EXPECT_EQ(readKey(groups, "CFE", {}, paths.back()), "B90");
    for (std::size_t at = 0; at < 80; ++at) {
        for (const char c : {'0', '1', '2', ',', '-', '|', '}', ' ', '\n', '\xB1', 'l', '<'}) {
            std::string key = groups;
            key[at] = c;
            const std::string plain = readKey(key, "CFE", {}, CpuPath::Plain);
            for (const CpuPath path : std::span(paths).subspan(1)) {
                EXPECT_EQ(readKey(key, "CFE", {}, path), plain)
                    << "byte " << at << " made " << c << ", path " << static_cast<int>(path);
            }
        }
    }
}

TEST(OneStreamReader, TheKeyBeginsAtTheFirstCommaOrBarAndPlacesCountOn)
{
    std::string hex = "0a1B";
    const EncryptResult encrypted = encrypthexbytes(hex);
    const std::string odd = "3 hex digits is an odd count; each byte takes two.";
    const std::string mask
        = "the mask at position 7 has 2 digits; a mask has 4. / this mask has 2 digits; a mask has 4.";
    for (const auto& [text, expected] : std::vector<std::pair<std::string, std::string>> {
             {encrypted.encryptedHex + "\n" + encrypted.encryptingBits + "\n", "0A1B"},
             {" a5\n|\n,0101,1111,1111|", "A0"}, {"", ""}, {" \n ", ""},
             {"A5",
                 "Encrypting bits: 0 mask groups for 2 hex digits; each digit needs its own group. / 0 mask groups "
                 "for 2 hex digits; each digit needs its own group. @"
                     + std::to_string(Error::kNoPlace) + "+0 uncited"},
             {"A5F|", "Hex encrypted: " + odd + " / " + odd + " @2+1 uncited"},
             {"A5 x|", "Hex encrypted: 'x' at position 4 is not a hex digit. / 'x' is not a hex digit. @3+1 1:4"},
             {"A5\n||\n,01|", "Encrypting bits: " + mask + " @6+3 3:1"}}) {
        EXPECT_EQ(readOneStream(text), expected) << text;
    }
}

TEST(HexReader, AnyPiecesGiveTheDigitsAndPlacesOfTheWholeText)
{
    EXPECT_EQ(readHex("0a Bc\n12\t34 "), "0ABC1234");
    // Runs of 16 digits and more are read a block at a time; any case, any offset.
    const std::string run = "0123456789abcdefABCDEF9876543210aBcDeF";
    EXPECT_EQ(readHex(run + " " + run.substr(4) + "\n"), testing::upper(run + run.substr(4)));
    const std::string odd = "3 hex digits is an odd count; each byte takes two.";
    const std::string x = "Hex to encrypt: 'x' at position ";
    for (const auto& [text, start, expected] : std::vector<std::tuple<std::string, TextPlace, std::string>> {
             {"AB\r\nCD\n  xF", {}, x + "10 is not a hex digit. / 'x' is not a hex digit. @9+1 3:3"},
             {"AB x", {5, 2, 4}, x + "9 is not a hex digit. / 'x' is not a hex digit. @8+1 2:7"},
             // Not cited: the message is about the count, the place only marks what to select.
             {"12\n3 \n", {}, "Hex to encrypt: " + odd + " / " + odd + " @3+1 uncited"}}) {
        EXPECT_EQ(readHex(text, start), expected) << text;
    }
    // Characters cut between pieces, whole, broken or unfinished at the end.
    for (const std::string text : {"A\xC3\xA9", "A\xF0\x9F\x98\x80", "\xFF\xC3\xA9", "A\xF0\x9F ", "AB\xF0\x9F"}) {
        EXPECT_TRUE(readHex(text).starts_with("Hex to encrypt: ")) << text;
    }
}

// Words and mask records have one byte order on every machine, the first byte lowest: written out
// byte by byte here, so that a store in the machine's own order fails on any processor whose order
// is not little-endian, and a record that spills into the next one fails everywhere.
TEST(MaskLog, RecordsAreSevenBytesTheFirstMaskLowestOnEveryMachine)
{
    const std::array<std::uint8_t, 8> counting {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(loadLittle<std::uint64_t>(counting.data()), 0x0807060504030201u);
    EXPECT_EQ(loadLittle<std::uint32_t>(counting.data() + 4), 0x08070605u);
    EXPECT_EQ(loadLittle<std::uint16_t>(counting.data() + 1), 0x0302u);
    std::array<std::uint8_t, 16> bytes;
    bytes.fill(0xEE);
    storeLittle<std::uint16_t>(bytes.data() + 14, 0xA1B2);
    // Masks 1, 2, ... D, then C, B, ... 0, each group's first lowest; byte 14 is the second
    // record's spare, byte 15 untouched.
    constexpr PackedGroup kFirst = 0xDCBA987654321;
    constexpr PackedGroup kSecond = 0x0123456789ABC;
    MaskLog::storeRecord(bytes.data(), kFirst);
    MaskLog::storeRecord(bytes.data() + 7, kSecond);
    const std::array<std::uint8_t, 16> expected {
        0x21, 0x43, 0x65, 0x87, 0xA9, 0xCB, 0x0D, 0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0xA1};
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(MaskLog::loadRecord(bytes.data()), kFirst);
    EXPECT_EQ(MaskLog::loadRecord(bytes.data() + 7), kSecond);
}

// Hands every group both to a key text and to a log, counting those that took extra masks.
struct Tee final : MaskGroupSink
{
    std::string text;
    KeyWriter writer {text};
    MaskLog log;
    std::size_t longGroups = 0;

    void groups(const MaskBatch& batch) override
    {
        writer.groups(batch);
        log.groups(batch);
        longGroups += batch.longer.size();
    }
};

TEST(MaskLog, ReplaysAcrossBlocksTheGroupsTheKeyWasWrittenFrom)
{
    // At 13 masks or more a digit, 200,000 digits fill more than one block of 2 Mi masks.
    const std::string plain = testing::repeat("0123456789ABCDEF", 12'500);
    std::string digits = plain;
    Tee tee;
    Encryptor encryptor;
    encryptor.encrypt(std::span(digits).first(1), tee);
    encryptor.encrypt(std::span(digits).subspan(1, 99'999), tee);
    encryptor.encrypt(std::span(digits).subspan(100'000), tee);
    EXPECT_GT(tee.longGroups, 0u);
    EXPECT_EQ(tee.log.groupCount(), plain.size());
    std::string replayed;
    KeyWriter replayWriter(replayed);
    for (const auto& [count, handed] : std::vector<std::pair<std::size_t, std::size_t>> {
             {1, 1}, {7, 7}, {0, 0}, {1000, 1000}, {SIZE_MAX, plain.size() - 1008}, {5, 0}}) {
        EXPECT_EQ(tee.log.replay(replayWriter, count), handed) << count;
    }
    EXPECT_EQ(testing::firstDifference(replayed, tee.text), "");
    // And it is the key the digits, encrypted in pieces, were encrypted with.
    EXPECT_EQ(testing::firstDifference(decrypthexbytes(digits, replayed), plain), "");
}

} // namespace
} // namespace morvalen
