// The built-in output's feeder and buffer-done rules over a device whose buffers finish when
// the test says: stamps, song changes, the position, pause and a draining close.
#include "WaveAudioOutput.h"

#include "EngineTestKit.h"
#include "ScriptedDialogService.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <future>

namespace tessura {
namespace {

// Buffers finish only when finishOne() is called.
class ManualDevice final : public WaveOutDevice {
  public:
    bool open(const WaveOutFormat&, DoneCallback done, std::string&) override {
        done_ = std::move(done);
        return true;
    }
    void write(const WaveOutBuffer& buffer) override {
        std::lock_guard<std::mutex> hold(mutex_);
        queue_.push_back(buffer);
        written_.push_back(buffer);
        changed_.notify_all();
    }
    void pause() override {}
    void restart() override {}
    void reset() override {
        std::deque<WaveOutBuffer> left;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            left.swap(queue_);
        }
        for (const WaveOutBuffer& b : left) done_(b);
    }
    void close() override {}
    void setVolume(uint32_t) override {}
    uint32_t volume() const override { return 0xFFFFFFFFu; }

    bool waitForWritten(std::size_t count) {
        std::unique_lock<std::mutex> hold(mutex_);
        return changed_.wait_for(hold, std::chrono::seconds(20), [&] { return written_.size() >= count; });
    }
    void finishOne() {
        WaveOutBuffer head;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            ASSERT_FALSE(queue_.empty());
            head = queue_.front();
            queue_.pop_front();
        }
        done_(head);
    }
    std::vector<WaveOutBuffer> written() {
        std::lock_guard<std::mutex> hold(mutex_);
        return written_;
    }

  private:
    DoneCallback done_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<WaveOutBuffer> queue_;
    std::vector<WaveOutBuffer> written_;
};

// Hands out a script of blocks (song id, position), then nothing.
class ScriptedHost {
  public:
    struct Block {
        int32_t songId, positionMs;
    };
    explicit ScriptedHost(std::vector<Block> script) : script_(std::move(script)) {}
    OutputHost* host() { return &handle_.iface; }
    uint32_t blockSize() const { return blockSize_; }
    std::size_t taken() {
        std::lock_guard<std::mutex> hold(mutex_);
        return next_;
    }
    std::vector<std::string> songChanges() {
        std::lock_guard<std::mutex> hold(mutex_);
        return changes_;
    }

  private:
    struct Handle {
        OutputHost iface;
        ScriptedHost* owner;
    };
    static ScriptedHost& of(OutputHost* h) { return *reinterpret_cast<Handle*>(h)->owner; }
    static const OutputHostTable kTable;

    std::mutex mutex_;
    std::vector<Block> script_;
    std::size_t next_ = 0;
    uint32_t blockSize_ = 0;
    std::vector<std::string> changes_;
    Handle handle_{{&kTable}, this};
};

const OutputHostTable ScriptedHost::kTable = {
    [](OutputHost* h, OutputBlock* block) -> int32_t {
        ScriptedHost& s = of(h);
        std::lock_guard<std::mutex> hold(s.mutex_);
        if (s.next_ == s.script_.size()) return TESSURA_RESULT_FAILED;
        const Block b = s.script_[s.next_++];
        std::memset(block->data, 0, s.blockSize_);
        block->length = s.blockSize_;
        block->flags = OUTPUT_BLOCK_POSITION_VALID;
        block->positionMs = b.positionMs;
        block->songId = b.songId;
        return TESSURA_RESULT_OK;
    },
    [](OutputHost* h, uint32_t bytes) -> int32_t {
        of(h).blockSize_ = bytes;
        return TESSURA_RESULT_OK;
    },
    [](OutputHost* h, int32_t previous, int32_t next) -> int32_t {
        std::lock_guard<std::mutex> hold(of(h).mutex_);
        of(h).changes_.push_back(std::to_string(previous) + "->" + std::to_string(next));
        return TESSURA_RESULT_OK;
    },
};

