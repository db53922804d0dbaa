#include "OutputChain.h"

#include "WaveAudioOutput.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace tessura {

using namespace std::chrono;

namespace {

constexpr PluginGuid kZeroGuid{};

bool isZero(const PluginGuid& guid) {
    return sameGuid(guid, kZeroGuid);
}

// One block's playing time, at least a millisecond (a format of rate 0 never divides).
milliseconds blockDuration(uint32_t blockBytes, double bytesPerMs) {
    if (bytesPerMs <= 0) return milliseconds(1);
    return milliseconds(std::max<int64_t>(1, static_cast<int64_t>(blockBytes / bytesPerMs)));
}

}  // namespace

double OutputChain::msOf(uint64_t bytes) const {
    const double perMs = bytesPerMs_;
    return perMs > 0 ? static_cast<double>(bytes) / perMs : 0;
}

int32_t bitsFromCode(int32_t bitsCode) {
    if (bitsCode == MODULE_BITS_8) return 8;
    if (bitsCode == MODULE_BITS_16) return 16;
    return bitsCode;
}

const OutputHostTable OutputChain::kHostTable = {
    [](OutputHost* host, OutputBlock* block) -> int32_t { return of(host).nextBlock(block); },
    [](OutputHost* host, uint32_t bytes) -> int32_t { return of(host).setBlockSize(bytes); },
    [](OutputHost* host, int32_t previousId, int32_t newId) -> int32_t {
        return of(host).songChanged(previousId, newId);
    },
};

OutputChain& OutputChain::of(OutputHost* host) {
    return *reinterpret_cast<HostHandle*>(host)->owner;
}

OutputChain::OutputChain(PluginHost& plugins, BuiltinStages stages, ThreadMessageQueue& messages,
                         void* mainWindow)
    : plugins_(plugins), stages_(stages), messages_(messages), mainWindow_(mainWindow),
      host_{{&kHostTable}, this} {
    choice_.output = kBuiltinOutputGuid;
    worker_ = std::thread([this] { workerLoop(); });
}

OutputChain::~OutputChain() {
    Close(true);
    {
        std::lock_guard<std::mutex> caller(commandMutex_);
        command_ = Command::Quit;
        request_.set();
    }
    worker_.join();
    std::lock_guard<std::mutex> output(outputMutex_);
    if (output_ != nullptr && output_->iface != nullptr) output_->iface->table->Shutdown(output_->iface);
    output_ = nullptr;
}

// ---- The worker and its commands ----

int32_t OutputChain::run(Command command, int32_t songId, int32_t channels, int32_t rate, int32_t bits) {
    std::lock_guard<std::mutex> caller(commandMutex_);
    command_ = command;
    arguments_ = {songId, channels, rate, bits};
    request_.set();
    done_.wait();
    return result_;
}

void OutputChain::workerLoop() {
    for (;;) {
        request_.wait();
        const Command command = command_;
        const auto [a, b, c, d] = arguments_;
        int32_t result = 1;
        switch (command) {
            case Command::Open:
                result = openOnWorker(a, b, c, d);
                break;
            case Command::Close:
                closeOnWorker(a != 0);
                break;
            case Command::Pause:
            case Command::Resume: {
                std::lock_guard<std::mutex> output(outputMutex_);
                if (output_ != nullptr && open_) {
                    OutputInterface* iface = output_->iface;
                    if (command == Command::Pause) {
                        iface->table->Pause(iface);
                    } else {
                        iface->table->Resume(iface);
                    }
                    paused_ = command == Command::Pause;
                }
                break;
            }
            case Command::Flush:
                flushOnWorker();
                break;
            case Command::Quit:
                return;
        }
        result_ = result;
        done_.set();
    }
}

bool OutputChain::Open(int32_t songId, int32_t channels, int32_t rate, int32_t bitsCode) {
    return run(Command::Open, songId, channels, rate, bitsFromCode(bitsCode)) != 0;
}

void OutputChain::Close(bool immediate) {
    run(Command::Close, immediate ? 1 : 0);
}

void OutputChain::Pause() {
    run(Command::Pause);
}

void OutputChain::Resume() {
    run(Command::Resume);
}

void OutputChain::Flush() {
    run(Command::Flush);
}

void OutputChain::chooseOutputLocked() {
    if (output_ != nullptr && sameGuid(output_->info.guid, choice_.output)) return;
    if (output_ != nullptr) releaseOutputLocked(true);
    LoadedOutput* found = plugins_.findOutput(choice_.output);
    if (found == nullptr) {
        choice_.output = kBuiltinOutputGuid;
        found = plugins_.findOutput(choice_.output);
    }
    if (found == nullptr || found->iface == nullptr) return;
    if (found->iface->table->Initialise(found->iface, mainWindow_, host()) != TESSURA_RESULT_OK) return;
    output_ = found;
}

