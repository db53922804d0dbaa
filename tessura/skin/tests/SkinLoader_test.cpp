// LoadSkin on the project's skins and on skins damaged on purpose: every image and region of
// every mode is found, each missing or damaged piece falls back on the default skin by itself,
// a refused skin gives the default skin and the built-in values, and the messages are the
// program's own. Also the skin list, installing a skin and its preview.
#include "SkinList.h"
#include "SkinLoader.h"
#include "SkinMembers.h"
#include "SkinTestSkins.h"

#include <gtest/gtest.h>

namespace tessura {
namespace {

using test::RecordingDialogs;
using test::TestMember;

class SkinLoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        texts.LoadLanguageList(std::string(VELORA_SOURCE_DIR) + "/tessura/system");
        ASSERT_EQ(texts.SelectLanguage("English"), LanguageStore::kSelected);
        defaultBytes = test::DefaultSkinBytes();
        secondBytes = test::SecondSkinBytes();
        ASSERT_FALSE(defaultBytes.empty()) << "the build draws the skins before the tests";
        ASSERT_FALSE(secondBytes.empty());
        home.write("system/tessura.tgf", defaultBytes);
        home.write("skins/ember.tgf", secondBytes);
        sources.programDir = home.path();
        sources.defaultSkin = "system/tessura.tgf";
        sources.currentSkin = "skins/ember.tgf";
    }

    LoadedSkin load(const std::string& currentSkin) {
        sources.currentSkin = currentSkin;
        return LoadSkin({settings, sources, texts, dialogs});
    }
    // A skin made from the second skin's members, changed by `change`.
    std::string variant(const std::string& name, const std::function<void(std::vector<TestMember>&)>& change) {
        auto members = test::MembersOf(secondBytes);
        change(members);
        home.write("skins/" + name, test::WriteSkinArchive(2, members));
        return "skins/" + name;
    }

    test::TempFolder home;
    SettingsStore settings{home.file("config/tessura.ini"), home.path()};
    LanguageStore texts;
    RecordingDialogs dialogs;
    SkinSources sources;
    std::string defaultBytes, secondBytes;
};

std::vector<std::string> imageNames() {
    std::vector<std::string> names;
    for (const SkinMemberName& m : kSkinImages)
        if (m.mode != SkinMode::Settings) names.emplace_back(m.name);
    names.emplace_back("/jpeg/english/navbuttons");
    return names;
}

