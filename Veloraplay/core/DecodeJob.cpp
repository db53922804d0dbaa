#include "DecodeJob.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "FrameHeaderScan.h"
#include "StreamInfo.h"
#include "Veloradecoder.h"
#include "WaveFileWriter.h"

namespace veloraplay {
namespace {

constexpr size_t kPiece = 4096;
// What the stream analysis looks at: the decoder's input buffer.
constexpr size_t kAnalysedBytes = 8192;
constexpr size_t kScanPiece = 65536;
// The synthesis filter bank's delay, which decoders add to the encoder's delay and padding.
constexpr long long kDecoderDelay = 529;

// Brings a frame to the writer's channel count.
void ConvertChannels(const int16_t* in, int inChannels, size_t frames, int outChannels,
                     std::vector<int16_t>& out) {
    out.resize(frames * static_cast<size_t>(outChannels));
    for (size_t i = 0; i < frames; ++i) {
        if (inChannels == 1) {
            for (int c = 0; c < outChannels; ++c) out[i * static_cast<size_t>(outChannels) + c] = in[i];
        } else {
            const int mean = (in[2 * i] + in[2 * i + 1]) / 2;
            out[i] = static_cast<int16_t>(mean);
        }
    }
}

// Brings frames at half the output rate up to it by linear interpolation: each sample is
// preceded by the mean of it and the one before (carried from frame to frame).
class RateDoubler {
  public:
    void Double(const int16_t* in, int channels, size_t frames, std::vector<int16_t>& out) {
        const size_t ch = static_cast<size_t>(channels);
        out.resize(2 * frames * ch);
        for (size_t i = 0; i < frames; ++i) {
            for (size_t c = 0; c < ch; ++c) {
                const int now = in[i * ch + c];
                const int before = started_ ? last_[c] : now;
                out[2 * i * ch + c] = static_cast<int16_t>((before + now) / 2);
                out[(2 * i + 1) * ch + c] = static_cast<int16_t>(now);
                last_[c] = now;
            }
        }
        started_ = frames > 0 || started_;
    }

