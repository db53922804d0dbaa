// The output chain on its own, between a writer and an output that pulls by hand: blocks cut
// from writes of any size, song changes with their end marker, the resynchronised position, a
// flush releasing a writer that waits for a slot, and random commands from several threads
// (also run under the thread sanitizer).
#include "EngineTestKit.h"

#include "CPlayer.h"
#include "OutputChain.h"
#include "PluginHost.h"
#include "WaveAudioOutput.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

namespace tessura {
namespace {

constexpr uint32_t kBlock = 4096;

// An output that opens at once and hands out blocks only when the test pulls.
class PulledOutput {
  public:
    PulledOutput() : handle_{{&kTable}, this} {}
    OutputInterface* iface() { return &handle_.iface; }

    // One NextBlock; the bytes, flags, position and song id it gave.
    struct Pull {
        int32_t result;
        std::string bytes;
        OutputBlock block;
    };
    Pull pull() {
        std::vector<uint8_t> buffer(kBlock);
        OutputBlock block{buffer.data(), kBlock, 0, 0, 0};
        OutputHost* host = host_;
        const int32_t result = host != nullptr ? host->table->NextBlock(host, &block) : TESSURA_RESULT_FAILED;
        return {result, std::string(reinterpret_cast<char*>(buffer.data()), result == 0 ? block.length : 0), block};
    }
    std::atomic<int> opens{0}, closes{0}, flushes{0};

  private:
    struct Handle {
        OutputInterface iface;
        PulledOutput* owner;
    };
    static PulledOutput& of(OutputInterface* self) { return *reinterpret_cast<Handle*>(self)->owner; }
    static const OutputInterfaceTable kTable;
    Handle handle_;
    std::atomic<OutputHost*> host_{nullptr};
};

int32_t ok(OutputInterface*) {
    return TESSURA_RESULT_OK;
}

const OutputInterfaceTable PulledOutput::kTable = {
    [](OutputInterface*) {},
    &ok,
    [](OutputInterface* self, void*, OutputHost* host) -> int32_t {
        of(self).host_ = host;
        return TESSURA_RESULT_OK;
    },
    &ok,
    [](OutputInterface*, PluginInfo* info) -> int32_t {
        *info = {"Pulled", "", kBuiltinOutputGuid, 1};
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface*, SettingsPage**) -> int32_t { return TESSURA_RESULT_FAILED; },
    [](OutputInterface* self, int32_t, int32_t*, int32_t*, int32_t*) -> int32_t {
        ++of(self).opens;
        OutputHost* host = of(self).host_;
        return host->table->SetBlockSize(host, kBlock);
    },
    [](OutputInterface* self, int32_t) -> int32_t {
        ++of(self).closes;
        return TESSURA_RESULT_OK;
    },
    &ok,
    &ok,
    [](OutputInterface* self) -> int32_t {
        ++of(self).flushes;
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface*, int32_t* ms) -> int32_t {
        *ms = 0;
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface*, int64_t* value) -> int32_t {
        *value = 0;
        return TESSURA_RESULT_OK;
    },
    [](OutputInterface*, uint32_t) -> int32_t { return TESSURA_RESULT_OK; },
    [](OutputInterface*, uint32_t*) -> int32_t { return TESSURA_RESULT_OK; },
    [](OutputInterface*, int32_t* still) -> int32_t {
        *still = 0;
        return TESSURA_RESULT_OK;
    },
};

struct ChainRig {
    ChainRig() : plugins(home.home, home.language, home.dialogs) {
        plugins.discover(output.iface());
        chain = std::make_unique<OutputChain>(plugins, BuiltinStages{pitch, amplifier, equaliser}, messages);
    }
    test::ProgramHome home{{}};
    PulledOutput output;
    PluginHost plugins;
    PitchShifter pitch;
    Amplifier amplifier;
    EqualiserFilter equaliser;
    ThreadMessageQueue messages;
    std::unique_ptr<OutputChain> chain;
};

// Distinct bytes, so any reordering or loss shows.
std::string pattern(std::size_t length, int seed) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 7 + static_cast<std::size_t>(seed) * 31) & 0xFF);
    return bytes;
}

int32_t write(OutputChain& chain, int32_t song, int32_t positionMs, const std::string& bytes) {
    const WriteBlock block{positionMs, 0, static_cast<uint32_t>(bytes.size()), bytes.data()};
    return chain.Write(song, block);
}

