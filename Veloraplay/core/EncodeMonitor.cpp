#include "EncodeMonitor.h"

#include <algorithm>
#include <cstring>

namespace veloraplay {

EncodeMonitor::EncodeMonitor(MonitorOutput& output) : output_(output), pcm_(velora::kMaxFrameSamples) {}

EncodeMonitor::~EncodeMonitor() {
    abandon();
}

bool EncodeMonitor::ensureDecoder() {
    // A decoder that could not be made is tried again with the next frames.
    if (!decoder_) decoder_.reset(velora::Veloradecoder::Create(0, false, false));
    return decoder_ != nullptr;
}

void EncodeMonitor::push(const uint8_t* bytes, size_t count) {
    if (off_ || !ensureDecoder()) return;
    while (count > 0) {
        const int taken = decoder_->Feed(bytes, static_cast<int>(std::min<size_t>(count, 1 << 20)));
        bytes += taken;
        count -= static_cast<size_t>(taken);
        decodeAvailable();
        if (off_) return;
        // A full input that yields no frame cannot take more: drop what is left rather than
        // loop (the decoder resynchronises on the next bytes).
        if (taken == 0) return;
    }
}

void EncodeMonitor::decodeAvailable() {
    for (;;) {
        int written = 0;
        const velora::Mp3Ssc status = decoder_->Decode(pcm_.data(), static_cast<int>(pcm_.size() * sizeof(int16_t)),
                                                       &written, true, nullptr, nullptr);
        if (!velora::SscSucceeded(status)) return;  // needs more data, the end, or a damaged frame
        if (written <= 0) continue;
        play(decoder_->Info(), pcm_.data(), static_cast<size_t>(written) / sizeof(int16_t));
        if (off_) return;
    }
}

void EncodeMonitor::play(const velora::FrameInfo& info, const int16_t* samples, size_t count) {
    if (!opened_) {
        const int channels = std::clamp(info.outputChannels, 1, 2);
        const int perBlock = info.outputSamplingRate < 32000 ? 576 : 1152;
        if (!output_.open(channels, info.outputSamplingRate, perBlock)) {
            off_ = true;
            return;
        }
        opened_ = true;
        converter_.setOutput(channels, info.outputSamplingRate);
        blockSamples_ = static_cast<size_t>(perBlock) * static_cast<size_t>(channels);
    }
    size_t converted = 0;
    const int16_t* in =
        converter_.convert(samples, count, info.outputChannels, info.outputSamplingRate, &converted);
    size_t done = 0;
    while (done < converted) {
        if (!block_ || fill_ == blockSamples_) {
            block_ = output_.nextBlock();
            fill_ = 0;
            if (!block_) return;  // stopped, or the output failed: the rest of the frame is not heard
        }
        const size_t n = std::min(converted - done, blockSamples_ - fill_);
        std::memcpy(block_ + fill_, in + done, n * sizeof(int16_t));
        fill_ += n;
        done += n;
    }
}

bool EncodeMonitor::finish() {
    if (decoder_ && !off_) {
        decoder_->SetEndOfData();
        decodeAvailable();
    }
    const bool played = opened_;
    if (opened_) {
        if (block_) output_.setLastBlockLength(fill_);
        output_.drain();
        output_.close();
        block_ = nullptr;
        opened_ = false;
    }
    decoder_.reset();
    return played;
}

void EncodeMonitor::abandon() {
    if (opened_) {
        output_.close();
        opened_ = false;
    }
    block_ = nullptr;
    decoder_.reset();
}

}  // namespace veloraplay
