#include "Velorawrap.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "FrameConverter.h"
#include "PcmOut.h"
#include "StreamLayout.h"
#include "Veloradecoder.h"
#include "WaveInputFile.h"
#include "WaveWriteSink.h"

namespace veloraplay {
namespace {

constexpr auto kPausedPoll = std::chrono::milliseconds(100);
constexpr int kWaveBlockSamples = 1024;  // per channel, for WAVE input
constexpr float kGainTable[Velorawrap::kGainSteps] = {0.0f, 0.4f, 0.8f, 1.0f, 1.2f, 1.6f, 2.0f};

const char* const kNoDevice = "Couldn't find output device.";

std::string couldNotOpen(const std::string& name) {
    return "Couldn't open " + name + " for playback.";
}

int percentOf(uint64_t part, uint64_t whole) {
    if (whole == 0) return 0;
    return static_cast<int>(std::min<uint64_t>(100, part * 100 / whole));
}

// `percent` of `bytes`, rounded down (in integers: a file may be larger than a double holds
// exactly).
uint64_t bytesAt(uint64_t bytes, int percent) {
    const auto p = static_cast<uint64_t>(percent);
    return bytes / 100 * p + bytes % 100 * p / 100;
}

// Lays samples into the sink's blocks back to back, so that frames cut by the gapless trim or
// converted to another length still fill every block; the stream's end is where the last
// block stops being filled.
class BlockPacker {
  public:
    void begin(PcmSink& sink, size_t blockSamples) {
        sink_ = &sink;
        blockSamples_ = blockSamples;
        drop();
    }
    // How many of the samples were queued: fewer when the sink gave no block (interrupted,
    // stopped, or it failed).
    size_t write(const int16_t* samples, size_t count, Event* stop) {
        size_t done = 0;
        while (done < count) {
            if (!block_ || fill_ == blockSamples_) {
                block_ = sink_->nextBlock(stop);
                fill_ = 0;
                if (!block_) break;
            }
            const size_t n = std::min(count - done, blockSamples_ - fill_);
            std::memcpy(block_ + fill_, samples + done, n * sizeof(int16_t));
            fill_ += n;
            done += n;
        }
        return done;
    }
    // The stream ends here: the sink learns how much of the last block counts.
    void finish() {
        if (block_) sink_->setLastBlockLength(fill_);
    }
    // The sink dropped its blocks (reset).
    void drop() {
        block_ = nullptr;
        fill_ = 0;
    }

  private:
    PcmSink* sink_ = nullptr;
    size_t blockSamples_ = 0;
    int16_t* block_ = nullptr;
    size_t fill_ = 0;
};

bool looksLikeWave(const std::string& name) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) return false;
    unsigned char head[12] = {};
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    return got == sizeof head && std::memcmp(head, "RIFF", 4) == 0 &&
           std::memcmp(head + 8, "WAVE", 4) == 0;
}

}  // namespace

// What one worker run works with.
struct Velorawrap::Run {
    std::string name;
    bool toFile = false;
    PcmSink* sink = nullptr;
    BlockPacker packer;
    int lastPercent = -1;
    bool paused = false;
    int pausedSeekShown = -1;  // the pending seek whose time was shown while paused
    bool sinkOpen = false;

    // Reports the position when it changed.
    void position(Velorawrap& owner, int percent) {
        if (percent == lastPercent) return;
        lastPercent = percent;
        owner.post(owner.positionMessage_, 0, percent);
    }
};

Velorawrap::Velorawrap(MessageQueue& queue, PcmSink& device, WaveWriteSink& file)
    : queue_(queue), device_(device), fileSink_(file) {
    for (auto& g : gains_) g.store(kUnityGainStep);
    for (auto& p : peaks_) p.store(0);
}

Velorawrap::Velorawrap(MessageQueue& queue) : Velorawrap(queue, deviceOutput(), waveWriter()) {}

Velorawrap::~Velorawrap() {
    stop();
}

void Velorawrap::post(uint32_t code, uintptr_t wparam, intptr_t lparam, std::string payload) {
    Message m;
    m.target = Target::PlayerWindow;
    m.code = code;
    m.wparam = wparam;
    m.lparam = lparam;
    m.payload = std::move(payload);
    queue_.post(std::move(m));
}

