#pragma once
// The player as desktop remote controllers see it (media keys, panel applets, phone bridges):
// what they may ask for, turned into calls on a small target, and the engine's news turned into
// the values they read. No bus here: MprisBus carries both over the session bus.
//
// Threads: the bus runs on its own thread (or on the main thread, polled). A controller's call
// never acts there: the bus posts an MprisCommand, which the program carries to its main thread
// as a ThreadMessage (MprisCommandMessage) and hands to run(). The news (playState, trackStarted,
// ...) comes from the main thread; the bus thread reads snapshot() and takeChanges(). The model's
// state is under its own lock, so both sides may call at any time.
//
// Wiring in the program (PlayerAssembly, engine, ThreadMessageQueue as in app/main.cpp; link
// tessura_remote):
//
//   1. Objects, before the engine starts playing:
//        remote::MprisModel mpris(options);          // options.canRaise = true with a window
//        auto bus = remote::MprisBus::open(mpris, [&messages](remote::MprisCommand c) {
//            messages.post(remote::MprisCommandMessage(c));   // any thread -> main thread
//        }, {}, &error);      // nullptr (reason in error): no session bus; the player runs without
//      The program's own tests should set DBUS_SESSION_BUS_ADDRESS to an address that cannot be
//      reached (e.g. "unix:path=/nonexistent"), so that no test run shows up on the user's bus.
//      Headless: remote::MprisBusThread busThread(*bus);  // polls it until destroyed.
//      With a Qt loop instead: a QSocketNotifier (Read) on bus->fd() and a single-shot QTimer of
//      bus->timeoutMs() (when >= 0), both calling bus->process(); re-arm the timer after each.
//      At the end, before the player and the queue go: busThread (or the notifier), then bus,
//      then mpris, on the main thread.
//
//   2. EngineEvents (the ConsoleEvents or the window's events) forward, on the main thread:
//        playState(state)                  -> mpris.playState(state)
//        trackStarted(file, lengthMs, pos) -> mpris.trackStarted(file, lengthMs, pos)
//        trackInfo(title, second)          -> mpris.trackInfo(title, second)
//      and every tick of the loop (the headless loop's everyTick, the window's timer):
//        mpris.positionChanged(engine.Position());
//        mpris.volumeChanged(engine.volume());   // also catches -setvolume and the slider
//        mpris.playlistModes(list.repeatMode(), list.shuffle());   // list: the engine's playlist
//
//   3. The main thread's message handling, before PlayerAssembly::handle:
//        messages.drain([&](const ThreadMessage& m) {
//            if (auto command = remote::MprisCommandFromMessage(m)) return mpris.run(*command, target);
//            if (running && !player.handle(m)) running = false;
//        });                                          // target: an MprisTarget, below
//
//   4. The MprisTarget over PlayerAssembly (all calls arrive on the main thread):
//        play()          -> player.play()              (resumes when paused, else starts)
//        togglePause()   -> player.togglePause()
//        stop()          -> player.stop()
//        next()/previous() -> player.dispatcher().DispatchCommands("-playnext" / "-playprev", false)
//        seekTo(ms)      -> player.seek(ms)
//        openUri(entry)  -> as a file on the program's own command line (replaces the list, plays):
//                             std::string word = entry; char* argv[] = {nullptr, word.data()};
//                             player.dispatcher().DispatchCommands(JoinArguments(2, argv), false);
//                           (entry is a local path or an http address, already checked)
//        raise()         -> show and activate the main window (nothing without one)
//        quit()          -> messages.post(thread_message::kQuit)
//        setVolume(l)    -> player.setVolume(l)        (0-65535)
//        setRepeatMode(m) -> DispatchCommands(m == 1 ? "-repeat one" : m == 2 ? "-repeat all" : "-repeat off", false)
//        setShuffle(on)  -> player.playlist().SetShuffle(on)
//        positionMs()    -> player.position()          volume() -> player.volume()
#include "MprisValues.h"
#include "ThreadMessages.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tessura::remote {

// What run() asks of the player; the model has already applied the controllers' rules
// (Pause only while playing, Seek past the end goes to the next track, ...).
class MprisTarget {
  public:
    virtual ~MprisTarget() = default;
    virtual void play() = 0;  // starts the current entry, or resumes when paused
    virtual void togglePause() = 0;
    virtual void stop() = 0;
    virtual void next() = 0;
    virtual void previous() = 0;
    virtual void seekTo(int32_t ms) = 0;
    virtual void openUri(const std::string& entry) = 0;  // a local path or an http address
    virtual void raise() = 0;
    virtual void quit() = 0;
    virtual void setVolume(uint32_t level) = 0;  // 0-65535
    virtual void setRepeatMode(int mode) = 0;    // 0 off, 1 one track, 2 all
    virtual void setShuffle(bool on) = 0;
    virtual int32_t positionMs() = 0;            // -1 when nothing plays
    virtual uint32_t volume() = 0;
};

