// Writes the codec fuzz targets' seed inputs, each a few frames long, so that every input of
// the starting corpus decodes in about a millisecond:
//
//   OUTDIR/decoder  pieces of the given streams and of short Velora streams the encoder makes
//                   from a test signal, each behind a configuration byte of fuzz_decoder
//   OUTDIR/stream   the same pieces behind fuzz_stream's feed byte
//   OUTDIR/sbr      the Velora streams' SBR payloads as the SBR targets read them
//
// A piece starts two frames ahead of the frame it is cut for (their main data fills the
// reservoir) and is cut at the stream's start, at evenly spaced places in its middle and
// wherever the header changes (bit rate, mode, padding), so that every coding mode of a
// stream is in some piece. A Velora piece is moved on until the decoder turns the
// enhancement on for it.
//
//   make_fuzz_seeds OUTDIR STREAM...
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "EncoderApi.h"
#include "Layer3Decoder.h"
#include "MpegStream.h"
#include "Veloradecoder.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr int kLeadFrames = 2;   // ahead of the frame a piece is cut for
constexpr int kPieceFrames = 6;  // from that frame on
constexpr int kMiddlePieces = 3;
constexpr int kHeaderChangePieces = 4;
// Fewer frames where they are long (but three at the least), within scripts/fuzz.sh's -max_len.
constexpr size_t kMaxPieceBytes = 4000;

struct Frame {
    size_t offset;
    size_t bytes;
    uint32_t word;
};

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// What the stream asks for when it wants data: the rest of the input, then the end.
void FeedMore(velora::MpegStream& stream, const Bytes& input, size_t& fed) {
    if (fed < input.size()) fed += static_cast<size_t>(stream.Feed(input.data() + fed, static_cast<int>(input.size() - fed)));
    if (fed == input.size()) stream.SetEndOfData();
}

// The frames the decoder's synchronisation finds, in order.
std::vector<Frame> ListFrames(const Bytes& input) {
    std::vector<uint8_t> storage(8192);
    velora::MpegStream stream;
    stream.Init(storage.data(), static_cast<int>(storage.size()));
    std::vector<Frame> frames;
    size_t fed = 0;
    for (long long calls = 0; calls < 100000 + 4 * static_cast<long long>(input.size()); ++calls) {
        const velora::Mp3Ssc status = stream.NextFrame();
        if (status == velora::kSscSuccess) {
            const velora::MpegHeader& h = stream.Header();
            const long long bit = static_cast<long long>(fed) * 8 - stream.Buffer().UnreadBits();
            frames.push_back({static_cast<size_t>(bit / 8), static_cast<size_t>(h.frameBits / 8), h.word});
            stream.Buffer().Skip(h.frameBits);
        } else if (status == velora::kSscSyncSearched || status == velora::kSscSyncNeedData) {
            FeedMore(stream, input, fed);
        } else if (status == velora::kSscSyncEof) {
            break;
        }
    }
    return frames;
}

// First frames of the pieces to cut: the start, the middle and the header changes.
std::vector<size_t> PieceStarts(const std::vector<Frame>& frames) {
    std::set<size_t> starts{0};
    const size_t n = frames.size();
    for (int k = 1; k <= kMiddlePieces; ++k) starts.insert(n * static_cast<size_t>(k) / (kMiddlePieces + 1));
    int changes = 0;
    for (size_t i = 1; i < n && changes < kHeaderChangePieces; ++i) {
        // Bit rate, padding and mode: the sync pattern's bits stay.
        if ((frames[i].word & 0xF3C0u) != (frames[i - 1].word & 0xF3C0u) && i > *starts.rbegin() + kPieceFrames) {
            starts.insert(i);
            ++changes;
        }
    }
    std::vector<size_t> out;
    for (size_t s : starts) {
        if (s < n) out.push_back(s);
    }
    return out;
}

Bytes Cut(const Bytes& input, const std::vector<Frame>& frames, size_t first) {
    const size_t begin = first >= kLeadFrames ? first - kLeadFrames : 0;
    size_t end = std::min(frames.size(), first + kPieceFrames);
    while (end > begin + 3 && frames[end - 1].offset + frames[end - 1].bytes - frames[begin].offset > kMaxPieceBytes)
        --end;
    if (begin >= end) return {};
    const Frame& last = frames[end - 1];
    return Bytes(input.begin() + static_cast<long>(frames[begin].offset),
                 input.begin() + static_cast<long>(last.offset + last.bytes));
}