void OutputChain::chooseProcessorLocked(const PcmFormat& format) {
    if (processor_ == nullptr && !isZero(choice_.processor)) {
        LoadedProcessor* found = plugins_.findProcessor(choice_.processor);
        if (found == nullptr) {
            choice_.processor = kZeroGuid;
        } else if (found->iface != nullptr &&
                   found->iface->table->Initialise(found->iface) == TESSURA_RESULT_OK) {
            processor_ = found;
        }
    }
    if (processor_ != nullptr) {
        int32_t rate = format.rate, channels = format.channels, bits = format.bits;
        ProcessorInterface* iface = processor_->iface;
        if (iface->table->SetFormat(iface, &rate, &channels, &bits) != TESSURA_RESULT_OK) {
            iface->table->Shutdown(iface);
            processor_ = nullptr;
        }
    }
    std::lock_guard<std::mutex> queue(queueMutex_);
    processorIface_ = processor_ != nullptr ? processor_->iface : nullptr;
    processorActive_ = processorIface_ != nullptr;
}

void OutputChain::releaseOutputLocked(bool immediate) {
    if (output_ == nullptr) return;
    OutputInterface* iface = output_->iface;
    if (open_) iface->table->Close(iface, immediate ? 1 : 0);
    open_ = false;
    iface->table->Shutdown(iface);
    output_ = nullptr;
}

int32_t OutputChain::openOnWorker(int32_t songId, int32_t channels, int32_t rate, int32_t bits) {
    const PcmFormat format{rate, channels, bits};
    const bool formatChanged = format.rate != format_.rate || format.channels != format_.channels ||
                               format.bits != format_.bits;
    if (formatChanged && open_) closeOnWorker(false);
    if (rate <= 0 || channels <= 0 || channels > 8 || (bits != 8 && bits != 16 && bits != 24 && bits != 32))
        return 0;

    std::unique_lock<std::mutex> output(outputMutex_);
    chooseOutputLocked();
    if (output_ == nullptr) return 0;
    chooseProcessorLocked(format);

    formats_.record(songId, format);
    stages_.pitch.setFormat(format);
    stages_.amplifier.setFormat(format);
    stages_.equaliser.setFormat(format);
    format_ = format;
    {
        std::lock_guard<std::mutex> queue(queueMutex_);
        bytesPerMs_ = static_cast<double>(channels) * (bits / 8) * rate / 1000.0;
        draining_ = false;
        if (!open_) {
            audibleSong_ = songId;
            outputFill_ = 0;
        }
    }
    currentSong_ = songId;

    int32_t r = rate, c = channels, b = bits;
    OutputInterface* iface = output_->iface;
    // The output sets its block size from inside Open; that size is applied once the output
    // lock is released, so the writer lock is never taken under it.
    pendingBlockSize_ = 0;
    insideOutputOpen_ = true;
    const bool opened = iface->table->Open(iface, songId, &r, &c, &b) == TESSURA_RESULT_OK;
    insideOutputOpen_ = false;
    if (!opened) {
        open_ = false;
        return 0;
    }
    iface->table->SetVolume(iface, volume_);
    output.unlock();
    if (pendingBlockSize_ != 0) applyBlockSize(pendingBlockSize_);
    open_ = true;
    return songId;
}

void OutputChain::drainQueue() {
    // Lets the output take what is queued; bounded so an output that stopped pulling cannot hold
    // the chain for ever.
    const auto started = steady_clock::now();
    for (;;) {
        std::size_t left;
        milliseconds step;
        {
            std::lock_guard<std::mutex> queue(queueMutex_);
            left = queue_.size() + (outputFill_ > 0 ? 1 : 0);
            step = blockDuration(buffers_.blockSize(), bytesPerMs_);
        }
        if (left == 0) return;
        if (steady_clock::now() - started > step * (kSlots + 4) + seconds(2)) return;
        std::this_thread::sleep_for(std::min(step, milliseconds(20)));
    }
}