void Velorawrap::start() {
    // Play on a paused player resumes it; the display learns so.
    const bool wasPaused = pause_.isSet();
    pause_.reset();
    if (running_.load()) {
        if (wasPaused) notifyDisplay(notify::kState, notify::kPlaying);
        return;
    }
    // A worker that ended by itself is joined here; it has nothing left to do.
    if (thread_.joinable()) thread_.join();
    stop_.reset();
    interrupt_.reset();
    // A new run starts without an old seek; one asked from now on is kept for it.
    takeSeek();
    if (file_.empty()) {
        toFile_.store(false);
        return;
    }
    running_.store(true);
    thread_ = std::thread(&Velorawrap::run, this, file_, toFile_.load());
}

bool Velorawrap::startDecodeToFile(const std::string& output) {
    if (running_.load() || file_.empty() || output.empty() || isWaveFile()) return false;
    struct stat input {};
    const bool haveInput = ::stat(file_.c_str(), &input) == 0;
    fileSink_.setOutput(output, haveInput ? &input : nullptr);
    toFile_.store(true);
    start();
    return true;
}

void Velorawrap::stop() {
    if (!thread_.joinable()) return;
    stop_.set();
    interrupt_.set();
    thread_.join();
}

void Velorawrap::togglePause() {
    if (!running_.load()) return;
    if (!pause_.isSet()) {
        pause_.set();
        interrupt_.set();
        notifyDisplay(notify::kState, notify::kPaused);
    } else {
        pause_.reset();
        notifyDisplay(notify::kState, notify::kPlaying);
    }
}

bool Velorawrap::toggleEnhancement() {
    const bool now = !live_.load();
    live_.store(now);
    return now;
}

bool Velorawrap::isWaveFile() const {
    return !file_.empty() && looksLikeWave(file_);
}

void Velorawrap::requestSeek(int percent) {
    std::lock_guard<std::mutex> lock(seekLock_);
    seekTarget_ = std::clamp(percent, 0, 100);
    seekPending_ = true;
    // A worker waiting for an output buffer seeks now, not a buffer later.
    interrupt_.set();
}

int Velorawrap::takeSeek() {
    std::lock_guard<std::mutex> lock(seekLock_);
    if (!seekPending_) return -1;
    seekPending_ = false;
    return seekTarget_;
}

bool Velorawrap::drainUnlessWanted(PcmSink& sink) {
    for (;;) {
        sink.drain(&interrupt_);
        if (stop_.isSet() || !interrupt_.isSet()) return false;
        interrupt_.reset();
        if (pause_.isSet() || peekSeek() >= 0) return true;
        // A signal nobody needs any more (its seek is done): go on draining.
    }
}

bool Velorawrap::interrupted() {
    if (!interrupt_.isSet() || stop_.isSet()) return false;
    interrupt_.reset();
    return true;
}

int Velorawrap::peekSeek() {
    std::lock_guard<std::mutex> lock(seekLock_);
    return seekPending_ ? seekTarget_ : -1;
}

void Velorawrap::setBandGain(int band, int step) {
    if (band < 0 || band >= kBands) return;
    gains_[static_cast<size_t>(band)].store(std::clamp(step, 0, kGainSteps - 1));
}

int Velorawrap::bandGain(int band) const {
    if (band < 0 || band >= kBands) return kUnityGainStep;
    return gains_[static_cast<size_t>(band)].load();
}

std::array<uint8_t, Velorawrap::kBands> Velorawrap::takeBandPeaks() {
    std::array<uint8_t, kBands> out{};
    for (size_t b = 0; b < out.size(); ++b) out[b] = peaks_[b].exchange(0);
    return out;
}

float Velorawrap::gainForStep(int step) {
    return kGainTable[std::clamp(step, 0, kGainSteps - 1)];
}

void Velorawrap::run(std::string name, bool toFile) {
    Run r;
    r.name = std::move(name);
    r.toFile = toFile;
    r.sink = toFile ? static_cast<PcmSink*>(&fileSink_) : &device_;
    if (looksLikeWave(r.name)) {
        r.sink = &device_;
        runWave(r);
    } else {
        runCompressed(r);
    }
    // However the run ended, even before its first frame: no position, no progress window.
    post(positionMessage_, 0, kPositionNone);
    if (r.toFile) post(msg::kProgressClose, 0, 0);
    toFile_.store(false);
    running_.store(false);
    notifyDisplay(notify::kState, notify::kStopped);
}

