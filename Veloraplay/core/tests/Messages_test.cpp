#include "AtomicFile.h"
#include "HelpTopics.h"
#include "MessageQueue.h"
#include "TempFolder.h"

#include <gtest/gtest.h>
#include <atomic>
#include <thread>

namespace veloraplay {
namespace {

TEST(MessageQueue, WorkersPostAndTheInterfaceThreadDrainsInOrder) {
    MessageQueue queue;
    std::atomic<int> wakes{0};
    queue.setWakeCallback([&] { ++wakes; });
    constexpr int kThreads = 4;
    constexpr int kEach = 500;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&queue, t] {
            for (int i = 0; i < kEach; ++i) {
                Message m;
                m.code = msg::kPlayerNotify;
                m.wparam = static_cast<uintptr_t>(t);
                m.lparam = i;
                queue.post(std::move(m));
            }
        });
    }
    std::vector<int> next(kThreads, 0);
    std::size_t total = 0;
    while (total < kThreads * kEach) {
        total += queue.drain([&](const Message& m) {
            // Each worker's messages arrive in the order it posted them.
            EXPECT_EQ(m.lparam, next[m.wparam]);
            next[m.wparam] = static_cast<int>(m.lparam) + 1;
        });
    }
    for (auto& w : workers) w.join();
    EXPECT_EQ(queue.drain([](const Message&) {}), 0u);
    EXPECT_GE(wakes.load(), 1);
    EXPECT_LE(wakes.load(), kThreads * kEach);

    // A listener that arrives late is woken for what already waits.
    MessageQueue early;
    early.post(Message{});
    int lateWakes = 0;
    early.setWakeCallback([&] { ++lateWakes; });
    EXPECT_EQ(lateWakes, 1);
}

struct RecordingLauncher final : Launcher {
    std::vector<std::string> opened;
    bool open(const std::string& target) override {
        opened.push_back(target);
        return true;
    }
};

TEST(HelpTopics, PagesFromTheProgramFolderOrTheInstalledShare) {
    test::TempFolder dir;
    ASSERT_TRUE(writeFileAtomically(dir / "bin/help/controller_index.html", "<html></html>", 0644));
    ASSERT_TRUE(writeFileAtomically(dir / "share/veloraplay/help/encoder_index.html",
                                    "<html></html>", 0644));
    RecordingLauncher launcher;
    HelpTopics help(dir / "bin", launcher);
    EXPECT_TRUE(help.open(kHelpPlayer));
    EXPECT_TRUE(help.open(kHelpEncoder));
    EXPECT_FALSE(help.open(kHelpLibrary)) << "a missing page opens nothing";
    EXPECT_FALSE(help.open("../../etc/passwd"));
    EXPECT_EQ(launcher.opened,
              (std::vector<std::string>{dir / "bin/help/controller_index.html",
                                        dir / "bin/../share/veloraplay/help/encoder_index.html"}));
}

}  // namespace
}  // namespace veloraplay
