#pragma once
// One running tessura per user. The first start holds a lock file for its whole life and
// listens on a per-user Unix socket; a later start finds the lock taken and hands its command
// line over that socket instead of opening a second player.
//
// Files, all in one private folder ($XDG_RUNTIME_DIR, else /tmp/tessura-<uid>/ made 0700):
//   tessura.sock        the listening socket, mode 0600
//   tessura.lock        held with flock() by the running instance (the instance lock)
//   tessura.start.lock  held while a start looks at the lock and binds, so two starts at the
//                       same moment cannot both take over the socket
// A message is a 4-byte little-endian length (at most kMaxMessageBytes) followed by the
// command-line text; the listener answers one byte once it has handed the text on. Only a
// peer of our own uid is heard.
#include "StartDecision.h"
#include "ThreadMessages.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>
#include <thread>

namespace tessura {

inline constexpr std::size_t kMaxMessageBytes = 64 * 1024;

// A later start retries reaching the running instance this often before it gives up.
inline constexpr int kForwardAttempts = 90;
inline constexpr std::chrono::milliseconds kForwardInterval{50};

// The main window and the show command a forwarded empty command line asks for: the running
// instance comes to the front (restored when it was minimised).
inline constexpr intptr_t kShowMainWindow = 0;
inline constexpr intptr_t kShowRestore = 9;

// What the running instance posts to its main thread for a text a later start sent: the
// command line to dispatch, or, for an empty text, a request to show the main window.
ThreadMessage forwardedThreadMessage(std::string text);

// Only a peer running as our own user may talk to us.
bool peerIsAllowed(uid_t peerUid, uid_t ownUid);

// A folder fit to hold the socket: a real folder (not a link), owned by `ownUid`, with no
// access for anyone else.
bool folderIsPrivate(const struct stat& folder, uid_t ownUid);

// Makes `folder` (mode 0700) when missing and checks it with folderIsPrivate().
bool preparePrivateFolder(const std::string& folder);

// $XDG_RUNTIME_DIR when it is set and private, else /tmp/tessura-<uid> (made on demand);
// empty when neither can be used.
std::string defaultInstanceFolder();

class SingleInstance {
  public:
    using Receiver = std::function<void(std::string text)>;

    // `folder` holds the socket and lock files; tests pass a folder of their own.
    explicit SingleInstance(std::string folder = defaultInstanceFolder(), std::string name = "tessura");
    ~SingleInstance();  // stops the listener; the first instance removes its socket
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    enum class Acquired {
        First,           // the lock was free: this is the first instance
        AlreadyRunning,  // another instance holds the lock
        Unavailable,     // no usable folder or lock file: run without the single-instance rule
    };

    // Takes the instance lock. As the first instance the socket is bound too (a stale socket
    // left by a crashed instance is removed and taken over); canListen() tells whether that
    // worked.
    Acquired acquire();
    bool isFirst() const { return lockFd_ >= 0; }
    // True when the first instance could bind its socket (listen() can run).
    bool canListen() const { return listenFd_ >= 0; }

    // First instance: starts the listener thread, which hands each received text to
    // `receiver` (on that thread). False when there is no bound socket.
    bool listen(Receiver receiver);
    // Ends the listener thread promptly (a flag and a wake-up descriptor) and joins it.
    void stop();

    // Later start: sends `text` to the running instance, trying again every `interval` up to
    // `attempts` times while nobody answers. True once the running instance took it.
    bool forward(std::string_view text, int attempts = kForwardAttempts,
                 std::chrono::milliseconds interval = kForwardInterval) const;

    const std::string& socketPath() const { return socketPath_; }

  private:
    bool bindSocket();
    void serve();
    void serveConnection(int connection);

    std::string folder_;
    std::string socketPath_;
    std::string lockPath_;
    std::string startLockPath_;
    int lockFd_ = -1;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::atomic<bool> stopping_{false};
    Receiver receiver_;  // set before the thread starts, read only by it
    std::thread listener_;
};

// Start-up step 1 over a real instance: acquire the lock, hand the text over when the rules
// say so, and return what the program does next.
StartDecision runSingleInstanceStep(SingleInstance& instance, std::string_view argumentText,
                                    int attempts = kForwardAttempts,
                                    std::chrono::milliseconds interval = kForwardInterval);

}  // namespace tessura