enum class MprisAction : int {
    Play = 1,
    Pause,
    PlayPause,
    Stop,
    Next,
    Previous,
    SeekBy,       // value: offset in microseconds
    SetPosition,  // value: microseconds; text: the track's object path
    OpenUri,      // text: the entry (EntryFromUri's result)
    Raise,
    Quit,
    SetVolume,      // value: 0-65535
    SetLoopStatus,  // value: the repeat mode, 0-2
    SetShuffle,     // value: 0 or 1
};

struct MprisCommand {
    MprisAction action = MprisAction::Play;
    int64_t value = 0;
    std::string text;
    bool operator==(const MprisCommand&) const = default;
};

// The main-thread message that carries a command: wparam the action, lparam the value.
inline constexpr uint32_t kMprisCommandMessage = 0x8480;
ThreadMessage MprisCommandMessage(const MprisCommand& command);
// The command a message carries; nothing for other codes or an unknown action.
std::optional<MprisCommand> MprisCommandFromMessage(const ThreadMessage& message);

struct MprisOptions {
    std::string identity = "tessura";
    std::string desktopEntry = "tessura";
    bool canRaise = false;  // true when there is a window to raise
    bool canQuit = true;
    std::vector<std::string> uriSchemes{"file", "http"};
    std::vector<std::string> mimeTypes{"audio/mpeg", "audio/x-wav", "audio/wav", "audio/flac",
                                       "audio/ogg", "audio/x-vorbis+ogg", "audio/opus", "audio/x-aiff",
                                       "audio/x-mpegurl", "audio/x-scpls"};
};

struct MprisTrack {
    uint64_t serial = 0;  // 0: no track yet
    std::string entry;    // the playlist entry: a path or an address
    std::string title;
    std::string artist;  // the engine's second text; empty: none
    int64_t lengthUs = 0;  // 0: unknown (a stream)
    std::string objectPath() const { return serial == 0 ? kNoTrackPath : TrackObjectPath(serial); }
};

// The values a controller reads, all at one moment.
struct MprisSnapshot {
    PlaybackStatus status = PlaybackStatus::Stopped;
    MprisTrack track;
    double volume = 1.0;
    int64_t positionUs = 0;
    bool canSeek = false;  // a track of known length is playing or paused
    int repeatMode = 0;    // 0 off, 1 one track, 2 all
    bool shuffle = false;
};

// Properties of the player interface whose value changed since the last takeChanges(), and the
// new position after a seek (the Seeked signal).
struct MprisChanges {
    // "PlaybackStatus", "Metadata", "Volume", "CanSeek", "LoopStatus", "Shuffle"
    std::vector<const char*> properties;
    std::optional<int64_t> seekedUs;
    bool empty() const { return properties.empty() && !seekedUs; }
};

class MprisModel {
  public:
    explicit MprisModel(MprisOptions options = {});
    const MprisOptions& options() const { return options_; }

    // The engine's news; main thread.
    void playState(int engineState);
    void trackStarted(const std::string& entry, int32_t lengthMs, int32_t positionMs);
    void trackInfo(const std::string& title, const std::string& second);
    void volumeChanged(uint32_t level);
    void positionChanged(int32_t ms);  // -1: nothing plays
    void playlistModes(int repeatMode, bool shuffle);

    // A controller's command, on the main thread.
    void run(const MprisCommand& command, MprisTarget& target);

    // Bus side.
    MprisSnapshot snapshot() const;
    MprisChanges takeChanges();
    // Called (on the thread that made the change) when changes wait for takeChanges(). Set it
    // before the news starts.
    void setChangeListener(std::function<void()> listener);

  private:
    enum : unsigned { kStatus = 1, kMetadata = 2, kVolume = 4, kCanSeek = 8, kLoop = 16, kShuffle = 32 };
    static bool canSeek(const MprisSnapshot& s) {
        return s.status != PlaybackStatus::Stopped && s.track.serial != 0 && s.track.lengthUs > 0;
    }
    // Applies `change` under the lock, marks what differs afterwards, and tells the listener.
    void update(const std::function<void(MprisSnapshot&)>& change, std::optional<int64_t> seeked = {});
    void seekTo(int64_t us, MprisTarget& target);

    const MprisOptions options_;
    mutable std::mutex mutex_;  // guards every member below
    MprisSnapshot state_;
    uint64_t nextSerial_ = 1;
    unsigned pending_ = 0;
    std::optional<int64_t> seeked_;
    std::function<void()> listener_;
};

}  // namespace tessura::remote
