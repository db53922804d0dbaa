#pragma once
// One running player per user. A start first asks the per-user socket whether a player is
// there; a player answers the greeting with its window title and kInstanceMagic, takes the
// command line and the new process ends. Otherwise the new process listens on the socket
// itself. Starts are serialised by flock() on a lock file beside the socket, so of two
// simultaneous starts exactly one becomes the player.
//
// Wire format: every message is a 4-byte little-endian length (at most kMaxMessage) and that
// many bytes. The client sends the title it looks for (with its terminating zero); the server
// answers with its title, a zero and the four bytes of kInstanceMagic; the client sends the
// copy-data text including its terminating zero, or an empty message when it has no command
// line (the player is only raised); the server acknowledges with an empty message.
#include <sys/types.h>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace veloraplay {

inline constexpr char kPlayerWindowTitle[] = "KESTRAN Velora Audio Player";
inline constexpr uint32_t kInstanceMagic = 0x2E6D7033;  // "3pm." in memory order
inline constexpr std::size_t kMaxMessage = 64 * 1024;

struct InstanceRequest {
    bool hasCommandLine = false;  // false: only bring the player to the front
    std::string commandLine;
};

struct InstanceLocation {
    std::string folder;
    std::string socketPath;
    std::string lockPath;
    std::string error;  // why there is no usable location; empty when there is
};

// $XDG_RUNTIME_DIR/veloraplay.sock, or when that is unset <tmpBase>/veloraplay-<uid>/,
// created with mode 0700 and refused unless it is a real folder of `uid` with no access
// for others.
InstanceLocation locateInstanceSocket(const std::string& runtimeDir, const std::string& tmpBase,
                                      uid_t uid);

// Creates `path` (0700) when missing and checks it: a folder, not a link, owned by `uid`,
// no permission bits for group or others. `why` says what is wrong.
bool ensurePrivateFolder(const std::string& path, uid_t uid, std::string& why);

// One message of the wire format; false on a short read, a timeout or a length over `cap`.
bool writeInstanceMessage(int fd, const std::string& payload);
bool readInstanceMessage(int fd, std::string& payload, std::size_t cap = kMaxMessage);

class InstanceChannel {
  public:
    enum class Outcome {
        HandedOver,     // a running player took the command line: this process ends
        Listening,      // no player ran: this process is the player and now serves the socket
        NotAnInstance,  // something answered but not as a player: run a player without the socket
        Unavailable,    // no socket could be used (error() says why): run a player without it
        TooLong,        // the command line exceeds the hand-over's limit
    };
    using Handler = std::function<void(const InstanceRequest&)>;

    explicit InstanceChannel(InstanceLocation location, std::string title = kPlayerWindowTitle,
                             uint32_t magic = kInstanceMagic);
    ~InstanceChannel();
    InstanceChannel(const InstanceChannel&) = delete;
    InstanceChannel& operator=(const InstanceChannel&) = delete;

    // Hands `commandLine` to a running player, or becomes the player. `handler` is called on
    // the listener's thread for every request a later start makes; it must only post.
    Outcome claimOrHandOver(const std::string& commandLine, Handler handler);

    // Stops listening and removes the socket (if it is still this process's).
    void stop();

    const std::string& error() const { return error_; }
    const InstanceLocation& location() const { return location_; }

  private:
    Outcome talkToRunning(int fd, const std::string& commandLine);
    bool listenOn();
    void serve();
    void answer(int client);

    InstanceLocation location_;
    std::string title_;
    uint32_t magic_;
    std::string error_;
    Handler handler_;
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    ino_t socketInode_ = 0;
    std::thread listener_;
};

}  // namespace veloraplay
