// The navigator's text pages, read through the shipped English language file, so a page that
// names a missing item or a format that does not fit its values shows up here.
#include "NavigatorPages.h"

#include "LanguageStore.h"

#include <gtest/gtest.h>

#include <set>

namespace tessura::ui {
namespace {

struct English {
    English() {
        languages.LoadLanguageList(TESSURA_SYSTEM_DIR);
        languages.SelectLanguage("English");
    }
    LanguageText text() const {
        return [this](const std::string& key) { return languages.Text(key); };
    }
    LanguageStore languages;
};

NavigatorFacts facts() {
    NavigatorFacts f;
    f.current.file = "/music/night ferry.mp3";
    f.current.display = "night ferry";
    f.current.title = "Night Ferry";
    f.current.author = "The Harbour Band";
    f.current.length = 245;
    f.entries = 12;
    f.repeatMode = 2;
    f.shuffle = true;
    f.volume = 32768;
    f.balanceText = "Balance: 10% left";
    f.alwaysOnTop = true;
    f.remainingTime = true;
    f.frameRate = 75;
    f.seedNumber = 41;
    f.skinTitle = "Ember";
    f.skinAuthor = "Tessura developers";
    f.skinPath = "skins/ember.tgf";
    f.version = "1.96";
    f.buildDate = "March 1, 2002";
    return f;
}

using Lines = std::vector<PageLine>;

TEST(NavigatorPages, EachTextPageShowsItsFactsInTheLanguagesWords) {
    const English english;
    const NavigatorFacts f = facts();
    const struct {
        int page;
        Lines lines;
    } cases[] = {
        {kNowPlayingPage,
         {{"Night Ferry", true}, {"The Harbour Band"}, {"Length 4:05"}, {"/music/night ferry.mp3"}}},
        {kPlayOrderPage, {{"Shuffle on"}, {"Repeat: the whole playlist"}, {"12 entries in the playlist"}}},
        {kSoundPage, {{"Volume: 50%"}, {"Balance: 10% left"}}},
        {kSettingsPage,
         {{"Always on top"}, {"Window movement unlocked"}, {"75 frames a second"},
          {"The time display shows the time left"}}},
        {kSkinPage, {{"Ember", true}, {"by Tessura developers"}, {"skins/ember.tgf"}}},
        {kStatisticsPage, {{"Started 41 times"}, {"12 entries in the playlist"}}},
        {kAboutPage, {{"About Tessura", true}, {"Version 1.96"}, {"March 1, 2002"}}},
        // The pages that draw themselves have no lines here.
        {kPlaylistPage, {}},
        {kEqualiserPage, {}},
        {kVisualisationPage, {}},
        {kVisualisationsPage, {}},
    };
    for (const auto& c : cases) {
        const Lines lines = NavigatorPageLines(c.page, f, english.text());
        EXPECT_EQ(lines.size(), c.lines.size()) << "page " << c.page;
        for (std::size_t i = 0; i < std::min(lines.size(), c.lines.size()); ++i) {
            EXPECT_EQ(lines[i].text, c.lines[i].text) << "page " << c.page << " line " << i;
            EXPECT_EQ(lines[i].lit, c.lines[i].lit) << "page " << c.page << " line " << i;
        }
    }
    // Every page has a title of its own, and the keys page four lines of text.
    std::set<std::string> titles;
    for (int page = 0; page < 12; ++page) titles.insert(NavigatorPageTitle(page, english.text()));
    EXPECT_EQ(titles.size(), 12u);
    EXPECT_FALSE(titles.count("navpage/playlist"));
    const Lines keys = NavigatorPageLines(kKeysPage, f, english.text());
    ASSERT_EQ(keys.size(), 4u);
    for (const PageLine& line : keys) EXPECT_EQ(line.text.find("navpage/"), std::string::npos);
    EXPECT_EQ(NavigatorPageTitle(12, english.text()), "");
}

TEST(NavigatorPages, NothingPlayingAndAFormatThatDoesNotFitItsValues) {
    const English english;
    NavigatorFacts f = facts();
    f.current = {};
    EXPECT_EQ(NavigatorPageLines(kNowPlayingPage, f, english.text()), (Lines{{"Nothing is playing"}}));
    // A translation whose format wants a text where a number goes shows the key, never garbage.
    const LanguageText broken = [&](const std::string& key) {
        return key == "navpage/starts" ? std::string("Started %s times") : english.languages.Text(key);
    };
    EXPECT_EQ(NavigatorPageLines(kStatisticsPage, f, broken).front().text, "navpage/starts");
}

}  // namespace
}  // namespace tessura::ui
