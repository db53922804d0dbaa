#include "StreamDecoder.h"

#include <algorithm>
#include <vector>

#include "Veloradecoder.h"

namespace veloraplay {
namespace {

constexpr size_t kPiece = 4096;

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

}  // namespace

DecodeOutcome DecodeToWave(std::FILE* in, std::FILE* out, const DecodeOptions& options,
                           const std::atomic<bool>& cancel, const DecodeProgress& progress) {
    DecodeOutcome outcome;
    velora::VeloradecoderPtr decoder(
        velora::Veloradecoder::Create(options.downsamplingShift, options.mono, false));
    if (!decoder) {
        outcome.error = "cannot create the decoder";
        return outcome;
    }

    std::vector<uint8_t> piece(kPiece);
    size_t pieceFill = 0;
    size_t pieceUsed = 0;
    bool inputDone = false;
    uint64_t bytesRead = 0;
    std::vector<int16_t> pcm(velora::kMaxFrameSamples);
    std::vector<int16_t> converted;
    std::vector<int16_t> doubled;
    RateDoubler doubler;
    WaveFileWriter writer;
    bool writerOpen = false;
    bool firstHeld = false;
    velora::FrameInfo firstInfo{};
    std::vector<int16_t> first;

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
        if (!writer.Append(data, samples)) {
            result.error = "write error";
            return false;
        }
        ++result.frames;
        return true;
    };
    // Opens the file with the first frame's rate and `channels`, then writes that frame.
    const auto OpenWith = [&](const velora::FrameInfo& info, int channels, const std::vector<int16_t>& frame,
                              DecodeOutcome& result) {
        if (!writer.Begin(out, channels, info.outputSamplingRate)) {
            result.error = "write error";
            return false;
        }
        writerOpen = true;
        result.channels = channels;
        result.sampleRate = info.outputSamplingRate;
        return WriteFrame(info, frame.data(), frame.size(), result);
    };

    for (;;) {
        if (cancel.load()) {
            outcome.error = "interrupted";
            return outcome;
        }
        // Keep the decoder's input topped up.
        while (!inputDone) {
            if (pieceUsed == pieceFill) {
                pieceFill = std::fread(piece.data(), 1, piece.size(), in);
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
                bytesRead += pieceFill;
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
        // two: a Velora stream with a VBR header frame first learns from the second frame
        // that its single core channel plays as stereo.
        if (!writerOpen && !firstHeld) {
            firstInfo = info;
            first.assign(pcm.begin(), pcm.begin() + written / 2);
            firstHeld = true;
            continue;
        }
        if (!writerOpen && !OpenWith(firstInfo, std::max(firstInfo.outputChannels, info.outputChannels),
                                     first, outcome)) {
            return outcome;
        }
        if (!WriteFrame(info, pcm.data(), static_cast<size_t>(written) / 2, outcome)) return outcome;
        if (progress && (outcome.frames % 32) == 0) progress(bytesRead, outcome.frames);
    }

    if (!writerOpen && firstHeld && !OpenWith(firstInfo, firstInfo.outputChannels, first, outcome)) {
        return outcome;
    }
    if (!writerOpen) {
        outcome.error = "no MPEG audio frames found";
        return outcome;
    }
    if (!writer.Finish()) {
        outcome.error = "write error";
        return outcome;
    }
    if (progress) progress(bytesRead, outcome.frames);
    outcome.ok = true;
    return outcome;
}

}  // namespace veloraplay
