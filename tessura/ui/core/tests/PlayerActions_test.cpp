#include "PlayerActions.h"

#include "RecordingPlayer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessura::ui {
namespace {

using test::RecordingPlayer;

using Calls = std::vector<std::string>;

TEST(PlayerActions, KeysAndControlsReachThePlayer) {
    struct Case {
        int key;
        bool ctrl, playing, paused;
        Calls calls;
        const char* status;
    };
    const Case cases[] = {
        {'X', false, false, false, {"play"}, "<nav/play>"},
        {'X', false, true, false, {"stop"}, "<nav/stop>"},
        {'X', false, true, true, {"pause"}, "<nav/pause>"},
        {'B', false, true, false, {"-playnext"}, "<nav/nexttrack>"},
        {'Z', false, true, false, {"seek 0"}, "<nav/previoustrack>"},  // 5 s in: back to the start
        {'Z', false, false, false, {"-playprev"}, "<nav/previoustrack>"},
        {'V', false, true, false, {"stop"}, "<nav/stop>"},
        {'C', false, true, false, {"pause"}, "<nav/pause>"},
        {0x26, false, false, false, {"volume 32048"}, "Volume: 49%"},
        {'0', false, false, false, {"volume 65535"}, "Volume: 100%"},
        {0xC0, false, false, false, {"volume 0"}, "Volume: 0%"},
        {0x27, true, true, false, {"seek 10000"}, "<main/scanto>"},
        {0x25, true, true, false, {"seek 0"}, "<main/scanto>"},
        {'E', false, false, false, {"mode 2/5"}, nullptr},
        {'F', true, false, false, {"mode 5/0"}, nullptr},
        {0x09, true, false, false, {"tab"}, nullptr},
        {'I', false, false, false, {"post 33322"}, nullptr},
        {'O', false, false, false, {"open dialog"}, nullptr},
        {'A', false, false, false, {"add dialog"}, nullptr},
        {0xBE, false, false, false, {"vis 1"}, nullptr},
        {'D', true, false, false, {"-clearplaylist"}, nullptr},
        {'Z', true, false, false, {"default skin"}, nullptr},
        {'K', true, false, false, {"settings"}, nullptr},
        {'K', false, false, false, {}, nullptr},
        {key::kF1, false, false, false, {"about"}, nullptr},
        {'T', true, false, false, {}, "<main/alwaysontop>"},
        {'L', true, false, false, {}, "<main/movementnotlocked>"},
    };
    for (const Case& c : cases) {
        RecordingPlayer player;
        player.isPlaying = c.playing;
        player.isPaused = c.paused;
        player.at = c.playing ? 5000 : -1;
        PlayerActions actions(player, player);
        actions.run(commandForKey(c.key, c.ctrl));
        EXPECT_EQ(player.calls, c.calls) << "key " << c.key << (c.ctrl ? " with ctrl" : "");
        if (c.status) {
            ASSERT_EQ(player.status.size(), 1u) << "key " << c.key;
            EXPECT_EQ(player.status[0], c.status) << "key " << c.key;
        }
    }
}

TEST(PlayerActions, RepeatShuffleAndEqualiserControlsChangeTheirState) {
    RecordingPlayer player;
    PlayerActions actions(player, player);
    actions.click(Control::Repeat);
    EXPECT_EQ(player.list.repeatMode(), 2);  // off -> all
    actions.click(Control::Repeat);
    EXPECT_EQ(player.list.repeatMode(), 1);
    actions.click(Control::Shuffle);
    EXPECT_TRUE(player.list.shuffle());
    actions.run(commandForKey('Q', false));
    EXPECT_TRUE(player.eq);
    EXPECT_EQ(player.status.back(), "<main/eqenabled>");
    actions.run(commandForKey('I', true));
    EXPECT_TRUE(player.announce);
    actions.click(Control::JumpToNavigator);
    EXPECT_EQ(player.calls.back(), "mode 2/255");
}

TEST(PlayerActions, VolumeIsClampedAndABrokenTranslationShowsNothing) {
    RecordingPlayer player;
    PlayerActions actions(player, player);
    player.level = 65000;
    actions.run(commandForKey(0x26, false));
    EXPECT_EQ(player.level, 65535u);
    player.level = 100;
    actions.run(commandForKey(0x28, false));
    EXPECT_EQ(player.level, 0u);
    EXPECT_EQ(VolumeStatusText("Volume: %s", 100), "");
    EXPECT_EQ(VolumeStatusText("%d", 32768), "50");
}

}  // namespace
}  // namespace tessura::ui
