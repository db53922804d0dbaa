// The main window's keys and media keys as a table, the chat announcement's text, and the timer
// thread's chores per frame against a clock of the test's own.
#include "Announcement.h"
#include "FrameChores.h"
#include "KeyCommands.h"
#include "PeriodicThread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace tessura {
namespace {

TEST(KeyCommands, EachKeyDoesWhatTheTableSays) {
    struct Case {
        int key;
        bool ctrl;
        KeyAction action;
        int a = 0, b = 0;
    };
    const Case cases[] = {
        {key::kEscape, false, KeyAction::SwitchMode, 2, 255},
        {key::kLeft, false, KeyAction::Previous}, {'Z', false, KeyAction::Previous}, {'z', false, KeyAction::Previous},
        {key::kRight, false, KeyAction::Next},    {'B', false, KeyAction::Next},
        {key::kUp, false, KeyAction::VolumeStep, 2048}, {key::kDown, false, KeyAction::VolumeStep, -2048},
        {'A', false, KeyAction::AddFilesDialog}, {'L', false, KeyAction::OpenFilesDialog},
        {'O', false, KeyAction::OpenFilesDialog}, {'C', false, KeyAction::TogglePause},
        {'D', false, KeyAction::RemoveSelected}, {'E', false, KeyAction::SwitchMode, 2, 5},
        {'P', false, KeyAction::SwitchMode, 2, 1}, {'I', false, KeyAction::ExtendedInfo},
        {'J', false, KeyAction::JumpDialog}, {'Q', false, KeyAction::ToggleEqualiser},
        {'R', false, KeyAction::NextRepeatMode}, {'S', false, KeyAction::ToggleShuffle},
        {'V', false, KeyAction::Stop}, {'W', false, KeyAction::PlaylistEditor},
        {'X', false, KeyAction::PlayPauseOrStop},
        {key::kComma, false, KeyAction::PreviousVis}, {key::kPeriod, false, KeyAction::NextVis},
        {key::kBackquote, false, KeyAction::SetVolume, 0}, {'0', false, KeyAction::SetVolume, 65535},
        {'1', false, KeyAction::SetVolume, 6554}, {'5', false, KeyAction::SetVolume, 32770},
        {'9', false, KeyAction::SetVolume, 58986}, {'K', false, KeyAction::None},
        {key::kLeft, true, KeyAction::Seek, -5000}, {key::kRight, true, KeyAction::Seek, 5000},
        {'A', true, KeyAction::AlwaysOnTop}, {'T', true, KeyAction::AlwaysOnTop},
        {'D', true, KeyAction::ClearPlaylist}, {'E', true, KeyAction::SwitchMode, 2, 5},
        {'F', true, KeyAction::SwitchMode, 5, 0}, {'I', true, KeyAction::ToggleAnnounce},
        {'L', true, KeyAction::LockMovement}, {'N', true, KeyAction::SwitchMode, 2, 255},
        {'O', true, KeyAction::SwitchMode, 2, 2}, {'P', true, KeyAction::SwitchMode, 2, 1},
        {'R', true, KeyAction::SwitchMode, 2, 4}, {'S', true, KeyAction::SwitchMode, 2, 6},
        {key::kComma, true, KeyAction::SwitchMode, 3, 0}, {key::kTab, true, KeyAction::TabMode},
        {'Z', true, KeyAction::LoadDefaultSkin}, {'1', true, KeyAction::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "key " << c.key << (c.ctrl ? " with Ctrl" : ""));
        const KeyCommand command = commandForKey(c.key, c.ctrl);
        EXPECT_EQ(command.action, c.action);
        EXPECT_EQ(command.a, c.a);
        EXPECT_EQ(command.b, c.b);
    }
    EXPECT_EQ(commandForMediaKey(MediaKey::NextTrack).action, KeyAction::Next);
    EXPECT_EQ(commandForMediaKey(MediaKey::PreviousTrack).action, KeyAction::Previous);
    EXPECT_EQ(commandForMediaKey(MediaKey::Stop).action, KeyAction::Stop);
    EXPECT_EQ(commandForMediaKey(MediaKey::PlayPause).action, KeyAction::PlayOrPause);
    EXPECT_EQ(commandForMediaKey(MediaKey::MediaSelect).action, KeyAction::OpenFilesDialog);
}

class RecordingChat final : public ChatClient {
  public:
    bool poke(const std::string& service, const std::string& topic, const std::string& item,
              const std::string& text) override {
        sent = service + "|" + topic + "|" + item + "|" + text;
        return true;
    }
    std::string sent;
};

TEST(Announcement, BuildsItsTextFromTheSettingAndHandsItToTheClient) {
    PlaylistEntry titled;
    titled.title = "Night Ferry";
    titled.author = "Harbour Lights";
    titled.display = "ignored";
    PlaylistEntry untitled;
    untitled.display = "03 - track.mp3";
    PlaylistEntry noAuthor;
    noAuthor.title = "Alone";
    const std::string standard = "/ame is listening to %s in Tessura %s";
    EXPECT_EQ(AnnouncementText(standard, titled, "1.96"), "/ame is listening to Harbour Lights - Night Ferry in Tessura 1.96");
    EXPECT_EQ(AnnouncementText(standard, untitled, "1.96"), "/ame is listening to 03 - track.mp3 in Tessura 1.96");
    EXPECT_EQ(AnnouncementText(standard, noAuthor, "1.96"), "/ame is listening to  - Alone in Tessura 1.96");
    EXPECT_EQ(AnnouncementText("%s %d %n", titled, "1.96"), "") << "a setting is never trusted as a format";
    EXPECT_EQ(AnnouncementText(std::string(120, 'x') + "%s", titled, "1.96"), std::string(120, 'x'))
        << "the setting is cut to 120 characters first";

    RecordingChat chat;
    EXPECT_FALSE(AnnounceTrack(false, standard, titled, chat));
    EXPECT_TRUE(chat.sent.empty());
    EXPECT_TRUE(AnnounceTrack(true, standard, titled, chat));
    EXPECT_EQ(chat.sent, "mIrc|command| |/ame is listening to Harbour Lights - Night Ferry in Tessura 1.96");
    NoChatClient none;
    EXPECT_FALSE(AnnounceTrack(true, standard, titled, none)) << "no client: nothing happens";
}

TEST(FrameChores, ClearsTheStatusLineSuspendsWhenIdleAndSendsWhatFellDue) {
    EXPECT_EQ(framePeriodMs(75, false), 13);
    EXPECT_EQ(framePeriodMs(30, true), 16);
    EXPECT_EQ(framePeriodMs(0, false), 1000);

    FrameState s;
    s.lastStatusMs = 1000;
    s.nowMs = 2749;
    EXPECT_FALSE(frameChores(s).clearStatus);
    s.nowMs = 2750;
    EXPECT_TRUE(frameChores(s).clearStatus);
    EXPECT_FALSE(frameChores(s).clearStatus) << "cleared once";
    s.fullScreen = true;
    s.lastStatusMs = 10000;
    s.nowMs = 12000;
    EXPECT_FALSE(frameChores(s).clearStatus) << "3000 ms in full screen";

    struct Idle {
        bool nothingPlayed, paused, minimised, suspends;
    };
    const Idle idles[] = {{false, false, false, false}, {true, false, false, true},
                          {false, true, false, true},   {false, false, true, true}};
    for (const Idle& idle : idles) {
        FrameState f;
        f.nothingPlayedYet = idle.nothingPlayed;
        f.paused = idle.paused;
        f.minimised = idle.minimised;
        f.lastInputMs = 0;
        f.nowMs = 4000;
        EXPECT_FALSE(frameChores(f).suspend) << "not before 4000 ms have passed";
        f.nowMs = 4001;
        EXPECT_EQ(frameChores(f).suspend, idle.suspends);
        EXPECT_EQ(f.lastInputMs, 4001) << "the next check counts from this one";
    }

    DelayedMessages delayed;
    delayed.add(nullptr, ThreadMessage{thread_message::kOpenFileDialog, 0, 0, {}}, 200);
    delayed.add(nullptr, ThreadMessage{thread_message::kSwitchMode, 2, 1, {}}, 100);
    delayed.add(nullptr, ThreadMessage{thread_message::kStatusText, 0, 0, {}}, 300);
    EXPECT_TRUE(delayed.takeDue(99).empty());
    const auto due = delayed.takeDue(200);
    ASSERT_EQ(due.size(), 2u);
    EXPECT_EQ(due[0].message.code, thread_message::kOpenFileDialog) << "in the order added";
    EXPECT_EQ(due[1].message.code, thread_message::kSwitchMode);
    EXPECT_EQ(delayed.size(), 1u);
}

TEST(PeriodicThread, RunsUntilStoppedRestsWhileSuspendedAndStopsPromptly) {
    PeriodicThread thread;
    std::atomic<int> runs{0};
    thread.start(std::chrono::milliseconds(2), [&] { ++runs; });
    while (runs < 3) std::this_thread::yield();
    thread.suspend();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const int resting = runs;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_LE(runs - resting, 1) << "at most the run in progress when it was suspended";
    thread.resume();
    while (runs < resting + 3) std::this_thread::yield();
    thread.setPeriod(std::chrono::hours(1));
    const auto before = std::chrono::steady_clock::now();
    thread.stop();  // wakes it from a wait of an hour
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
}

}  // namespace
}  // namespace tessura
