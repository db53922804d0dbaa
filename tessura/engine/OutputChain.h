#pragma once
// Carries decoded PCM from an input module's decoding thread to the output plug-in. The module
// writes blocks of any length; they are cut into the output's block size in a staging buffer and
// queued in nine recycled slots. The output pulls them through its OutputHost (NextBlock), and
// each block is processed on the way by the equaliser, pitch shifter, amplifier and the active
// DSP plug-in. Open, Close, Pause, Resume and Flush run on the chain's own worker thread, so an
// output plug-in is always opened and closed on the same thread.
//
// Locks, always taken in this order: writerMutex_ (the staging buffer, the writer's song and its
// synchronisation), outputMutex_ (the open output and processor), queueMutex_ (slots, queue,
// output buffer, the audible song). The output's own thread takes only queueMutex_ here, so the
// chain may call into the output while holding the first two.
#include "Amplifier.h"
#include "EqualiserFilter.h"
#include "OutputHostBuffers.h"
#include "PitchShifter.h"
#include "PluginHost.h"
#include "SongFormatTable.h"
#include "TessuraPluginAbi.h"

#include "Event.h"
#include "ThreadMessages.h"

#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tessura {

struct BuiltinStages {
    PitchShifter& pitch;
    Amplifier& amplifier;
    EqualiserFilter& equaliser;
};

// The output and DSP plug-in the settings ask for (ActiveOutput, ActiveDSP). The chain corrects
// them when they name nothing installed; the program stores them back at exit.
struct OutputChoice {
    PluginGuid output{};
    PluginGuid processor{};
};

class OutputChain {
  public:
    static constexpr int kSlots = 9;
    static constexpr int kBackPressureBlocks = 6;
    static constexpr int32_t kResyncMs = 1000;

    // What the visualisation receives of every block the output takes, in the block's format.
    using AnalysisTap = std::function<void(const uint8_t* pcm, std::size_t length, const PcmFormat& format)>;

    OutputChain(PluginHost& plugins, BuiltinStages stages, ThreadMessageQueue& messages,
                void* mainWindow = nullptr);
    // Closes the output at once and ends the worker.
    ~OutputChain();
    OutputChain(const OutputChain&) = delete;
    OutputChain& operator=(const OutputChain&) = delete;

    // `bitsCode` as the modules give it: 1 = 8 bits, 0 = 16 bits, else the bit count.
    bool Open(int32_t songId, int32_t channels, int32_t rate, int32_t bitsCode);
    // Immediate: the output stops now and every queued block is dropped. Otherwise what is
    // staged and queued plays out first.
    void Close(bool immediate);
    void Pause();
    void Resume();
    // Drops everything queued and staged (a seek, a stop while paused); a writer waiting for a
    // slot returns at once.
    void Flush();

    // The module's decoding thread. Returns 1 when the block was taken (or dropped because no
    // output is open), 0 for a block that cannot be taken.
    int32_t Write(int32_t songId, const WriteBlock& block);

    int32_t Position() const;  // the output's, in milliseconds (-1 without one)
    void SetVolume(uint32_t packed);
    uint32_t volume() const;  // given to each output it opens
    bool IsPlaying() const;    // the output is open and still has sound to play
    bool isOpen() const;
    bool isPaused() const;
    int32_t CurrentSongId() const;
    int32_t AudibleSongId() const;

    OutputHost* host() { return &host_.iface; }
    void setChoice(const OutputChoice& choice);
    OutputChoice choice() const;
    void setAnalysisTap(AnalysisTap tap);
    const SongFormatTable& formats() const { return formats_; }
    uint32_t blockSize() const;
    // Times the writer's stream jumped and the position was taken from the block again.
    int resyncCount() const { return resyncs_; }

