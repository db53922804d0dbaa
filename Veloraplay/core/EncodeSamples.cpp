#include "EncodeSamples.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "DefaultTag.h"

namespace veloraplay {
namespace {

namespace enc = velora::enc;

// 576 frames a read: what EncodeWaveFile's 2304-byte chunks hold of two 16-bit channels.
constexpr long kChunkFrames = 576;

struct HandleCloser {
    void operator()(enc::Mp3EncInstance* h) const { enc::mp3EncClose(h); }
};
using EncoderHandle = std::unique_ptr<enc::Mp3EncInstance, HandleCloser>;

bool WriteAll(std::FILE* out, const uint8_t* bytes, size_t n) { return n == 0 || std::fwrite(bytes, 1, n, out) == n; }

}  // namespace

std::vector<int> InputRatesFor(int channels, const EncodeOptions& options) {
    std::vector<int> rates;
    for (int rate : kEncoderInputRates) {
        EncoderHandle h(enc::mp3EncOpen(rate, channels, enc::kInputFloat32));
        enc::EncoderOutputFormat f = RequestedOutputFormat(options, channels);
        if (h && enc::mp3EncSetOutputFormat(h.get(), &f) == 1) rates.push_back(rate);
    }
    return rates;
}

SampleEncodeOutcome EncodeSamples(SampleSource& source, std::FILE* out, const EncodeOptions& options,
                                  const uint8_t* tag, const std::atomic<bool>& cancel, const SampleProgress& progress) {
    SampleEncodeOutcome r;
    const auto Failed = [&r](EncodeFailure failure, std::string error) -> SampleEncodeOutcome& {
        r.failure = failure;
        r.error = std::move(error);
        return r;
    };
    const auto OutputFailed = [&r](const std::string& what = std::string()) -> SampleEncodeOutcome& {
        r.failure = EncodeFailure::Output;
        r.error = what + std::strerror(errno);
        r.outputError = true;
        return r;
    };
    r.inputRate = source.Rate();
    r.inputChannels = source.Channels();
    EncoderHandle h(OpenEncoderFor(options, enc::kInputFloat32, r));
    if (!h) return r;

    std::vector<uint8_t> output(kEncodeOutputBytes);
    const int headerBytes = enc::mp3EncGetVbrHeader(h.get(), output.data(), kEncodeOutputBytes);
    const bool seekable = std::ftell(out) >= 0;
    if (!WriteAll(out, output.data(), static_cast<size_t>(headerBytes))) return OutputFailed();

    const uint64_t total = source.TotalFrames();
    const size_t frameBytes = static_cast<size_t>(r.inputChannels) * sizeof(float);
    std::vector<float> chunk(static_cast<size_t>(kChunkFrames * r.inputChannels));
    size_t pending = 0;  // bytes
    size_t offset = 0;
    bool ended = false;
    for (;;) {
        if (cancel.load()) return Failed(EncodeFailure::Interrupted, "interrupted");
        if (pending == 0 && !ended) {
            const long n = source.Read(chunk.data(), kChunkFrames);
            if (n < 0) return Failed(EncodeFailure::Input, source.Error());
            ended = n == 0;
            pending = static_cast<size_t>(n) * frameBytes;
            offset = 0;
            r.frames += static_cast<uint64_t>(n);
            if (progress) progress(r.frames, total);
        }
        int consumed = 0;
        const int n = enc::VeloraencEncodeFrame(h.get(), reinterpret_cast<const uint8_t*>(chunk.data()) + offset,
                                                static_cast<int>(pending), &consumed, output.data(), kEncodeOutputBytes, 0, 0);
        if (n < 0) {
            // What was written so far still becomes a complete, tagged file.
            Failed(EncodeFailure::EncodeFrame, "the encoder failed");
            break;
        }
        pending -= static_cast<size_t>(consumed);
        offset += static_cast<size_t>(consumed);
        if (!WriteAll(out, output.data(), static_cast<size_t>(n))) return OutputFailed();
        if (pending == 0 && ended && n == 0 && consumed == 0) break;
    }

    if (tag != nullptr && !WriteAll(out, tag, velora::kDefaultTagBytes)) return OutputFailed();
    if (headerBytes > 0 && !seekable) {
        r.vbrHeaderNotRewritten = true;
    } else if (headerBytes > 0) {
        const int finalBytes = enc::mp3EncGetVbrHeader(h.get(), output.data(), kEncodeOutputBytes);
        switch (RewriteVbrHeader(out, output.data(), finalBytes, headerBytes)) {
            case HeaderRewrite::Done: break;
            case HeaderRewrite::LengthChanged: return Failed(EncodeFailure::Output, "the VBR header changed its length");
            case HeaderRewrite::WriteFailed: return OutputFailed("cannot rewrite the VBR header: ");
        }
    }
    r.ok = r.failure == EncodeFailure::None;
    return r;
}

}  // namespace veloraplay
