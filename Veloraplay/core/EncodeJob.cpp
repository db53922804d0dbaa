#include "EncodeJob.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "DefaultTag.h"
#include "EncoderApi.h"
#include "WaveInputFile.h"

namespace veloraplay {
namespace {

namespace enc = velora::enc;

constexpr size_t kChunkBytes = 2304;
constexpr int kCandidateKbps[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};

struct HandleCloser {
    void operator()(enc::Mp3EncInstance* h) const { enc::mp3EncClose(h); }
};
using EncoderHandle = std::unique_ptr<enc::Mp3EncInstance, HandleCloser>;

enc::EncoderOutputFormat FormatFor(const EncodeOptions& o, int channels) {
    enc::EncoderOutputFormat f;
    f.sampleRate = 0;
    f.channelMode = o.channelMode != 0 ? o.channelMode
                                       : (channels == 2 ? enc::kChannelModeStereo : enc::kChannelModeMono);
    f.sbrMode = o.sbr ? enc::kSbrModeOn : enc::kSbrModeOff;
    f.bitrate = static_cast<uint32_t>(o.bitrateKbps) * 1000u;
    f.vbrQuality = static_cast<uint32_t>(o.vbrQuality);
    return f;
}

// The bit rates the encoder takes with these options otherwise, asked as EncodeWaveFile asks.
std::vector<int> AcceptedKbps(enc::Mp3EncInstance* h, EncodeOptions o, int channels) {
    std::vector<int> accepted;
    for (int kbps : kCandidateKbps) {
        o.bitrateKbps = kbps;
        enc::EncoderOutputFormat f = FormatFor(o, channels);
        if (enc::mp3EncSetOutputFormat(h, &f) == 1) accepted.push_back(kbps);
    }
    return accepted;
}

std::string List(const std::vector<int>& values, const char* unit) {
    std::string s;
    for (size_t i = 0; i < values.size(); ++i) s += (i > 0 ? ", " : "") + std::to_string(values[i]);
    return s + unit;
}

const char* ModeName(uint32_t mode) {
    switch (mode) {
        case enc::kChannelModeMono: return "mono";
        case enc::kChannelModeStereo: return "stereo";
        case enc::kChannelModeLcStereo: return "lc";
        case enc::kChannelModeDualMono: return "dual";
        default: return "automatic";
    }
}

// What the encoder made of a request, as an operating point.
OperatingPoint PointOf(bool vbr, int rate, int channels, const enc::EncoderOutputFormat& f, int kbps) {
    OperatingPoint p;
    p.vbr = vbr;
    p.inputRate = rate;
    p.channels = channels;
    p.channelMode = f.channelMode;
    p.sbr = f.sbrMode == enc::kSbrModeOn;
    p.kbps = kbps;
    p.outputRate = static_cast<int>(f.sampleRate);
    return p;
}

// The constant-bit-rate points the encoder takes with `o` at each candidate bit rate.
std::vector<OperatingPoint> CbrPoints(enc::Mp3EncInstance* h, EncodeOptions o, int rate, int channels) {
    std::vector<OperatingPoint> points;
    for (int kbps : kCandidateKbps) {
        o.bitrateKbps = kbps;
        enc::EncoderOutputFormat f = FormatFor(o, channels);
        if (enc::mp3EncSetOutputFormat(h, &f) == 1) points.push_back(PointOf(false, rate, channels, f, kbps));
    }
    return points;
}

bool WriteAll(std::FILE* out, const uint8_t* bytes, size_t n) { return n == 0 || std::fwrite(bytes, 1, n, out) == n; }

}  // namespace

std::vector<OperatingPoint> ListOperatingPoints(int vbrKbps) {
    std::vector<OperatingPoint> points;
    const auto add = [&points](const OperatingPoint& p) {
        if (std::find(points.begin(), points.end(), p) == points.end()) points.push_back(p);
    };
    for (int rate : kEncoderInputRates) {
        for (int channels = 1; channels <= 2; ++channels) {
            EncoderHandle h(enc::mp3EncOpen(rate, channels, enc::kInputInt16));
            if (!h) continue;
            const auto PointFor = [rate, channels](bool vbr, const enc::EncoderOutputFormat& f, int kbps) {
                return PointOf(vbr, rate, channels, f, kbps);
            };
            for (uint32_t mode = enc::kChannelModeMono; mode <= enc::kChannelModeDualMono; ++mode) {
                for (const bool sbr : {true, false}) {
                    EncodeOptions o;
                    o.channelMode = mode;
                    o.sbr = sbr;
                    for (const OperatingPoint& p : CbrPoints(h.get(), o, rate, channels)) add(p);
                    // VBR: a point per contiguous range of accepted qualities with the same result.
                    o.bitrateKbps = vbrKbps;
                    OperatingPoint range;
                    bool inRange = false;
                    for (int q = 1; q <= 101; ++q) {
                        o.vbrQuality = q <= 100 ? q : 0;
                        enc::EncoderOutputFormat f = FormatFor(o, channels);
                        const bool ok = q <= 100 && enc::mp3EncSetOutputFormat(h.get(), &f) == 1;
                        OperatingPoint p = ok ? PointFor(true, f, vbrKbps) : OperatingPoint{};
                        if (inRange) {
                            p.qualityLow = range.qualityLow;
                            p.qualityHigh = range.qualityHigh;
                            if (ok && p == range) {
                                range.qualityHigh = q;
                                continue;
                            }
                            add(range);
                            inRange = false;
                        }
                        if (ok) {
                            range = PointFor(true, f, vbrKbps);
                            range.qualityLow = range.qualityHigh = q;
                            inRange = true;
                        }
                    }
                }
            }
        }
    }
    return points;
}

std::string FormatOperatingPoint(const OperatingPoint& p) {
    std::string line = std::string(p.vbr ? "vbr" : "cbr") + " in=" + std::to_string(p.inputRate) +
                       " ch=" + std::to_string(p.channels) + " mode=" + ModeName(p.channelMode) +
                       " sbr=" + (p.sbr ? "on" : "off");
    if (p.vbr) {
        return line + " q=" + std::to_string(p.qualityLow) + ".." + std::to_string(p.qualityHigh) +
               " out=" + std::to_string(p.outputRate) + " kbps=" + std::to_string(p.kbps);
    }
    return line + " kbps=" + std::to_string(p.kbps) + " out=" + std::to_string(p.outputRate);
}

enc::EncoderOutputFormat RequestedOutputFormat(const EncodeOptions& options, int channels) {
    return FormatFor(options, channels);
}

enc::Mp3EncHandle OpenEncoderFor(const EncodeOptions& options, int sampleFormat, EncodeOutcome& r) {
    const auto fail = [&r](EncodeFailure failure, std::string error) -> enc::Mp3EncHandle {
        r.failure = failure;
        r.error = std::move(error);
        return nullptr;
    };
    const std::string input = std::to_string(r.inputRate) + " Hz, " + std::to_string(r.inputChannels) +
                              (r.inputChannels == 1 ? " channel" : " channels");

    EncoderHandle h(enc::mp3EncOpen(r.inputRate, r.inputChannels, sampleFormat));
    if (!h) {
        return fail(EncodeFailure::EncoderOpen, "no operating point for " + input + " input; supported: " +
                                                      DescribeOperatingPoints(r.inputRate, r.inputChannels, options));
    }
    enc::EncoderOutputFormat format = FormatFor(options, r.inputChannels);
    const std::string asked = std::to_string(options.bitrateKbps) + " kbit/s " + ModeName(format.channelMode) +
                              (options.sbr ? "" : " without SBR") +
                              (options.vbrQuality != 0 ? ", VBR quality " + std::to_string(options.vbrQuality) : "");
    if (enc::mp3EncSetOutputFormat(h.get(), &format) != 1) {
        return fail(EncodeFailure::OutputFormat, asked + " is not offered for " + input + " input; offered for it: " +
                                                       DescribeOperatingPoints(r.inputRate, r.inputChannels, options));
    }
    r.outputRate = static_cast<int>(format.sampleRate);
    r.sbr = format.sbrMode == enc::kSbrModeOn;
    enc::EncoderConfiguration* config = enc::mp3EncGetConfiguration(h.get());
    enc::EncoderConfiguration edited = *config;
    edited.qualityMode = options.qualityMode;
    edited.intensityStereo = options.intensityStereo ? 1 : 0;
    if (enc::mp3EncSetConfiguration(h.get(), &edited) != 1) {
        return fail(EncodeFailure::Configuration,
                      "the encoder refused quality mode " + std::to_string(options.qualityMode));
    }
    return h.release();
}

std::string DescribeOperatingPoints(int inputRate, int channels, const EncodeOptions& asked) {
    EncoderHandle h(enc::mp3EncOpen(inputRate, channels, enc::kInputInt16));
    if (!h) {
        std::vector<int> rates;
        for (int rate : kEncoderInputRates)
            if (EncoderHandle(enc::mp3EncOpen(rate, channels, enc::kInputInt16))) rates.push_back(rate);
        return "input rates " + List(rates, " Hz") + " with " + std::to_string(channels) +
               (channels == 1 ? " channel" : " channels");
    }
    // Only the bit rate changes: with VBR, the rates its selection may start from.
    const std::vector<int> bitrates = AcceptedKbps(h.get(), asked, channels);
    const std::string what = std::string(ModeName(FormatFor(asked, channels).channelMode)) +
                             (asked.sbr ? "" : " without SBR") +
                             (asked.vbrQuality != 0 ? " at VBR quality " + std::to_string(asked.vbrQuality) : "");
    if (!bitrates.empty()) return List(bitrates, " kbit/s") + " " + what;
    // Nothing in this mode: the modes that have bit rates with the same SBR request.
    std::string text = "no bit rate for " + what;
    for (uint32_t mode = enc::kChannelModeMono; mode <= enc::kChannelModeDualMono; ++mode) {
        EncodeOptions o = asked;
        o.channelMode = mode;
        const std::vector<int> rates = AcceptedKbps(h.get(), o, channels);
        if (rates.empty()) continue;
        text += std::string("; ") + List(rates, " kbit/s ") + ModeName(mode) + (asked.sbr ? "" : " without SBR");
    }
    return text;
}

bool OfferedOperatingPoints(int inputRate, int channels, uint32_t channelMode, std::vector<OperatingPoint>& points) {
    points.clear();
    EncoderHandle h(enc::mp3EncOpen(inputRate, channels, enc::kInputInt16));
    if (!h) return false;
    EncodeOptions o;
    o.channelMode = channelMode;
    o.sbr = true;
    points = CbrPoints(h.get(), o, inputRate, channels);
    return true;
}

HeaderRewrite RewriteVbrHeader(std::FILE* out, const uint8_t* header, int length, int placeholderLength) {
    if (length != placeholderLength || length <= 0) return HeaderRewrite::LengthChanged;
    if (std::fflush(out) != 0 || std::fseek(out, 0, SEEK_SET) != 0 ||
        !WriteAll(out, header, static_cast<size_t>(length)) || std::fseek(out, 0, SEEK_END) != 0) {
        return HeaderRewrite::WriteFailed;
    }
    return HeaderRewrite::Done;
}

EncodeOutcome EncodeWaveFile(const std::string& inputPath, std::FILE* out, const EncodeOptions& options,
                             const std::atomic<bool>& cancel, const EncodeProgress& progress) {
    class ProgressOnly final : public EncodeObserver {
      public:
        explicit ProgressOnly(const EncodeProgress& progress) : progress_(progress) {}
        void chunkRead(uint64_t bytesRead, uint64_t totalBytes) override {
            if (progress_) progress_(bytesRead, totalBytes);
        }
        void encoded(const uint8_t*, size_t) override {}

      private:
        const EncodeProgress& progress_;
    } observer(progress);
    return EncodeWaveFile(inputPath, out, options, cancel, observer);
}

EncodeOutcome EncodeWaveFile(const std::string& inputPath, std::FILE* out, const EncodeOptions& options,
                             const std::atomic<bool>& cancel, EncodeObserver& observer) {
    EncodeOutcome r;
    const auto Failed = [&r](EncodeFailure failure, std::string error) -> EncodeOutcome& {
        r.failure = failure;
        r.error = std::move(error);
        return r;
    };
    const auto OutputFailed = [&r](const std::string& what = std::string()) -> EncodeOutcome& {
        r.failure = EncodeFailure::Output;
        r.error = what + std::strerror(errno);
        r.outputError = true;
        return r;
    };
    velora::WaveInputFile wave;
    if (!wave.Open(inputPath)) {
        return Failed(EncodeFailure::Input,
                      "not a supported input (" + wave.FailureReason() +
                          "); only 16-bit linear PCM RIFF/WAVE files with one or two channels are accepted");
    }
    r.inputRate = wave.SampleRate();
    r.inputChannels = wave.Channels();
    EncoderHandle h(OpenEncoderFor(options, enc::kInputInt16, r));
    if (!h) return r;

    std::vector<uint8_t> output(kEncodeOutputBytes);
    const int headerBytes = out ? enc::mp3EncGetVbrHeader(h.get(), output.data(), kEncodeOutputBytes) : 0;
    // The header frame is rewritten at the end, so a VBR file needs an output that can seek.
    if (headerBytes > 0 && std::ftell(out) < 0) return OutputFailed("a VBR file needs an output that can seek: ");
    if (!WriteAll(out, output.data(), static_cast<size_t>(headerBytes))) {
        return OutputFailed();
    }

    // Whole sample frames of two 16-bit channels: the data is read up to a multiple of 4.
    const uint64_t total = wave.DataBytes() / 4 * 4;
    uint64_t read = 0;
    std::vector<uint8_t> chunk(kChunkBytes);
    size_t pending = 0;
    size_t offset = 0;
    for (;;) {
        if (cancel.load()) return Failed(EncodeFailure::Interrupted, "interrupted");
        if (pending == 0 && read < total) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunkBytes, total - read));
            pending = wave.Read(chunk.data(), want);
            offset = 0;
            read += pending;
            if (pending < want) read = total;  // the file ended early
            observer.chunkRead(read, total);
        }
        int consumed = 0;
        const int n = enc::VeloraencEncodeFrame(h.get(), chunk.data() + offset, static_cast<int>(pending), &consumed,
                                                output.data(), kEncodeOutputBytes, 0, 0);
        if (n < 0) {
            // What was written so far still becomes a complete, tagged file.
            Failed(EncodeFailure::EncodeFrame, "the encoder failed");
            break;
        }
        pending -= static_cast<size_t>(consumed);
        offset += static_cast<size_t>(consumed);
        if (out && !WriteAll(out, output.data(), static_cast<size_t>(n))) {
            return OutputFailed();
        }
        if (n > 0) observer.encoded(output.data(), static_cast<size_t>(n));
        if (pending == 0 && read >= total && n == 0 && consumed == 0) break;
    }

    // A data chunk that claims more than the file holds, or a file cut short: what there is
    // was encoded, and the caller is told what was not.
    const uint64_t present = wave.Position() < total ? wave.Position() : wave.DataBytes();
    if (r.failure == EncodeFailure::None && wave.DeclaredDataBytes() > present) {
        r.incomplete = "the data chunk is " + std::to_string(wave.DeclaredDataBytes() - present) +
                       " bytes short: it claims " + std::to_string(wave.DeclaredDataBytes()) +
                       ", the file holds " + std::to_string(present) + "; encoded what there is";
    }
    if (!out) {
        r.ok = r.failure == EncodeFailure::None;
        return r;
    }

    uint8_t tag[velora::kDefaultTagBytes];
    const int tagBytes = velora::BuildDefaultTag(tag, sizeof(tag), inputPath);
    if (!WriteAll(out, tag, static_cast<size_t>(tagBytes))) {
        return OutputFailed();
    }
    if (headerBytes > 0) {
        const int finalBytes = enc::mp3EncGetVbrHeader(h.get(), output.data(), kEncodeOutputBytes);
        switch (RewriteVbrHeader(out, output.data(), finalBytes, headerBytes)) {
            case HeaderRewrite::Done: break;
            case HeaderRewrite::LengthChanged:
                return Failed(EncodeFailure::Output, "the VBR header changed its length");
            case HeaderRewrite::WriteFailed: return OutputFailed("cannot rewrite the VBR header: ");
        }
    }
    r.ok = r.failure == EncodeFailure::None;
    return r;
}

}  // namespace veloraplay