  private:
    enum class Command { Open = 0, Close = 1, Pause = 2, Resume = 3, Flush = 4, Quit = 5 };
    struct Slot {
        std::vector<uint8_t> data;
        uint32_t length = 0;
        int32_t songId = 0;
        double positionMs = 0;
        bool endMarker = false;
        bool busy = false;
    };
    struct HostHandle {
        OutputHost iface;
        OutputChain* owner;
    };
    static OutputChain& of(OutputHost* host);
    static const OutputHostTable kHostTable;

    int32_t run(Command command, int32_t songId = 0, int32_t channels = 0, int32_t rate = 0, int32_t bits = 0);
    void workerLoop();
    int32_t openOnWorker(int32_t songId, int32_t channels, int32_t rate, int32_t bits);
    void closeOnWorker(bool immediate);
    void flushOnWorker();
    void chooseOutputLocked();
    void chooseProcessorLocked(const PcmFormat& format);
    void releaseOutputLocked(bool immediate);
    void drainQueue();

    // Writer side (writerMutex_ held).
    bool queueBlock(const uint8_t* data, uint32_t length, int32_t songId, double positionMs, bool endMarker);
    bool pushStaging(int32_t songId);
    double msOf(uint64_t bytes) const;  // at the open format
    bool writesAborted() const { return abortWrites_.load() != 0; }

    // OutputHost.
    int32_t nextBlock(OutputBlock* block);
    int32_t setBlockSize(uint32_t bytes);
    void applyBlockSize(uint32_t bytes);
    int32_t songChanged(int32_t previousId, int32_t newId);
    std::size_t processLocked(Slot& slot);
    void deliverLocked(OutputBlock* block, std::size_t length);
    void clearQueueLocked();

    PluginHost& plugins_;
    BuiltinStages stages_;
    ThreadMessageQueue& messages_;
    void* mainWindow_;
    HostHandle host_;
    SongFormatTable formats_;

    // The worker and its command.
    std::thread worker_;
    std::mutex commandMutex_;  // one caller at a time
    Event request_{Event::Reset::Automatic};
    Event done_{Event::Reset::Automatic};
    Command command_ = Command::Quit;
    std::array<int32_t, 4> arguments_{};
    int32_t result_ = 0;

    // The worker is inside the output's Open (worker thread only).
    bool insideOutputOpen_ = false;
    uint32_t pendingBlockSize_ = 0;
    std::atomic<int> abortWrites_{0};  // a flush or close is waiting: writers return at once
    Event slotFreed_{Event::Reset::Automatic};

    mutable std::mutex writerMutex_;
    // Guarded by writerMutex_:
    int32_t writerSong_ = 0;
    bool needSync_ = true;
    double syncMs_ = 0;
    uint64_t byteTotal_ = 0;
    std::vector<uint8_t> staging_;  // four blocks
    uint32_t stagingFill_ = 0;
    uint32_t writerBlock_ = 0;     // the block size, as the writer cuts
    bool writerHasBlocks_ = false;  // the writer's song has queued a block

    mutable std::mutex outputMutex_;
    // Guarded by outputMutex_:
    LoadedOutput* output_ = nullptr;
    LoadedProcessor* processor_ = nullptr;
    OutputChoice choice_;
    PcmFormat format_{0, 0, 0};
    uint32_t volume_ = 0xFFFFFFFFu;
    bool paused_ = false;

    mutable std::mutex queueMutex_;
    // Guarded by queueMutex_:
    OutputHostBuffers buffers_;
    std::array<Slot, kSlots> slots_;
    std::deque<int> queue_;
    std::size_t outputFill_ = 0;
    double outputStartMs_ = 0;
    int32_t audibleSong_ = 0;
    bool draining_ = false;
    bool processorActive_ = false;
    ProcessorInterface* processorIface_ = nullptr;
    AnalysisTap tap_;

    std::atomic<bool> open_{false};
    std::atomic<double> bytesPerMs_{0};  // of the open format; read by the writer and the output
    std::atomic<int32_t> currentSong_{0};
    std::atomic<int> resyncs_{0};
};

// The bits a module's bits code stands for.
int32_t bitsFromCode(int32_t bitsCode);

}  // namespace tessura
