#include "PlaylistFile.h"

#include "EntryPath.h"
#include "IniParser.h"

#include <gtest/gtest.h>

namespace tessura {
namespace {

TEST(PlsReading, KeysCountsAndLengths) {
    struct Case {
        const char* what;
        std::string text;
        bool readable;
        std::vector<std::string> files;
        std::vector<int> lengths;  // empty: no information read
    };
    const Case cases[] = {
        {"no count", "[playlist]\nFile1=a.mp3\n", false, {}, {}},
        {"negative count", "[playlist]\nFile1=a.mp3\nNumberOfEntries=-1\n", false, {}, {}},
        {"count bounds the numbers", "[playlist]\nFile1=a.mp3\nFile2=b.mp3\nNumberOfEntries=1\n",
         true, {"/d/a.mp3"}, {}},
        {"a huge count is not a promise",
         "[playlist]\nNumberOfEntries=2147483647\nFile1=a.mp3\nFile7=b.mp3\n", true,
         {"/d/a.mp3", "/d/b.mp3"}, {}},
        {"order by number, gaps skipped, first key wins",
         "[PlayList]\nfile3=c.mp3\nFILE1=a.mp3\nFile1=x.mp3\nFile2=\nFile0=z.mp3\nNumberOfEntries=3\n",
         true, {"/d/a.mp3", "/d/c.mp3"}, {}},
        {"Version 2 carries information without CachedInfo",
         "[playlist]\nFile1=a.mp3\nLength1=0x10\nFile2=b.mp3\nLength2=010\nFile3=c.mp3\n"
         "Length3=abc\nFile4=d.mp3\nNumberOfEntries=4\nVersion=2\n",
         true, {"/d/a.mp3", "/d/b.mp3", "/d/c.mp3", "/d/d.mp3"}, {16, 8, -1, 0}},
        {"CachedInfo 1", "[playlist]\nFile1=a.mp3\nLength1=215\nNumberOfEntries=1\nCachedInfo=1\n",
         true, {"/d/a.mp3"}, {215}},
        {"neither: the lengths are not read",
         "[playlist]\nFile1=a.mp3\nLength1=215\nNumberOfEntries=1\n", true, {"/d/a.mp3"}, {}},
    };
    for (const Case& c : cases) {
        const PlaylistFileContent content = parsePlaylistText(c.text, "/d");
        EXPECT_TRUE(content.pls) << c.what;
        EXPECT_EQ(content.readable, c.readable) << c.what;
        std::vector<std::string> files;
        std::vector<int> lengths;
        for (const auto& item : content.items) {
            files.push_back(item.name);
            if (item.info) lengths.push_back(item.info->length);
        }
        EXPECT_EQ(files, c.files) << c.what;
        EXPECT_EQ(lengths, c.lengths) << c.what;
    }
}

TEST(M3uReading, LinesCommentsAndExtendedInformation) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> files;
        std::vector<std::string> info;  // "length|title" per file, "-" without
    };
    const std::string longName(5000, 'x');
    const Case cases[] = {
        {"plain lines, CR LF", "a.mp3\r\n\r\n# comment\r\nsub\\b.mp3\r\n", {"/d/a.mp3", "/d/sub/b.mp3"},
         {"-", "-"}},
        {"'#' inside a name is part of it", "Track #1.mp3\nhttp://radio.example/live#main\n",
         {"/d/Track #1.mp3", "http://radio.example/live#main"}, {"-", "-"}},
        {"extended", "\xEF\xBB\xBF#extm3u\n#EXTINF: 215 , Artist - Song \na.mp3\nb.mp3\n",
         {"/d/a.mp3", "/d/b.mp3"}, {"215|Artist - Song", "-"}},
        {"length not a number", "#EXTM3U\n#EXTINF:abc,Title\na.mp3\n", {"/d/a.mp3"}, {"-1|Title"}},
        {"hex length, no comma", "#EXTM3U\n#EXTINF:0x20\na.mp3\n", {"/d/a.mp3"}, {"32|"}},
        {"EXTINF outside extended mode is a comment", "#EXTINF:5,T\na.mp3\n", {"/d/a.mp3"}, {"-"}},
        {"a line too long for any file is dropped whole, not split",
         "#EXTM3U\n#EXTINF:5,Long\n" + longName + "\nb.mp3\n", {"/d/b.mp3"}, {"-"}},
        {"blank lines and last line without break", "   \n\tc.mp3", {"/d/\tc.mp3"}, {"-"}},
    };
    for (const Case& c : cases) {
        const PlaylistFileContent content = parsePlaylistText(c.text, "/d");
        EXPECT_FALSE(content.pls) << c.what;
        std::vector<std::string> files, info;
        for (const auto& item : content.items) {
            files.push_back(item.name);
            info.push_back(item.info ? std::to_string(item.info->length) + "|" + item.info->title : "-");
        }
        EXPECT_EQ(files, c.files) << c.what;
        EXPECT_EQ(info, c.info) << c.what;
    }
}

