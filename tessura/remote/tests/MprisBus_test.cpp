// The remote-control objects on a private session bus, driven by dbus-send as a desktop
// controller would, with a second connection of the test listening for the signals.
#include "MprisBus.h"
#include "MprisBusThread.h"
#include "PrivateSessionBus.h"
#include "RecordingTarget.h"

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace tessura::remote {
namespace {

constexpr int kPlaying = 1, kStopped = 2, kPaused = 3;
constexpr const char* kPlayer = "org.mpris.MediaPlayer2.Player";
constexpr const char* kRoot = "org.mpris.MediaPlayer2";

// A signal the watcher received, with the values the tests look at.
struct Received {
    std::string member;
    std::string interface;  // PropertiesChanged: the interface whose properties changed
    std::vector<std::string> keys;
    std::optional<std::string> status;
    std::optional<double> volume;
    std::optional<int64_t> seeked;
};

int readSignal(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto& got = *static_cast<std::vector<Received>*>(userdata);
    Received r;
    r.member = sd_bus_message_get_member(m);
    if (r.member == "Seeked") {
        int64_t at = 0;
        if (sd_bus_message_read(m, "x", &at) >= 0) r.seeked = at;
        got.push_back(r);
        return 0;
    }
    const char* interface = nullptr;
    if (sd_bus_message_read(m, "s", &interface) < 0) return 0;
    r.interface = interface;
    if (sd_bus_message_enter_container(m, 'a', "{sv}") < 0) return 0;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read(m, "s", &key) < 0) break;
        r.keys.push_back(key);
        const std::string name = key;
        if (name == "PlaybackStatus") {
            const char* status = nullptr;
            if (sd_bus_message_read(m, "v", "s", &status) >= 0) r.status = status;
        } else if (name == "Volume") {
            double volume = 0;
            if (sd_bus_message_read(m, "v", "d", &volume) >= 0) r.volume = volume;
        } else {
            sd_bus_message_skip(m, "v");
        }
        sd_bus_message_exit_container(m);
    }
    got.push_back(r);
    return 0;
}

// The test's own connection, subscribed to the player's signals.
class SignalWatch {
  public:
    SignalWatch(const std::string& address, const std::string& sender) {
        int r = sd_bus_new(&bus_);
        if (r >= 0) r = sd_bus_set_address(bus_, address.c_str());
        if (r >= 0) r = sd_bus_set_bus_client(bus_, 1);
        if (r >= 0) r = sd_bus_start(bus_);
        if (r >= 0)
            r = sd_bus_match_signal(bus_, nullptr, sender.c_str(), kMprisObjectPath, "org.freedesktop.DBus.Properties",
                                    "PropertiesChanged", readSignal, &got);
        if (r >= 0)
            r = sd_bus_match_signal(bus_, nullptr, sender.c_str(), kMprisObjectPath, kPlayer, "Seeked", readSignal,
                                    &got);
        ok_ = r >= 0;
    }
    ~SignalWatch() { sd_bus_flush_close_unref(bus_); }
    bool ok() const { return ok_; }

    // Reads signals until `done` holds; false when it does not within a generous guard (a
    // signal that never comes fails the test, it does not hang it).
    bool waitFor(const std::function<bool()>& done) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            while (sd_bus_process(bus_, nullptr) > 0) {
            }
            if (done()) return true;
            if (std::chrono::steady_clock::now() > giveUp) return false;
            sd_bus_wait(bus_, 100000);
        }
    }
    std::vector<Received> got;

  private:
    sd_bus* bus_ = nullptr;
    bool ok_ = false;
};

class MprisBusTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(daemon_.address().empty()) << daemon_.failure();
        // Whatever in this process looks for "the session bus" finds the private one.
        if (const char* old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) oldAddress_ = old;
        setenv("DBUS_SESSION_BUS_ADDRESS", daemon_.address().c_str(), 1);
        std::string error;
        // As the program does: the bus thread posts to the main thread's queue.
        bus_ = MprisBus::open(
            model_, [this](MprisCommand command) { messages_.post(MprisCommandMessage(command)); },
            daemon_.address(), &error);
        ASSERT_TRUE(bus_) << error;
        thread_ = std::make_unique<MprisBusThread>(*bus_);
    }
    void TearDown() override {
        thread_.reset();
        bus_.reset();
        if (oldAddress_)
            setenv("DBUS_SESSION_BUS_ADDRESS", oldAddress_->c_str(), 1);
        else
            unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

    std::string send(const std::string& call, int& status) {
        return RunCommand("dbus-send --bus='" + daemon_.address() + "' --print-reply --dest=" + bus_->busName() + " " +
                              kMprisObjectPath + " " + call,
                          status);
    }
    std::string send(const std::string& call) {
        int status = 0;
        const std::string reply = send(call, status);
        EXPECT_EQ(status, 0) << call << "\n" << reply;
        return reply;
    }
    std::string get(const char* interface, const char* property) {
        return send(std::string("org.freedesktop.DBus.Properties.Get string:") + interface + " string:" + property);
    }
    // The main thread's share: what the bus posted, run against the target.
    std::vector<MprisCommand> runPosted() {
        std::vector<MprisCommand> taken;
        messages_.drain([&](const ThreadMessage& message) {
            const std::optional<MprisCommand> command = MprisCommandFromMessage(message);
            ASSERT_TRUE(command) << message.code;
            taken.push_back(*command);
            model_.run(*command, target_);
        });
        return taken;
    }
    // A track of a minute playing from 10 s.
    void playTrack() {
        model_.trackStarted("/music/a b.mp3", 61000, 0);
        model_.trackInfo("A Title", "An Artist");
        model_.playState(kPlaying);
        target_.position = 10000;
    }

    PrivateSessionBus daemon_;
    std::optional<std::string> oldAddress_;
    MprisModel model_;
    RecordingTarget target_;
    ThreadMessageQueue messages_;
    std::unique_ptr<MprisBus> bus_;
    std::unique_ptr<MprisBusThread> thread_;
};

TEST_F(MprisBusTest, PublishesTheRootObject) {
    EXPECT_EQ(bus_->busName(), kMprisBusName);
    const std::string all = send(std::string("org.freedesktop.DBus.Properties.GetAll string:") + kRoot);
    for (const char* expected : {"\"Identity\"", "\"tessura\"", "\"DesktopEntry\"", "\"SupportedUriSchemes\"",
                                 "\"file\"", "\"http\"", "\"SupportedMimeTypes\"", "\"audio/mpeg\""})
        EXPECT_NE(all.find(expected), std::string::npos) << expected << "\n" << all;
    EXPECT_NE(get(kRoot, "Identity").find("string \"tessura\""), std::string::npos);
    EXPECT_NE(get(kRoot, "CanQuit").find("boolean true"), std::string::npos);
    EXPECT_NE(get(kRoot, "CanRaise").find("boolean false"), std::string::npos);
    EXPECT_NE(get(kRoot, "HasTrackList").find("boolean false"), std::string::npos);
    for (const char* property : {"CanGoNext", "CanGoPrevious", "CanPlay", "CanPause", "CanControl"})
        EXPECT_NE(get(kPlayer, property).find("boolean true"), std::string::npos) << property;
    const std::string xml = send("org.freedesktop.DBus.Introspectable.Introspect");
    EXPECT_NE(xml.find("<interface name=\"org.mpris.MediaPlayer2.Player\">"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<method name=\"SetPosition\">"), std::string::npos);
}

