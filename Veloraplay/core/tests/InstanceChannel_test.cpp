#include "InstanceChannel.h"
#include "TempFolder.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace veloraplay {
namespace {

using test::TempFolder;

// Collects what the listening side was asked, for the other side to wait on.
struct Received {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<InstanceRequest> requests;

    InstanceChannel::Handler handler() {
        return [this](const InstanceRequest& r) {
            std::lock_guard<std::mutex> guard(lock);
            requests.push_back(r);
            changed.notify_all();
        };
    }
};

InstanceLocation locationIn(const TempFolder& dir) {
    return locateInstanceSocket(dir.path(), "/nonexistent", ::getuid());
}

int boundSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    return fd;
}

int connectTo(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path.c_str());
    EXPECT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    return fd;
}

TEST(InstanceChannel, SecondStartHandsItsCommandLineOverAndEmptyOnlyRaises) {
    TempFolder dir;
    Received received;
    InstanceChannel player(locationIn(dir));
    ASSERT_EQ(player.claimOrHandOver("\"first.mp3\"", received.handler()),
              InstanceChannel::Outcome::Listening);
    EXPECT_EQ(test::modeOf(dir / "veloraplay.sock") & 0777, 0600u);

    InstanceChannel second(locationIn(dir));
    EXPECT_EQ(second.claimOrHandOver("\"dir with blanks/b.mp3\"", nullptr),
              InstanceChannel::Outcome::HandedOver);
    InstanceChannel third(locationIn(dir));
    EXPECT_EQ(third.claimOrHandOver("", nullptr), InstanceChannel::Outcome::HandedOver);

    std::lock_guard<std::mutex> guard(received.lock);  // hand-overs are synchronous
    ASSERT_EQ(received.requests.size(), 2u);
    EXPECT_TRUE(received.requests[0].hasCommandLine);
    EXPECT_EQ(received.requests[0].commandLine, "\"dir with blanks/b.mp3\"");
    EXPECT_FALSE(received.requests[1].hasCommandLine);
}

TEST(InstanceChannel, SimultaneousStartsMakeExactlyOnePlayer) {
    TempFolder dir;
    for (int round = 0; round < 20; ++round) {
        Received received;
        InstanceChannel a(locationIn(dir));
        InstanceChannel b(locationIn(dir));
        InstanceChannel::Outcome outA{}, outB{};
        std::thread ta([&] { outA = a.claimOrHandOver("from a", received.handler()); });
        std::thread tb([&] { outB = b.claimOrHandOver("from b", received.handler()); });
        ta.join();
        tb.join();
        const int players = (outA == InstanceChannel::Outcome::Listening) +
                            (outB == InstanceChannel::Outcome::Listening);
        const int handed = (outA == InstanceChannel::Outcome::HandedOver) +
                           (outB == InstanceChannel::Outcome::HandedOver);
        EXPECT_EQ(players, 1);
        EXPECT_EQ(handed, 1);
        std::lock_guard<std::mutex> guard(received.lock);
        ASSERT_EQ(received.requests.size(), 1u);
        EXPECT_EQ(received.requests[0].commandLine,
                  outA == InstanceChannel::Outcome::HandedOver ? "from a" : "from b");
    }
}

TEST(InstanceChannel, StaleSocketIsTakenOver) {
    TempFolder dir;
    const InstanceLocation location = locationIn(dir);
    ::close(
        boundSocket(location.socketPath));  // a player that died: the name stays, nobody listens
    Received received;
    InstanceChannel player(location);
    ASSERT_EQ(player.claimOrHandOver("", received.handler()), InstanceChannel::Outcome::Listening);
    InstanceChannel next(location);
    EXPECT_EQ(next.claimOrHandOver("x", nullptr), InstanceChannel::Outcome::HandedOver);
    player.stop();
    EXPECT_NE(test::modeOf(location.socketPath), 0600u) << "the socket is removed at the end";
}

