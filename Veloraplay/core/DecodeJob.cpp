#include "DecodeJob.h"

#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "FrameConverter.h"
#include "FrameHeaderScan.h"
#include "StreamLayout.h"
#include "Veloradecoder.h"
#include "WaveFileWriter.h"

namespace veloraplay {
DecodeOutcome DecodeStream(std::FILE* in, DecodeSink& sink, const DecodeOptions& options,
                           const std::atomic<bool>& cancel, const DecodeProgress& progress) {
    DecodeOutcome outcome;
    velora::VeloradecoderPtr decoder(
        velora::Veloradecoder::Create(options.downsamplingShift, options.mono, false));
    if (!decoder) {
        outcome.error = "cannot create the decoder";
        return outcome;
    }
    StreamLayout layout;
    if (!PrepareInput(in, layout, outcome.error)) return outcome;
    const velora::StreamInfo& stream = *layout.info;
    outcome.headerFrame = layout.analysed && stream.headerFrameBytes > 0;

    DecoderInput input(in, layout);
    // Alongside decoding, to tell a cut last frame.
    velora::FrameHeaderScan headers;
    input.watch(&headers);

    std::vector<int16_t> pcm(velora::kMaxFrameSamples);
    FrameConverter converter;
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
        if (info.crcError) ++result.crcErrors;
        if (info.missingMainData) ++result.concealed;
        data = converter.convert(data, samples, info.outputChannels, info.outputSamplingRate, &samples);
        result.mixedDownFrames = converter.mixedDown();
        result.resampledFrames = converter.resampled();
        result.rateChanged = converter.rateMismatch();
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
        converter.setOutput(channels, info.outputSamplingRate);
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
        if (!input.topUp(*decoder)) {
            outcome.error = "read error";
            return outcome;
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
        if (progress && (outcome.frames % 32) == 0) progress(input.position(), outcome.frames);
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
    if (progress) progress(input.position(), outcome.frames);
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