TEST_F(SkinLoaderTest, BothSkinsGiveEveryImageRegionAndKey) {
    struct Case {
        std::string skin, title;
        SkinKnob volumeKnob;
    };
    for (const Case& c : {Case{"system/tessura.tgf", "Tessura Slate", {18, 37}}, Case{"skins/ember.tgf", "Ember", {20, 31}}}) {
        SCOPED_TRACE(c.skin);
        dialogs.asked.clear();
        const LoadedSkin skin = load(c.skin);
        EXPECT_EQ(skin.skinPath, c.skin);
        EXPECT_EQ(skin.refusedBecause, "");
        EXPECT_FALSE(skin.quitRequested);
        EXPECT_TRUE(dialogs.asked.empty());
        EXPECT_EQ(skin.displayTitle, c.title);
        EXPECT_EQ(skin.description.version, 130);
        EXPECT_EQ(skin.description.values.volumeKnob, c.volumeKnob);
        EXPECT_EQ(skin.description.values.navVolumeKnob, c.volumeKnob);
        EXPECT_NE(skin.description.author, "");
        for (const std::string& name : imageNames()) {
            SCOPED_TRACE(name);
            const auto it = skin.images.find(name);
            ASSERT_NE(it, skin.images.end());
            EXPECT_FALSE(it->second.fromDefaultSkin);
            EXPECT_GT(it->second.image.width, 0);
        }
        for (const SkinMemberName& m : kSkinRegions) {
            SCOPED_TRACE(m.name);
            const auto it = skin.regions.find(std::string(m.name));
            ASSERT_NE(it, skin.regions.end());
            EXPECT_FALSE(it->second.fromDefaultSkin);
            EXPECT_FALSE(it->second.region.Empty());
        }
        // The knob strips hold the frames the description promises.
        const SkinImage* volume = skin.Image("/jpeg/volumeknob");
        ASSERT_TRUE(volume);
        EXPECT_EQ(volume->width, c.volumeKnob.width * c.volumeKnob.images);
        EXPECT_EQ(volume->height, c.volumeKnob.width);
        const SkinImage* shuttle = skin.Image("/jpeg/shuttle");
        ASSERT_TRUE(shuttle);
        EXPECT_EQ(shuttle->width, skin.description.values.shuttleKnob.width * skin.description.values.shuttleKnob.images);
        // The navigator's drawer sits where the description says.
        const SkinRegion* drawer = skin.Region("/rgn/nav/drawer");
        ASSERT_TRUE(drawer);
        EXPECT_EQ(drawer->bounds.left, skin.description.locations.drawerPos.x);
        EXPECT_EQ(drawer->bounds.top, skin.description.locations.drawerPos.y);
        EXPECT_EQ(settings.GetSettingInt("General Preferences 0.80", "LoadSkin", -1), 1);
    }
    // The skins differ: the second one's mid window is cut to another shape.
    const LoadedSkin slate = load("system/tessura.tgf");
    const LoadedSkin ember = load("skins/ember.tgf");
    EXPECT_NE(slate.Region("/rgn/mid/frame")->rects.size(), ember.Region("/rgn/mid/frame")->rects.size());
    EXPECT_NE(slate.description.colours.systemColor1, ember.description.colours.systemColor1);
}

struct RefusalCase {
    const char* what;
    std::function<void(std::vector<TestMember>&)> change;
    const char* messageKey;  // "" for none
};

TEST_F(SkinLoaderTest, ARefusedSkinGivesTheDefaultSkinAndBuiltInValues) {
    const RefusalCase cases[] = {
        {"version 131", [](auto& m) { test::Find(m, "/skin.ini").data = "[skin]\r\ntitle=Future\r\nversion=131\r\n"; },
         "main/needlatesttessura"},
        {"no /skin.ini", [](auto& m) { test::Remove(m, "/skin.ini"); }, ""},
        {"a damaged /skin.ini", [](auto& m) { test::Find(m, "/skin.ini").unpacked(5); }, ""},
    };
    int n = 0;
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.what);
        dialogs.asked.clear();
        const std::string path = variant("refused" + std::to_string(n++) + ".tgf", c.change);
        const LoadedSkin skin = load(path);
        EXPECT_EQ(skin.skinPath, sources.defaultSkin);
        EXPECT_NE(skin.refusedBecause, "");
        EXPECT_EQ(skin.description.title, "unknown");
        EXPECT_EQ(skin.description.version, 100);
        EXPECT_EQ(skin.description.colours.systemColor1, 0xff00ffffu);
        EXPECT_EQ(dialogs.asked.size(), *c.messageKey ? 1u : 0u);
        if (*c.messageKey) {
            EXPECT_TRUE(dialogs.askedFor(c.messageKey));
            EXPECT_EQ(dialogs.asked[0].text, texts.Text(c.messageKey));
        }
        // The images are the default skin's, found there directly.
        ASSERT_TRUE(skin.Image("/jpeg/misc"));
        EXPECT_FALSE(skin.quitRequested);
    }
}

TEST_F(SkinLoaderTest, AnUnfinishedLastLoadWarnsAndUsesTheDefaultSkin) {
    settings.SetSetting("General Preferences 0.80", "LoadSkin", "0");
    const LoadedSkin skin = load("skins/ember.tgf");
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].title, "Warning...");
    EXPECT_EQ(dialogs.asked[0].text, "Tessura crashed last time you tried this skin,\nReseting to default skin");
    EXPECT_EQ(skin.skinPath, "system/tessura.tgf");
    EXPECT_EQ(skin.displayTitle, "Tessura Slate");
    EXPECT_EQ(settings.GetSettingInt("General Preferences 0.80", "LoadSkin", -1), 1);
}

