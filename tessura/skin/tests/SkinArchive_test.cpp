// The skin archive reader against archives written here: members of both layouts read back
// byte for byte, and damaged archives read as missing members or no archive, never a crash.
#include "SkinArchive.h"
#include "SkinArchiveWriter.h"
#include "SkinRegion.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

namespace tessura {
namespace {

using test::TestMember;
using test::WriteSkinArchive;

std::string bytesText(const std::optional<SkinBytes>& b) {
    return b ? std::string(b->begin(), b->end()) : std::string("<missing>");
}

std::string someData(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += char("skin-data "[i % 10] + (i / 10) % 3);
    return s;
}

TEST(SkinArchive, MembersOfBothLayoutsReadBack) {
    const std::string ini = "[skin]\r\ntitle=Slate\r\nversion=120\r\n";
    const std::string big = someData(5000);
    for (int version : {1, 2}) {
        for (std::size_t padding : {std::size_t(0), std::size_t(37)}) {
            if (version == 1 && padding) continue;
            SCOPED_TRACE(version);
            SCOPED_TRACE(padding);
            std::vector<TestMember> members = {
                {"/skin.ini", ini, true},
                {"/jpeg/misc", big, false},
                {"/jpeg/packed", big, true},
                {"/empty", "", false},
                {"/emptypacked", "", true},
                {"/jpeg/misc", "later one wins", false},
            };
            if (version == 2) members.push_back(TestMember("", "numbered").numbered(7));
            const auto archive = SkinArchive::FromBytes(WriteSkinArchive(version, members, padding));
            ASSERT_TRUE(archive);
            EXPECT_EQ(archive->Version(), version);
            EXPECT_EQ(bytesText(archive->ReadMember("/skin.ini")), ini);
            EXPECT_EQ(bytesText(archive->ReadMember("/jpeg/packed")), big);
            EXPECT_EQ(bytesText(archive->ReadMember("/jpeg/misc")), "later one wins");
            EXPECT_EQ(bytesText(archive->ReadMember("/empty")), "");
            EXPECT_EQ(bytesText(archive->ReadMember("/emptypacked")), "");
            EXPECT_EQ(archive->MemberSize("/jpeg/packed"), big.size());
            EXPECT_EQ(archive->MemberSize("/skin.ini"), ini.size());
            EXPECT_FALSE(archive->ReadMember("/JPEG/MISC"));
            EXPECT_FALSE(archive->MemberSize("/jpeg/mis"));
            if (version == 2) {
                EXPECT_FALSE(archive->ReadMember(""));
                EXPECT_EQ(bytesText(archive->ReadEntry(archive->Entries().size() - 1)), "numbered");
            }
            const auto skinIni = ReadSkinIni(*archive);
            ASSERT_TRUE(skinIni);
            EXPECT_EQ(skinIni->Find("skin", "title"), "Slate");
            EXPECT_EQ(skinIni->GetInt("skin", "version"), 120);
        }
    }
}

// Each case damages one thing; what the reader makes of it is checked on the member "/x"
// (the archive itself refused when `opens` is false), plus "/ok" still reading where it should.
TEST(SkinArchive, HostileArchivesReadAsMissing) {
    const std::string payload = someData(300);
    const std::string packed = test::Deflate(payload);
    struct Case {
        const char* what;
        std::string bytes;
        bool opens;
        std::string x;  // expected content of "/x", "<missing>" when none
    };
    auto v = [&](int version, std::vector<TestMember> m) { return WriteSkinArchive(version, m); };
    std::vector<Case> cases;
    for (int version : {1, 2}) {
        const TestMember ok{"/ok", "fine"};
        cases.push_back({"sound", v(version, {ok, {"/x", payload, true}}), true, payload});
        cases.push_back({"data past the end", v(version, {ok, TestMember("/x", payload).stored(400)}), true, "<missing>"});
        cases.push_back({"offset + size wraps", v(version, {ok, TestMember("/x", payload).at(0xfffffff0u).stored(0x20).unpacked(0x20)}), true, "<missing>"});
        cases.push_back({"huge sizes", v(version, {ok, TestMember("/x", payload).stored(0xffffffffu).unpacked(0xffffffffu)}), true, "<missing>"});
        cases.push_back({"huge unpacked size", v(version, {ok, TestMember("/x", payload, true).unpacked(0xfffffff0u)}), true, "<missing>"});
        cases.push_back({"inflates to more", v(version, {ok, TestMember("/x", payload, true).unpacked(299)}), true, "<missing>"});
        cases.push_back({"inflates to less", v(version, {ok, TestMember("/x", payload, true).unpacked(301)}), true, "<missing>"});
        cases.push_back({"truncated zlib", v(version, {ok, TestMember("/x", payload, true).stored(packed.size() - 5)}), true, "<missing>"});
        cases.push_back({"stored size differs from unpacked", v(version, {ok, TestMember("/x", payload).unpacked(299)}), true, "<missing>"});
        std::string notZlib = v(version, {ok, {"/x", payload, true}});
        notZlib[notZlib.size() - packed.size()] ^= 0x55;  // the stream's header byte
        cases.push_back({"not a zlib stream", notZlib, true, "<missing>"});
        // Two members over the same bytes, one of them over the directory: read, not trusted.
        const std::uint32_t firstData = version == 1 ? 108 + 2 * 100 : 0;
        cases.push_back({"overlapping members", v(version, {ok, TestMember("/x", "").at(firstData).stored(4).unpacked(4)}), true, "fine"});
        cases.push_back({"a member over the directory", v(1, {ok, TestMember("/x", "").at(0).stored(12).unpacked(12)}), true,
                         std::string("DAF\0LIST\0\0\0\0", 12)});
        std::string noSig = v(version, {ok});
        noSig[3] = 'X';
        cases.push_back({"wrong signature", noSig, false, "<missing>"});
        std::string cut = v(version, {ok, {"/x", payload}});
        cut.resize(version == 1 ? 250 : 60);
        cases.push_back({"directory cut short", cut, false, "<missing>"});
        std::string countLie = v(version, {ok});
        test::PutLe(countLie, version == 1 ? 104 : 44, 0x7fffffffu, 4);
        cases.push_back({"count beyond the file", countLie, false, "<missing>"});
    }
    cases.push_back({"signature only", std::string("DAF\0LISTREV2", 12), false, "<missing>"});
    std::string baseLie = v(2, {{"/ok", "fine"}});
    test::PutLe(baseLie, 12, 0x7fffffffu, 4);
    cases.push_back({"base beyond the file", baseLie, false, "<missing>"});
    // A name field without a NUL: version 1 skips that entry, version 2 cannot find the next.
    cases.push_back({"v1 name without NUL", v(1, {{"/ok", "fine"}, TestMember("/x", payload).nameField(std::string(84, 'n'))}), true, "<missing>"});
    cases.push_back({"v2 name without NUL", v(2, {{"/ok", "fine"}, TestMember("/x", payload).nameField(std::string(80, 'n'))}), false, "<missing>"});
    cases.push_back({"v2 name of 79 characters", v(2, {{"/ok", "fine"}, TestMember("/x", payload).nameField(std::string(79, 'n') + '\0')}), true, "<missing>"});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto archive = SkinArchive::FromBytes(c.bytes);
        ASSERT_EQ(archive.has_value(), c.opens);
        if (!archive) continue;
        EXPECT_EQ(bytesText(archive->ReadMember("/x")), c.x);
        // The size is the directory's claim, known before a damaged stream is inflated.
        const std::string what = c.what;
        const bool streamDamage = what.find("zlib") != std::string::npos || what.find("inflates") != std::string::npos;
        EXPECT_EQ(archive->MemberSize("/x").has_value(), c.x != "<missing>" || streamDamage);
        EXPECT_EQ(bytesText(archive->ReadMember("/ok")), "fine");
    }
}

TEST(SkinArchive, OpensRelativeToTheProgramFolderThenAsGiven) {
    test::TempFolder home, elsewhere;
    home.write("system/tessura.tgf", WriteSkinArchive(1, {{"/which", "program folder"}}));
    elsewhere.write("own.tgf", WriteSkinArchive(2, {{"/which", "own"}, {"/rgn/x", "r"}}));
    elsewhere.write("system/tessura.tgf", WriteSkinArchive(2, {{"/which", "cwd"}}));

    EXPECT_EQ(bytesText(OpenSkinArchive("system\\tessura.tgf", home.path())->ReadMember("/which")), "program folder");
    EXPECT_EQ(bytesText(OpenSkinArchive(elsewhere.file("own.tgf"), home.path())->ReadMember("/which")), "own");
    EXPECT_FALSE(OpenSkinArchive("skins/none.tgf", home.path()));

    const std::string own = elsewhere.file("own.tgf");
    EXPECT_EQ(JoinSkinMember(own, "/which"), own + "|/which");
    EXPECT_EQ(bytesText(ReadSkinFile(JoinSkinMember(own, "/which"), "system/tessura.tgf", home.path())), "own");
    EXPECT_EQ(bytesText(ReadSkinFile("/which", "system/tessura.tgf", home.path())), "program folder");
    EXPECT_FALSE(ReadSkinFile(JoinSkinMember(own, "/none"), "", home.path()));
}

std::string regionBytes(int count, const std::vector<SkinRect>& rects, std::size_t extra = 0) {
    std::string out;
    test::AppendLe(out, std::uint16_t(count), 2);
    for (int v : {1, 2, 3, 4}) test::AppendLe(out, std::uint16_t(v), 2);  // bounds, not trusted
    for (const SkinRect& r : rects)
        for (int v : {r.left, r.top, r.right, r.bottom}) test::AppendLe(out, std::uint16_t(std::int16_t(v)), 2);
    out.append(extra, '\0');
    return out;
}

TEST(SkinRegion, MembersBecomeRectangleLists) {
    struct Case {
        const char* what;
        std::string bytes;
        bool valid;
        std::vector<SkinRect> rects;
        SkinRect bounds;
    };
    const SkinRect a{0, 0, 10, 5}, b{-4, 5, 2, 9}, inverted{5, 5, 5, 9};
    const std::vector<Case> cases = {
        {"no rectangles", regionBytes(0, {}), true, {}, {}},
        {"two rectangles", regionBytes(2, {a, b}), true, {a, b}, {-4, 0, 10, 9}},
        {"an empty rectangle dropped", regionBytes(2, {inverted, a}), true, {a}, a},
        {"count larger than the member", regionBytes(3, {a, b}), false, {}, {}},
        {"count far larger", regionBytes(0xffff, {a}), false, {}, {}},
        {"bytes after the rectangles", regionBytes(1, {a}, 3), false, {}, {}},
        {"shorter than the header", std::string(9, '\0'), false, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto region = ParseSkinRegion(SkinBytes(c.bytes.begin(), c.bytes.end()));
        ASSERT_EQ(region.has_value(), c.valid);
        if (!region) continue;
        EXPECT_EQ(region->rects, c.rects);
        EXPECT_EQ(region->bounds, c.bounds);
    }

    test::TempFolder home;
    home.write("skin.tgf", WriteSkinArchive(2, {{"/rgn/nav/frame", regionBytes(2, {a, b}), true}}));
    const auto frame = LoadSkinRegion("/rgn/nav/frame", "skin.tgf", home.path());
    ASSERT_TRUE(frame);
    // Right and bottom edges are outside.
    EXPECT_TRUE(frame->Contains(0, 0));
    EXPECT_TRUE(frame->Contains(9, 4));
    EXPECT_FALSE(frame->Contains(10, 4));
    EXPECT_FALSE(frame->Contains(9, 5));
    EXPECT_TRUE(frame->Contains(-4, 5));
    EXPECT_TRUE(frame->Contains(-4, 8));
    EXPECT_FALSE(frame->Contains(2, 8));
    EXPECT_FALSE(LoadSkinRegion("/rgn/nav/next", "skin.tgf", home.path()));
}

}  // namespace
}  // namespace tessura