  private:
    int last_[2] = {0, 0};
    bool started_ = false;
};

// Reads up to `n` bytes, retrying short reads of a pipe; fewer only at the end or on error.
size_t ReadFully(std::FILE* in, uint8_t* to, size_t n) {
    size_t got = 0;
    while (got < n) {
        const size_t r = std::fread(to + got, 1, n - got, in);
        if (r == 0) break;
        got += r;
    }
    return got;
}

// Where the audio lies and what its first bytes say.
struct InputLayout {
    bool seekable = false;
    uint64_t decodeStart = 0;  // seekable: the first byte the decoder gets
    uint64_t audioEnd = 0;     // seekable: the end of the audio, before any tags
    std::vector<uint8_t> lead; // not seekable: bytes read ahead that the decoder gets first
    int maxChannels = 0;       // seekable: the most channels of any frame
    std::unique_ptr<velora::StreamInfo> info;
    bool analysed = false;
};

// The samples per channel to leave out at the start, and where the encoded signal ends
// (-1: unknown), counted in decoded samples after the header frame. `outputPerFrame` is a
// decoded frame's length per channel, `velora` whether the stream carries the SBR layer.
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

// Finds the audio (after an ID3v2 tag, before tags at the end), reads its VBR header and,
// on a seekable input, the channels of every frame; leaves `in` where decoding starts.
bool PrepareInput(std::FILE* in, InputLayout& layout, std::string& error) {
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

}  // namespace

DecodeOutcome DecodeStream(std::FILE* in, DecodeSink& sink, const DecodeOptions& options,
                           const std::atomic<bool>& cancel, const DecodeProgress& progress) {
    DecodeOutcome outcome;
    velora::VeloradecoderPtr decoder(
        velora::Veloradecoder::Create(options.downsamplingShift, options.mono, false));
    if (!decoder) {
        outcome.error = "cannot create the decoder";
        return outcome;
    }
    InputLayout layout;
    if (!PrepareInput(in, layout, outcome.error)) return outcome;
    const velora::StreamInfo& stream = *layout.info;
    outcome.headerFrame = layout.analysed && stream.headerFrameBytes > 0;

    std::vector<uint8_t> piece(std::max(kPiece, layout.lead.size()));
    size_t pieceFill = layout.lead.size();
    size_t pieceUsed = 0;
    std::copy(layout.lead.begin(), layout.lead.end(), piece.begin());
    bool inputDone = false;
    uint64_t bytesRead = layout.decodeStart + pieceFill;
    // On a seekable input the tags at the end are not read.
    uint64_t budget = layout.seekable ? layout.audioEnd - std::min(layout.audioEnd, layout.decodeStart)
                                      : UINT64_MAX;
    // Alongside decoding, to tell a cut last frame.
    velora::FrameHeaderScan headers;
    headers.Feed(piece.data(), static_cast<int>(pieceFill));

    std::vector<int16_t> pcm(velora::kMaxFrameSamples);
    std::vector<int16_t> converted;
    std::vector<int16_t> doubled;
    RateDoubler doubler;
    bool writerOpen = false;
    bool firstHeld = false;
    velora::FrameInfo firstInfo{};
    std::vector<int16_t> first;
    // Output positions per channel: what was decoded, and the part of it that is kept.
    long long position = 0;
    long long keepFrom = 0;
    long long keepTo = -1;

    // Appends one decoded frame in the file's format.
    const auto WriteFrame = [&](const velora::FrameInfo& info, const int16_t* data, size_t samples,
                                DecodeOutcome& result) {
        // Frames at half the output rate (a Velora stream whose enhancement stopped goes on
        // at the core rate) are resampled, so that the file keeps time.
        const bool halfRate = 2 * info.outputSamplingRate == result.sampleRate;
        if (info.outputSamplingRate != result.sampleRate && !halfRate) result.rateChanged = true;
        if (info.crcError) ++result.crcErrors;
        if (info.missingMainData) ++result.concealed;
        if (info.outputChannels != result.channels) {
            if (info.outputChannels > result.channels) ++result.mixedDownFrames;
            const size_t frames = samples / static_cast<size_t>(info.outputChannels);
            ConvertChannels(data, info.outputChannels, frames, result.channels, converted);
            data = converted.data();
            samples = converted.size();
        }
        if (halfRate) {
            doubler.Double(data, result.channels, samples / static_cast<size_t>(result.channels), doubled);
            data = doubled.data();
            samples = doubled.size();
            ++result.resampledFrames;
        }
        ++result.frames;
        // Only the part between the encoder's delay and its padding.
        const size_t ch = static_cast<size_t>(result.channels);
        const long long length = static_cast<long long>(samples / ch);
        const long long from = std::clamp(keepFrom - position, 0LL, length);
        const long long to = keepTo < 0 ? length : std::clamp(keepTo - position, from, length);
        result.trimmedStart += from;
        result.trimmedEnd += length - to;
        position += length;
        if (to > from && !sink.Write(data + static_cast<size_t>(from) * ch, static_cast<size_t>(to - from) * ch)) {
            result.error = "write error";
            return false;
        }
        return true;
    };
    // Opens the file with the first frame's rate and `channels`, then writes that frame.
    const auto OpenWith = [&](const velora::FrameInfo& info, int channels, const std::vector<int16_t>& frame,
                              DecodeOutcome& result) {
        if (!sink.Open(channels, info.outputSamplingRate)) {
            result.error = "write error";
            return false;
        }
        writerOpen = true;
        result.channels = channels;
        result.sampleRate = info.outputSamplingRate;
        if (options.gapless && layout.analysed && info.outputChannels > 0) {
            const int perFrame = static_cast<int>(frame.size()) / info.outputChannels;
            GaplessRange(stream, perFrame, decoder->VeloraStream(), &keepFrom, &keepTo);
        }
        return WriteFrame(info, frame.data(), frame.size(), result);
    };
    // The file's channel count: the most any frame header names (when they could be read
    // ahead), at least what the first two frames decode to.
    const auto FileChannels = [&](int decoded) {
        return options.mono ? 1 : std::clamp(std::max(decoded, layout.maxChannels), 1, 2);
    };

    for (;;) {
        if (cancel.load()) {
            outcome.error = "interrupted";
            return outcome;
        }
        // Keep the decoder's input topped up.
        while (!inputDone) {
            if (pieceUsed == pieceFill) {
                pieceFill = budget > 0 ? std::fread(piece.data(), 1,
                                                    static_cast<size_t>(std::min<uint64_t>(budget, piece.size())), in)
                                       : 0;
                pieceUsed = 0;
                if (pieceFill == 0) {
                    if (std::ferror(in)) {
                        outcome.error = "read error";
                        return outcome;
                    }
                    inputDone = true;
                    decoder->SetEndOfData();
                    break;
                }
                budget -= pieceFill;
                bytesRead += pieceFill;
                headers.Feed(piece.data(), static_cast<int>(pieceFill));
            }
            const int taken = decoder->Feed(piece.data() + pieceUsed,
                                            static_cast<int>(pieceFill - pieceUsed));
            pieceUsed += static_cast<size_t>(taken);
            if (pieceUsed < pieceFill) break;  // the decoder is full
        }

        int written = 0;
        const velora::Mp3Ssc status =
            decoder->Decode(pcm.data(), static_cast<int>(pcm.size() * 2), &written,
                            options.enhancement, nullptr, nullptr);
        if (status == velora::kSscSyncEof) break;
        if (velora::SscIsError(status)) {
            outcome.error = velora::StatusText(status);
            return outcome;
        }
        if (!velora::SscSucceeded(status)) continue;  // needs more data

        const velora::FrameInfo& info = decoder->Info();
        // The file takes its format from the first frame, its channel count from the first
        // two as well (a Velora stream with one core channel may learn only from the second
        // frame that it plays as stereo) and from the headers read ahead.
        if (!writerOpen && !firstHeld) {
            firstInfo = info;
            first.assign(pcm.begin(), pcm.begin() + written / 2);
            firstHeld = true;
            continue;
        }
        if (!writerOpen &&
            !OpenWith(firstInfo, FileChannels(std::max(firstInfo.outputChannels, info.outputChannels)), first,
                      outcome)) {
            return outcome;
        }
        if (!WriteFrame(info, pcm.data(), static_cast<size_t>(written) / 2, outcome)) return outcome;
        if (progress && (outcome.frames % 32) == 0) progress(bytesRead, outcome.frames);
    }

    if (!writerOpen && firstHeld && !OpenWith(firstInfo, FileChannels(firstInfo.outputChannels), first, outcome)) {
        return outcome;
    }
    if (!writerOpen) {
        outcome.error = "no MPEG audio frames found";
        return outcome;
    }
    if (!sink.Finish()) {
        outcome.error = "write error";
        return outcome;
    }
    if (headers.LastFrameCut()) {
        outcome.incomplete = "the last frame is cut: " + std::to_string(headers.LastFrameBytes()) + " of " +
                             std::to_string(headers.LastFrameLength()) + " bytes";
    }
    if (progress) progress(bytesRead, outcome.frames);
    outcome.ok = true;
    return outcome;
}

DecodeOutcome DecodeToWave(std::FILE* in, std::FILE* out, const DecodeOptions& options,
                           const std::atomic<bool>& cancel, const DecodeProgress& progress) {
    class WaveSink final : public DecodeSink {
    public:
        explicit WaveSink(std::FILE* file) : file_(file) {}
        bool Open(int channels, int sampleRate) override { return writer_.Begin(file_, channels, sampleRate); }
        bool Write(const int16_t* samples, size_t count) override { return writer_.Append(samples, count); }
        bool Finish() override { return writer_.Finish(); }

    private:
        std::FILE* file_;
        WaveFileWriter writer_;
    } sink(out);
    return DecodeStream(in, sink, options, cancel, progress);
}

}  // namespace veloraplay