// Damaged or missing pieces, each on its own fallback or message.
enum class Outcome { Own, FromDefault, Message, FallbackOrMessage };

struct DamageCase {
    const char* what;
    std::function<void(std::vector<TestMember>&)> change;
    const char* member;  // the piece to look at
    Outcome outcome;
};

const DamageCase kDamage[] = {
    {"a missing image", [](auto& m) { test::Remove(m, "/jpeg/navitem1"); }, "/jpeg/navitem1", Outcome::FromDefault},
    {"a missing region", [](auto& m) { test::Remove(m, "/rgn/mid/frame"); }, "/rgn/mid/frame", Outcome::FromDefault},
    {"a region of the wrong size", [](auto& m) { test::Find(m, "/rgn/nav/frame").data += "xy"; }, "/rgn/nav/frame",
     Outcome::FromDefault},
    {"a truncated zlib stream",
     [](auto& m) {
         TestMember& t = test::Find(m, "/jpeg/navigator");
         t.stored(test::Deflate(t.data).size() / 2);
     },
     "/jpeg/navigator", Outcome::FromDefault},
    {"a huge unpacked size", [](auto& m) { test::Find(m, "/jpeg/extra").unpacked(0xfffffff0u); }, "/jpeg/extra",
     Outcome::FromDefault},
    {"a member beyond the file", [](auto& m) { test::Find(m, "/jpeg/smallstate").at(0x7ffffff0u); }, "/jpeg/smallstate",
     Outcome::FromDefault},
    {"overlapping members: the splash's entry points at the first member's data",
     [](auto& m) { test::Find(m, "/jpeg/splash").at(0); }, "/jpeg/splash", Outcome::FallbackOrMessage},
    {"overlapping members: two entries on one extent, same sizes",
     [](auto& m) {
         const TestMember first = m.front();
         TestMember& splash = test::Find(m, "/jpeg/splash");
         splash = TestMember("/jpeg/splash", first.data, true);
         splash.at(0);
     },
     "/jpeg/splash", Outcome::Own},
    {"a JPEG that does not decode", [](auto& m) { test::Find(m, "/jpeg/shuttle").data.resize(200); }, "/jpeg/shuttle",
     Outcome::Message},
    {"a name with '..' is just a name that is never asked for",
     [](auto& m) { test::Find(m, "/jpeg/misc").name = "/jpeg/../misc"; }, "/jpeg/misc", Outcome::FromDefault},
};

TEST_F(SkinLoaderTest, DamageFallsBackPieceByPieceOrAsks) {
    int n = 0;
    for (const DamageCase& c : kDamage) {
        SCOPED_TRACE(c.what);
        dialogs.asked.clear();
        const LoadedSkin skin = load(variant("damaged" + std::to_string(n++) + ".tgf", c.change));
        EXPECT_NE(skin.skinPath, sources.defaultSkin);
        EXPECT_EQ(skin.refusedBecause, "");
        EXPECT_EQ(skin.displayTitle, "Ember");
        EXPECT_FALSE(skin.quitRequested) << "the safe answer is No: go on without the image";
        const std::string member = c.member;
        const bool region = member.rfind("/rgn/", 0) == 0;
        const bool found = region ? skin.regions.count(member) != 0 : skin.images.count(member) != 0;
        const bool fromDefault = found && (region ? skin.regions.at(member).fromDefaultSkin
                                                  : skin.images.at(member).fromDefaultSkin);
        const bool asked = dialogs.asked.size() == 1 && dialogs.asked[0].textKey == "errors/corruptimageres" &&
                           dialogs.asked[0].buttons == Buttons::YesNo &&
                           dialogs.asked[0].title == texts.Text("errors/tessuraerror");
        switch (c.outcome) {
        case Outcome::Own:
            EXPECT_TRUE(found && !fromDefault);
            EXPECT_TRUE(dialogs.asked.empty());
            break;
        case Outcome::FromDefault:
            EXPECT_TRUE(found && fromDefault);
            EXPECT_TRUE(dialogs.asked.empty());
            break;
        case Outcome::Message:
            EXPECT_FALSE(found);
            EXPECT_TRUE(asked);
            break;
        case Outcome::FallbackOrMessage:
            EXPECT_TRUE((found && fromDefault && dialogs.asked.empty()) || (!found && asked));
            break;
        }
        // Everything else still comes from the skin itself.
        ASSERT_TRUE(skin.images.count("/jpeg/midtessura"));
        EXPECT_FALSE(skin.images.at("/jpeg/midtessura").fromDefaultSkin);
    }
}