TEST_F(MprisBusTest, ControllersCallsReachThePlayer) {
    struct Row {
        std::string call;
        MprisCommand posted;
        std::vector<std::string> calls;  // the target's, with a track playing from 10 s
    };
    const std::string p = std::string(kPlayer) + ".", r = std::string(kRoot) + ".";
    std::vector<Row> rows;
    // Rows added one by one: a braced list of them trips a false uninitialised-use warning.
    auto add = [&rows](std::string call, MprisAction action, int64_t value, std::string text,
                       std::vector<std::string> calls) {
        rows.push_back(Row{std::move(call), MprisCommand{action, value, std::move(text)}, std::move(calls)});
    };
    add(p + "PlayPause", MprisAction::PlayPause, 0, "", {"togglePause"});
    add(p + "Play", MprisAction::Play, 0, "", {});
    add(p + "Pause", MprisAction::Pause, 0, "", {"togglePause"});
    add(p + "Stop", MprisAction::Stop, 0, "", {"stop"});
    add(p + "Next", MprisAction::Next, 0, "", {"next"});
    add(p + "Previous", MprisAction::Previous, 0, "", {"previous"});
    add(p + "Seek int64:2500000", MprisAction::SeekBy, 2500000, "", {"seekTo:12500"});
    add(p + "Seek int64:-9223372036854775808", MprisAction::SeekBy, INT64_MIN, "", {"seekTo:0"});
    add(p + "SetPosition objpath:<track> int64:30000000", MprisAction::SetPosition, 30000000, "<track>",
        {"seekTo:30000"});
    add(p + "OpenUri string:file:///music/x%20y.mp3", MprisAction::OpenUri, 0, "/music/x y.mp3",
        {"openUri:/music/x y.mp3"});
    add(r + "Raise", MprisAction::Raise, 0, "", {});  // no window to raise
    add(r + "Quit", MprisAction::Quit, 0, "", {"quit"});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.call);
        playTrack();  // a new track each time, playing
        target_.calls.clear();
        // "<track>": the object path of the track now playing.
        const std::string track = model_.snapshot().track.objectPath();
        std::string call = row.call;
        MprisCommand posted = row.posted;
        if (const std::size_t at = call.find("<track>"); at != std::string::npos) call.replace(at, 7, track);
        if (posted.text == "<track>") posted.text = track;
        send(call);
        EXPECT_EQ(runPosted(), std::vector<MprisCommand>{posted});
        EXPECT_EQ(target_.calls, row.calls);
    }
}

double doubleIn(const std::string& reply) {
    const std::size_t at = reply.find("double ");
    return at == std::string::npos ? -1.0 : std::strtod(reply.c_str() + at + 7, nullptr);
}

TEST_F(MprisBusTest, VolumeIsReadAndSetAsAFraction) {
    model_.volumeChanged(65535);
    EXPECT_DOUBLE_EQ(doubleIn(get(kPlayer, "Volume")), 1.0);
    send(std::string("org.freedesktop.DBus.Properties.Set string:") + kPlayer + " string:Volume variant:double:0.25");
    const std::vector<MprisCommand> expected{{MprisAction::SetVolume, 16384, ""}};
    EXPECT_EQ(runPosted(), expected);
    EXPECT_EQ(target_.calls, std::vector<std::string>{"setVolume:16384"});
    EXPECT_NEAR(doubleIn(get(kPlayer, "Volume")), 0.25, 1e-4);
    model_.volumeChanged(0);
    EXPECT_EQ(doubleIn(get(kPlayer, "Volume")), 0.0);
}

TEST_F(MprisBusTest, LoopStatusAndShuffleAreReadAndSet) {
    const std::string set = std::string("org.freedesktop.DBus.Properties.Set string:") + kPlayer;
    EXPECT_NE(get(kPlayer, "LoopStatus").find("string \"None\""), std::string::npos);
    EXPECT_NE(get(kPlayer, "Shuffle").find("boolean false"), std::string::npos);
    send(set + " string:LoopStatus variant:string:Playlist");
    send(set + " string:Shuffle variant:boolean:true");
    const std::vector<MprisCommand> expected{{MprisAction::SetLoopStatus, 2, ""}, {MprisAction::SetShuffle, 1, ""}};
    EXPECT_EQ(runPosted(), expected);
    EXPECT_EQ(target_.calls, (std::vector<std::string>{"setRepeatMode:2", "setShuffle:on"}));
    EXPECT_NE(get(kPlayer, "LoopStatus").find("string \"Playlist\""), std::string::npos);
    EXPECT_NE(get(kPlayer, "Shuffle").find("boolean true"), std::string::npos);
    model_.playlistModes(1, false);
    EXPECT_NE(get(kPlayer, "LoopStatus").find("string \"Track\""), std::string::npos);
}

