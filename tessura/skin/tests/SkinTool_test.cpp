// tessura-skin in-process: both project skins survive extract and create byte for byte, list
// shows every member, extract never writes outside its folder, check names what falls back and
// why, and the exit codes follow the usage.
#include "SkinTestSkins.h"
#include "SkinTool.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

namespace tessura {
namespace {

namespace fs = std::filesystem;
using test::TestMember;

struct ToolRun {
    int code;
    std::string out, err;
};

ToolRun tool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    const int code = RunSkinTool(args, out, err);
    return {code, out.str(), err.str()};
}

std::size_t lines(const std::string& text) { return std::size_t(std::count(text.begin(), text.end(), '\n')); }

TEST(SkinTool, BothSkinsRoundTripByteForByte) {
    test::TempFolder work;
    for (const std::string name : {"default", "second"}) {
        SCOPED_TRACE(name);
        const std::string original = name == "default" ? test::DefaultSkinBytes() : test::SecondSkinBytes();
        ASSERT_FALSE(original.empty());
        const std::string archive = work.write(name + ".tgf", original);
        const auto parsed = SkinArchive::FromBytes(original);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->Version(), 2);

        const ToolRun listed = tool({"list", archive});
        EXPECT_EQ(listed.code, kSkinToolOk) << listed.err;
        EXPECT_EQ(lines(listed.out), parsed->Entries().size() + 1);
        for (const auto& entry : parsed->Entries()) EXPECT_NE(listed.out.find(" " + entry.name + "\n"), std::string::npos);

        const std::string unpacked = work.file(name + "-files");
        const ToolRun extracted = tool({"extract", archive, unpacked});
        ASSERT_EQ(extracted.code, kSkinToolOk) << extracted.err;
        for (std::size_t i = 0; i < parsed->Entries().size(); ++i) {
            const auto& entry = parsed->Entries()[i];
            std::string bytes;
            ASSERT_TRUE(readWholeFile(unpacked + entry.name, bytes)) << entry.name;
            const auto member = parsed->ReadEntry(i);
            ASSERT_TRUE(member);
            EXPECT_EQ(bytes, std::string(member->begin(), member->end())) << entry.name;
        }

        const std::string repacked = work.file(name + "-again.tgf");
        const ToolRun created = tool({"create", unpacked, repacked});
        ASSERT_EQ(created.code, kSkinToolOk) << created.err;
        EXPECT_EQ(work.read(name + "-again.tgf"), original) << "the build packs the same way";
    }
}

TEST(SkinTool, ExtractRefusesNamesThatLeaveTheFolder) {
    test::TempFolder work;
    const std::string archive = work.write("hostile.tgf", test::WriteSkinArchive(2, {
        {"/skin.ini", "[skin]\r\ntitle=x\r\n", true},
        {"/../escape", "outside"},
        {"/jpeg/../../escape2", "outside"},
        {"//etc/escape3", "outside"},
        {"relative", "no leading slash"},
        {"/jpeg/./misc", "dot"},
        {"/jpeg/ok", "inside"},
    }));
    const std::string target = work.file("out/inner");
    const ToolRun run = tool({"extract", archive, target});
    EXPECT_EQ(run.code, kSkinToolBadInput);
    for (const char* refused : {"/../escape", "/jpeg/../../escape2", "//etc/escape3", "relative", "/jpeg/./misc"})
        EXPECT_NE(run.err.find(std::string("refused member \"") + refused + "\""), std::string::npos) << refused;
    EXPECT_EQ(work.read("out/inner/jpeg/ok"), "inside");
    EXPECT_EQ(work.read("out/inner/skin.ini"), "[skin]\r\ntitle=x\r\n");
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(work.path()))
        if (entry.is_regular_file()) ++files;
    EXPECT_EQ(files, 3u) << "the archive and the two members inside the folder, nothing else";
}