TEST_F(SkinLoaderTest, YesToADamagedImageEndsTheLoad) {
    dialogs.answers["errors/corruptimageres"] = Answer::Yes;
    const LoadedSkin skin = load(variant("bad.tgf", [](auto& m) { test::Find(m, "/jpeg/navitem1").data = "not a jpeg"; }));
    EXPECT_TRUE(skin.quitRequested);
    EXPECT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(settings.GetSettingInt("General Preferences 0.80", "LoadSkin", -1), 1);
}

TEST_F(SkinLoaderTest, AMissingImageInBothSkinsAsksAboutTheResource) {
    auto members = test::MembersOf(defaultBytes);
    test::Remove(members, "/jpeg/splash");
    home.write("system/tessura.tgf", test::WriteSkinArchive(2, members));
    const LoadedSkin skin = load(variant("nosplash.tgf", [](auto& m) { test::Remove(m, "/jpeg/splash"); }));
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].textKey, "errors/resourceerrorstr");
    EXPECT_EQ(dialogs.asked[0].text, texts.Format("errors/resourceerrorstr", {"skins/nosplash.tgf", "/jpeg/splash"}));
    EXPECT_FALSE(skin.Image("/jpeg/splash"));
    EXPECT_FALSE(skin.quitRequested);
}

TEST_F(SkinLoaderTest, NoUsableSkinAtAllEndsTheProgram) {
    home.write("system/tessura.tgf", "not an archive");
    const LoadedSkin skin = load("skins/missing.tgf");
    EXPECT_TRUE(skin.quitRequested);
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].textKey, "errors/couldnotloadskin");
    EXPECT_EQ(dialogs.asked[0].text, texts.Format("errors/couldnotloadskin", {"system/tessura.tgf"}));
}

TEST_F(SkinLoaderTest, UntouchedModesDrawFromTheDefaultSkin) {
    struct Case {
        const char* touch;
        bool midFromDefault, navFromDefault, smallFromDefault, miscFromDefault, untouchedMisc;
    };
    const Case cases[] = {
        {"TouchMidMode=0", true, false, false, false, true},
        {"TouchNavMode=0", false, true, false, false, true},
        {"TouchNavMode=0\r\nTouchMidMode=0", true, true, false, true, false},
        {"TouchSmallMode=0", false, false, true, false, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.touch);
        const std::string touch = c.touch;
        const LoadedSkin skin = load(variant("touch" + std::to_string(n++) + ".tgf", [&](auto& m) {
            test::Find(m, "/skin.ini").data = "[skin]\r\ntitle=Half\r\nversion=120\r\n" + touch + "\r\n";
        }));
        EXPECT_EQ(skin.images.at("/jpeg/midtessura").fromDefaultSkin, c.midFromDefault);
        EXPECT_EQ(skin.images.at("/jpeg/navigator").fromDefaultSkin, c.navFromDefault);
        EXPECT_EQ(skin.images.at("/jpeg/smallstate").fromDefaultSkin, c.smallFromDefault);
        EXPECT_EQ(skin.images.at("/jpeg/misc").fromDefaultSkin, c.miscFromDefault);
        EXPECT_EQ(skin.untouchedMisc.has_value(), c.untouchedMisc);
        EXPECT_EQ(skin.regions.at("/rgn/mid/frame").fromDefaultSkin, c.midFromDefault);
        EXPECT_EQ(skin.regions.at("/rgn/small/frame").fromDefaultSkin, c.smallFromDefault);
        EXPECT_FALSE(skin.images.at("/jpeg/navitem1").fromDefaultSkin);
    }
}