TEST(OutputFeeder, StampsBuffersAndFollowsThemAsTheyFinish) {
    test::TempFolder folder;
    test::writeBytes(folder.file("tessura.ini"), "[General Preferences 0.80]\nWAONumBuffers=3\n");
    SettingsStore settings(folder.file("tessura.ini"), folder.path());
    ScriptedDialogService dialogs(nullptr);
    ManualDevice* device = nullptr;
    WaveAudioOutput output(settings, dialogs, [&](int) {
        auto made = std::make_unique<ManualDevice>();
        device = made.get();
        return made;
    });
    // 44100 Hz stereo: 32768-byte blocks of 185 ms.
    ScriptedHost host({{1, 0}, {1, 185}, {2, 0}, {2, 185}, {2, 370}});
    ASSERT_EQ(output.initialise(nullptr, host.host()), 0);
    int32_t rate = 44100, channels = 2, bits = 16;
    ASSERT_EQ(output.open(1, rate, channels, bits), 0);
    EXPECT_EQ(host.blockSize(), 32768u);
    EXPECT_EQ(output.fragmentMs(), 185u);

    // Three buffers: all of them are filled, and no more.
    ASSERT_TRUE(device->waitForWritten(3));
    std::vector<WaveOutBuffer> written = device->written();
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[1].positionMs, 185);
    EXPECT_EQ(written[2].songId, 2);
    EXPECT_EQ(written[0].durationMs, 185u);
    EXPECT_TRUE(output.stillPlaying());

    device->finishOne();
    const int32_t afterFirst = output.position();
    EXPECT_GE(afterFirst, 185);
    EXPECT_LE(afterFirst, 185 + 185 * 3 / 2);  // never more than 1.5 fragments on
    EXPECT_TRUE(host.songChanges().empty());
    device->finishOne();
    device->finishOne();  // the first buffer of song 2
    EXPECT_EQ(host.songChanges(), std::vector<std::string>{"1->2"});
    ASSERT_TRUE(device->waitForWritten(5));  // freed buffers are filled again

    output.pause();
    const int32_t paused = output.position();
    EXPECT_EQ(output.position(), paused);
    EXPECT_EQ(paused, 185);  // the end of song 2's first buffer
    output.resume();

    // Close(not immediate) waits for the queued buffers to play.
    auto closing = std::async(std::launch::async, [&] { return output.close(false); });
    EXPECT_EQ(closing.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    device->finishOne();
    device->finishOne();
    EXPECT_EQ(closing.get(), 0);
    EXPECT_FALSE(output.stillPlaying());
}

// The SDL backend, on SDL's own silent driver: every block is pulled through and played out.
TEST(OutputFeeder, SdlBackendPlaysEveryBlockOut) {
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    test::TempFolder folder;
    SettingsStore settings(folder.file("tessura.ini"), folder.path());
    ScriptedDialogService dialogs(nullptr);
    WaveAudioOutput output(settings, dialogs, [](int number) { return createWaveOutDevice(std::string("sdl"), number); });
    ScriptedHost host({{1, 0}, {1, 46}, {1, 92}, {1, 139}});
    ASSERT_EQ(output.initialise(nullptr, host.host()), 0);
    int32_t rate = 22050, channels = 2, bits = 16;
    ASSERT_EQ(output.open(1, rate, channels, bits), 0) << (dialogs.shown().empty() ? "" : dialogs.shown()[0]);
    EXPECT_EQ(host.blockSize(), 16384u);
    // The feeder takes the whole script; SDL's thread reports each buffer done.
    for (int i = 0; i < 4000 && (host.taken() < 4 || output.stillPlaying()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(host.taken(), 4u);
    EXPECT_FALSE(output.stillPlaying());
    EXPECT_GE(output.position(), 139 + 185);  // the last buffer's position and duration
    EXPECT_EQ(output.close(false), 0);
    EXPECT_TRUE(dialogs.shown().empty());
    ::unsetenv("SDL_AUDIODRIVER");
}

}  // namespace
}  // namespace tessura