TEST_F(MprisBusTest, RepliesCarryTheTrackAndTheState) {
    EXPECT_NE(get(kPlayer, "PlaybackStatus").find("string \"Stopped\""), std::string::npos);
    const std::string none = get(kPlayer, "Metadata");
    EXPECT_NE(none.find("object path \"/org/mpris/MediaPlayer2/TrackList/NoTrack\""), std::string::npos) << none;
    EXPECT_EQ(none.find("xesam:title"), std::string::npos);

    playTrack();
    model_.positionChanged(12345);
    EXPECT_NE(get(kPlayer, "PlaybackStatus").find("string \"Playing\""), std::string::npos);
    const std::string metadata = get(kPlayer, "Metadata");
    for (const std::string& expected :
         {std::string("string \"mpris:trackid\""), "object path \"" + TrackObjectPath(1) + "\"",
          std::string("string \"mpris:length\""), std::string("int64 61000000"), std::string("string \"A Title\""),
          std::string("string \"xesam:artist\""), std::string("string \"An Artist\""),
          std::string("string \"file:///music/a%20b.mp3\"")})
        EXPECT_NE(metadata.find(expected), std::string::npos) << expected << "\n" << metadata;
    EXPECT_NE(get(kPlayer, "Position").find("int64 12345000"), std::string::npos);
    EXPECT_NE(get(kPlayer, "CanSeek").find("boolean true"), std::string::npos);

    model_.playState(kPaused);
    EXPECT_NE(get(kPlayer, "PlaybackStatus").find("string \"Paused\""), std::string::npos);
}

TEST_F(MprisBusTest, MalformedCallsGetErrorsAndPostNothing) {
    const std::string p = std::string(kPlayer) + ".";
    const std::string set = std::string("org.freedesktop.DBus.Properties.Set string:") + kPlayer;
    for (const std::string& call :
         {p + "OpenUri string:ftp://host/x.mp3", p + "OpenUri string:file:///a%00b", p + "OpenUri string:",
          p + "Seek string:far", p + "SetPosition int64:5", set + " string:Volume variant:string:loud",
          set + " string:PlaybackStatus variant:string:Playing", set + " string:LoopStatus variant:string:Forever",
          set + " string:Shuffle variant:string:yes", p + "NoSuchMethod",
          std::string("org.freedesktop.DBus.Properties.Get string:") + kPlayer + " string:NoSuchProperty"}) {
        int status = 0;
        const std::string reply = send(call, status);
        EXPECT_NE(status, 0) << call << "\n" << reply;
        EXPECT_NE(reply.find("Error"), std::string::npos) << call << "\n" << reply;
    }
    EXPECT_TRUE(runPosted().empty());
    EXPECT_TRUE(target_.calls.empty());
    // And the bus still answers.
    EXPECT_NE(get(kRoot, "Identity").find("tessura"), std::string::npos);
}

TEST_F(MprisBusTest, ChangesAreSignalled) {
    SignalWatch watch(daemon_.address(), bus_->busName());
    ASSERT_TRUE(watch.ok());
    auto changed = [&](const char* key) {
        return [&watch, key] {
            for (const Received& r : watch.got)
                for (const std::string& k : r.keys)
                    if (k == key) return true;
            return false;
        };
    };

    model_.trackStarted("/music/a.mp3", 60000, 0);
    ASSERT_TRUE(watch.waitFor(changed("Metadata")));
    model_.playState(kPlaying);
    ASSERT_TRUE(watch.waitFor(changed("PlaybackStatus")));
    for (const Received& r : watch.got) {
        EXPECT_EQ(r.member, "PropertiesChanged");
        EXPECT_EQ(r.interface, kPlayer);
    }
    const Received& playing = watch.got.back();
    EXPECT_EQ(playing.status, "Playing");

    watch.got.clear();
    send(std::string("org.freedesktop.DBus.Properties.Set string:") + kPlayer + " string:Volume variant:double:0.5");
    runPosted();
    ASSERT_TRUE(watch.waitFor(changed("Volume")));
    ASSERT_TRUE(watch.got.back().volume);
    EXPECT_NEAR(*watch.got.back().volume, 0.5, 1e-4);

    watch.got.clear();
    target_.position = 1000;
    send(std::string(kPlayer) + ".Seek int64:3000000");
    runPosted();
    ASSERT_TRUE(watch.waitFor([&] { return !watch.got.empty() && watch.got.back().seeked; }));
    EXPECT_EQ(*watch.got.back().seeked, 4000000);

    watch.got.clear();
    model_.playState(kStopped);
    ASSERT_TRUE(watch.waitFor(changed("PlaybackStatus")));
    EXPECT_EQ(watch.got.back().status, "Stopped");
    watch.got.clear();
    model_.playlistModes(2, true);
    ASSERT_TRUE(watch.waitFor(changed("Shuffle")));
    EXPECT_EQ(watch.got.back().keys, (std::vector<std::string>{"LoopStatus", "Shuffle"}));
    // The position alone is never announced.
    model_.positionChanged(777);
    model_.playState(kPlaying);
    ASSERT_TRUE(watch.waitFor(changed("CanSeek")));
    for (const Received& r : watch.got)
        for (const std::string& k : r.keys) EXPECT_NE(k, "Position");
}