bool Velorawrap::pausedIteration(Run& r, const std::function<intptr_t(int)>& seekSeconds) {
    if (!pause_.isSet()) {
        r.paused = false;
        r.pausedSeekShown = -1;
        return false;
    }
    interrupt_.reset();
    // What was queued is dropped once; then nothing moves until the pause ends.
    if (!r.paused) {
        r.sink->reset();
        r.packer.drop();
        r.paused = true;
    }
    // A seek asked meanwhile shows its time now and is done after the pause.
    const int p = peekSeek();
    if (p >= 0 && p != r.pausedSeekShown) {
        r.pausedSeekShown = p;
        notifyDisplay(notify::kElapsed, seekSeconds(p));
    }
    return true;
}

void Velorawrap::runCompressed(Run& r) {
    if (!r.toFile) live_.store(enhancementDefault_.load());
    r.position(*this, 0);

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(r.name.c_str(), "rb"),
                                                        &std::fclose);
    StreamLayout layout;
    std::string error;
    if (!in || !PrepareInput(in.get(), layout, error)) {
        showMessage(couldNotOpen(r.name));
        command(kCommandStop);
        return;
    }
    velora::VeloradecoderPtr decoder(velora::Veloradecoder::Create(0, false, false));
    if (!decoder) {
        showMessage(velora::StatusText(velora::kSscErrMemory));
        command(kCommandStop);
        return;
    }
    const velora::StreamInfo& stream = *layout.info;
    PcmSink& sink = *r.sink;

    // Input: the decoder first gets what was read ahead of a pipe, then the file up to the
    // tags at its end.
    DecoderInput input(in.get(), layout);
    const uint64_t fileSize = layout.seekable ? layout.fileSize : 0;

    std::vector<int16_t> pcm(velora::kMaxFrameSamples);
    std::vector<int16_t> held;  // the first frame, until the second tells the channel count
    velora::FrameInfo heldInfo{};
    FrameConverter converter;
    long long frames = 0;
    int lastBitrate = 0;
    bool lastLive = live_.load();
    // Output positions per channel for the gapless trim: what was decoded, what is kept.
    long long position = 0;
    long long keepFrom = 0;
    long long keepTo = -1;

    // Converts, trims and queues one frame; false when the sink gave no block.
    const auto play = [&](const velora::FrameInfo& info, const int16_t* data, size_t samples) {
        size_t converted = 0;
        const int16_t* out =
            converter.convert(data, samples, info.outputChannels, info.outputSamplingRate, &converted);
        const size_t ch = static_cast<size_t>(converter.channels());
        const long long length = static_cast<long long>(converted / ch);
        const long long from = std::clamp(keepFrom - position, 0LL, length);
        const long long to = keepTo < 0 ? length : std::clamp(keepTo - position, from, length);
        position += length;
        const int16_t* left = out + static_cast<size_t>(from) * ch;
        size_t count = to > from ? static_cast<size_t>(to - from) * ch : 0;
        while (count > 0) {
            const size_t done = r.packer.write(left, count, &interrupt_);
            left += done;
            count -= done;
            // The wait for a buffer was cut short: a pause or a seek wants the worker now,
            // while an interruption that nobody needs any more (a seek already done) must not
            // cost the rest of the frame.
            if (count > 0 && (stop_.isSet() || !interrupt_.isSet() || pause_.isSet() || peekSeek() >= 0)) {
                return false;
            }
            if (count > 0) interrupt_.reset();
        }
        return true;
    };
    // Opens the sink in the first frame's format with `channels`, then plays that frame.
    const auto openSink = [&](int channels) {
        const int perChannel = static_cast<int>(held.size()) / std::max(1, heldInfo.outputChannels);
        if (!sink.open(channels, heldInfo.outputSamplingRate, perChannel)) {
            if (r.toFile) {
                showMessage("Couldn't write " + fileSink_.error());
            } else {
                showMessage(kNoDevice);
            }
            return false;
        }
        r.sinkOpen = true;
        converter.setOutput(channels, heldInfo.outputSamplingRate);
        r.packer.begin(sink, static_cast<size_t>(perChannel) * static_cast<size_t>(channels));
        if (!r.toFile) post(msg::kStreamKindNotify, decoder->VeloraStream() ? 1 : 0, 0);
        if (layout.analysed) {
            GaplessRange(stream, perChannel, decoder->VeloraStream(), &keepFrom, &keepTo);
        }
        return play(heldInfo, held.data(), held.size());
    };
    const auto sinkChannels = [&](int decoded) {
        return std::clamp(std::max(decoded, layout.maxChannels), 1, 2);
    };
    // A pending seek, applied once the output is open: the file position from the seek table
    // or the percent of the audio, the decoder restarted there (its gains are set again
    // before the next frame), what was queued dropped. True when it moved.
    const auto seekNow = [&]() {
        // The signal of this request is answered here.
        if (peekSeek() >= 0) interrupt_.reset();
        const int p = takeSeek();
        if (p < 0 || !layout.seekable || r.toFile || !r.sinkOpen) return false;  // no seek in a decode to file
        const uint64_t audioBytes = layout.audioEnd - layout.audioStart;
        uint64_t offset = layout.audioStart + bytesAt(audioBytes, p);
        if (stream.seekTable) offset = stream.PositionForPercent(static_cast<float>(p));
        offset = std::clamp(offset, layout.decodeStart, layout.audioEnd);
        if (!input.restartAt(offset)) return false;
        decoder->Reset();
        sink.reset();
        r.packer.drop();
        converter.reset();
        // The encoder's padding can no longer be placed; the delay lies behind.
        keepFrom = 0;
        keepTo = -1;
        notifyDisplay(notify::kElapsed, static_cast<intptr_t>(stream.durationMs * 0.00001 * p));
        return true;
    };
    // The sink gave no block: stopped, a pause began (false: go on), or it failed (a full
    // disk, a lost device).
    const auto sinkFailed = [&]() {
        if (stop_.isSet()) return true;
        if (interrupted()) {
            r.packer.drop();
            return false;
        }
        showMessage(r.toFile ? "Couldn't write " + fileSink_.error() : std::string(kNoDevice));
        command(kCommandStop);
        return true;
    };

    std::chrono::milliseconds wait(0);
    while (!stop_.wait(wait)) {
        wait = std::chrono::milliseconds(0);
        if (pausedIteration(r, [&stream](int p) { return static_cast<intptr_t>(stream.durationMs * 0.00001 * p); })) {
            wait = kPausedPoll;
            continue;
        }

        if (!r.toFile) {
            float* gains = decoder->Gains();
            for (int b = 0; b < kBands; ++b) gains[b] = gainForStep(gains_[static_cast<size_t>(b)].load());
        }

        // A read error ends the stream where it happens.
        if (!input.topUp(*decoder)) decoder->SetEndOfData();
        r.position(*this, percentOf(input.position(), fileSize));

        int written = 0;
        const bool live = live_.load();
        const velora::Mp3Ssc status =
            decoder->Decode(pcm.data(), static_cast<int>(pcm.size() * sizeof(int16_t)), &written,
                            live, nullptr, nullptr);
        if (status == velora::kSscSyncEof) {
            if (!r.sinkOpen && !held.empty() && !openSink(sinkChannels(heldInfo.outputChannels))) {
                if (!r.sinkOpen || sinkFailed()) break;
            }
            if (r.sinkOpen) {
                r.packer.finish();
                // A seek or a pause while the end was playing: the stream goes on from there
                // (a pause drops what was queued, as anywhere else).
                if (drainUnlessWanted(sink) && (seekNow() || pause_.isSet())) continue;
            }
            if (stop_.isSet()) break;
            if (frames == 0) {
                showMessage(couldNotOpen(r.name));  // nothing in it is audio
                command(kCommandStop);
                break;
            }
            command(kCommandStop);
            command(kCommandNext);
            break;
        }
        if (velora::SscIsError(status)) {
            showMessage(velora::StatusText(status));
            command(kCommandStop);
            break;
        }
        if (!velora::SscSucceeded(status) || written <= 0) continue;

        const velora::FrameInfo& info = decoder->Info();
        uint8_t levels[kBands] = {};
        decoder->BandLevels(kBands, levels);
        for (size_t b = 0; b < static_cast<size_t>(kBands); ++b) {
            uint8_t seen = peaks_[b].load();
            while (levels[b] > seen && !peaks_[b].compare_exchange_weak(seen, levels[b])) {
            }
        }
        ++frames;
        const size_t samples = static_cast<size_t>(written) / sizeof(int16_t);
        if (frames == 1) {
            notifyDisplay(notify::kChannels, info.outputChannels);
            notifyDisplay(notify::kSampleRate, info.outputSamplingRate);
            notifyDisplay(notify::kBitrate, info.bitrate / 1000);
            notifyDisplay(notify::kElapsed, 0);
            if (!r.toFile) notifyDisplay(notify::kState, notify::kPlaying);
            lastBitrate = info.bitrate;
            lastLive = live;
            // The sink opens with the second frame: a Velora stream with one core channel
            // may learn only then that it plays as stereo.
            heldInfo = info;
            held.assign(pcm.begin(), pcm.begin() + static_cast<std::ptrdiff_t>(samples));
            continue;
        }
        if (info.bitrate != lastBitrate) {
            lastBitrate = info.bitrate;
            notifyDisplay(notify::kBitrate, info.bitrate / 1000);
        }
        if (r.toFile && frames % kProgressEvery == 0) {
            post(msg::kProgressFrame, 0, static_cast<intptr_t>(frames),
                 decoder->VeloraStream() && live ? "- Velora -" : "- plain mp3 -");
        }
        if (live != lastLive) {
            lastLive = live;
            notifyDisplay(notify::kSampleRate, info.outputSamplingRate);
            notifyDisplay(notify::kChannels, info.outputChannels);
        }
        if (!r.sinkOpen) {
            if (!openSink(sinkChannels(std::max(heldInfo.outputChannels, info.outputChannels)))) {
                // A sink that would not open has said so already.
                if (!r.sinkOpen || sinkFailed()) break;
                seekNow();
                continue;
            }
        }
        if (!play(info, pcm.data(), samples) && sinkFailed()) break;
        seekNow();
    }

    if (stop_.isSet()) sink.abort();
    sink.close();
}

