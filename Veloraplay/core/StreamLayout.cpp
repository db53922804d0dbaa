#include "StreamLayout.h"

#include <sys/stat.h>

#include <algorithm>

#include "FrameHeaderScan.h"
#include "Veloradecoder.h"

namespace veloraplay {
namespace {

constexpr size_t kReadPiece = 4096;
// What the stream analysis looks at: the decoder's input buffer.
constexpr size_t kAnalysedBytes = 8192;
constexpr size_t kScanPiece = 65536;
// The synthesis filter bank's delay, which decoders add to the encoder's delay and padding.
constexpr long long kDecoderDelay = 529;

}  // namespace

size_t ReadFully(std::FILE* in, uint8_t* to, size_t n) {
    size_t got = 0;
    while (got < n) {
        const size_t r = std::fread(to + got, 1, n - got, in);
        if (r == 0) break;
        got += r;
    }
    return got;
}


void GaplessRange(const velora::StreamInfo& info, int outputPerFrame, bool velora,
                  long long* begin, long long* end) {
    *begin = 0;
    *end = -1;
    if (info.headerFrameBytes == 0 || info.samplingRate <= 0) return;
    const long long coded = info.samplingRate <= 24000 ? 576 : 1152;
    if (info.vbri.version != 0) {
        // The VBRI delay counts the header frame's samples, at the doubled rate of a stream
        // with the SBR layer.
        const long long perFrame = coded * (velora ? 2 : 1);
        const long long delay = info.vbri.delay - perFrame;
        if (delay > 0) *begin = delay * outputPerFrame / perFrame;
        return;
    }
    const velora::XingData& x = info.xing;
    if (!x.encoderInfo || !(x.flags & velora::XingData::kFlagFrames) || x.frames == 0) return;
    *begin = (x.encoderDelay + kDecoderDelay) * outputPerFrame / coded;
    *end = (static_cast<long long>(x.frames) * coded - x.encoderPadding + kDecoderDelay) *
           outputPerFrame / coded;
}

bool PrepareInput(std::FILE* in, StreamLayout& layout, std::string& error) {
    layout.info = std::make_unique<velora::StreamInfo>();
    velora::StreamInfo& info = *layout.info;
    struct stat st {};
    const off_t here = ftello(in);
    layout.seekable = fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode) && here >= 0 &&
                      st.st_size >= here;
    std::vector<uint8_t> block(kAnalysedBytes);
    if (layout.seekable) {
        const uint64_t start = static_cast<uint64_t>(here);
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        uint8_t head[velora::StreamInfo::kLeadingTagProbe] = {};
        const size_t headBytes = ReadFully(in, head, sizeof(head));
        const uint64_t audioStart =
            std::min(size, start + velora::StreamInfo::LeadingTagBytes(head, static_cast<int>(headBytes)));
        uint8_t tail[velora::StreamInfo::kTrailingTagProbe] = {};
        const size_t tailBytes = static_cast<size_t>(std::min<uint64_t>(sizeof(tail), size - audioStart));
        uint64_t trailing = 0;
        if (tailBytes > 0 && fseeko(in, static_cast<off_t>(size - tailBytes), SEEK_SET) == 0 &&
            ReadFully(in, tail, tailBytes) == tailBytes) {
            trailing = velora::StreamInfo::TrailingTagBytes(tail, static_cast<int>(tailBytes));
        }
        layout.fileSize = size;
        layout.audioStart = audioStart;
        layout.audioEnd = std::max(audioStart, size - std::min(trailing, size));
        if (fseeko(in, static_cast<off_t>(audioStart), SEEK_SET) != 0) {
            error = "read error";
            return false;
        }
        const size_t got = ReadFully(in, block.data(),
                                     static_cast<size_t>(std::min<uint64_t>(block.size(), layout.audioEnd - audioStart)));
        const uint64_t audioBytes = std::min<uint64_t>(layout.audioEnd - audioStart, 0xFFFFFFFFu);
        layout.analysed = info.AnalyseAudio(block.data(), static_cast<int>(got),
                                            static_cast<uint32_t>(std::min<uint64_t>(audioStart, 0xFFFFFFFFu)),
                                            static_cast<uint32_t>(audioBytes)) != 0;
        layout.decodeStart = audioStart;
        if (layout.analysed && info.headerFrameBytes > 0) {
            layout.decodeStart += static_cast<uint64_t>(info.firstFrameBit / 8 + info.headerFrameBytes);
        }
        // The frame headers ahead: a stream may turn from mono to stereo.
        velora::FrameHeaderScan scan;
        std::vector<uint8_t> piece(kScanPiece);
        if (fseeko(in, static_cast<off_t>(layout.decodeStart), SEEK_SET) != 0) {
            error = "read error";
            return false;
        }
        for (uint64_t left = layout.audioEnd - std::min(layout.audioEnd, layout.decodeStart); left > 0;) {
            const size_t n = std::fread(piece.data(), 1, static_cast<size_t>(std::min<uint64_t>(left, piece.size())), in);
            if (n == 0) break;
            scan.Feed(piece.data(), static_cast<int>(n));
            left -= n;
        }
        layout.maxChannels = scan.MaxChannels();
        if (std::ferror(in) || fseeko(in, static_cast<off_t>(layout.decodeStart), SEEK_SET) != 0) {
            error = "read error";
            return false;
        }
        return true;
    }