TEST(SkinTool, CheckNamesTheFallbacksOfADamagedSkin) {
    test::TempFolder work;
    const std::string good = work.write("good.tgf", test::SecondSkinBytes());
    const ToolRun intact = tool({"check", good});
    EXPECT_EQ(intact.code, kSkinToolOk) << intact.out;
    EXPECT_EQ(intact.out.find("damaged"), std::string::npos);
    EXPECT_NE(intact.out.find("used     /jpeg/midtessura [mid]: 330x136"), std::string::npos) << intact.out;
    EXPECT_NE(intact.out.find("used     [misc values] MISC_VOLUME_KNOB_width = 20"), std::string::npos);
    EXPECT_NE(intact.out.find("used     /rgn/mid/frame:"), std::string::npos);

    auto members = test::MembersOf(test::SecondSkinBytes());
    test::Remove(members, "/jpeg/navitem1");
    test::Find(members, "/jpeg/splash").data.resize(100);
    TestMember& frame = test::Find(members, "/rgn/nav/frame");
    frame.stored(test::Deflate(frame.data).size() - 3);
    test::Find(members, "/rgn/mid/top").data += "z";
    test::Find(members, "/skin.ini").data = "[skin]\r\nversion=120\r\nTouchSmallMode=0\r\n[misc values]\r\n"
                                             "MISC_DRAWER_DISTANCE_TOSLIDE_X=3\r\n";
    const std::string damaged = work.write("damaged.tgf", test::WriteSkinArchive(2, members));
    const ToolRun run = tool({"check", damaged});
    EXPECT_EQ(run.code, kSkinToolBadInput);
    const std::string& out = run.out;
    for (const char* expected : {
             "fallback /jpeg/navitem1 [shared]: not in this skin; the default skin's image is used",
             "refused  /jpeg/splash [splash]: the JPEG does not decode",
             "damaged  /rgn/nav/frame: its zlib stream is damaged",
             "fallback /rgn/nav/frame: damaged (see members); the default skin's region is used",
             "bytes is not 10 + 8 x its count; the default skin's region is used",
             "fallback /jpeg/smallstate [small]: TouchSmallMode is 0, the default skin's image is used",
             "fallback /rgn/small/frame: TouchSmallMode is 0",
             "skipped  [misc values] MISC_DRAWER_DISTANCE_TOSLIDE_X: in the file but not read, read only for version 130",
             "default  [skin] title = unknown (not in the file)",
             "used     [skin] version = 120",
         })
        EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n--- output:\n" << out;

    // A too-new skin is refused as a whole.
    test::Find(members, "/skin.ini").data = "[skin]\r\nversion=131\r\n";
    const ToolRun tooNew = tool({"check", work.write("new.tgf", test::WriteSkinArchive(2, members))});
    EXPECT_NE(tooNew.out.find("refused  version 131 is above 130"), std::string::npos) << tooNew.out;
    EXPECT_NE(tooNew.out.find("the skin is refused"), std::string::npos);
}

TEST(SkinTool, ExitCodesAndHelp) {
    test::TempFolder work;
    struct Case {
        std::vector<std::string> args;
        int code;
    };
    const Case cases[] = {
        {{}, kSkinToolUsage},
        {{"--help"}, kSkinToolOk},
        {{"frobnicate"}, kSkinToolUsage},
        {{"list"}, kSkinToolUsage},
        {{"create", "one"}, kSkinToolUsage},
        {{"extract", "a", "b", "c"}, kSkinToolUsage},
        {{"list", work.file("missing.tgf")}, kSkinToolBadInput},
        {{"check", work.write("junk.tgf", "DAF\0junk")}, kSkinToolBadInput},
        {{"create", work.file("no-such-folder"), work.file("x.tgf")}, kSkinToolBadInput},
    };
    for (const Case& c : cases) {
        const ToolRun run = tool(c.args);
        EXPECT_EQ(run.code, c.code) << (c.args.empty() ? "(no arguments)" : c.args[0]);
        if (c.code == kSkinToolUsage) {
            EXPECT_NE(run.err.find("--help"), std::string::npos);
        }
    }
    const ToolRun help = tool({"--help"});
    for (const char* word : {"create DIR ARCHIVE", "list ARCHIVE", "extract ARCHIVE DIR", "check ARCHIVE", "Exit status"})
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
}

TEST(SkinTool, CreateRefusesNamesTheReaderCannotHold) {
    test::TempFolder work;
    work.write("skin/" + std::string(90, 'n'), "long name");
    const ToolRun run = tool({"create", work.file("skin"), work.file("x.tgf")});
    EXPECT_EQ(run.code, kSkinToolBadInput);
    EXPECT_NE(run.err.find("longer than 79"), std::string::npos);
    EXPECT_FALSE(fileExists(work.file("x.tgf")));
}

}  // namespace
}  // namespace tessura
