#include "InfoBlock.h"
#include "InfoBlockReader.h"
#include "InfoLayout.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tessura::info {
namespace {

using namespace std::chrono_literals;

// Names of this test's own, so a player running on the machine is never touched.
Names uniqueNames() {
    static std::atomic<int> counter{0};
    return Names::withSuffix(".test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
}

// The block's bytes as another program sees them, mapped without this project's decoder.
std::vector<unsigned char> rawBytes(const Names& names) {
    const int fd = ::shm_open(names.memory.c_str(), O_RDONLY, 0);
    if (fd < 0) return {};
    void* view = ::mmap(nullptr, kBlockSize, PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (view == MAP_FAILED) return {};
    const auto* bytes = static_cast<const unsigned char*>(view);
    std::vector<unsigned char> copy(bytes, bytes + kBlockSize);
    ::munmap(view, kBlockSize);
    return copy;
}

uint32_t numberAt(const std::vector<unsigned char>& bytes, std::size_t offset) {
    return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) |
           (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

bool allZero(const std::vector<unsigned char>& bytes, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

class InfoBlockTest : public ::testing::Test {
  protected:
    void TearDown() override {
        ::shm_unlink(names.memory.c_str());
        ::sem_unlink(names.event.c_str());
    }
    void drainEvent(InfoBlockReader& reader) {
        while (reader.takeEvent()) {
        }
    }

    const Names names = uniqueNames();
};

TEST(InfoLayout, FieldsFollowEachOtherAndFitTheBlock) {
    struct Field {
        std::size_t offset, size;
    };
    const Field fields[] = {{kMagic, 4},     {kState, 4},          {kLength, 4},
                            {kPosition, 4},  {kTitle, kTextField}, {kAuthor, kTextField},
                            {kColours, 16},  {kSkinName, kTextField}, {kVisName, kTextField},
                            {kFileName, kFileNameField}};
    std::size_t expected = 0;
    for (const Field& field : fields) {
        EXPECT_EQ(field.offset, expected);
        expected = field.offset + field.size;
    }
    EXPECT_EQ(expected, 1316u);
    EXPECT_EQ(kBlockSize, 1317u);
    EXPECT_EQ(kRunningMagic, 1316u);
}

TEST(InfoLayout, NamesAreFixedAndASuffixIsAddedToBoth) {
    const Names plain = Names::withSuffix("");
    EXPECT_EQ(plain.memory, "/TessuraInformation");
    EXPECT_EQ(plain.event, "/TessuraInformationEvent");
    const Names test = Names::withSuffix(".t1");
    EXPECT_EQ(test.memory, "/TessuraInformation.t1");
    EXPECT_EQ(test.event, "/TessuraInformationEvent.t1");
    EXPECT_EQ(Names::withSuffix("a/b").memory, "/TessuraInformation");
}

TEST(InfoLayout, TextsAreCutAtCharacterBoundaries) {
    const std::string e2 = "\xC3\xA9";          // é, two bytes
    const std::string e3 = "\xE2\x82\xAC";      // €, three bytes
    const std::string e4 = "\xF0\x9F\x8E\xB5";  // a note, four bytes
    struct Row {
        std::string text;
        std::size_t field;
        std::size_t kept;
    };
    const std::vector<Row> rows = {
        {std::string(300, 'a'), 256, 255},
        {std::string(255, 'a'), 256, 255},
        {std::string(254, 'a') + e2, 256, 254},           // é would need bytes 254 and 255
        {std::string(253, 'a') + e2, 256, 255},           // fits exactly
        {std::string(253, 'a') + e3, 256, 253},
        {std::string(252, 'a') + e3 + "b", 256, 255},
        {std::string(252, 'a') + e4, 256, 252},
        {std::string(254, 'a') + e4, 256, 254},
        {std::string(400, 'x'), 260, 259},
        {std::string(257, 'a') + e2, 260, 259},
        {std::string(300, '\x80'), 256, 255},             // not UTF-8: cut at the field
        {std::string("ab\0cd", 5), 256, 2},               // ends at a zero
        {"", 256, 0},
    };
    for (const Row& row : rows) {
        const std::string_view kept = fitToField(row.text, row.field);
        EXPECT_EQ(kept.size(), row.kept) << row.text.size() << " bytes into " << row.field;
        EXPECT_EQ(kept, std::string_view(row.text).substr(0, row.kept));
    }
}

TEST(InfoLayout, AnExistingBlockMustBeOursAndOfTheBlocksSize) {
    struct Row {
        mode_t mode;
        uid_t owner;
        off_t size;
        bool requireSize;
        bool ours;
    };
    const Row rows[] = {
        {S_IFREG | 0600, 1000, 1317, true, true}, {S_IFREG | 0600, 1001, 1317, true, false},
        {S_IFREG | 0600, 1000, 1316, true, false}, {S_IFREG | 0600, 1000, 1316, false, true},
        {S_IFREG | 0600, 1001, 0, false, false},   {S_IFDIR | 0700, 1000, 1317, true, false},
    };
    for (const Row& row : rows) {
        struct stat info{};
        info.st_mode = row.mode;
        info.st_uid = row.owner;
        info.st_size = row.size;
        EXPECT_EQ(blockIsOurs(info, 1000, row.requireSize), row.ours)
            << "uid " << row.owner << " size " << row.size;
    }
}

TEST_F(InfoBlockTest, OpenMakesAPrivateBlockMarkedRunning) {
    InfoBlock block(names);
    ASSERT_TRUE(block.Open());
    EXPECT_TRUE(block.isOpen());
    const int fd = ::shm_open(names.memory.c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    struct stat info{};
    ASSERT_EQ(::fstat(fd, &info), 0);
    ::close(fd);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(info.st_uid, ::getuid());
    EXPECT_EQ(info.st_size, static_cast<off_t>(kBlockSize));
    const std::vector<unsigned char> bytes = rawBytes(names);
    ASSERT_EQ(bytes.size(), kBlockSize);
    EXPECT_EQ(numberAt(bytes, kMagic), 1316u);
    EXPECT_TRUE(allZero(bytes, 4, kBlockSize));
}

TEST_F(InfoBlockTest, EachWriterLandsInItsFieldAndSignalsByTheRules) {
    InfoBlock block(names);
    ASSERT_TRUE(block.Open());
    InfoBlockReader reader(names);
    ASSERT_TRUE(reader.open());
    ASSERT_TRUE(reader.hasEvent());
    struct Row {
        const char* name;
        std::function<bool()> write;
        std::size_t offset;
        std::string bytes;  // what the field starts with afterwards
        bool signals;
    };
    const std::vector<Row> rows = {
        {"SetState", [&] { return block.SetState(PlayState::Paused); }, kState, std::string("\x03\0\0\0", 4), true},
        {"SetLength", [&] { return block.SetLength(0x01020304); }, kLength, "\x04\x03\x02\x01", true},
        {"SetPosition", [&] { return block.SetPosition(-1); }, kPosition, "\xFF\xFF\xFF\xFF", false},
        {"SetTitle", [&] { return block.SetTitle("Title"); }, kTitle, std::string("Title\0", 6), true},
        {"SetAuthor", [&] { return block.SetAuthor("Author"); }, kAuthor, std::string("Author\0", 7), true},
        {"SetColours 0", [&] { return block.SetColours(0, 0x00112233); }, kColours, "\x33\x22\x11\xFF", false},
        {"SetColours 3", [&] { return block.SetColours(3, 0x7F445566); }, kColours + 12, "\x66\x55\x44\xFF", false},
        {"SetSkinName", [&] { return block.SetSkinName("Chrome"); }, kSkinName, std::string("Chrome\0", 7), true},
        {"SetSkinName none", [&] { return block.SetSkinName(""); }, kSkinName, std::string("original_default\0", 17), true},
        {"SetVisName", [&] { return block.SetVisName("Scope"); }, kVisName, std::string("Scope\0", 6), true},
        {"SetFileName", [&] { return block.SetFileName("/m/a.mp3"); }, kFileName, std::string("/m/a.mp3\0", 9), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        drainEvent(reader);
        ASSERT_EQ(reader.eventValue(), 0);
        EXPECT_TRUE(row.write());
        EXPECT_EQ(reader.eventValue(), row.signals ? 1 : 0);
        const std::vector<unsigned char> bytes = rawBytes(names);
        EXPECT_EQ(std::string(bytes.begin() + static_cast<long>(row.offset),
                              bytes.begin() + static_cast<long>(row.offset + row.bytes.size())),
                  row.bytes);
    }
    EXPECT_FALSE(block.SetColours(4, 0));
    EXPECT_EQ(numberAt(rawBytes(names), kMagic), 1316u);
}

TEST_F(InfoBlockTest, TheEventNeverCountsUpAndReleasesAWaitingReader) {
    InfoBlock block(names);
    ASSERT_TRUE(block.Open());
    InfoBlockReader reader(names);
    ASSERT_TRUE(reader.open());
    drainEvent(reader);
    EXPECT_TRUE(block.SetState(PlayState::Playing));
    EXPECT_TRUE(block.SetTitle("a"));
    EXPECT_TRUE(block.SetFileName("b"));
    EXPECT_EQ(reader.eventValue(), 1);
    EXPECT_TRUE(reader.takeEvent());
    EXPECT_FALSE(reader.takeEvent());

    std::atomic<bool> released{false};
    std::thread waiter([&] { released = reader.waitEvent(5000ms); });
    EXPECT_TRUE(block.SetState(PlayState::Stopped));
    waiter.join();
    // Either the waiter took this signal, or it came in after and the signal was still set.
    EXPECT_TRUE(released.load() || reader.takeEvent());
}

TEST_F(InfoBlockTest, ASecondReaderSeesTheRunningPlayerAtOnce) {
    InfoBlock block(names);
    ASSERT_TRUE(block.Open());
    EXPECT_TRUE(block.SetState(PlayState::Playing));
    EXPECT_TRUE(block.SetLength(215000));
    EXPECT_TRUE(block.SetPosition(1234));
    EXPECT_TRUE(block.SetTitle("Song \xC3\xA9"));
    EXPECT_TRUE(block.SetAuthor("Band"));
    EXPECT_TRUE(block.SetSkinName(""));
    EXPECT_TRUE(block.SetColours(1, 0x00ABCDEF));
    EXPECT_TRUE(block.SetVisName("Spectrum"));
    EXPECT_TRUE(block.SetFileName("http://radio.example/stream"));

    const std::optional<Snapshot> seen = readBlockOnce(names);
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->magic, kRunningMagic);
    EXPECT_EQ(seen->state, 1u);
    EXPECT_EQ(seen->length, 215000);
    EXPECT_EQ(seen->position, 1234);
    EXPECT_EQ(seen->title, "Song \xC3\xA9");
    EXPECT_EQ(seen->author, "Band");
    EXPECT_EQ(seen->skinName, "original_default");
    EXPECT_EQ(seen->colours[1], 0xFFABCDEFu);
    EXPECT_EQ(seen->colours[0], 0u);
    EXPECT_EQ(seen->visName, "Spectrum");
    EXPECT_EQ(seen->fileName, "http://radio.example/stream");
}

TEST_F(InfoBlockTest, ATitleWithoutSecondTextClearsItsFieldAndNoTailIsLeft) {
    InfoBlock block(names);
    ASSERT_TRUE(block.Open());
    EXPECT_TRUE(block.SetTitle("A rather long first title"));
    EXPECT_TRUE(block.SetAuthor("First author"));
    EXPECT_TRUE(block.SetTitle("Next"));
    EXPECT_TRUE(block.SetAuthor({}));
    const std::vector<unsigned char> bytes = rawBytes(names);
    EXPECT_EQ(std::string(bytes.begin() + kTitle, bytes.begin() + kTitle + 4), "Next");
    EXPECT_TRUE(allZero(bytes, kTitle + 4, kAuthor));
    EXPECT_TRUE(allZero(bytes, kAuthor, kColours));
    EXPECT_TRUE(block.SetTitle(""));
    EXPECT_TRUE(allZero(rawBytes(names), kTitle, kAuthor));
}

TEST_F(InfoBlockTest, LongTextsAreCutTerminatedAndStayInTheirField) {
    InfoBlock block(names);
    ASSERT_TRUE(block.Open());
    EXPECT_TRUE(block.SetAuthor("neighbour"));
    EXPECT_TRUE(block.SetColours(0, 0x00010203));
    std::string title;
    while (title.size() < 400) title += "\xE2\x82\xAC";  // three bytes each: 255 is not a boundary
    EXPECT_TRUE(block.SetTitle(title));
    EXPECT_TRUE(block.SetVisName(std::string(1000, 'v')));  // its neighbour is the file name
    EXPECT_TRUE(block.SetFileName(std::string(1000, 'f')));  // the block's last field

    const std::vector<unsigned char> bytes = rawBytes(names);
    const std::optional<Snapshot> seen = readBlockOnce(names);
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(seen->title, title.substr(0, 255));  // 85 whole characters
    EXPECT_EQ(bytes[kTitle + 255], 0);
    EXPECT_EQ(seen->author, "neighbour");
    EXPECT_EQ(seen->visName, std::string(255, 'v'));
    EXPECT_EQ(bytes[kVisName + 255], 0);
    EXPECT_EQ(seen->fileName, std::string(259, 'f'));
    EXPECT_EQ(bytes[kFileName + 259], 0);
    EXPECT_EQ(bytes[kBlockSize - 1], 0);

    std::string notes;
    while (notes.size() < 300) notes += "\xF0\x9F\x8E\xB5";
    EXPECT_TRUE(block.SetTitle(notes));
    EXPECT_EQ(readBlockOnce(names)->title, notes.substr(0, 252));
    EXPECT_EQ(numberAt(rawBytes(names), kColours), 0xFF010203u);
}

TEST_F(InfoBlockTest, WithoutTheBlockEveryWriterReportsFalse) {
    const auto allWriters = [](InfoBlock& block) {
        std::vector<bool> results = {
            block.SetState(PlayState::Playing), block.SetLength(1), block.SetPosition(1),
            block.SetTitle("t"),  block.SetAuthor("a"), block.SetColours(0, 1),
            block.SetSkinName("s"), block.SetVisName("v"), block.SetFileName("f")};
        return results;
    };
    const std::vector<bool> none(9, false);
    InfoBlock neverOpened(names);
    EXPECT_EQ(allWriters(neverOpened), none);
    EXPECT_FALSE(neverOpened.Close());

    InfoBlock badName(Names{"no-slash", "/TessuraInformationEvent.x"});
    EXPECT_FALSE(badName.Open());
    EXPECT_EQ(allWriters(badName), none);

    InfoBlock closed(names);
    ASSERT_TRUE(closed.Open());
    EXPECT_TRUE(closed.Close());
    EXPECT_EQ(allWriters(closed), none);
}

TEST_F(InfoBlockTest, CloseWritesZeroSignalsAndRemovesTheNames) {
    InfoBlock block(names);
    ASSERT_TRUE(block.Open());
    EXPECT_TRUE(block.SetTitle("playing"));
    InfoBlockReader reader(names);
    ASSERT_TRUE(reader.open());
    drainEvent(reader);
    EXPECT_TRUE(block.Close());
    EXPECT_FALSE(block.isOpen());
    const std::optional<Snapshot> last = reader.read();  // a reader that had it open
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(last->magic, 0u);
    EXPECT_EQ(last->title, "playing");
    EXPECT_EQ(reader.eventValue(), 1);

    EXPECT_LT(::shm_open(names.memory.c_str(), O_RDONLY, 0), 0);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(::sem_open(names.event.c_str(), 0), SEM_FAILED);
    EXPECT_FALSE(readBlockOnce(names).has_value());
    EXPECT_FALSE(block.Close());
}

TEST_F(InfoBlockTest, ABlockLeftByACrashedPlayerIsTakenOver) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {  // a player that dies without closing
        InfoBlock crashed(names);
        const bool ok = crashed.Open() && crashed.SetTitle("left behind") && crashed.SetState(PlayState::Playing);
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::optional<Snapshot> leftover = readBlockOnce(names);
    ASSERT_TRUE(leftover.has_value());
    EXPECT_EQ(leftover->magic, kRunningMagic);
    EXPECT_EQ(leftover->title, "left behind");

    InfoBlock block(names);
    ASSERT_TRUE(block.Open());
    const std::optional<Snapshot> fresh = readBlockOnce(names);
    ASSERT_TRUE(fresh.has_value());
    EXPECT_EQ(fresh->magic, kRunningMagic);
    EXPECT_EQ(fresh->title, "");
    EXPECT_EQ(fresh->state, 0u);
    InfoBlockReader reader(names);
    ASSERT_TRUE(reader.open());
    EXPECT_EQ(reader.eventValue(), 0);  // the dead player's pending signal is gone
    EXPECT_TRUE(block.SetTitle("new"));
    EXPECT_EQ(reader.read()->title, "new");
}

TEST_F(InfoBlockTest, ALeftoverOfTheWrongSizeIsMadeAgainButALiveOneIsNotTouched) {
    const int fd = ::shm_open(names.memory.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 100), 0);
    ASSERT_EQ(::flock(fd, LOCK_SH), 0);  // someone holds it: it is in use
    {
        InfoBlock block(names);
        EXPECT_FALSE(block.Open());
    }
    ASSERT_EQ(::flock(fd, LOCK_UN), 0);  // now it is only a leftover
    InfoBlock block(names);
    EXPECT_TRUE(block.Open());
    struct stat info{};
    const int now = ::shm_open(names.memory.c_str(), O_RDONLY, 0);
    ASSERT_GE(now, 0);
    ASSERT_EQ(::fstat(now, &info), 0);
    ::close(now);
    ::close(fd);
    EXPECT_EQ(info.st_size, static_cast<off_t>(kBlockSize));
}

TEST_F(InfoBlockTest, TwoPlayersShareTheBlockAndTheLastOneRemovesIt) {
    InfoBlock first(names);
    ASSERT_TRUE(first.Open());
    EXPECT_TRUE(first.SetTitle("first"));
    InfoBlock second(names);
    ASSERT_TRUE(second.Open());
    EXPECT_EQ(readBlockOnce(names)->title, "first");  // joining does not wipe it
    EXPECT_TRUE(second.Close());
    EXPECT_TRUE(readBlockOnce(names).has_value());
    EXPECT_TRUE(first.SetTitle("still here"));
    EXPECT_EQ(readBlockOnce(names)->title, "still here");
    EXPECT_TRUE(first.Close());
    EXPECT_FALSE(readBlockOnce(names).has_value());
}

}  // namespace
}  // namespace tessura::info