    // A pipe: the tag is read past, the first block kept for the decoder.
    std::vector<uint8_t>& lead = layout.lead;
    lead.resize(velora::StreamInfo::kLeadingTagProbe);
    lead.resize(ReadFully(in, lead.data(), lead.size()));
    uint64_t tag = velora::StreamInfo::LeadingTagBytes(lead.data(), static_cast<int>(lead.size()));
    if (tag > 0) {
        lead.clear();
        tag -= velora::StreamInfo::kLeadingTagProbe;
        while (tag > 0) {
            const size_t n = ReadFully(in, block.data(), static_cast<size_t>(std::min<uint64_t>(tag, block.size())));
            if (n == 0) break;
            tag -= n;
        }
    }
    const size_t have = lead.size();
    lead.resize(kAnalysedBytes);
    lead.resize(have + ReadFully(in, lead.data() + have, kAnalysedBytes - have));
    if (std::ferror(in)) {
        error = "read error";
        return false;
    }
    layout.analysed = info.AnalyseAudio(lead.data(), static_cast<int>(lead.size()), 0, 0) != 0;
    if (layout.analysed && info.headerFrameBytes > 0) {
        const size_t skip = static_cast<size_t>(info.firstFrameBit / 8 + info.headerFrameBytes);
        lead.erase(lead.begin(), lead.begin() + static_cast<std::ptrdiff_t>(std::min(skip, lead.size())));
    }
    return true;
}

DecoderInput::DecoderInput(std::FILE* in, const StreamLayout& layout)
    : in_(in),
      audioEnd_(layout.audioEnd),
      piece_(std::max(kReadPiece, layout.lead.size())),
      fill_(layout.lead.size()),
      position_(layout.decodeStart + layout.lead.size()),
      budget_(layout.seekable ? layout.audioEnd - std::min(layout.audioEnd, layout.decodeStart) : UINT64_MAX) {
    std::copy(layout.lead.begin(), layout.lead.end(), piece_.begin());
}

void DecoderInput::watch(velora::FrameHeaderScan* scan) {
    scan_ = scan;
    if (scan_ && fill_ > used_) scan_->Feed(piece_.data() + used_, static_cast<int>(fill_ - used_));
}

bool DecoderInput::topUp(velora::Veloradecoder& decoder) {
    while (!ended_) {
        if (used_ == fill_) {
            fill_ = budget_ > 0 ? std::fread(piece_.data(), 1,
                                             static_cast<size_t>(std::min<uint64_t>(budget_, kReadPiece)), in_)
                                : 0;
            used_ = 0;
            if (fill_ == 0) {
                if (std::ferror(in_)) return false;
                ended_ = true;
                decoder.SetEndOfData();
                break;
            }
            budget_ -= fill_;
            position_ += fill_;
            if (scan_) scan_->Feed(piece_.data(), static_cast<int>(fill_));
        }
        const int taken = decoder.Feed(piece_.data() + used_, static_cast<int>(fill_ - used_));
        used_ += static_cast<size_t>(taken);
        if (used_ < fill_) break;  // the decoder is full
    }
    return true;
}

bool DecoderInput::restartAt(uint64_t offset) {
    if (fseeko(in_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    fill_ = used_ = 0;
    ended_ = false;
    position_ = offset;
    budget_ = audioEnd_ - std::min(audioEnd_, offset);
    return true;
}

}  // namespace veloraplay