void Velorawrap::runWave(Run& r) {
    r.position(*this, 0);
    velora::WaveInputFile wave;
    if (!wave.Open(r.name)) {
        showMessage(couldNotOpen(r.name));
        command(kCommandStop);
        return;
    }
    const int rate = wave.SampleRate();
    const int channels = wave.Channels();
    const uint64_t dataLength = wave.DataBytes();
    const uint64_t bytesPerSecond = static_cast<uint64_t>(rate) * 2u * static_cast<uint64_t>(channels);
    const size_t blockBytes = static_cast<size_t>(channels) * kWaveBlockSamples * sizeof(int16_t);
    PcmSink& sink = *r.sink;
    // A pending seek: the position rounded down to whole sample frames, what was queued
    // dropped. True when it moved.
    const auto seekNow = [&]() {
        // The signal of this request is answered here.
        if (peekSeek() >= 0) interrupt_.reset();
        const int p = takeSeek();
        if (p < 0 || !r.sinkOpen) return false;
        const uint64_t align = static_cast<uint64_t>(channels) * 2u;
        uint64_t offset = bytesAt(dataLength, p) & ~uint64_t{3};
        offset -= offset % align;
        if (!wave.Seek(offset)) return false;
        notifyDisplay(notify::kElapsed, static_cast<intptr_t>(offset / std::max<uint64_t>(1, bytesPerSecond)));
        sink.reset();
        return true;
    };
    bool first = true;
    std::chrono::milliseconds wait(0);
    while (!stop_.wait(wait)) {
        wait = std::chrono::milliseconds(0);
        if (pausedIteration(r, [&](int p) {
                return static_cast<intptr_t>(bytesAt(dataLength, p) / std::max<uint64_t>(1, bytesPerSecond));
            })) {
            wait = kPausedPoll;
            continue;
        }
        if (first) {
            first = false;
            notifyDisplay(notify::kChannels, channels);
            notifyDisplay(notify::kSampleRate, rate);
            notifyDisplay(notify::kElapsed, 0);
            notifyDisplay(notify::kBitrate, notify::kWaveBitrate);
            notifyDisplay(notify::kState, notify::kPlaying);
            if (!sink.open(channels, rate, kWaveBlockSamples)) {
                showMessage(kNoDevice);
                break;
            }
            r.sinkOpen = true;
            post(msg::kStreamKindNotify, 0, 0);
        }
        r.position(*this, percentOf(wave.Position(), dataLength));
        auto* block = reinterpret_cast<unsigned char*>(sink.nextBlock(&interrupt_));
        if (!block) {
            if (stop_.isSet()) break;
            // A pause or a seek cut the wait short; no sample was read meanwhile.
            if (interrupted()) {
                seekNow();
                continue;
            }
            showMessage(kNoDevice);
            command(kCommandStop);
            break;
        }
        const size_t got = wave.Read(block, blockBytes);
        std::memset(block + got, 0, blockBytes - got);
        if (got == 0 || wave.Position() >= dataLength) {
            sink.setLastBlockLength(got / sizeof(int16_t));
            if (drainUnlessWanted(sink) && (seekNow() || pause_.isSet())) continue;
            if (stop_.isSet()) break;
            command(kCommandStop);
            command(kCommandNext);
            break;
        }
        seekNow();
    }
    if (stop_.isSet() && r.sinkOpen) sink.abort();
    sink.close();
    wave.Close();
}

}  // namespace veloraplay