TEST(OutputChain, CutsWritesIntoBlocksAndMarksTheEndOfEachSong) {
    ChainRig rig;
    OutputChain& chain = *rig.chain;
    ASSERT_TRUE(chain.Open(1, 2, 44100, MODULE_BITS_16));
    EXPECT_EQ(chain.blockSize(), kBlock);

    // Song 1: one and a half blocks in small writes; song 2: one block in one write.
    const std::string first = pattern(kBlock * 3 / 2, 1), second = pattern(kBlock, 2);
    for (std::size_t at = 0; at < first.size(); at += 1000)
        write(chain, 1, static_cast<int32_t>(at / 176), first.substr(at, 1000));
    ASSERT_TRUE(chain.Open(2, 2, 44100, MODULE_BITS_16));
    write(chain, 2, 0, second);

    auto p = rig.output.pull();
    ASSERT_EQ(p.result, 0);
    EXPECT_EQ(p.bytes, first.substr(0, kBlock));
    EXPECT_EQ(p.block.songId, 1);
    EXPECT_EQ(p.block.flags, OUTPUT_BLOCK_POSITION_VALID);
    p = rig.output.pull();
    EXPECT_EQ(p.bytes, first.substr(kBlock)) << "the rest of song 1, a partial block";
    EXPECT_EQ(p.block.songId, 1);
    p = rig.output.pull();
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.block.length, 0u);
    EXPECT_EQ(p.block.flags, OUTPUT_BLOCK_END_OF_SONG);
    p = rig.output.pull();
    EXPECT_EQ(p.bytes, second);
    EXPECT_EQ(p.block.songId, 2);
    EXPECT_EQ(p.block.positionMs, 0);
    EXPECT_EQ(rig.output.pull().result, TESSURA_RESULT_FAILED) << "nothing ready";
    EXPECT_EQ(rig.output.opens, 2) << "same format: the open output is opened again for the new song";
    EXPECT_EQ(rig.output.closes, 0);

    // A new format closes the output first.
    ASSERT_TRUE(chain.Open(3, 1, 22050, MODULE_BITS_16));
    EXPECT_EQ(rig.output.closes, 1);
}

