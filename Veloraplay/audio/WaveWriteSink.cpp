#include "WaveWriteSink.h"

#include <algorithm>

namespace veloraplay {

void WaveWriteSink::setOutput(const std::string& name, const struct stat* input) {
    name_ = name;
    hasInput_ = input != nullptr;
    input_ = {};
    if (hasInput_) input_ = *input;
}

void WaveWriteSink::fail(const std::string& reason) {
    error_ = reason;
    target_.Discard();
    std::vector<int16_t>().swap(block_);
    filled_ = false;
    open_ = false;
}

bool WaveWriteSink::open(int channels, int sampleRate, int samplesPerBlock) {
    abort();
    error_.clear();
    if (name_.empty()) {
        error_ = "no output file name";
        return false;
    }
    if (channels < 1 || channels > 2 || sampleRate < 1 || samplesPerBlock < 1) {
        error_ = "unsupported format";
        return false;
    }
    std::string reason;
    if (!target_.Open(name_, hasInput_ ? &input_ : nullptr, reason)) {
        error_ = name_ + ": " + reason;
        return false;
    }
    if (!writer_.Begin(target_.Stream(), channels, sampleRate)) {
        const std::string why = target_.WriteError();
        fail(name_ + ": " + (why.empty() ? "cannot write the header" : why));
        return false;
    }
    block_.assign(static_cast<size_t>(samplesPerBlock) * static_cast<size_t>(channels), 0);
    filled_ = false;
    open_ = true;
    return true;
}

bool WaveWriteSink::writeBlock(size_t samples) {
    if (writer_.Append(block_.data(), std::min(samples, block_.size()))) return true;
    const std::string why = target_.WriteError();
    fail(name_ + ": " + (why.empty() ? "write failed" : why));
    return false;
}

// No pause per block: decoding to a file runs as fast as it can; the interface thread only
// receives posted progress messages and is not slowed by it.
int16_t* WaveWriteSink::nextBlock(Event* /*stop*/) {
    if (!open_) return nullptr;
    // The block handed out last time holds the caller's previous frame: write it now, so the
    // file starts with the first frame and not with a silent block.
    if (filled_ && !writeBlock(block_.size())) return nullptr;
    std::fill(block_.begin(), block_.end(), int16_t{0});
    filled_ = true;
    lastBlockLength_ = block_.size();
    return block_.data();
}

void WaveWriteSink::close() {
    if (!open_) return;
    // The last frame is still in the block.
    if (filled_ && !writeBlock(lastBlockLength_)) return;
    if (!writer_.Finish()) {
        const std::string why = target_.WriteError();
        fail(name_ + ": " + (why.empty() ? "write failed" : why));
        return;
    }
    std::string reason;
    if (!target_.Commit(reason)) {
        fail(name_ + ": " + reason);
        return;
    }
    std::vector<int16_t>().swap(block_);
    filled_ = false;
    open_ = false;
}

void WaveWriteSink::abort() {
    target_.Discard();
    std::vector<int16_t>().swap(block_);
    filled_ = false;
    open_ = false;
}

WaveWriteSink& waveWriter() {
    static WaveWriteSink writer;
    return writer;
}

}  // namespace veloraplay
