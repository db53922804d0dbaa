#include "PlayerSettings.h"
#include "ScriptedDialogService.h"
#include "StartupSequence.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

namespace veloraplay {
namespace {

// Records the order in which the start-up reaches its parts.
struct Script : Display, InstanceGate, StartupRegistrar, WindowFactory {
    int depth = 24;
    InstanceChannel::Outcome outcome = InstanceChannel::Outcome::Listening;
    std::vector<std::string> calls;
    const SettingsStore* settings = nullptr;

    int colourDepth() const override { return depth; }
    InstanceChannel::Outcome claimOrHandOver(const std::string& commandLine) override {
        calls.push_back("instance " + commandLine);
        return outcome;
    }
    std::string error() const override { return "no socket"; }
    void check() override { calls.push_back("registrar"); }
    int runPlayer(const std::string& commandLine) override {
        calls.push_back("player " + commandLine + " mute=" +
                        std::to_string(readSetting(*settings, PlayerSetting::MuteState)));
        return 0;
    }
    int runEncoder(int skin, const std::string& input) override {
        calls.push_back("encoder skin=" + std::to_string(skin) + " " + input);
        return 0;
    }
};

struct Case {
    int depth;
    InstanceChannel::Outcome outcome;
    std::vector<std::string> args;
    std::vector<std::string> calls;
    int dialogs;
};

TEST(Startup, ChoosesTheWindowInTheOrderOfTheStart) {
    using O = InstanceChannel::Outcome;
    const Case cases[] = {
        {24,
         O::Listening,
         {"a b.mp3"},
         {"instance \"a b.mp3\"", "registrar", "player \"a b.mp3\" mute=0"},
         0},
        {24, O::HandedOver, {"x.mp3"}, {"instance x.mp3"}, 0},
        {24, O::HandedOver, {}, {"instance "}, 0},  // an empty start only raises the player
        {24, O::Unavailable, {}, {"instance ", "registrar", "player  mute=0"}, 0},
        {24, O::TooLong, {"x"}, {"instance x"}, 0},
        {8, O::Listening, {}, {"instance ", "registrar", "player  mute=0"}, 1},
        {24,
         O::Listening,
         {"/encode", "dir with blanks/a.wav"},
         {"encoder skin=0 dir with blanks/a.wav"},
         0},
        {24, O::Listening, {"/ENCODE"}, {"encoder skin=0 "}, 0},
        {24,
         O::Listening,
         {"/ENCODER", "a"},
         {"instance /ENCODER a", "registrar", "player /ENCODER a mute=0"},
         0},
    };
    for (const Case& c : cases) {
        test::TempFolder dir;
        SettingsStore settings(dir / "s.ini");
        settings.setInt("Volume Panel", "MuteState", 1);  // muted when the last run ended
        ASSERT_TRUE(settings.save());
        Script script;
        script.depth = c.depth;
        script.outcome = c.outcome;
        script.settings = &settings;
        ScriptedDialogService dialogs(nullptr);
        runStartup(StartupParts{script, settings, dialogs, script, script, script, nullptr},
                   c.args);
        EXPECT_EQ(script.calls, c.calls);
        EXPECT_EQ(dialogs.shownCount(), c.dialogs);
        SettingsStore reread(dir / "s.ini");
        ASSERT_TRUE(reread.load());
        EXPECT_EQ(readSetting(reread, PlayerSetting::MuteState), 0);
    }
}

}  // namespace
}  // namespace veloraplay