TEST_F(SkinLoaderTest, AnEmptyTitleShowsAsTheOriginalDefault) {
    const LoadedSkin skin = load(variant("untitled.tgf", [](auto& m) {
        test::Find(m, "/skin.ini").data = "[skin]\r\ntitle=\r\nversion=130\r\n";
    }));
    EXPECT_EQ(skin.description.title, "");
    EXPECT_EQ(skin.displayTitle, "original_default");
}

TEST_F(SkinLoaderTest, ListInstallAndPreview) {
    home.write("skins/Zinc.TGF", secondBytes);
    home.write("skins/notes.txt", "not a skin");
    home.write("skins/alpha.tgf", secondBytes);
    const auto list = ListSkins(home.path(), "system/tessura.tgf", "SKINS/EMBER.tgf");
    ASSERT_EQ(list.size(), 4u);
    EXPECT_TRUE(list[0].isDefault);
    EXPECT_EQ(list[0].path, "system/tessura.tgf");
    EXPECT_EQ(list[1].path, "skins/Zinc.TGF");  // byte order: upper case first
    EXPECT_EQ(list[2].path, "skins/alpha.tgf");
    EXPECT_EQ(list[3].path, "skins/ember.tgf");
    for (std::size_t i = 0; i < list.size(); ++i) EXPECT_EQ(list[i].isCurrent, i == 3) << i;

    // Installing copies under the same name, making skins/ when it is missing.
    test::TempFolder other;
    const std::string source = other.write("downloads/Copper.tgf", secondBytes);
    std::filesystem::remove_all(home.file("skins"));
    const auto installed = InstallSkin(source, home.path(), dialogs);
    ASSERT_TRUE(installed);
    EXPECT_EQ(*installed, "skins/Copper.tgf");
    EXPECT_EQ(home.read("skins/Copper.tgf"), secondBytes);
    EXPECT_TRUE(dialogs.asked.empty());
    EXPECT_FALSE(InstallSkin(other.file("downloads/none.tgf"), home.path(), dialogs));
    ASSERT_EQ(dialogs.asked.size(), 1u);
    EXPECT_EQ(dialogs.asked[0].text, "Error Installing Skin.");

    const SkinPreviewInfo preview = SkinPreview("skins/Copper.tgf", home.path(), texts);
    EXPECT_EQ(preview.title, "Ember");
    EXPECT_NE(preview.author, texts.Text("settings/skinunknown"));
    EXPECT_NE(preview.url, "");
    ASSERT_TRUE(preview.thumbnail);
    const auto& alpha = preview.thumbnail->alpha;
    ASSERT_EQ(alpha.size(), std::size_t(preview.thumbnail->width) * preview.thumbnail->height);
    EXPECT_NE(std::count(alpha.begin(), alpha.end(), 0), 0) << "the mask cuts the corners away";
    EXPECT_NE(std::count(alpha.begin(), alpha.end(), 255), 0);

    const std::string bare = variant("bare.tgf", [](auto& m) { test::Remove(m, "/skin.ini"); });
    const SkinPreviewInfo unknown = SkinPreview(bare, home.path(), texts);
    EXPECT_EQ(unknown.title, texts.Text("settings/skinnotitle"));
    EXPECT_EQ(unknown.author, texts.Text("settings/skinunknown"));
    EXPECT_EQ(unknown.urlText, texts.Text("settings/skinunknown"));
    EXPECT_EQ(unknown.url, "");
}

}  // namespace
}  // namespace tessura
