#include "Playlist.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <limits>
#include <memory>
#include <numeric>
#include <set>

#include "AtomicFile.h"
#include "M3u.h"
#include "TempFolder.h"

namespace veloraplay {
namespace {

using test::TempFolder;

// A random source that plays back a fixed script over and over and counts its draws.
struct Script {
    std::vector<uint32_t> values;
    std::size_t draws = 0;
};

std::function<uint32_t()> scripted(const std::shared_ptr<Script>& script) {
    return [script] {
        const uint32_t v = script->values.empty()
                               ? 0
                               : script->values[script->draws % script->values.size()];
        ++script->draws;
        return v;
    };
}

std::function<uint32_t()> fixedValues(std::vector<uint32_t> values) {
    auto script = std::make_shared<Script>();
    script->values = std::move(values);
    return scripted(script);
}

std::vector<std::string> names(std::size_t n) {
    std::vector<std::string> v;
    for (std::size_t i = 1; i <= n; ++i) v.push_back("/music/" + std::to_string(i) + ".mp3");
    return v;
}

// The shuffle as a plain candidate list, to hold the playlist's own against.
std::vector<uint32_t> referenceShuffle(std::size_t n, const std::function<uint32_t()>& random) {
    std::vector<uint32_t> candidates(n);
    std::iota(candidates.begin(), candidates.end(), 1u);
    std::vector<uint32_t> order;
    while (!candidates.empty()) {
        const std::size_t k = random() % candidates.size();
        order.push_back(candidates[k]);
        candidates.erase(candidates.begin() + static_cast<std::ptrdiff_t>(k));
    }
    return order;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string readText(const std::string& path) {
    std::string text;
    EXPECT_TRUE(readWholeFile(path, text)) << path;
    return text;
}

// ---- Next and Previous ------------------------------------------------------------------

enum class Step { kNext, kPrevious };

struct StepCase {
    int32_t repeat;
    std::size_t count;
    int32_t from;
    Step step;
    bool result;
    int32_t to;
};

const StepCase kStepCases[] = {
    // stop at the ends
    {Playlist::kStopAtEnds, 3, 0, Step::kNext, true, 1},
    {Playlist::kStopAtEnds, 3, 1, Step::kNext, true, 2},
    {Playlist::kStopAtEnds, 3, 2, Step::kNext, true, 3},
    {Playlist::kStopAtEnds, 3, 3, Step::kNext, false, 0},
    {Playlist::kStopAtEnds, 3, 3, Step::kPrevious, true, 2},
    {Playlist::kStopAtEnds, 3, 2, Step::kPrevious, true, 1},
    {Playlist::kStopAtEnds, 3, 1, Step::kPrevious, false, 0},
    {Playlist::kStopAtEnds, 3, 0, Step::kPrevious, false, 0},
    {Playlist::kStopAtEnds, 1, 1, Step::kNext, false, 0},
    {Playlist::kStopAtEnds, 1, 1, Step::kPrevious, false, 0},
    // wrap around
    {Playlist::kWrap, 3, 0, Step::kNext, true, 1},
    {Playlist::kWrap, 3, 2, Step::kNext, true, 3},
    {Playlist::kWrap, 3, 3, Step::kNext, true, 1},
    {Playlist::kWrap, 1, 1, Step::kNext, true, 1},
    {Playlist::kWrap, 3, 1, Step::kPrevious, true, 3},
    {Playlist::kWrap, 3, 3, Step::kPrevious, true, 2},
    {Playlist::kWrap, 3, 2, Step::kPrevious, true, 1},
    {Playlist::kWrap, 3, 0, Step::kPrevious, false, 0},
    // stay on the current item
    {Playlist::kStay, 3, 2, Step::kNext, true, 2},
    {Playlist::kStay, 3, 3, Step::kNext, true, 3},
    {Playlist::kStay, 3, 1, Step::kPrevious, true, 1},
    {Playlist::kStay, 3, 0, Step::kPrevious, true, 0},
    // an empty list has nothing to play in any mode
    {Playlist::kStopAtEnds, 0, 0, Step::kNext, false, 0},
    {Playlist::kWrap, 0, 0, Step::kNext, false, 0},
    {Playlist::kWrap, 0, 0, Step::kPrevious, false, 0},
    {Playlist::kStay, 0, 0, Step::kNext, false, 0},
    {Playlist::kStay, 0, 0, Step::kPrevious, false, 0},
};

TEST(Playlist, NextAndPreviousFollowTheRepeatMode) {
    for (const StepCase& c : kStepCases) {
        Playlist list(fixedValues({0}));
        list.setRepeat(c.repeat);
        list.setItems(names(c.count), true);
        list.setPosition(c.from);
        ASSERT_EQ(list.position(), c.from);
        const bool result = c.step == Step::kNext ? list.next() : list.previous();
        const std::string what = "mode " + std::to_string(c.repeat) + ", " +
                                 std::to_string(c.count) + " items, from " +
                                 std::to_string(c.from) +
                                 (c.step == Step::kNext ? ", next" : ", previous");
        EXPECT_EQ(result, c.result) << what;
        EXPECT_EQ(list.position(), c.to) << what;
    }
}

TEST(Playlist, RepeatModeOutsideTheThreeStopsAtTheEnds) {
    Playlist list;
    for (const int32_t mode : {-1, 3, 1000}) {
        list.setRepeat(mode);
        EXPECT_EQ(list.repeat(), Playlist::kStopAtEnds) << mode;
    }
    list.setRepeat(Playlist::kStay);
    EXPECT_EQ(list.repeat(), Playlist::kStay);
}

TEST(Playlist, WrapRebuildsAndReshufflesTheOrder) {
    auto script = std::make_shared<Script>();
    // Orders of 4 from these draws: 1,1,1,0 -> 2 3 4 1; 0,0,0,0 -> 1 2 3 4; 3,2,1,0 -> 4 3 2 1.
    script->values = {1, 1, 1, 0, 0, 0, 0, 0, 3, 2, 1, 0};
    Playlist list(scripted(script));
    list.setRepeat(Playlist::kWrap);
    list.setShuffle(true);  // nothing to draw for an empty list
    EXPECT_EQ(script->draws, 0u);
    list.setItems(names(4), true);
    EXPECT_EQ(script->draws, 4u);
    EXPECT_EQ(list.order(), (std::vector<uint32_t>{2, 3, 4, 1}));
    list.setPosition(4);
    EXPECT_TRUE(list.next());
    EXPECT_EQ(list.position(), 1);
    EXPECT_EQ(script->draws, 8u);
    EXPECT_EQ(list.order(), (std::vector<uint32_t>{1, 2, 3, 4}));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(list.next());
    EXPECT_EQ(list.position(), 4);
    EXPECT_EQ(script->draws, 8u);  // stepping inside the order draws nothing
    EXPECT_TRUE(list.next());
    EXPECT_EQ(list.position(), 1);
    EXPECT_EQ(script->draws, 12u);
    EXPECT_EQ(list.order(), (std::vector<uint32_t>{4, 3, 2, 1}));
    EXPECT_EQ(list.currentNumber(), 4u);
    EXPECT_EQ(list.currentItem(), "/music/4.mp3");
    EXPECT_TRUE(list.previous());  // from 1 back to the last position, the order kept
    EXPECT_EQ(list.position(), 4);
    EXPECT_EQ(list.currentItem(), "/music/1.mp3");
    EXPECT_EQ(script->draws, 12u);
    EXPECT_EQ(list.order(), (std::vector<uint32_t>{4, 3, 2, 1}));
}

TEST(Playlist, WrapWithoutShuffleStartsAgainInItemOrder) {
    Playlist list(fixedValues({7}));
    list.setRepeat(Playlist::kWrap);
    list.setItems(names(3), true);
    list.moveToEnd();
    EXPECT_EQ(list.position(), 3);
    EXPECT_TRUE(list.next());
    EXPECT_EQ(list.position(), 1);
    EXPECT_EQ(list.order(), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(list.currentItem(), "/music/1.mp3");
}

TEST(Playlist, ShuffledOrderIsAPermutationWhateverTheSourceGives) {
    const uint32_t big = std::numeric_limits<uint32_t>::max();
    const std::vector<std::vector<uint32_t>> scripts = {
        {0},
        {big},
        {0x80000000u},
        {big, 0, big - 1, 1},
        {2147483647u, 12345, 99999999u},
        {5, 3, 1},
    };
    for (const auto& values : scripts) {
        for (const std::size_t n : {0u, 1u, 2u, 7u, 100u, 1000u}) {
            Playlist list(fixedValues(values));
            list.setShuffle(true);
            list.setItems(names(n), true);
            std::vector<uint32_t> sorted = list.order();
            std::sort(sorted.begin(), sorted.end());
            std::vector<uint32_t> expected(n);
            std::iota(expected.begin(), expected.end(), 1u);
            EXPECT_EQ(sorted, expected) << n << " items, first value " << values[0];
            // The same draws through a plain candidate list give the same order.
            EXPECT_EQ(list.order(), referenceShuffle(n, fixedValues(values)))
                << n << " items, first value " << values[0];
        }
    }
}

TEST(Playlist, ShuffleFollowsTheDrawsModuloTheCandidatesLeft) {
    Playlist list(fixedValues({1, 1, 1, 0}));
    list.setItems(names(4), true);
    list.setShuffle(true);
    EXPECT_EQ(list.order(), (std::vector<uint32_t>{2, 3, 4, 1}));
    EXPECT_EQ(list.position(), 1);  // the position stays
    list.setShuffle(false);
    EXPECT_EQ(list.order(), (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_FALSE(list.shuffle());
}

TEST(Playlist, TheDefaultSourceShufflesToo) {
    Playlist list;
    list.setShuffle(true);
    list.setItems(names(200), true);
    std::vector<uint32_t> sorted = list.order();
    std::sort(sorted.begin(), sorted.end());
    std::vector<uint32_t> straight(200);
    std::iota(straight.begin(), straight.end(), 1u);
    EXPECT_EQ(sorted, straight);
    EXPECT_NE(list.order(), straight);  // 1 in 200! to fail by chance
}

struct SetItemsCase {
    std::size_t before;
    int32_t position;
    std::size_t after;
    bool reset;
    int32_t expected;
};

const SetItemsCase kSetItemsCases[] = {
    {5, 3, 2, false, 2}, {5, 3, 2, true, 1}, {5, 3, 0, true, 0}, {5, 3, 0, false, 0},
    {2, 2, 5, false, 2}, {2, 0, 5, false, 0}, {0, 0, 5, true, 1}, {5, 5, 5, false, 5},
};

TEST(Playlist, SetItemsResetsOrClampsThePosition) {
    for (const SetItemsCase& c : kSetItemsCases) {
        Playlist list(fixedValues({0}));
        list.setItems(names(c.before), true);
        list.setPosition(c.position);
        list.setItems(names(c.after), c.reset);
        EXPECT_EQ(list.position(), c.expected)
            << c.before << " -> " << c.after << " from " << c.position << " reset " << c.reset;
        EXPECT_EQ(list.size(), c.after);
        EXPECT_EQ(list.order().size(), c.after);
    }
}

TEST(Playlist, SetItemsKeepsAtMostTheLimit) {
    Playlist list;
    list.setItems(std::vector<std::string>(kMaxPlaylistItems + 3, "x.mp3"), true);
    EXPECT_EQ(list.size(), kMaxPlaylistItems);
    EXPECT_EQ(list.order().size(), kMaxPlaylistItems);
    list.moveToEnd();
    EXPECT_EQ(list.position(), static_cast<int32_t>(kMaxPlaylistItems));
    EXPECT_EQ(list.currentNumber(), kMaxPlaylistItems);
}

TEST(Playlist, MoveToEndThenNextInWrapModeStartsAFreshOrder) {
    // The library's "Play Shuffled": rewind, then the window moves to the end and steps on.
    auto script = std::make_shared<Script>();
    script->values = {2, 0, 0, 0, 1, 0};  // 3 1 2, then 2 1 3
    Playlist list(scripted(script));
    list.setItems(names(3), true);
    list.setRepeat(Playlist::kWrap);
    list.setShuffle(true);  // draws 2 0 0 -> 3 1 2
    EXPECT_EQ(list.order(), (std::vector<uint32_t>{3, 1, 2}));
    list.rewind();  // draws 0 1 0 -> 1 3 2
    EXPECT_EQ(list.position(), 1);
    EXPECT_EQ(list.order(), (std::vector<uint32_t>{1, 3, 2}));
    list.moveToEnd();
    EXPECT_EQ(list.position(), 3);
    EXPECT_TRUE(list.next());  // draws 2 0 0 -> 3 1 2
    EXPECT_EQ(list.position(), 1);
    EXPECT_EQ(list.order(), (std::vector<uint32_t>{3, 1, 2}));
    EXPECT_EQ(script->draws, 9u);
    // Every item is played once before the order is built again.
    std::set<std::string> played = {list.currentItem()};
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(list.next());
        played.insert(list.currentItem());
    }
    EXPECT_EQ(played.size(), 3u);
    EXPECT_EQ(script->draws, 9u);
}

TEST(Playlist, RewindOfAnEmptyListStaysAtZero) {
    Playlist list;
    list.rewind();
    EXPECT_EQ(list.position(), 0);
    EXPECT_TRUE(list.order().empty());
}

TEST(Playlist, CurrentItemOutsideTheListIsNothing) {
    Playlist list(fixedValues({0}));
    EXPECT_EQ(list.currentNumber(), 0u);
    EXPECT_EQ(list.currentItem(), "");
    list.setPosition(5);
    EXPECT_EQ(list.position(), 0);
    list.setItems({"a", "b", "c"}, false);
    EXPECT_EQ(list.position(), 0);
    EXPECT_EQ(list.currentNumber(), 0u);
    EXPECT_EQ(list.currentItem(), "");
    list.setPosition(99);
    EXPECT_EQ(list.position(), 3);
    EXPECT_EQ(list.currentNumber(), 3u);
    EXPECT_EQ(list.currentItem(), "c");
    list.setPosition(-5);
    EXPECT_EQ(list.position(), 0);
    EXPECT_EQ(list.currentItem(), "");
    list.setPosition(2);
    EXPECT_EQ(list.currentItem(), "b");
}

TEST(Playlist, ClearEmptiesEverythingButTheModes) {
    Playlist list(fixedValues({0}));
    list.setRepeat(Playlist::kWrap);
    list.setShuffle(true);
    list.setItems(names(4), true);
    list.setName("Road Trip");
    list.setPosition(3);
    list.clear();
    EXPECT_EQ(list.size(), 0u);
    EXPECT_TRUE(list.items().empty());
    EXPECT_TRUE(list.order().empty());
    EXPECT_EQ(list.position(), 0);
    EXPECT_EQ(list.name(), "");
    EXPECT_EQ(list.currentItem(), "");
    EXPECT_FALSE(list.next());
    EXPECT_EQ(list.repeat(), Playlist::kWrap);
    EXPECT_TRUE(list.shuffle());
}

// ---- M3U reading and writing -----------------------------------------------------------

struct ReadCase {
    const char* what;
    std::string text;
    std::vector<std::string> items;
    std::string name;  // "-" = left as it was
};

const ReadCase kReadCases[] = {
    {"Windows file",
     "##LISTNAME:  Road Trip \r\n\r\n  # a comment\r\nC:\\Music\\a.mp3\r\n   sub\\b c.mp3  \r\n"
     "#EXTINF:12,x\r\n/abs/d e.mp3\r\n\r\nlast.mp3",
     {"C:\\Music\\a.mp3", "sub\\b c.mp3", "/abs/d e.mp3", "last.mp3"},
     "Road Trip"},
    {"byte order mark", "\xEF\xBB\xBF##ListName:Mix\r\na.mp3\r\n", {"a.mp3"}, "Mix"},
    {"comments only, lower-case marker", "#EXTM3U\n##listname:quiet\n# nothing\n", {}, "quiet"},
    {"marker with nothing after it", "##ListName:   \t\r\nx.mp3\n", {"x.mp3"}, "-"},
    {"last marker wins", "##ListName: One\n##ListName: Two\n", {}, "Two"},
    {"blank lines and tabs", "\n\n\t\t\n \r\n\ta.mp3\t\n", {"a.mp3"}, "-"},
    {"entries as written", "../up.mp3\n./#1 hit.mp3\nsong #2.mp3\n", {"../up.mp3", "./#1 hit.mp3", "song #2.mp3"}, "-"},
    {"overlong line skipped", std::string(kMaxM3uLine + 10, 'a') + "\r\nok.mp3\r\n" + std::string(kMaxM3uLine + 1, 'b'), {"ok.mp3"}, "-"},
    {"empty file", "", {}, "-"},
};

TEST(M3u, ReadsAsTheTableSays) {
    TempFolder folder;
    for (const ReadCase& c : kReadCases) {
        const std::string path = folder / "list.m3u";
        writeText(path, c.text);
        std::string name = "-";
        EXPECT_EQ(readM3u(path, &name), c.items) << c.what;
        EXPECT_EQ(name, c.name) << c.what;
        EXPECT_EQ(readM3u(path), c.items) << c.what << " (no name wanted)";
    }
}

TEST(M3u, AFileThatCannotBeOpenedYieldsNothing) {
    TempFolder folder;
    std::string name = "kept";
    EXPECT_TRUE(readM3u(folder / "missing.m3u", &name).empty());
    EXPECT_EQ(name, "kept");
    EXPECT_TRUE(readM3u(folder.path(), &name).empty());  // a folder
    EXPECT_EQ(name, "kept");
}

TEST(M3u, ReadsAtMostTheLimit) {
    TempFolder folder;
    std::string text;
    for (std::size_t i = 0; i < kMaxPlaylistItems + 5; ++i) text += "a\n";
    writeText(folder / "big.m3u", text);
    EXPECT_EQ(readM3u(folder / "big.m3u").size(), kMaxPlaylistItems);
}

TEST(M3u, WritesCrLfLinesWithTheNameFirst) {
    TempFolder folder;
    ASSERT_TRUE(writeM3u(folder / "a.m3u", "Road Trip", {"/m/a.mp3", "C:\\x\\b.mp3"}));
    EXPECT_EQ(readText(folder / "a.m3u"), "##ListName: Road Trip\r\n/m/a.mp3\r\nC:\\x\\b.mp3\r\n");
    ASSERT_TRUE(writeM3u(folder / "b.m3u", "", {"only.mp3"}));
    EXPECT_EQ(readText(folder / "b.m3u"), "only.mp3\r\n");
    ASSERT_TRUE(writeM3u(folder / "c.m3u", "", {}));
    EXPECT_EQ(readText(folder / "c.m3u"), "");
}

TEST(M3u, WriteThenReadGivesTheListBack) {
    TempFolder folder;
    const std::vector<std::string> items = {
        "/music/dir with blanks/a.mp3", "/m/quote\"and<amp&.mp3", "C:\\Windows\\style.mp3",
        "relative/b.mp3", "/m/\xc3\xa9t\xc3\xa9.mp3", "trailing\\"};
    ASSERT_TRUE(writeM3u(folder / "round.m3u", "My  Mix", items));
    std::string name;
    EXPECT_EQ(readM3u(folder / "round.m3u", &name), items);
    EXPECT_EQ(name, "My  Mix");
}

TEST(M3u, WriteKeepsWhatAReaderCouldNotGiveBackOutOfTheFile) {
    TempFolder folder;
    ASSERT_TRUE(writeM3u(folder / "odd.m3u", "two\nlines",
                         {"", "new\nline.mp3", "cr\r.mp3", "#1 hit.mp3", "ok.mp3"}));
    EXPECT_EQ(readText(folder / "odd.m3u"), "##ListName: two lines\r\n./#1 hit.mp3\r\nok.mp3\r\n");
}

TEST(M3u, WriteFailureReturnsFalseAndKeepsTheOldFile) {
    TempFolder folder;
    writeText(folder / "plain", "x");
    EXPECT_FALSE(writeM3u(folder / "plain/under.m3u", "n", {"a"}));  // a file is no folder
    EXPECT_FALSE(writeM3u(folder.path(), "n", {"a"}));                 // a folder is no file
    EXPECT_FALSE(writeHtmlExport(folder / "plain/under.htm", "n", {"a"}));
    EXPECT_FALSE(writeHtmlExport(folder.path(), "n", {"a"}));
    EXPECT_EQ(readText(folder / "plain"), "x");
    // Nothing half-written is left beside them.
    EXPECT_EQ(std::system(("test $(ls -A '" + folder.path() + "' | wc -l) -eq 1").c_str()), 0);
}

TEST(M3u, ReplacingAFileKeepsItsMode) {
    TempFolder folder;
    writeText(folder / "keep.m3u", "old\n");
    ASSERT_EQ(::chmod((folder / "keep.m3u").c_str(), 0600), 0);
    ASSERT_TRUE(writeM3u(folder / "keep.m3u", "", {"new"}));
    EXPECT_EQ(test::modeOf(folder / "keep.m3u"), 0600u);
    ASSERT_TRUE(writeM3u(folder / "fresh.m3u", "", {"new"}));
    EXPECT_EQ(test::modeOf(folder / "fresh.m3u"), 0644u);
}

// ---- Command-line words ----------------------------------------------------------------

// Runs a test inside a folder, so words beginning with '-' can name files there.
class InFolder {
  public:
    explicit InFolder(const std::string& path) {
        char here[4096];
        if (::getcwd(here, sizeof here)) before_ = here;
        EXPECT_EQ(::chdir(path.c_str()), 0);
    }
    ~InFolder() {
        if (!before_.empty() && ::chdir(before_.c_str()) != 0) {
        }
    }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

  private:
    std::string before_;
};

TEST(M3u, ExpandsCommandLineWords) {
    TempFolder folder;
    const std::string list = folder / "list.txt";  // read as M3U only after -L
    writeText(list, "##ListName: L\r\none.mp3\r\nsub\\two.mp3\r\n");
    const std::string upper = folder / "UPPER.M3U";
    writeText(upper, "three.mp3\n");
    const std::string absolute = folder / "song.mp3";
    writeText(absolute, "");
    const std::string missing = folder / "missing.mp3";

    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::vector<std::string> items;
    };
    const Case cases[] = {
        {"-L reads the next word", {"-L", list, "x.mp3"}, {"one.mp3", "sub\\two.mp3", "x.mp3"}},
        {"/l in lower case", {"/l", list}, {"one.mp3", "sub\\two.mp3"}},
        {"-l in lower case", {"a.mp3", "-l", list, "b.mp3"}, {"a.mp3", "one.mp3", "sub\\two.mp3", "b.mp3"}},
        {"-L as the last word", {"x.mp3", "-L"}, {"x.mp3"}},
        {"/L as the last word", {"/L"}, {}},
        {"-L takes any next word", {"-L", "-q", "y.mp3"}, {"y.mp3"}},
        {"-L of a missing file", {"-L", folder / "none.m3u", "z.mp3"}, {"z.mp3"}},
        {"unknown switches", {"-q", "--L", "-Lx", "/ENCODE", "/encode", "a.mp3"}, {"a.mp3"}},
        {".M3U in any case", {upper}, {"three.mp3"}},
        {"an existing absolute path", {absolute}, {absolute}},
        {"a missing absolute path", {missing}, {missing}},
        {"a '/' word that is no known switch", {"/X", "/Lx"}, {"/X", "/Lx"}},
        {"empty words", {"", "a.mp3", ""}, {"a.mp3"}},
        {"nothing", {}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(expandArguments(c.args), c.items) << c.what;
    }
}

TEST(M3u, AWordNamingAFileIsNeverASwitch) {
    TempFolder folder;
    InFolder inside(folder.path());
    writeText("-L", "");
    writeText("-v.mp3", "");
    writeText("-list.m3u", "inner.mp3\n");
    EXPECT_EQ(expandArguments({"-L", "x.mp3"}), (std::vector<std::string>{"-L", "x.mp3"}));
    EXPECT_EQ(expandArguments({"-v.mp3", "-w.mp3"}), (std::vector<std::string>{"-v.mp3"}));
    EXPECT_EQ(expandArguments({"-list.m3u"}), (std::vector<std::string>{"inner.mp3"}));
}

// ---- HTML export -----------------------------------------------------------------------

TEST(M3u, HtmlExportOfASimpleList) {
    TempFolder folder;
    ASSERT_TRUE(writeHtmlExport(folder / "a.htm", "Mix", {"/music/a.mp3", "/music/b.mp3"}));
    EXPECT_EQ(readText(folder / "a.htm"),
              "<html><head></head><body>\n"
              "<b>Mix</b><br><br>\n"
              "<a href=\"file:///music/a.mp3\">0) /music/a.mp3</a><br>\n"
              "<a href=\"file:///music/b.mp3\">1) /music/b.mp3</a><br>\n"
              "</body></html>\n");
    ASSERT_TRUE(writeHtmlExport(folder / "b.htm", "", {}));
    EXPECT_EQ(readText(folder / "b.htm"), "<html><head></head><body>\n</body></html>\n");
}

TEST(M3u, HtmlExportEscapesTextAndEncodesLinks) {
    TempFolder folder;
    ASSERT_TRUE(writeHtmlExport(folder / "odd.htm", "Tom & \"Jerry\" <3>",
                                {"/m/a \"b\"<&c>.mp3", "/m/\xc3\xa9 #%?\\x.mp3"}));
    EXPECT_EQ(readText(folder / "odd.htm"),
              "<html><head></head><body>\n"
              "<b>Tom &amp; &quot;Jerry&quot; &lt;3&gt;</b><br><br>\n"
              "<a href=\"file:///m/a%20%22b%22%3C%26c%3E.mp3\">0) /m/a &quot;b&quot;&lt;&amp;c&gt;.mp3</a><br>\n"
              "<a href=\"file:///m/%C3%A9%20%23%25%3F%5Cx.mp3\">1) /m/\xc3\xa9 #%?\\x.mp3</a><br>\n"
              "</body></html>\n");
}

struct LinkCase {
    const char* path;
    const char* link;
};

const LinkCase kLinkCases[] = {
    {"/plain/A-z_0.9~x.mp3", "file:///plain/A-z_0.9~x.mp3"},
    {"/a b", "file:///a%20b"},
    {"/'single'", "file:///%27single%27"},
    {"/\x01\x7f\xff", "file:///%01%7F%FF"},
    {"", "file://"},
};

TEST(M3u, LinksPercentEncodeEveryOtherByte) {
    for (const LinkCase& c : kLinkCases) EXPECT_EQ(fileLink(c.path), c.link) << c.path;
    EXPECT_EQ(htmlEscaped("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e'f");
}

}  // namespace
}  // namespace veloraplay