void OutputChain::closeOnWorker(bool immediate) {
    ++abortWrites_;
    if (immediate) slotFreed_.set();
    {
        std::lock_guard<std::mutex> writer(writerMutex_);
        std::unique_lock<std::mutex> output(outputMutex_);
        // A paused output takes nothing more: what is queued is dropped as in an immediate close.
        if (paused_) immediate = true;
        if (!immediate && open_) {
            --abortWrites_;  // the staging remainder may still wait for a slot
            pushStaging(writerSong_);
            ++abortWrites_;
            {
                std::lock_guard<std::mutex> queue(queueMutex_);
                draining_ = true;
            }
            output.unlock();
            drainQueue();
            output.lock();
        }
        if (output_ != nullptr && open_) output_->iface->table->Close(output_->iface, immediate ? 1 : 0);
        open_ = false;
        format_ = {0, 0, 0};
        stagingFill_ = 0;
        needSync_ = true;
        writerHasBlocks_ = false;
        std::lock_guard<std::mutex> queue(queueMutex_);
        clearQueueLocked();
        draining_ = false;
        paused_ = false;
        // Released while the writer lock is held: a writer waiting for the lock writes the
        // first block after the close, not a block dropped on the way out.
        --abortWrites_;
    }
    slotFreed_.set();
}

void OutputChain::flushOnWorker() {
    ++abortWrites_;
    slotFreed_.set();
    {
        std::lock_guard<std::mutex> writer(writerMutex_);
        std::lock_guard<std::mutex> output(outputMutex_);
        if (output_ != nullptr && open_) output_->iface->table->Flush(output_->iface);
        std::lock_guard<std::mutex> queue(queueMutex_);
        clearQueueLocked();
        stagingFill_ = 0;
        needSync_ = true;
        writerHasBlocks_ = false;
        --abortWrites_;  // as in a close: the seek's first block is kept
    }
    slotFreed_.set();
}

void OutputChain::clearQueueLocked() {
    for (Slot& slot : slots_) slot.busy = false;
    queue_.clear();
    outputFill_ = 0;
}

// ---- The writer ----

bool OutputChain::queueBlock(const uint8_t* data, uint32_t length, int32_t songId, double positionMs,
                             bool endMarker) {
    for (;;) {
        if (writesAborted() || !open_) return false;
        {
            std::lock_guard<std::mutex> queue(queueMutex_);
            for (int i = 0; i < kSlots; ++i) {
                Slot& slot = slots_[static_cast<std::size_t>(i)];
                if (slot.busy || slot.data.size() < length) continue;
                if (length > 0) std::memcpy(slot.data.data(), data, length);
                slot.length = length;
                slot.songId = songId;
                slot.positionMs = positionMs;
                slot.endMarker = endMarker;
                slot.busy = true;
                queue_.push_back(i);
                return true;
            }
            if (slots_[0].data.size() < length) return false;  // no block size yet
        }
        slotFreed_.waitFor(blockDuration(writerBlock_, bytesPerMs_));
    }
}

bool OutputChain::pushStaging(int32_t songId) {
    if (stagingFill_ == 0) return true;
    const double position = syncMs_ + msOf(byteTotal_ - stagingFill_);
    const bool queued = queueBlock(staging_.data(), stagingFill_, songId, position, false);
    stagingFill_ = 0;
    if (queued) writerHasBlocks_ = true;
    return queued;
}

int32_t OutputChain::Write(int32_t songId, const WriteBlock& block) {
    if (block.data == nullptr && block.length > 0) return 0;
    // A flush or close in progress cuts short only the write it interrupted. A new write waits
    // for it to finish: it may already be the first block after a seek, and a writer that took
    // the lock again at once would shut the flush out while dropping block after block.
    while (writesAborted()) std::this_thread::sleep_for(milliseconds(1));
    std::lock_guard<std::mutex> writer(writerMutex_);
    if (!open_ || writerBlock_ == 0) return 1;
    if (songId != writerSong_) {
        pushStaging(writerSong_);
        if (writerHasBlocks_) queueBlock(nullptr, 0, writerSong_, 0, true);
        writerSong_ = songId;
        writerHasBlocks_ = false;
        needSync_ = true;
        currentSong_ = songId;
    }

    // The position the blocks so far lead to; a block far from it starts the count again (the
    // module seeked, or skipped over damage).
    const double expected = syncMs_ + msOf(byteTotal_);
    if (needSync_ || std::abs(expected - block.positionMs) > kResyncMs) {
        if (!needSync_) ++resyncs_;
        pushStaging(songId);
        syncMs_ = block.positionMs;
        byteTotal_ = 0;
        needSync_ = false;
    }

    // Appended in pieces no larger than the staging buffer's free room, each followed by cutting
    // the full blocks it completed, so a block of any length fits.
    const auto* in = static_cast<const uint8_t*>(block.data);
    uint32_t left = block.length;
    bool cut = false;
    while (left > 0) {
        if (writesAborted()) return 1;
        const uint32_t room = static_cast<uint32_t>(staging_.size()) - stagingFill_;
        const uint32_t piece = std::min(left, room);
        std::memcpy(staging_.data() + stagingFill_, in, piece);
        stagingFill_ += piece;
        byteTotal_ += piece;
        in += piece;
        left -= piece;
        uint32_t offset = 0;
        while (stagingFill_ - offset >= writerBlock_) {
            const double position =
                syncMs_ + msOf(byteTotal_ - (stagingFill_ - offset));
            if (!queueBlock(staging_.data() + offset, writerBlock_, songId, position, false)) return 1;
            writerHasBlocks_ = true;
            offset += writerBlock_;
            cut = true;
        }
        if (offset > 0) {
            std::memmove(staging_.data(), staging_.data() + offset, stagingFill_ - offset);
            stagingFill_ -= offset;
        }
    }

    // Keeps decoding from running far ahead of what is heard.
    std::size_t queued;
    {
        std::lock_guard<std::mutex> queue(queueMutex_);
        queued = queue_.size();
    }
    if (queued >= kBackPressureBlocks && !cut && writerBlock_ > 0) {
        const double share = static_cast<double>(stagingFill_) / writerBlock_;
        const auto wait = duration_cast<milliseconds>(blockDuration(writerBlock_, bytesPerMs_) * share);
        if (wait.count() > 0) slotFreed_.waitFor(wait);
    }
    return 1;
}

