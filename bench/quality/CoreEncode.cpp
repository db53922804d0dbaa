// Encodes raw 16-bit little-endian PCM with the Layer III core encoder into a plain mp3
// file, for the quality and speed benchmarks. Prints a one-line summary of the frame
// statistics on standard error (with --stats) and can log them per frame.
//
//   velora_core_encode IN.raw OUT.mp3 --rate R --channels C --bitrate KBPS
//                      [--vbr Q] [--quality-mode M] [--bandwidth HZ] [--no-mid-side] [--intensity]
//                      [--stats] [--frame-log FILE]
//
// IN and OUT may be "-". The input is read granule by granule, as lame reads it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CoreEncoder.h"

namespace {

using velora::enc::CoreEncoder;
using velora::enc::CoreEncoderSettings;

struct Options {
    const char* in = nullptr;
    const char* out = nullptr;
    const char* frameLog = nullptr;
    bool stats = false;
    CoreEncoderSettings settings;
};

void Usage() {
    std::fprintf(stderr,
                 "usage: velora_core_encode IN.raw OUT.mp3 --rate R --channels C --bitrate KBPS\n"
                 "                          [--vbr Q] [--quality-mode 0|1|2] [--bandwidth HZ]\n"
                 "                          [--no-mid-side] [--intensity] [--stats] [--frame-log FILE]\n"
                 "IN: raw 16-bit little-endian interleaved PCM; IN and OUT may be \"-\".\n"
                 "--vbr Q (1..100) encodes VBR and ignores --bitrate.\n");
}

bool ParseInt(const char* text, int32_t& value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < -1000000000L || v > 1000000000L) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    std::vector<const char*> positional;
    int32_t kbps = -1;
    int32_t vbr = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--rate" && hasValue) {
            if (!ParseInt(argv[++i], o.settings.sampleRate)) return false;
        } else if (arg == "--channels" && hasValue) {
            if (!ParseInt(argv[++i], o.settings.channels)) return false;
        } else if (arg == "--bitrate" && hasValue) {
            if (!ParseInt(argv[++i], kbps)) return false;
        } else if (arg == "--vbr" && hasValue) {
            if (!ParseInt(argv[++i], vbr)) return false;
        } else if (arg == "--quality-mode" && hasValue) {
            if (!ParseInt(argv[++i], o.settings.qualityMode)) return false;
        } else if (arg == "--bandwidth" && hasValue) {
            int32_t hz = 0;
            if (!ParseInt(argv[++i], hz) || hz <= 0) return false;
            o.settings.bandwidth = static_cast<float>(hz);
        } else if (arg == "--no-mid-side") {
            o.settings.allowMidSide = false;
        } else if (arg == "--intensity") {
            o.settings.allowIntensity = true;
        } else if (arg == "--stats") {
            o.stats = true;
        } else if (arg == "--frame-log" && hasValue) {
            o.frameLog = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            return false;
        } else {
            positional.push_back(argv[i]);
        }
    }
    if (positional.size() != 2) return false;
    o.in = positional[0];
    o.out = positional[1];
    if (vbr > 0) {
        o.settings.bitrate = 0;
        o.settings.vbrQuality = vbr;
    } else {
        if (kbps <= 0) return false;
        o.settings.bitrate = kbps * 1000;
    }
    return true;
}

// Fills `out` with up to `count` samples from `f` (as floats); the number read.
size_t ReadSamples(FILE* f, float* out, size_t count) {
    uint8_t bytes[2 * 576 * 2];
    const size_t got = std::fread(bytes, 2, count, f);
    for (size_t i = 0; i < got; ++i)
        out[i] = static_cast<float>(static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8))));
    return got;
}

struct Totals {
    long frames = 0;
    long midSide = 0;
    long shortBlocks = 0;
    long blocks = 0;
    long bandsOver = 0;
    long bandsJudged = 0;
    long bandsOverMask = 0;
    double overNoiseDb = 0.0;
    double usedBits = 0.0;
    long bitrateIndexSum = 0;
    long streamBytes = 0;
};

