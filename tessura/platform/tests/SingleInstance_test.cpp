#include "SingleInstance.h"
#include "StartDecision.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tessura {
namespace {

using namespace std::chrono_literals;

// ---- the decision of start-up step 1 ----

struct StartRow {
    const char* text;
    bool lockExisted;
    bool forwarded;
    bool forwards;  // whether the start tries to hand the text over
    StartDecision decision;
};

const StartRow kStartRows[] = {
    {"", false, false, false, StartDecision::RunAsFirst},
    {"", true, true, true, StartDecision::ForwardAndExit},  // raises the running one
    {"", true, false, true, StartDecision::Exit},
    {"song.mp3", false, false, false, StartDecision::RunAsFirst},
    {"song.mp3", true, true, true, StartDecision::ForwardAndExit},
    {"song.mp3", true, false, true, StartDecision::Exit},
    {"-new song.mp3", true, false, false, StartDecision::RunAlongside},
    {"song.mp3 -new", true, false, false, StartDecision::RunAlongside},
    {"/music/x-new.mp3", true, false, false, StartDecision::RunAlongside},  // anywhere in the text
    {"-new", false, false, false, StartDecision::RunAsFirst},
    {"-nonew", false, false, false, StartDecision::Exit},
    {"-nonew song.mp3", false, false, false, StartDecision::Exit},
    {"-nonew song.mp3", true, true, true, StartDecision::ForwardAndExit},
    {"-nonew song.mp3", true, false, true, StartDecision::Exit},
    {"-nonew -new song.mp3", true, true, true, StartDecision::ForwardAndExit},
    {"-nonew -new", false, false, false, StartDecision::RunAsFirst},
    {"-nogui", false, false, false, StartDecision::RunAsFirst},
    {"-nogui", true, false, false, StartDecision::RunAlongside},
    {"-nogui -nonew", false, false, false, StartDecision::RunAsFirst},
    {"-nogui -nonew", true, true, true, StartDecision::ForwardAndExit},
    {"-NEW song.mp3", true, true, true, StartDecision::ForwardAndExit},  // flags keep their case
};

TEST(StartDecision, EveryRowOfTheTable) {
    for (const StartRow& row : kStartRows) {
        SCOPED_TRACE(std::string("\"") + row.text + "\" lock " + (row.lockExisted ? "existed" : "new") +
                     (row.forwarded ? ", forwarded" : ""));
        EXPECT_EQ(startForwards(row.text, row.lockExisted), row.forwards);
        EXPECT_STREQ(startDecisionName(decideStart(row.text, row.lockExisted, row.forwarded)),
                     startDecisionName(row.decision));
    }
}

TEST(StartDecision, ForwardingOnlyCountsWhenTheStartForwards) {
    for (const StartRow& row : kStartRows) {
        if (row.forwards) continue;
        EXPECT_EQ(decideStart(row.text, row.lockExisted, true), decideStart(row.text, row.lockExisted, false))
            << row.text;
    }
}

TEST(StartDecision, FlagsAreFoundAnywhere) {
    struct Row {
        const char* text;
        bool noNew, isNew, noGui;
    };
    const Row rows[] = {
        {"", false, false, false},          {"-nonew", true, false, false},
        {"a.mp3 -new", false, true, false}, {"-nogui", false, true, true},
        {"x-nonew-new", true, true, false}, {"\"-nogui\"", false, true, true},
    };
    for (const Row& row : rows) {
        const StartFlags flags = readStartFlags(row.text);
        EXPECT_EQ(flags.noNew, row.noNew) << row.text;
        EXPECT_EQ(flags.isNew, row.isNew) << row.text;
        EXPECT_EQ(flags.noGui, row.noGui) << row.text;
    }
}

// ---- checks on peers and folders ----

TEST(SingleInstanceChecks, OnlyTheOwnUserIsHeard) {
    EXPECT_TRUE(peerIsAllowed(1000, 1000));
    EXPECT_FALSE(peerIsAllowed(1001, 1000));
    EXPECT_FALSE(peerIsAllowed(0, 1000));  // not even root speaks for the user
    EXPECT_TRUE(peerIsAllowed(0, 0));
}

TEST(SingleInstanceChecks, AFolderMustBeOursAndClosedToOthers) {
    struct Row {
        mode_t mode;
        uid_t owner;
        bool privateFolder;
    };
    const Row rows[] = {
        {S_IFDIR | 0700, 1000, true},  {S_IFDIR | 0755, 1000, false}, {S_IFDIR | 0701, 1000, false},
        {S_IFDIR | 0700, 1001, false}, {S_IFLNK | 0700, 1000, false}, {S_IFREG | 0600, 1000, false},
    };
    for (const Row& row : rows) {
        struct stat info{};
        info.st_mode = row.mode;
        info.st_uid = row.owner;
        EXPECT_EQ(folderIsPrivate(info, 1000), row.privateFolder) << std::oct << row.mode << " uid " << row.owner;
    }
}

TEST(SingleInstanceChecks, APrivateFolderIsMadeClosedAndALinkIsRefused) {
    test::TempFolder temp;
    const std::string made = temp.file("run");
    ASSERT_TRUE(preparePrivateFolder(made));
    struct stat info{};
    ASSERT_EQ(::lstat(made.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    const std::string opened = temp.file("opened");
    ASSERT_EQ(::mkdir(opened.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(opened.c_str(), 0755), 0);
    EXPECT_TRUE(preparePrivateFolder(opened));
    ASSERT_EQ(::lstat(opened.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    const std::string link = temp.file("link");
    ASSERT_EQ(::symlink(made.c_str(), link.c_str()), 0);
    EXPECT_FALSE(preparePrivateFolder(link));
    EXPECT_FALSE(preparePrivateFolder(temp.write("file", "x")));
    EXPECT_FALSE(preparePrivateFolder(""));
}

TEST(SingleInstanceChecks, AnEmptyTextRaisesTheRunningInstance) {
    const ThreadMessage raise = forwardedThreadMessage("");
    EXPECT_EQ(raise.code, thread_message::kShowWindow);
    EXPECT_EQ(raise.wparam, kShowMainWindow);
    EXPECT_EQ(raise.lparam, kShowRestore);
    const ThreadMessage line = forwardedThreadMessage("\"/music/a b.mp3\" /play");
    EXPECT_EQ(line.code, thread_message::kForwardedCommandLine);
    EXPECT_EQ(line.code, 0x8302u);
    EXPECT_EQ(line.text, "\"/music/a b.mp3\" /play");
}

// ---- real instances in one folder ----

// Collects what the listener hands on; forward() returns only after the receiver ran, so the
// test reads it without waiting.
class Received {
  public:
    SingleInstance::Receiver receiver() {
        return [this](std::string text) {
            std::lock_guard<std::mutex> hold(mutex_);
            texts_.push_back(std::move(text));
        };
    }
    std::vector<std::string> texts() const {
        std::lock_guard<std::mutex> hold(mutex_);
        return texts_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
};

// A client speaking the wire format by hand.
int connectRaw(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string header(uint32_t length) {
    return {static_cast<char>(length & 0xFF), static_cast<char>((length >> 8) & 0xFF),
            static_cast<char>((length >> 16) & 0xFF), static_cast<char>((length >> 24) & 0xFF)};
}

// Reads until the listener answers or hangs up: the answer byte, or -1 for a hang-up.
int answerOf(int fd) {
    unsigned char answer = 0;
    const ssize_t n = ::recv(fd, &answer, 1, 0);
    return n == 1 ? answer : -1;
}

TEST(SingleInstance, ALaterStartsTextReachesTheFirst) {
    test::TempFolder temp;
    SingleInstance first(temp.path());
    ASSERT_EQ(first.acquire(), SingleInstance::Acquired::First);
    ASSERT_TRUE(first.canListen());
    struct stat info{};
    ASSERT_EQ(::lstat(first.socketPath().c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    Received received;
    ASSERT_TRUE(first.listen(received.receiver()));

    SingleInstance later(temp.path());
    EXPECT_EQ(later.acquire(), SingleInstance::Acquired::AlreadyRunning);
    EXPECT_FALSE(later.isFirst());
    const std::string text = "\"/music/a \\\"quoted\\\" name\\\\\" /play \xC3\xA9t\xC3\xA9.mp3";
    EXPECT_TRUE(later.forward(text, 3, 1ms));
    EXPECT_EQ(received.texts(), std::vector<std::string>{text});
}

TEST(SingleInstance, TheStartStepForwardsRaisesOrRunsAlongside) {
    test::TempFolder temp;
    SingleInstance first(temp.path());
    EXPECT_EQ(runSingleInstanceStep(first, "song.mp3"), StartDecision::RunAsFirst);
    Received received;
    ASSERT_TRUE(first.listen(received.receiver()));

    SingleInstance withFile(temp.path());
    EXPECT_EQ(runSingleInstanceStep(withFile, "other.mp3", 3, 1ms), StartDecision::ForwardAndExit);
    SingleInstance withNothing(temp.path());
    EXPECT_EQ(runSingleInstanceStep(withNothing, "", 3, 1ms), StartDecision::ForwardAndExit);
    SingleInstance alongside(temp.path());
    EXPECT_EQ(runSingleInstanceStep(alongside, "-new third.mp3", 3, 1ms), StartDecision::RunAlongside);
    EXPECT_FALSE(alongside.canListen());

    const std::vector<std::string> texts = received.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "other.mp3");
    EXPECT_EQ(forwardedThreadMessage(texts[1]).code, thread_message::kShowWindow);
}

TEST(SingleInstance, AStartInAnotherProcessIsHeard) {
    test::TempFolder temp;
    SingleInstance first(temp.path());
    ASSERT_EQ(first.acquire(), SingleInstance::Acquired::First);
    // The child is made before the listener thread exists; it retries until that thread runs.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SingleInstance later(temp.path());
        const StartDecision decision = runSingleInstanceStep(later, "from-child.pls", 200, 5ms);
        ::_exit(decision == StartDecision::ForwardAndExit ? 0 : 1);
    }
    Received received;
    ASSERT_TRUE(first.listen(received.receiver()));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(received.texts(), std::vector<std::string>{"from-child.pls"});
}

TEST(SingleInstance, WithNobodyListeningTheLaterStartGivesUp) {
    test::TempFolder temp;
    SingleInstance first(temp.path());
    ASSERT_EQ(first.acquire(), SingleInstance::Acquired::First);
    // The first holds the lock but never listens: connections wait in the backlog unanswered
    // until the first goes; a start that finds no socket at all is the case checked here.
    ASSERT_EQ(::unlink(first.socketPath().c_str()), 0);
    SingleInstance later(temp.path());
    EXPECT_EQ(runSingleInstanceStep(later, "song.mp3", 3, 1ms), StartDecision::Exit);
}

TEST(SingleInstance, AStaleSocketIsTakenOver) {
    test::TempFolder temp;
    const std::string path = temp.file("tessura.sock");
    {  // a crashed instance: its socket is bound and gone, the file stays behind
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(fd, 1), 0);
        ::close(fd);
    }
    ASSERT_LT(connectRaw(path), 0);
    SingleInstance first(temp.path());
    ASSERT_EQ(first.acquire(), SingleInstance::Acquired::First);
    ASSERT_TRUE(first.canListen());
    Received received;
    ASSERT_TRUE(first.listen(received.receiver()));
    EXPECT_TRUE(SingleInstance(temp.path()).forward("after.mp3", 3, 1ms));
    EXPECT_EQ(received.texts(), std::vector<std::string>{"after.mp3"});
}

TEST(SingleInstance, ALiveSocketOrAnotherFileIsNeverRemoved) {
    test::TempFolder temp;
    const std::string path = temp.file("tessura.sock");
    {
        temp.write("tessura.sock", "not a socket");
        SingleInstance first(temp.path());
        EXPECT_EQ(first.acquire(), SingleInstance::Acquired::First);
        EXPECT_FALSE(first.canListen());
        EXPECT_FALSE(first.listen(nullptr));
    }
    EXPECT_EQ(temp.read("tessura.sock"), "not a socket");
    ASSERT_EQ(::unlink(path.c_str()), 0);

    const int other = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(other, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(other, 4), 0);
    {
        SingleInstance first(temp.path());
        EXPECT_EQ(first.acquire(), SingleInstance::Acquired::First);
        EXPECT_FALSE(first.canListen());
    }
    const int client = connectRaw(path);  // still served by its owner
    EXPECT_GE(client, 0);
    ::close(client);
    ::close(other);
}

TEST(SingleInstance, AnOverlongMessageIsRefusedAndTheListenerGoesOn) {
    test::TempFolder temp;
    SingleInstance first(temp.path());
    ASSERT_EQ(first.acquire(), SingleInstance::Acquired::First);
    Received received;
    ASSERT_TRUE(first.listen(received.receiver()));

    const int raw = connectRaw(first.socketPath());
    ASSERT_GE(raw, 0);
    // The whole over-long message is sent, so only the cap can keep it from being taken.
    const std::string overlong = header(static_cast<uint32_t>(kMaxMessageBytes + 1)) +
                                 std::string(kMaxMessageBytes + 1, 'z');
    ::send(raw, overlong.data(), overlong.size(), MSG_NOSIGNAL);
    EXPECT_EQ(answerOf(raw), -1);
    ::close(raw);

    const int cut = connectRaw(first.socketPath());  // announces 10 bytes, sends 3, hangs up
    ASSERT_GE(cut, 0);
    const std::string partial = header(10) + "abc";
    ASSERT_EQ(::send(cut, partial.data(), partial.size(), MSG_NOSIGNAL), 7);
    ::shutdown(cut, SHUT_WR);
    EXPECT_EQ(answerOf(cut), -1);
    ::close(cut);

    SingleInstance later(temp.path());
    EXPECT_FALSE(later.forward(std::string(kMaxMessageBytes + 1, 'x'), 3, 1ms));
    EXPECT_TRUE(later.forward(std::string(kMaxMessageBytes, 'y'), 3, 1ms));
    const std::vector<std::string> texts = received.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], std::string(kMaxMessageBytes, 'y'));
}

TEST(SingleInstance, TheListenerStopsWhileAPeerHoldsItAndTheFirstCleansUp) {
    test::TempFolder temp;
    const std::string path = temp.file("tessura.sock");
    {
        SingleInstance first(temp.path());
        ASSERT_EQ(first.acquire(), SingleInstance::Acquired::First);
        Received received;
        ASSERT_TRUE(first.listen(received.receiver()));
        // A peer that starts a message and goes quiet: once the listener has read its first
        // two bytes (nothing is left queued on the peer's side) it is waiting for the rest.
        const int silent = connectRaw(path);
        ASSERT_GE(silent, 0);
        ASSERT_EQ(::send(silent, "\x05\x00", 2, MSG_NOSIGNAL), 2);
        int queued = 1;
        for (int i = 0; i < 5000 && queued > 0; ++i) {
            ASSERT_EQ(::ioctl(silent, SIOCOUTQ, &queued), 0);
            if (queued > 0) std::this_thread::sleep_for(1ms);
        }
        ASSERT_EQ(queued, 0);
        const auto before = std::chrono::steady_clock::now();
        first.stop();
        // Ended by the wake-up, not by the two seconds a silent peer may hold a connection.
        EXPECT_LT(std::chrono::steady_clock::now() - before, 1000ms);
        ::close(silent);
        EXPECT_TRUE(received.texts().empty());
        EXPECT_TRUE(first.listen(received.receiver()));  // and it can listen again
    }
    struct stat info{};
    EXPECT_NE(::lstat(path.c_str(), &info), 0);  // the socket went with the first instance
    SingleInstance next(temp.path());
    EXPECT_EQ(next.acquire(), SingleInstance::Acquired::First);
    EXPECT_TRUE(next.canListen());
}

TEST(SingleInstance, AFolderThatIsNotPrivateIsNotUsed) {
    test::TempFolder temp;
    const std::string open = temp.file("open");
    ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    SingleInstance instance(open);
    EXPECT_EQ(instance.acquire(), SingleInstance::Acquired::Unavailable);
    EXPECT_EQ(SingleInstance("").acquire(), SingleInstance::Acquired::Unavailable);
    // Without the rule the start runs as if it were alone.
    SingleInstance again(open);
    EXPECT_EQ(runSingleInstanceStep(again, "song.mp3", 1, 1ms), StartDecision::RunAsFirst);
}

}  // namespace
}  // namespace tessura