// ---- The output's side ----

int32_t OutputChain::setBlockSize(uint32_t bytes) {
    if (insideOutputOpen_ && std::this_thread::get_id() == worker_.get_id()) {
        pendingBlockSize_ = bytes;
        return TESSURA_RESULT_OK;
    }
    applyBlockSize(bytes);
    return TESSURA_RESULT_OK;
}

void OutputChain::applyBlockSize(uint32_t bytes) {
    std::lock_guard<std::mutex> writer(writerMutex_);
    std::lock_guard<std::mutex> queue(queueMutex_);
    const uint32_t before = buffers_.blockSize();
    const uint32_t size = buffers_.setBlockSize(bytes);
    if (size != before) {
        for (Slot& slot : slots_) slot.data.assign(size, 0);
        clearQueueLocked();
        staging_.assign(std::size_t{size} * 4, 0);
        stagingFill_ = 0;
        writerBlock_ = size;
        stages_.pitch.setWorkCapacity(buffers_.work().size());
        stages_.amplifier.setWorkCapacity(buffers_.work().size());
        stages_.equaliser.setWorkCapacity(buffers_.work().size());
    }
}

std::size_t OutputChain::processLocked(Slot& slot) {
    const PcmFormat format = formats_.find(slot.songId).value_or(PcmFormat{});
    const uint32_t frameBytes = format.frameBytes();
    const bool pitched = stages_.pitch.storedFactor() != 256;
    if (pitched || processorActive_) {
        std::vector<uint8_t>& work = buffers_.work();
        std::memcpy(work.data(), slot.data.data(), slot.length);
        std::size_t length = stages_.equaliser.process(work.data(), slot.length, work.size());
        length = stages_.pitch.process(work.data(), length, work.size());
        length = stages_.amplifier.process(work.data(), length, work.size());
        if (processorActive_) length = runProcessor(processorIface_, work.data(), length, work.size(), frameBytes);
        length = std::min(length, buffers_.output().size() - outputFill_);
        std::memcpy(buffers_.output().data() + outputFill_, work.data(), length);
        return length;
    }
    std::size_t length = stages_.amplifier.process(slot.data.data(), slot.length, slot.data.size());
    length = stages_.equaliser.process(slot.data.data(), length, slot.data.size());
    length = std::min(length, buffers_.output().size() - outputFill_);
    std::memcpy(buffers_.output().data() + outputFill_, slot.data.data(), length);
    return length;
}

void OutputChain::deliverLocked(OutputBlock* block, std::size_t length) {
    std::vector<uint8_t>& out = buffers_.output();
    std::memcpy(block->data, out.data(), length);
    if (tap_) {
        if (const auto format = formats_.find(audibleSong_)) tap_(out.data(), length, *format);
    }
    std::memmove(out.data(), out.data() + length, outputFill_ - length);
    outputFill_ -= length;
    block->length = static_cast<uint32_t>(length);
    block->flags = OUTPUT_BLOCK_POSITION_VALID;
    block->positionMs = static_cast<int32_t>(std::lround(outputStartMs_));
    block->songId = audibleSong_;
    if (bytesPerMs_ > 0) outputStartMs_ += static_cast<double>(length) / bytesPerMs_;
}