// Header and side information of a frame, in bits: what the main data cannot use.
int FrameOverheadBits(const CoreEncoderSettings& s) {
    const bool mpeg1 = s.sampleRate >= 32000;
    const int side = mpeg1 ? (s.channels == 1 ? 17 : 32) : (s.channels == 1 ? 9 : 17);
    return 32 + (s.crc ? 16 : 0) + 8 * side;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        Usage();
        return 2;
    }
    FILE* in = std::strcmp(o.in, "-") == 0 ? stdin : std::fopen(o.in, "rb");
    if (in == nullptr) {
        std::fprintf(stderr, "velora_core_encode: cannot read %s\n", o.in);
        return 1;
    }
    // The encoder object is large (its frame state); keep it off the stack.
    auto encoder = std::make_unique<CoreEncoder>();
    if (!encoder->Init(o.settings)) {
        std::fprintf(stderr, "velora_core_encode: the encoder refuses rate %d, %d channels, %d bit/s\n",
                     o.settings.sampleRate, o.settings.channels, o.settings.bitrate);
        return 1;
    }
    FILE* out = std::strcmp(o.out, "-") == 0 ? stdout : std::fopen(o.out, "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "velora_core_encode: cannot write %s\n", o.out);
        return 1;
    }
    FILE* log = nullptr;
    if (o.frameLog != nullptr) {
        log = std::fopen(o.frameLog, "w");
        if (log == nullptr) {
            std::fprintf(stderr, "velora_core_encode: cannot write %s\n", o.frameLog);
            return 1;
        }
        std::fprintf(log, "# frame start_s bitrate_index used_bits mid_side block_types over_noise_db bands_over\n");
    }

    const int channels = o.settings.channels;
    const size_t granuleSamples = static_cast<size_t>(576 * channels);
    const int perFrame = encoder->GranulesPerFrame();
    std::vector<float> granule(granuleSamples);
    std::vector<uint8_t> bytes(static_cast<size_t>(encoder->MaxFrameBytes()) * 4 + 4096);
    Totals t;
    bool written = true;
    size_t inputSamples = 0;
    bool ended = false;
    // After the input, silence until its last samples are out through the encoder's delay,
    // in whole frames: a granule that completes no frame would be lost.
    for (size_t g = 0;; ++g) {
        if (ended && g * granuleSamples >= inputSamples + static_cast<size_t>(CoreEncoder::kDelay * channels) &&
            g % static_cast<size_t>(perFrame) == 0)
            break;
        const size_t got = ended ? 0 : ReadSamples(in, granule.data(), granuleSamples);
        inputSamples += got;
        if (got < granuleSamples) {
            ended = true;
            std::fill(granule.begin() + static_cast<long>(got), granule.end(), 0.0f);
        }
        if (!encoder->EncodeGranule(granule.data())) {
            std::fprintf(stderr, "velora_core_encode: the encoder failed at granule %zu\n", g);
            return 1;
        }
        if ((g + 1) % static_cast<size_t>(perFrame) == 0) {
            const CoreEncoder::FrameStats& s = encoder->LastFrame();
            ++t.frames;
            t.midSide += s.midSide ? 1 : 0;
            for (int k = 0; k < perFrame; ++k)
                for (int ch = 0; ch < channels; ++ch) {
                    ++t.blocks;
                    t.shortBlocks += s.blockType[k][ch] == velora::enc::kBlockShort ? 1 : 0;
                }
            t.bandsOver += s.bandsOver;
            t.bandsJudged += s.bandsJudged;
            t.bandsOverMask += s.bandsOverMask;
            t.overNoiseDb += static_cast<double>(s.overNoiseDb);
            t.usedBits += s.usedBits;
            t.bitrateIndexSum += s.bitrateIndex;
            if (log != nullptr) {
                // A frame's first output sample is its index times its length; the input
                // sample there is kDelay earlier.
                const long frame = t.frames - 1;
                const double start = static_cast<double>(frame * encoder->SamplesPerFrame() - CoreEncoder::kDelay) /
                                     o.settings.sampleRate;
                std::fprintf(log, "%ld %.4f %d %d %d ", frame, start, s.bitrateIndex, s.usedBits, s.midSide ? 1 : 0);
                for (int k = 0; k < perFrame; ++k)
                    for (int ch = 0; ch < channels; ++ch) std::fprintf(log, "%d", s.blockType[k][ch]);
                std::fprintf(log, " %.2f %d\n", static_cast<double>(s.overNoiseDb), s.bandsOver);
            }
        }
        const int n = encoder->Emit(bytes.data(), static_cast<int>(bytes.size()));
        written = written && std::fwrite(bytes.data(), 1, static_cast<size_t>(n), out) == static_cast<size_t>(n);
        t.streamBytes += n;
    }
    const bool readError = std::ferror(in) != 0;
    if (in != stdin) std::fclose(in);
    if (readError) {
        std::fprintf(stderr, "velora_core_encode: reading %s failed\n", o.in);
        return 1;
    }
    if (!encoder->Flush()) {
        std::fprintf(stderr, "velora_core_encode: the last frames could not be completed\n");
        return 1;
    }
    int n = 0;
    while ((n = encoder->Emit(bytes.data(), static_cast<int>(bytes.size()))) > 0) {
        written = written && std::fwrite(bytes.data(), 1, static_cast<size_t>(n), out) == static_cast<size_t>(n);
        t.streamBytes += n;
    }
    if (out != stdout) written = std::fclose(out) == 0 && written;
    else written = std::fflush(out) == 0 && written;
    if (log != nullptr) std::fclose(log);
    if (!written) {
        std::fprintf(stderr, "velora_core_encode: writing %s failed\n", o.out);
        return 1;
    }
    if (o.stats && t.frames > 0) {
        const double frames = static_cast<double>(t.frames);
        std::fprintf(stderr,
                     "velora_core_encode: %ld frames, bandwidth %.0f Hz, mid/side %.1f %%, short blocks %.1f %%, "
                     "main data %.0f of %.0f bits/frame, bands over %.2f/frame, over-noise %.2f dB/frame, "
                     "mean bit-rate index %.2f, bands over the model's mask %.1f %%\n",
                     t.frames, static_cast<double>(encoder->Bandwidth()), 100.0 * static_cast<double>(t.midSide) / frames,
                     100.0 * static_cast<double>(t.shortBlocks) / static_cast<double>(t.blocks), t.usedBits / frames,
                     8.0 * static_cast<double>(t.streamBytes) / frames - FrameOverheadBits(o.settings),
                     static_cast<double>(t.bandsOver) / frames, t.overNoiseDb / frames,
                     static_cast<double>(t.bitrateIndexSum) / frames,
                     t.bandsJudged > 0 ? 100.0 * static_cast<double>(t.bandsOverMask) / static_cast<double>(t.bandsJudged)
                                       : 0.0);
    }
    return 0;
}