PlaylistEntry makeEntry(std::string file, std::string title = "", int length = -1) {
    PlaylistEntry e;
    e.file = std::move(file);
    e.title = std::move(title);
    e.length = length;
    return e;
}

TEST(PlsWriting, HostileNamesReadBackAsWritten) {
    std::vector<PlaylistEntry> entries = {
        makeEntry("/m/plain.mp3", "Plain", 215),
        makeEntry("/m/\"quoted\" name.mp3", "\"Quoted\" title", 1),
        makeEntry("/m/Track #1.mp3", "# not a comment", 2),
        makeEntry("/other/line\r\nFile1=/etc/passwd\r\nNumberOfEntries=1.mp3",
                  "title\r\n[playlist]\r\nFile2=/etc/shadow", 3),
        makeEntry("/m/../up.mp3", "..", 4),
        makeEntry("/m/" + std::string(4000, 'L') + ".mp3", std::string(3000, 'T'), 5),
        makeEntry("/m/\xff\xfe latin1 \xe9.mp3", "\xc3\x28 bad utf-8 \x80", 6),
        makeEntry("/m/ blanks at both ends .mp3 ", "  padded  ", 7),
        makeEntry("/m/a=b [c].mp3", "[section]", 8),
        makeEntry("/m/back\\slash.mp3", "\\\\server", 9),
        makeEntry("http://radio.example/live?x=1&y=\"2\"#frag", "", -1),
    };
    entries[0].author = "Author";
    entries[0].info = "128 kbit/s";
    entries[0].extraInfo = "extra";
    const PlsText written = serialisePls(entries, "/m", true);
    EXPECT_FALSE(written.replacedControls);

    const PlaylistFileContent read = parsePlaylistText(written.bytes, "/m");
    ASSERT_TRUE(read.readable);
    ASSERT_EQ(read.items.size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& item = read.items[i];
        ASSERT_TRUE(item.info);
        EXPECT_EQ(item.name, entries[i].file) << i;
        EXPECT_EQ(item.info->title, entries[i].title) << i;
        EXPECT_EQ(item.info->length, entries[i].length == -1 ? 0 : entries[i].length) << i;
    }
    EXPECT_EQ(read.items[0].info->author, "Author");
    EXPECT_EQ(read.items[0].info->info, "128 kbit/s");
    EXPECT_EQ(read.items[0].info->extraInfo, "extra");

    // Every line of the file is one key: no text of an entry started a key or section.
    INIParser ini;
    ini.OpenMemory(written.bytes);
    ASSERT_EQ(ini.Sections().size(), 1u);
    EXPECT_EQ(ini.Find("playlist", "File1"), "plain.mp3");
    EXPECT_EQ(ini.Find("playlist", "NumberOfEntries"), std::to_string(entries.size()));
    std::size_t keys = 0;
    for (const auto& e : entries) {
        keys += 1 + (e.length != -1) + !e.title.empty() + !e.author.empty() + !e.info.empty() +
                !e.extraInfo.empty();
    }
    EXPECT_EQ(ini.Sections()[0].entries.size(), keys + 3);
}

TEST(PlsWriting, BareNamesAndTheControlCharacterWarning) {
    const std::vector<PlaylistEntry> entries = {
        makeEntry("/m/a.mp3"), makeEntry("/elsewhere/b.mp3"), makeEntry("/m/bell\a\x1f.mp3")};
    const PlsText written = serialisePls(entries, "/m", false, {{"ExternalPlaylist", "/x.pls"}});
    EXPECT_TRUE(written.replacedControls);
    EXPECT_EQ(written.bytes,
              "[playlist]\r\nFile1=a.mp3\r\nFile2=/elsewhere/b.mp3\r\nFile3=bell??.mp3\r\n"
              "NumberOfEntries=3\r\nExternalPlaylist=/x.pls\r\n\r\n");
}

}  // namespace
}  // namespace tessura
