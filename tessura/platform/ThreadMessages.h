#pragma once
// Messages to tessura's main thread. Engine, output and plug-in threads never touch the user
// interface: they post one of these codes and the main thread handles it when it drains the
// queue. The view layer turns the wake-up callback into a queued call on its own thread.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace tessura {

namespace thread_message {
inline constexpr uint32_t kStopAndNotify = 0x8200;      // stop playback and notify the window
inline constexpr uint32_t kStartPlayback = 0x8201;      // start playback (argument passed on)
inline constexpr uint32_t kStop = 0x8203;               // stop (argument passed on)
inline constexpr uint32_t kRefreshTrackInfo = 0x8204;   // re-read the track's information
inline constexpr uint32_t kSwitchMode = 0x8217;         // wparam mode 1-5 (-1 rebuild), lparam page
inline constexpr uint32_t kEndOfTrack = 0x8218;         // stop the module, then advance
inline constexpr uint32_t kSuspendTimer = 0x8222;       // idle: suspend the timer thread
inline constexpr uint32_t kQuit = 0x8224;               // save, stop and end the message loop
inline constexpr uint32_t kRefreshSongDisplay = 0x8225;
inline constexpr uint32_t kLoadStoredSkin = 0x8226;     // load the skin named beforehand
inline constexpr uint32_t kNavigatorPage = 0x8228;      // showwindow fallback, wparam = b
inline constexpr uint32_t kExtendedInfo = 0x822A;       // open the module's information page
inline constexpr uint32_t kShowWindow = 0x822B;         // wparam window, lparam show command
inline constexpr uint32_t kOpenFileDialog = 0x822C;
inline constexpr uint32_t kStatusText = 0x822F;         // text carried in the payload
inline constexpr uint32_t kForwardedCommandLine = 0x8302;  // a later start's command line
}  // namespace thread_message

struct ThreadMessage {
    uint32_t code = 0;
    intptr_t wparam = 0;
    intptr_t lparam = 0;
    // Texts that the Windows form passed as an allocated pointer (status line, command line)
    // travel here, owned by the message, so nothing has to be freed by the receiver.
    std::string text;
};

const char* threadMessageName(uint32_t code);  // "kQuit" and so on; nullptr for other codes

class ThreadMessageQueue {
  public:
    // Called on the posting thread when a message arrives in an empty queue.
    void setWakeUp(std::function<void()> wakeUp);

    // Any thread. A post never fails here (the queue grows), so the Windows form's retry
    // every 10 ms has nothing to retry.
    void post(ThreadMessage message);
    void post(uint32_t code, intptr_t wparam = 0, intptr_t lparam = 0);

    // Main thread: hands each waiting message to `handle` in the order posted and returns how
    // many there were. Messages posted while handling wait for the next drain.
    std::size_t drain(const std::function<void(const ThreadMessage&)>& handle);

    std::size_t pending() const;

  private:
    mutable std::mutex mutex_;  // guards messages_ and wakeUp_
    std::deque<ThreadMessage> messages_;
    std::function<void()> wakeUp_;
};

}  // namespace tessura