TEST(InstanceChannel, SomethingElseAnsweringIsNotAnInstance) {
    TempFolder dir;
    const InstanceLocation location = locationIn(dir);
    // Two wrong answers: another window title, and the right title without the marker value.
    for (const std::string& reply : {std::string("Some Other Player") + '\0' + "3pm.",
                                     std::string(kPlayerWindowTitle) + '\0' + "XXXX"}) {
        const int server = boundSocket(location.socketPath);
        ASSERT_EQ(::listen(server, 1), 0);
        std::thread answer([&] {
            const int c = ::accept(server, nullptr, nullptr);
            std::string greeting;
            if (readInstanceMessage(c, greeting)) writeInstanceMessage(c, reply);
            ::close(c);
        });
        InstanceChannel start(location);
        EXPECT_EQ(start.claimOrHandOver("a.mp3", nullptr), InstanceChannel::Outcome::NotAnInstance);
        answer.join();
        ::close(server);
        ::unlink(location.socketPath.c_str());
    }
}

TEST(InstanceChannel, OverlongMessagesAreRefused) {
    TempFolder dir;
    Received received;
    InstanceChannel player(locationIn(dir));
    ASSERT_EQ(player.claimOrHandOver("", received.handler()), InstanceChannel::Outcome::Listening);

    InstanceChannel tooLong(locationIn(dir));
    EXPECT_EQ(tooLong.claimOrHandOver(std::string(kMaxMessage, 'x'), nullptr),
              InstanceChannel::Outcome::TooLong);
    EXPECT_EQ(InstanceChannel(locationIn(dir))
                  .claimOrHandOver(std::string(kMaxMessage - 1, 'y'), nullptr),
              InstanceChannel::Outcome::HandedOver);

    // A client that announces more than the limit gets no answer and delivers nothing.
    const int fd = connectTo(dir / "veloraplay.sock");
    ASSERT_TRUE(writeInstanceMessage(fd, std::string(kPlayerWindowTitle) + '\0'));
    std::string reply;
    ASSERT_TRUE(readInstanceMessage(fd, reply));
    const unsigned char header[4] = {0x01, 0x00, 0x01, 0x00};  // 65537 bytes
    ASSERT_EQ(::send(fd, header, 4, MSG_NOSIGNAL), 4);
    std::string ack;
    EXPECT_FALSE(readInstanceMessage(fd, ack));
    ::close(fd);

    std::lock_guard<std::mutex> guard(received.lock);
    ASSERT_EQ(received.requests.size(), 1u);
    EXPECT_EQ(received.requests[0].commandLine.size(), kMaxMessage - 1);
}

TEST(InstanceChannel, FallbackFolderIsCreatedPrivateAndChecked) {
    TempFolder base;
    const uid_t uid = ::getuid();
    const std::string folder = base / ("veloraplay-" + std::to_string(uid));

    InstanceLocation ok = locateInstanceSocket("", base.path(), uid);
    EXPECT_TRUE(ok.error.empty()) << ok.error;
    EXPECT_EQ(ok.socketPath, folder + "/veloraplay.sock");
    EXPECT_EQ(test::modeOf(folder), 0700u);

    ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    EXPECT_NE(locateInstanceSocket("", base.path(), uid).error, "");
    ASSERT_EQ(::rmdir(folder.c_str()), 0);

    const std::string elsewhere = base / "elsewhere";
    ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(elsewhere.c_str(), folder.c_str()), 0);
    EXPECT_NE(locateInstanceSocket("", base.path(), uid).error.find("link"), std::string::npos);
    ASSERT_EQ(::unlink(folder.c_str()), 0);

    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    if (::geteuid() == 0) {  // only root can hand the folder to another user
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
        EXPECT_NE(locateInstanceSocket("", base.path(), uid).error.find("another user"),
                  std::string::npos);
    }
    // The runtime folder is used as it is, and a socket name that cannot fit is refused.
    EXPECT_NE(locateInstanceSocket("/" + std::string(120, 'r'), "", uid).error, "");
}

}  // namespace
}  // namespace veloraplay
