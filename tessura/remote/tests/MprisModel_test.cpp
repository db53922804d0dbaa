#include "MprisModel.h"
#include "RecordingTarget.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cctype>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace tessura::remote {
namespace {

constexpr int kPlaying = 1, kStopped = 2, kPaused = 3;
constexpr int64_t kMax = std::numeric_limits<int64_t>::max(), kMin = std::numeric_limits<int64_t>::min();

struct CommandRow {
    const char* name;
    int engineState;
    int32_t lengthMs;  // of the track started before; 0: a stream; -1: no track at all
    int32_t positionMs;
    MprisAction action;
    int64_t value;
    const char* text;  // "<first>", "<second>": the object path of the first or second track
    std::vector<std::string> calls;
    bool canRaise = false;
};


const CommandRow kCommandRows[] = {
    {"play when stopped starts", kStopped, 60000, 0, MprisAction::Play, 0, "", {"play"}},
    {"play when paused resumes", kPaused, 60000, 0, MprisAction::Play, 0, "", {"play"}},
    {"play when playing does nothing", kPlaying, 60000, 0, MprisAction::Play, 0, "", {}},
    {"pause when playing pauses", kPlaying, 60000, 0, MprisAction::Pause, 0, "", {"togglePause"}},
    {"pause when paused stays", kPaused, 60000, 0, MprisAction::Pause, 0, "", {}},
    {"pause when stopped stays", kStopped, 60000, 0, MprisAction::Pause, 0, "", {}},
    {"playpause when playing", kPlaying, 60000, 0, MprisAction::PlayPause, 0, "", {"togglePause"}},
    {"playpause when paused", kPaused, 60000, 0, MprisAction::PlayPause, 0, "", {"togglePause"}},
    {"playpause when stopped", kStopped, 60000, 0, MprisAction::PlayPause, 0, "", {"play"}},
    {"playpause with no track", kStopped, -1, 0, MprisAction::PlayPause, 0, "", {"play"}},
    {"stop when playing", kPlaying, 60000, 0, MprisAction::Stop, 0, "", {"stop"}},
    {"stop when paused", kPaused, 60000, 0, MprisAction::Stop, 0, "", {"stop"}},
    {"stop when stopped", kStopped, 60000, 0, MprisAction::Stop, 0, "", {}},
    {"next", kStopped, 60000, 0, MprisAction::Next, 0, "", {"next"}},
    {"previous", kPlaying, 60000, 0, MprisAction::Previous, 0, "", {"previous"}},
    {"seek forward", kPlaying, 60000, 10000, MprisAction::SeekBy, 2500000, "", {"seekTo:12500"}},
    {"seek back", kPaused, 60000, 10000, MprisAction::SeekBy, -4000000, "", {"seekTo:6000"}},
    {"seek before the start", kPlaying, 60000, 10000, MprisAction::SeekBy, -20000000, "", {"seekTo:0"}},
    {"seek to the very end", kPlaying, 60000, 10000, MprisAction::SeekBy, 50000000, "", {"seekTo:60000"}},
    {"seek past the end", kPlaying, 60000, 10000, MprisAction::SeekBy, 50000001, "", {"next"}},
    {"seek by the largest offset", kPlaying, 60000, 10000, MprisAction::SeekBy, kMax, "", {"next"}},
    {"seek by the smallest offset", kPlaying, 60000, 10000, MprisAction::SeekBy, kMin, "", {"seekTo:0"}},
    {"seek when stopped", kStopped, 60000, 10000, MprisAction::SeekBy, 1000000, "", {}},
    {"seek in a stream", kPlaying, 0, 10000, MprisAction::SeekBy, 1000000, "", {}},
    {"seek with no track", kPlaying, -1, 10000, MprisAction::SeekBy, 1000000, "", {}},
    {"set position", kPlaying, 60000, 10000, MprisAction::SetPosition, 5000000, "<first>", {"seekTo:5000"}},
    {"set position at the end", kPaused, 60000, 0, MprisAction::SetPosition, 60000000, "<first>", {"seekTo:60000"}},
    {"set position past the end", kPlaying, 60000, 0, MprisAction::SetPosition, 60000001, "<first>", {}},
    {"set position negative", kPlaying, 60000, 0, MprisAction::SetPosition, -1, "<first>", {}},
    {"set position of another track", kPlaying, 60000, 0, MprisAction::SetPosition, 5000000, "<second>", {}},
    {"set position of no track", kPlaying, 60000, 0, MprisAction::SetPosition, 5000000, kNoTrackPath, {}},
    {"set position when stopped", kStopped, 60000, 0, MprisAction::SetPosition, 5000000, "<first>", {}},
    {"open", kStopped, -1, 0, MprisAction::OpenUri, 0, "/m/a b.mp3", {"openUri:/m/a b.mp3"}},
    {"open nothing", kStopped, -1, 0, MprisAction::OpenUri, 0, "", {}},
    {"raise without a window", kPlaying, 60000, 0, MprisAction::Raise, 0, "", {}},
    {"raise with a window", kPlaying, 60000, 0, MprisAction::Raise, 0, "", {"raise"}, true},
    {"quit", kPlaying, 60000, 0, MprisAction::Quit, 0, "", {"quit"}},
    {"volume", kPlaying, 60000, 0, MprisAction::SetVolume, 32768, "", {"setVolume:32768"}},
    {"volume above full", kPlaying, 60000, 0, MprisAction::SetVolume, 70000, "", {"setVolume:65535"}},
    {"volume below zero", kPlaying, 60000, 0, MprisAction::SetVolume, -5, "", {"setVolume:0"}},
    {"loop the playlist", kPlaying, 60000, 0, MprisAction::SetLoopStatus, 2, "", {"setRepeatMode:2"}},
    {"loop the track", kStopped, -1, 0, MprisAction::SetLoopStatus, 1, "", {"setRepeatMode:1"}},
    {"loop nothing", kPlaying, 60000, 0, MprisAction::SetLoopStatus, 0, "", {"setRepeatMode:0"}},
    {"loop status out of range", kPlaying, 60000, 0, MprisAction::SetLoopStatus, 3, "", {}},
    {"shuffle on", kPlaying, 60000, 0, MprisAction::SetShuffle, 1, "", {"setShuffle:on"}},
    {"shuffle off", kPlaying, 60000, 0, MprisAction::SetShuffle, 0, "", {"setShuffle:off"}},
};

class MprisCommands : public testing::TestWithParam<CommandRow> {};

TEST_P(MprisCommands, BecomeTheTargetsCalls) {
    const CommandRow& row = GetParam();
    MprisOptions options;
    options.canRaise = row.canRaise;
    MprisModel model(options);
    if (row.lengthMs >= 0) model.trackStarted("/m/t.mp3", row.lengthMs, 0);
    model.playState(row.engineState);
    RecordingTarget target;
    target.position = row.positionMs;
    MprisCommand command{row.action, row.value, row.text};
    if (command.text == "<first>") command.text = TrackObjectPath(1);
    if (command.text == "<second>") command.text = TrackObjectPath(2);
    model.run(command, target);
    EXPECT_EQ(target.calls, row.calls);
}

INSTANTIATE_TEST_SUITE_P(Table, MprisCommands, testing::ValuesIn(kCommandRows),
                         [](const testing::TestParamInfo<CommandRow>& row) {
                             std::string name = row.param.name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

std::vector<std::string> names(const MprisChanges& changes) {
    return {changes.properties.begin(), changes.properties.end()};
}

TEST(MprisModel, NewsBecomeChangedProperties) {
    struct Step {
        const char* what;
        std::function<void(MprisModel&)> news;
        std::vector<std::string> changed;
    };
    const Step steps[] = {
        {"first track", [](MprisModel& m) { m.trackStarted("/m/a.mp3", 1000, 0); }, {"Metadata"}},
        {"playing", [](MprisModel& m) { m.playState(kPlaying); }, {"PlaybackStatus", "CanSeek"}},
        {"same state again", [](MprisModel& m) { m.playState(kPlaying); }, {}},
        {"title", [](MprisModel& m) { m.trackInfo("Song", "Band"); }, {"Metadata"}},
        {"same title", [](MprisModel& m) { m.trackInfo("Song", "Band"); }, {}},
        {"position only", [](MprisModel& m) { m.positionChanged(500); }, {}},
        {"volume", [](MprisModel& m) { m.volumeChanged(1000); }, {"Volume"}},
        {"same volume", [](MprisModel& m) { m.volumeChanged(1000); }, {}},
        {"paused", [](MprisModel& m) { m.playState(kPaused); }, {"PlaybackStatus"}},
        {"stream follows", [](MprisModel& m) { m.trackStarted("http://h/live", 0, 0); }, {"Metadata", "CanSeek"}},
        {"same file again is a new track", [](MprisModel& m) { m.trackStarted("http://h/live", 0, 0); }, {"Metadata"}},
        {"stopped", [](MprisModel& m) { m.playState(kStopped); }, {"PlaybackStatus"}},
        {"batch", [](MprisModel& m) { m.playState(kPlaying); m.volumeChanged(0); }, {"PlaybackStatus", "Volume"}},
        {"repeat all", [](MprisModel& m) { m.playlistModes(2, false); }, {"LoopStatus"}},
        {"shuffle", [](MprisModel& m) { m.playlistModes(2, true); }, {"Shuffle"}},
        {"same modes", [](MprisModel& m) { m.playlistModes(2, true); }, {}},
        {"unknown repeat mode reads as off", [](MprisModel& m) { m.playlistModes(9, true); }, {"LoopStatus"}},
    };
    MprisModel model;
    int wakeUps = 0;
    model.setChangeListener([&] { ++wakeUps; });
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const int before = wakeUps;
        step.news(model);
        const MprisChanges changes = model.takeChanges();
        EXPECT_EQ(names(changes), step.changed);
        EXPECT_FALSE(changes.seekedUs);
        // One wake-up for a batch, none for nothing new.
        EXPECT_EQ(wakeUps - before, step.changed.empty() ? 0 : 1);
        EXPECT_TRUE(model.takeChanges().empty());
    }
}

TEST(MprisModel, TrackValues) {
    MprisModel model;
    model.trackInfo("ignored", "no track yet");
    EXPECT_EQ(model.snapshot().track.serial, 0u);
    EXPECT_EQ(model.snapshot().track.objectPath(), kNoTrackPath);

    model.trackStarted("/music/one.mp3", 61500, 2000);
    MprisSnapshot s = model.snapshot();
    EXPECT_EQ(s.track.objectPath(), TrackObjectPath(1));
    EXPECT_EQ(s.track.title, "one.mp3");  // no title yet: the file's name
    EXPECT_EQ(s.track.artist, "");
    EXPECT_EQ(s.track.lengthUs, 61500000);
    EXPECT_EQ(s.positionUs, 2000000);
    EXPECT_FALSE(s.canSeek);  // not playing yet

    model.trackInfo("One", "Someone");
    model.playState(kPlaying);
    model.positionChanged(3250);
    s = model.snapshot();
    EXPECT_EQ(s.track.title, "One");
    EXPECT_EQ(s.track.artist, "Someone");
    EXPECT_EQ(s.status, PlaybackStatus::Playing);
    EXPECT_EQ(s.positionUs, 3250000);
    EXPECT_TRUE(s.canSeek);

    model.trackInfo("", "");
    EXPECT_EQ(model.snapshot().track.title, "one.mp3");

    model.trackStarted("/music/two.mp3", -1, 0);
    s = model.snapshot();
    EXPECT_EQ(s.track.objectPath(), TrackObjectPath(2));
    EXPECT_EQ(s.track.lengthUs, 0);
    EXPECT_FALSE(s.canSeek);

    model.positionChanged(-1);  // nothing plays
    EXPECT_EQ(model.snapshot().positionUs, 0);
    model.positionChanged(9000);
    model.playState(kStopped);
    EXPECT_EQ(model.snapshot().positionUs, 0);
}

TEST(MprisModel, VolumeFollowsThePlayer) {
    MprisModel model;
    EXPECT_EQ(model.snapshot().volume, 1.0);
    model.volumeChanged(0);
    EXPECT_EQ(model.snapshot().volume, 0.0);
    model.takeChanges();

    RecordingTarget target;
    target.level = 12345;  // what the player really took
    model.run({MprisAction::SetVolume, 40000, {}}, target);
    EXPECT_EQ(target.calls, std::vector<std::string>{"setVolume:40000"});
    EXPECT_EQ(model.snapshot().volume, FractionFromVolume(40000));
    EXPECT_EQ(names(model.takeChanges()), std::vector<std::string>{"Volume"});
}

TEST(MprisModel, PlaylistModesSetAreShownAtOnce) {
    MprisModel model;
    RecordingTarget target;
    model.run({MprisAction::SetLoopStatus, 1, {}}, target);
    model.run({MprisAction::SetShuffle, 1, {}}, target);
    EXPECT_EQ(model.snapshot().repeatMode, 1);
    EXPECT_TRUE(model.snapshot().shuffle);
    EXPECT_EQ(names(model.takeChanges()), (std::vector<std::string>{"LoopStatus", "Shuffle"}));
    // The player's own word wins at the next tick.
    model.playlistModes(0, true);
    EXPECT_EQ(model.snapshot().repeatMode, 0);
}

TEST(MprisModel, SeekingAnnouncesThePositionReached) {
    MprisModel model;
    model.trackStarted("/m/a.mp3", 60000, 0);
    model.playState(kPlaying);
    model.takeChanges();
    RecordingTarget target;
    target.position = 1000;
    target.seekLandsAt = 4960;  // the module seeks to a frame boundary
    model.run({MprisAction::SeekBy, 4000000, {}}, target);
    EXPECT_EQ(target.calls, std::vector<std::string>{"seekTo:5000"});
    const MprisChanges changes = model.takeChanges();
    ASSERT_TRUE(changes.seekedUs);
    EXPECT_EQ(*changes.seekedUs, 4960000);
    EXPECT_TRUE(changes.properties.empty());
    EXPECT_EQ(model.snapshot().positionUs, 4960000);

    // A seek that goes to the next track announces the track, not a position.
    model.run({MprisAction::SeekBy, 60000000, {}}, target);
    EXPECT_FALSE(model.takeChanges().seekedUs);
}

TEST(MprisModel, CommandsTravelAsThreadMessages) {
    const MprisCommand commands[] = {
        {MprisAction::Play, 0, {}},
        {MprisAction::SeekBy, std::numeric_limits<int64_t>::min(), {}},
        {MprisAction::SetPosition, 123456789012, TrackObjectPath(7)},
        {MprisAction::OpenUri, 0, "/m/\xC3\xA9 x.mp3"},
        {MprisAction::SetVolume, 65535, {}},
        {MprisAction::SetShuffle, 1, {}},
    };
    for (const MprisCommand& command : commands) {
        const ThreadMessage message = MprisCommandMessage(command);
        EXPECT_EQ(message.code, kMprisCommandMessage);
        EXPECT_EQ(MprisCommandFromMessage(message), command);
    }
    ThreadMessage other;
    other.code = thread_message::kQuit;
    EXPECT_FALSE(MprisCommandFromMessage(other));
    for (const intptr_t action : {intptr_t{0}, intptr_t{15}, intptr_t{-1}}) {
        ThreadMessage unknown;
        unknown.code = kMprisCommandMessage;
        unknown.wparam = action;
        EXPECT_FALSE(MprisCommandFromMessage(unknown)) << action;
    }
}

}  // namespace
}  // namespace tessura::remote