TEST(OutputChain, AWriteLongerThanEveryBufferArrivesWholeAndInOrder) {
    ChainRig rig;
    ASSERT_TRUE(rig.chain->Open(1, 2, 44100, MODULE_BITS_16));
    const std::string big = pattern(kBlock * 20 + 100, 3);  // more than staging and slots together
    std::string heard;
    std::atomic<bool> written{false};
    std::thread writer([&] {
        write(*rig.chain, 1, 0, big);
        written = true;
    });
    for (int idle = 0; idle < 2000 && heard.size() < kBlock * 20;) {
        auto p = rig.output.pull();
        if (p.result == 0) {
            heard += p.bytes;
        } else {
            ++idle;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    writer.join();
    EXPECT_TRUE(written);
    EXPECT_EQ(heard.size(), kBlock * 20u) << "whole blocks played; 100 bytes wait in staging";
    EXPECT_TRUE(heard == big.substr(0, kBlock * 20));
}

TEST(OutputChain, TakesThePositionAgainWhenTheStreamJumps) {
    ChainRig rig;
    OutputChain& chain = *rig.chain;
    ASSERT_TRUE(chain.Open(1, 2, 44100, MODULE_BITS_16));
    // 4096 bytes of 44.1 kHz stereo are 23.2 ms.
    const std::string block = pattern(kBlock, 4);
    write(chain, 1, 1000, block);
    write(chain, 1, 1023, block);  // where the count says: no resync
    write(chain, 1, 1900, block);  // 830 ms off: still within the tolerance
    write(chain, 1, 9000, block);  // a seek the module made on its own
    EXPECT_EQ(chain.resyncCount(), 1);
    const int32_t expected[] = {1000, 1023, 1046, 9000};
    for (const int32_t ms : expected) {
        const auto p = rig.output.pull();
        ASSERT_EQ(p.result, 0);
        EXPECT_NEAR(p.block.positionMs, ms, 1);
    }
}

TEST(OutputChain, AFlushOrCloseReleasesAWriterWaitingForASlot) {
    for (const bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "flush");
        ChainRig rig;
        ASSERT_TRUE(rig.chain->Open(1, 2, 44100, MODULE_BITS_16));
        std::atomic<bool> returned{false};
        std::thread writer([&] {
            write(*rig.chain, 1, 0, pattern(kBlock * 40, 5));  // nobody pulls: the slots fill
            returned = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(returned);
        if (close) {
            rig.chain->Close(true);
        } else {
            rig.chain->Flush();
        }
        writer.join();
        EXPECT_TRUE(returned);
        EXPECT_EQ(rig.output.pull().result, TESSURA_RESULT_FAILED) << "nothing is left queued";
        EXPECT_EQ(rig.output.flushes, close ? 0 : 1);
    }
}

TEST(OutputChain, SurvivesRandomCommandsFromSeveralThreads) {
    ChainRig rig;
    OutputChain& chain = *rig.chain;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> pulledBytes{0};
    std::thread puller([&] {
        while (!stop) {
            const auto p = rig.output.pull();
            if (p.result == 0) {
                pulledBytes += p.bytes.size();
            } else {
                std::this_thread::yield();
            }
        }
    });
    std::atomic<uint64_t> writtenBytes{0};
    std::atomic<int32_t> song{1};
    std::thread writer([&] {
        std::mt19937 random(7);
        int32_t position = 0;
        while (!stop) {
            const std::string bytes = pattern(random() % 9000 + 1, static_cast<int>(random() % 50));
            write(chain, song, position, bytes);
            writtenBytes += bytes.size();
            position += 10;
        }
    });
    std::mt19937 random(11);
    for (int i = 0; i < 300; ++i) {
        switch (random() % 7) {
            case 0: {
                const int32_t next = song + 1;
                chain.Open(next, static_cast<int32_t>(random() % 2 + 1), random() % 2 ? 44100 : 22050, MODULE_BITS_16);
                song = next;
                break;
            }
            case 1: chain.Close(random() % 2 == 0); break;
            case 2: chain.Pause(); break;
            case 3: chain.Resume(); break;
            case 4: chain.Flush(); break;
            case 5: chain.SetVolume(static_cast<uint32_t>(random())); break;
            default: (void)chain.Position(); (void)chain.IsPlaying(); break;
        }
    }
    stop = true;
    chain.Close(true);
    writer.join();
    puller.join();
    EXPECT_GT(writtenBytes.load(), 0u);
    EXPECT_LE(pulledBytes.load(), writtenBytes.load()) << "nothing is heard that was not written";
}

TEST(OutputChain, ChecksWhatAnOutputAndAModuleHandIt) {
    ChainRig rig;
    OutputChain& chain = *rig.chain;
    EXPECT_FALSE(chain.Open(1, 2, 0, MODULE_BITS_16)) << "a rate of 0 is refused, never divided by";
    EXPECT_FALSE(chain.Open(1, 0, 44100, MODULE_BITS_16));
    EXPECT_FALSE(chain.Open(1, 2, 44100, 12));
    ASSERT_TRUE(chain.Open(1, 2, 44100, MODULE_BITS_16));
    OutputHost* host = chain.host();
    EXPECT_EQ(host->table->NextBlock(host, nullptr), TESSURA_RESULT_FAILED);
    OutputBlock empty{nullptr, kBlock, 0, 0, 0};
    EXPECT_EQ(host->table->NextBlock(host, &empty), TESSURA_RESULT_FAILED);
    host->table->SetBlockSize(host, 0);
    EXPECT_EQ(chain.blockSize(), kBlock) << "0 keeps the size";
    host->table->SetBlockSize(host, 0xFFFFFFFFu);
    EXPECT_EQ(chain.blockSize(), OutputHostBuffers::kMaxBlockSize);
    const WriteBlock missing{0, 0, 100, nullptr};
    EXPECT_EQ(chain.Write(1, missing), 0) << "a length without data";
}

TEST(VisSpectrum, ALoudBinHoldsAt255InsteadOfWrapping) {
    int8_t samples[512];
    for (int n = 0; n < 512; ++n) samples[n] = n % 2 == 0 ? 127 : -128;  // all energy in bin 256
    uint8_t bins[256];
    int8_t dc[512];
    for (int8_t& s : dc) s = 127;  // bin 0: 512 x 127 / 16 = 4064
    visSpectrum(dc, bins);
    EXPECT_EQ(bins[0], 255);
    EXPECT_EQ(bins[1], 0);
    for (int n = 0; n < 512; ++n) samples[n] = static_cast<int8_t>(std::lround(64 * std::cos(2 * M_PI * 8 * n / 512.0)));
    visSpectrum(samples, bins);
    EXPECT_EQ(bins[8], 255) << "512 x 64 / 16 / 2 = 1024";
    EXPECT_EQ(bins[7], 0);
    for (int n = 0; n < 512; ++n) samples[n] = static_cast<int8_t>(std::lround(16 * std::cos(2 * M_PI * 8 * n / 512.0)));
    visSpectrum(samples, bins);
    EXPECT_EQ(bins[8], 255);
    for (int n = 0; n < 512; ++n) samples[n] = static_cast<int8_t>(n % 16 == 0 ? 16 : 0);  // a comb
    visSpectrum(samples, bins);
    EXPECT_EQ(bins[0], 32) << "32 impulses of 16 / 16";
    EXPECT_EQ(bins[32], 32);
    EXPECT_EQ(bins[1], 0);
}

}  // namespace
}  // namespace tessura
