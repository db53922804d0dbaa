#pragma once
// The player's remote-control objects on the session bus: /org/mpris/MediaPlayer2 with the
// org.mpris.MediaPlayer2 and org.mpris.MediaPlayer2.Player interfaces, under the name
// org.mpris.MediaPlayer2.tessura (org.mpris.MediaPlayer2.tessura.instance<pid> when another
// player holds that one). Property reads are answered from the model's snapshot; calls become
// MprisCommands handed to `post`; the model's changes go out as PropertiesChanged and Seeked.
//
// It does not run by itself: the owner waits until fd() is readable or timeoutMs() has passed
// and then calls process(), all on one thread (MprisBusThread does that for a loop without a
// window; a Qt loop can use a socket notifier and a timer). Only wake() may be called from other
// threads. Destroy it on the thread that gives the model its news (or once they have stopped),
// after whatever polls it. See MprisModel.h for how the program wires it.
#include "MprisModel.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

struct sd_bus;
struct sd_bus_slot;

namespace tessura::remote {

inline constexpr const char* kMprisObjectPath = "/org/mpris/MediaPlayer2";
inline constexpr const char* kMprisBusName = "org.mpris.MediaPlayer2.tessura";

class MprisBus {
  public:
    using Post = std::function<void(MprisCommand)>;

    // Connects to the bus at `address` ("unix:path=..."), or to the user's session bus when it
    // is empty, and publishes the objects. Nothing, with the reason in `error`, when there is no
    // bus to reach or no name to own.
    static std::unique_ptr<MprisBus> open(MprisModel& model, Post post, const std::string& address = {},
                                          std::string* error = nullptr);
    ~MprisBus();
    MprisBus(const MprisBus&) = delete;
    MprisBus& operator=(const MprisBus&) = delete;

    const std::string& busName() const { return busName_; }
    // Readable when process() has work: bus traffic, or changes of the model to announce.
    int fd() const { return epoll_; }
    // Milliseconds until process() is due even without traffic; -1: not before fd() is ready.
    int timeoutMs() const;
    // Announces the model's changes, answers what arrived, and rearms fd().
    void process();
    // False once the connection is lost; fd() then only reports wake-ups.
    bool connected() const { return connected_; }
    // Any thread: makes fd() readable.
    void wake();

  private:
    MprisBus(MprisModel& model, Post post);
    bool start(const std::string& address, std::string& error);
    void announceChanges();
    void rearm();

    friend struct MprisBusCalls;  // the bus's callbacks
    MprisModel& model_;
    Post post_;
    sd_bus* bus_ = nullptr;
    sd_bus_slot* rootSlot_ = nullptr;
    sd_bus_slot* playerSlot_ = nullptr;
    std::string busName_;
    int epoll_ = -1;
    int wakeFd_ = -1;
    int busFd_ = -1;
    std::atomic<bool> connected_{false};  // read by other threads
    bool listening_ = false;              // the model's change listener is ours
};

}  // namespace tessura::remote