TEST_F(MprisBusTest, ASecondPlayerTakesAnInstanceName) {
    MprisModel other;
    std::string error;
    const auto second = MprisBus::open(other, [](MprisCommand) {}, daemon_.address(), &error);
    ASSERT_TRUE(second) << error;
    EXPECT_EQ(second->busName(), std::string(kMprisBusName) + ".instance" + std::to_string(getpid()));
    MprisBusThread running(*second);
    other.trackInfo("-", "-");  // nothing: no track yet
    other.playState(kPaused);
    // Each answers under its own name with its own state.
    int status = 0;
    const std::string reply =
        RunCommand("dbus-send --bus='" + daemon_.address() + "' --print-reply --dest=" + second->busName() + " " +
                       kMprisObjectPath + " org.freedesktop.DBus.Properties.Get string:" + kPlayer +
                       " string:PlaybackStatus",
                   status);
    EXPECT_EQ(status, 0) << reply;
    EXPECT_NE(reply.find("string \"Paused\""), std::string::npos) << reply;
    EXPECT_NE(get(kPlayer, "PlaybackStatus").find("string \"Stopped\""), std::string::npos);
}

TEST_F(MprisBusTest, AFailedOpenLeavesTheRunningBusAlone) {
    std::string error;
    const auto none = MprisBus::open(model_, [](MprisCommand) {}, "unix:path=/nonexistent/tessura/bus", &error);
    EXPECT_FALSE(none);
    EXPECT_FALSE(error.empty());
    // The model still tells the bus that opened first about its changes.
    SignalWatch watch(daemon_.address(), bus_->busName());
    ASSERT_TRUE(watch.ok());
    model_.playState(kPlaying);
    EXPECT_TRUE(watch.waitFor([&] { return !watch.got.empty() && watch.got.back().status == "Playing"; }));
}

TEST_F(MprisBusTest, WithoutAnAddressTheSessionBusIsUsed) {
    // The fixture pointed DBUS_SESSION_BUS_ADDRESS at the private bus.
    MprisModel other;
    std::string error;
    const auto session = MprisBus::open(other, [](MprisCommand) {}, {}, &error);
    ASSERT_TRUE(session) << error;
    EXPECT_EQ(session->busName(), std::string(kMprisBusName) + ".instance" + std::to_string(getpid()));

    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tessura/bus", 1);
    MprisModel third;
    EXPECT_FALSE(MprisBus::open(third, [](MprisCommand) {}, {}, &error));
    EXPECT_FALSE(error.empty());
}

TEST(MprisBusLost, TheBusEndingLeavesThePlayerRunning) {
    PrivateSessionBus daemon;
    ASSERT_FALSE(daemon.address().empty()) << daemon.failure();
    MprisModel model;
    int posted = 0;
    std::string error;
    const auto bus = MprisBus::open(model, [&](MprisCommand) { ++posted; }, daemon.address(), &error);
    ASSERT_TRUE(bus) << error;
    bus->process();
    ASSERT_TRUE(bus->connected());
    daemon.end();
    pollfd ready{bus->fd(), POLLIN, 0};
    ASSERT_EQ(poll(&ready, 1, 5000), 1);  // the hang-up makes it readable
    bus->process();
    EXPECT_FALSE(bus->connected());
    EXPECT_EQ(bus->timeoutMs(), -1);
    // News still arrive and wake the descriptor; they go nowhere.
    model.playState(kPlaying);
    ASSERT_EQ(poll(&ready, 1, 5000), 1);
    bus->process();
    EXPECT_EQ(poll(&ready, 1, 0), 0);  // nothing left to do: no busy loop
    EXPECT_EQ(posted, 0);
}

}  // namespace
}  // namespace tessura::remote
