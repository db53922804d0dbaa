#include "StreamDecoder.h"

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
        if (!writerOpen) {
            if (!writer.Begin(out, info.outputChannels, info.outputSamplingRate)) {
                outcome.error = "write error";
                return outcome;
            }
            writerOpen = true;
            outcome.channels = info.outputChannels;
            outcome.sampleRate = info.outputSamplingRate;
        }
        // Frames at half the rate (a Velora stream whose enhancement stopped goes on at the
        // core rate) are resampled, so that the file keeps time.
        const bool halfRate = 2 * info.outputSamplingRate == outcome.sampleRate;
        if (info.outputSamplingRate != outcome.sampleRate && !halfRate) outcome.rateChanged = true;
        if (info.crcError) ++outcome.crcErrors;
        if (info.missingMainData) ++outcome.concealed;

        const int16_t* data = pcm.data();
        size_t samples = static_cast<size_t>(written) / 2;
        if (info.outputChannels != outcome.channels) {
            const size_t frames = samples / static_cast<size_t>(info.outputChannels);
            ConvertChannels(pcm.data(), info.outputChannels, frames, outcome.channels, converted);
            data = converted.data();
            samples = converted.size();
        }
        if (halfRate) {
            doubler.Double(data, outcome.channels, samples / static_cast<size_t>(outcome.channels),
                           doubled);
            data = doubled.data();
            samples = doubled.size();
            ++outcome.resampledFrames;
        }
        const bool ok = writer.Append(data, samples);
        if (!ok) {
            outcome.error = "write error";
            return outcome;
        }
        ++outcome.frames;
        if (progress && (outcome.frames % 32) == 0) progress(bytesRead, outcome.frames);
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