int32_t OutputChain::nextBlock(OutputBlock* block) {
    if (block == nullptr || block->data == nullptr) return TESSURA_RESULT_FAILED;
    std::lock_guard<std::mutex> queue(queueMutex_);
    const uint32_t size = buffers_.blockSize();
    if (size == 0) return TESSURA_RESULT_FAILED;
    for (;;) {
        if (outputFill_ >= size) {
            deliverLocked(block, size);
            return TESSURA_RESULT_OK;
        }
        if (queue_.empty()) {
            // Closing: the last partial block plays too.
            if (draining_ && outputFill_ > 0) {
                deliverLocked(block, outputFill_);
                return TESSURA_RESULT_OK;
            }
            return TESSURA_RESULT_FAILED;
        }
        const int index = queue_.front();
        Slot& slot = slots_[static_cast<std::size_t>(index)];
        if (slot.songId == audibleSong_ && !slot.endMarker) {
            const std::size_t before = outputFill_;
            const std::size_t added = processLocked(slot);
            if (bytesPerMs_ > 0) outputStartMs_ = slot.positionMs - static_cast<double>(before) / bytesPerMs_;
            outputFill_ += added;
            queue_.pop_front();
            slot.busy = false;
            slotFreed_.set();
            continue;  // the same call delivers a block when one is now whole
        }
        // The audible song ends here: what is left of it plays first, then the marker.
        if (outputFill_ > 0) {
            deliverLocked(block, outputFill_);
            return TESSURA_RESULT_OK;
        }
        block->length = 0;
        block->flags = OUTPUT_BLOCK_END_OF_SONG;
        block->positionMs = static_cast<int32_t>(std::lround(outputStartMs_));
        block->songId = audibleSong_;
        if (slot.endMarker) {
            queue_.pop_front();
            slot.busy = false;
            slotFreed_.set();
        }
        // The next song is audible from its first block; a marker without one switches to the
        // writer's song.
        audibleSong_ = !queue_.empty() ? slots_[static_cast<std::size_t>(queue_.front())].songId
                                       : currentSong_.load();
        return TESSURA_RESULT_OK;
    }
}

int32_t OutputChain::songChanged(int32_t previousId, int32_t newId) {
    if (previousId != newId) formats_.forget(previousId);
    messages_.post(thread_message::kRefreshSongDisplay, newId, previousId);
    return TESSURA_RESULT_OK;
}

// ---- Queries ----

int32_t OutputChain::Position() const {
    std::lock_guard<std::mutex> output(outputMutex_);
    if (output_ == nullptr || !open_) return -1;
    int32_t ms = -1;
    if (output_->iface->table->GetPosition(output_->iface, &ms) != TESSURA_RESULT_OK) return -1;
    return ms;
}

void OutputChain::SetVolume(uint32_t packed) {
    std::lock_guard<std::mutex> output(outputMutex_);
    volume_ = packed;
    if (output_ != nullptr && open_) output_->iface->table->SetVolume(output_->iface, packed);
}

uint32_t OutputChain::volume() const {
    std::lock_guard<std::mutex> output(outputMutex_);
    return volume_;
}

bool OutputChain::IsPlaying() const {
    std::lock_guard<std::mutex> output(outputMutex_);
    if (output_ == nullptr || !open_) return false;
    int32_t still = 0;
    if (output_->iface->table->IsOpen(output_->iface, &still) != TESSURA_RESULT_OK) return false;
    if (still != 0) return true;
    std::lock_guard<std::mutex> queue(queueMutex_);
    return !queue_.empty() || outputFill_ > 0;
}

bool OutputChain::isPaused() const {
    std::lock_guard<std::mutex> output(outputMutex_);
    return paused_;
}

bool OutputChain::isOpen() const {
    return open_;
}

int32_t OutputChain::CurrentSongId() const {
    return currentSong_;
}

int32_t OutputChain::AudibleSongId() const {
    std::lock_guard<std::mutex> queue(queueMutex_);
    return audibleSong_;
}

void OutputChain::setChoice(const OutputChoice& choice) {
    std::lock_guard<std::mutex> output(outputMutex_);
    choice_ = choice;
}

OutputChoice OutputChain::choice() const {
    std::lock_guard<std::mutex> output(outputMutex_);
    return choice_;
}

void OutputChain::setAnalysisTap(AnalysisTap tap) {
    std::lock_guard<std::mutex> queue(queueMutex_);
    tap_ = std::move(tap);
}

uint32_t OutputChain::blockSize() const {
    std::lock_guard<std::mutex> queue(queueMutex_);
    return buffers_.blockSize();
}

}  // namespace tessura
