#pragma once
// Messages to the interface thread. Worker threads (and the single-instance listener) only
// post; the interface thread drains the queue, woken by a callback that the view layer turns
// into a queued call on its own thread. Codes and parameters are the window messages'.
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace veloraplay {

namespace msg {
inline constexpr uint32_t kClose = 0x0010;         // close the window (as from its frame)
inline constexpr uint32_t kCopyData = 0x004A;      // payload = the copy-data text
inline constexpr uint32_t kCommand = 0x0111;       // wparam = command id
inline constexpr uint32_t kPlayerNotify = 0x8001;  // status display: wparam code, lparam value
inline constexpr uint32_t kStreamKindNotify = 0x83E8;
inline constexpr uint32_t kProgressClose = 0x8412;
inline constexpr uint32_t kProgressFrame = 0x8413;
inline constexpr uint32_t kPositionMessage = 0x87D1;
// Bring the window to the front (what a later start does before any hand-over).
inline constexpr uint32_t kActivate = 0xA000;
// A worker asks for a message box: payload = the text.
inline constexpr uint32_t kShowMessage = 0xA001;
}  // namespace msg

// PlayerNotify codes (wparam) and values.
namespace notify {
inline constexpr uintptr_t kItem = 10;
inline constexpr uintptr_t kState = 11;
inline constexpr uintptr_t kElapsed = 12;
inline constexpr uintptr_t kChannels = 202;
inline constexpr uintptr_t kSampleRate = 203;
inline constexpr uintptr_t kBitrate = 204;
inline constexpr intptr_t kStopped = 0;
inline constexpr intptr_t kPlaying = 1;
inline constexpr intptr_t kPaused = 2;
inline constexpr intptr_t kWaveBitrate = -42;  // the bit rate shown for WAVE input
}  // namespace notify

// Who a message is for; the player window is 0, later windows take further numbers.
enum class Target : uint32_t { PlayerWindow = 0, EncoderWindow = 1, LibraryWindow = 2 };

struct Message {
    Target target = Target::PlayerWindow;
    uint32_t code = 0;
    uintptr_t wparam = 0;
    intptr_t lparam = 0;
    std::string payload;  // copy-data text and the like
};

class MessageQueue {
  public:
    // Called (on the posting thread) when a message arrives in an empty queue.
    void setWakeCallback(std::function<void()> wake);

    // Any thread.
    void post(Message message);

    // Interface thread: hands every waiting message to `handle`, in the order posted, and
    // returns how many there were. Messages posted meanwhile wait for the next drain.
    std::size_t drain(const std::function<void(const Message&)>& handle);

    std::size_t size() const;

  private:
    mutable std::mutex lock_;  // guards queue_ and wake_
    std::deque<Message> queue_;
    std::function<void()> wake_;
};

}  // namespace veloraplay
