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
        if (info.outputSamplingRate != outcome.sampleRate) outcome.rateChanged = true;
        if (info.crcError) ++outcome.crcErrors;
        if (info.missingMainData) ++outcome.concealed;

        const size_t samples = static_cast<size_t>(written) / 2;
        bool ok = true;
        if (info.outputChannels == outcome.channels) {
            ok = writer.Append(pcm.data(), samples);
        } else {
            const size_t frames = samples / static_cast<size_t>(info.outputChannels);
            ConvertChannels(pcm.data(), info.outputChannels, frames, outcome.channels, converted);
            ok = writer.Append(converted.data(), converted.size());
        }
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