// Whether the decoder turns the enhancement on for `piece`.
bool EnhancementOn(const Bytes& piece) {
    velora::VeloradecoderPtr decoder(velora::Veloradecoder::Create(0, false, false));
    if (!decoder) return false;
    std::vector<uint8_t> out(velora::kMaxFrameSamples * sizeof(int16_t));
    decoder->Feed(piece.data(), static_cast<int>(piece.size()));
    decoder->SetEndOfData();
    for (int calls = 0; calls < 200; ++calls) {
        int written = 0;
        const velora::Mp3Ssc status =
            decoder->Decode(out.data(), static_cast<int>(out.size()), &written, true, nullptr, nullptr);
        if (status == velora::kSscSyncEof || velora::SscIsError(status)) break;
        if (velora::SscSucceeded(status) && decoder->Info().sbrActive) return true;
    }
    return false;
}

// fuzz_decoder's configuration bytes, one after the other for the pieces of a stream:
// 4096-byte pieces as a player feeds, float output, half rate mono with a reset, a quarter
// rate with 417-byte pieces and the second decode, 29-byte pieces.
constexpr uint8_t kDecoderConfigs[] = {0x20, 0x28, 0x75, 0x92, 0x00, 0xA8};

struct Outputs {
    fs::path decoder, stream, sbr;
    int count = 0;
};

void WritePieces(const std::string& name, const Bytes& input, bool velora, Outputs& out) {
    std::vector<Frame> frames = ListFrames(input);
    if (frames.empty()) {
        // Free format, which the decoder does not take: its start still shows the search.
        frames.push_back({0, std::min(input.size(), kMaxPieceBytes), 0});
    }
    int index = 0;
    for (size_t start : PieceStarts(frames)) {
        Bytes piece = Cut(input, frames, start);
        if (velora) {
            // Moved on to a frame the probe accepts (one with its own main data and a header).
            size_t at = start;
            while (!piece.empty() && !EnhancementOn(piece) && at < start + 16) piece = Cut(input, frames, ++at);
            if (at == start + 16) continue;
        }
        if (piece.empty()) continue;
        const std::string file = name + "-" + std::to_string(index);
        Bytes decoderSeed{kDecoderConfigs[static_cast<size_t>(index) % std::size(kDecoderConfigs)]};
        decoderSeed.insert(decoderSeed.end(), piece.begin(), piece.end());
        Bytes streamSeed{static_cast<uint8_t>(index & 3)};
        streamSeed.insert(streamSeed.end(), piece.begin(), piece.end());
        if (!WriteFile(out.decoder / file, decoderSeed) || !WriteFile(out.stream / file, streamSeed)) return;
        ++index;
        ++out.count;
    }
}

// The SBR payloads of `input` frame by frame (empty where a frame carries none).
std::vector<Bytes> Payloads(const Bytes& input, std::vector<bool>& stereo) {
    std::vector<uint8_t> storage(8192);
    velora::MpegStream stream;
    stream.Init(storage.data(), static_cast<int>(storage.size()));
    velora::Layer3Decoder core;
    std::vector<float> samples(velora::kMaxFrameSamples);
    std::vector<Bytes> payloads;
    size_t fed = 0;
    for (long long calls = 0; calls < 100000; ++calls) {
        const velora::Mp3Ssc status = stream.NextFrame();
        if (status == velora::kSscSuccess) {
            const bool twoChannels = stream.Header().channels == 2;
            int coreBytes = 0;
            const velora::Mp3Ssc decoded = core.DecodeFrame(stream, samples.data(), static_cast<int>(samples.size() * sizeof(float)),
                                                            &coreBytes, nullptr, nullptr, 0, false);
            if (velora::SscIsError(decoded)) break;
            payloads.emplace_back(core.SbrPayload(), core.SbrPayload() + core.SbrPayloadLength());
            stereo.push_back(twoChannels);
        } else if (status == velora::kSscSyncSearched || status == velora::kSscSyncNeedData) {
            FeedMore(stream, input, fed);
        } else if (status == velora::kSscSyncEof) {
            break;
        }
    }
    return payloads;
}

// Runs of payloads from header frames on, in SbrFuzzFrames' layout: control (kind, stereo,
// present, CRC kept right, mono core for a mono stream), half the length, payload (padded to
// an even length).
void WriteSbrSeeds(const std::string& name, const Bytes& input, Outputs& out) {
    std::vector<bool> stereo;
    const std::vector<Bytes> payloads = Payloads(input, stereo);
    int written = 0;
    for (size_t i = 0; i < payloads.size() && written < 4; ++i) {
        if (payloads[i].empty() || (payloads[i][0] & 0x20) == 0) continue;  // no header
        if (written > 0 && i < payloads.size() * static_cast<size_t>(written) / 4) continue;
        Bytes seed;
        for (size_t k = i; k < payloads.size() && k < i + 12; ++k) {
            const Bytes& p = payloads[k];
            uint8_t control = (p.empty() ? 0x08 : 0x20) | (stereo[k] ? 0x04 : 0x40);
            if (!p.empty() && (p[0] & 0x20) != 0) control |= 0x01;
            seed.push_back(control);
            seed.push_back(static_cast<uint8_t>((p.size() + 1) / 2));
            seed.insert(seed.end(), p.begin(), p.end());
            if (p.size() % 2 != 0) seed.push_back(0);
        }
        if (!WriteFile(out.sbr / (name + "-" + std::to_string(written)), seed)) return;
        ++written;
        ++out.count;
    }
}

// A second of a test signal (tones gliding up, a little noise, the channels apart), encoded
// in the given output format; empty when the encoder does not offer it.
Bytes EncodeVelora(int rate, int channels, uint32_t mode, uint32_t bitrate) {
    using namespace velora::enc;
    Mp3EncHandle h = mp3EncOpen(rate, channels, kInputInt16);
    if (h == nullptr) return {};
    EncoderOutputFormat format;
    format.sampleRate = static_cast<uint32_t>(rate);
    format.channelMode = mode;
    format.sbrMode = kSbrModeOn;
    format.bitrate = bitrate;
    Bytes stream;
    if (mp3EncSetOutputFormat(h, &format) == 1) {
        std::vector<int16_t> pcm(static_cast<size_t>(rate * channels));
        uint32_t noise = 1;
        for (int n = 0; n < rate; ++n) {
            const double t = static_cast<double>(n) / rate;
            for (int c = 0; c < channels; ++c) {
                noise = noise * 1664525u + 1013904223u;
                const double tone = std::sin(2 * M_PI * (300.0 * (c + 1) + 2000.0 * t) * t) +
                                    0.3 * std::sin(2 * M_PI * 7000.0 * t);
                pcm[static_cast<size_t>(n * channels + c)] =
                    static_cast<int16_t>(6000.0 * tone + static_cast<int32_t>(noise) / (1 << 21));
            }
        }
        uint8_t out[kEncodeOutputBytes];
        const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
        int left = static_cast<int>(pcm.size() * sizeof(int16_t));
        for (;;) {
            int consumed = 0;
            const int n = VeloraencEncodeFrame(h, bytes, left, &consumed, out, sizeof out, 0, 0);
            if (n < 0) {
                stream.clear();
                break;
            }
            stream.insert(stream.end(), out, out + n);
            bytes += consumed;
            left -= consumed;
            if (left == 0 && n == 0) break;
        }
    }
    mp3EncClose(h);
    return stream;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_fuzz_seeds OUTDIR STREAM...\n");
        return 2;
    }
    Outputs out{fs::path(argv[1]) / "decoder", fs::path(argv[1]) / "stream", fs::path(argv[1]) / "sbr"};
    for (const fs::path& dir : {out.decoder, out.stream, out.sbr}) fs::create_directories(dir);
    for (int i = 2; i < argc; ++i) WritePieces(fs::path(argv[i]).stem().string(), ReadAll(argv[i]), false, out);

    struct VeloraFormat {
        const char* name;
        int rate, channels;
        uint32_t mode, bitrate;
    };
    const VeloraFormat formats[] = {
        {"velora-44k-stereo", 44100, 2, velora::enc::kChannelModeStereo, 64000},
        {"velora-44k-lcstereo", 44100, 2, velora::enc::kChannelModeLcStereo, 48000},
        {"velora-44k-mono", 44100, 1, velora::enc::kChannelModeMono, 32000},
        {"velora-32k-stereo", 32000, 2, velora::enc::kChannelModeStereo, 48000},
    };
    for (const VeloraFormat& f : formats) {
        const Bytes stream = EncodeVelora(f.rate, f.channels, f.mode, f.bitrate);
        if (stream.empty()) {
            std::fprintf(stderr, "make_fuzz_seeds: the encoder offers no %s at %u bit/s\n", f.name, f.bitrate);
            continue;
        }
        WritePieces(f.name, stream, true, out);
        WriteSbrSeeds(f.name, stream, out);
    }
    std::printf("make_fuzz_seeds: %d seeds in %s\n", out.count, argv[1]);
    return 0;
}
