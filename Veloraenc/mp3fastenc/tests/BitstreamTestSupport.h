// Test support for the bitstream writer: synthetic quantised granules, streams written from
// them, and a reader that takes written streams apart with the decoder's own header, side
// information, scale-factor and Huffman routines.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "BitBuffer.h"
#include "FrameWriter.h"
#include "HuffmanCoder.h"
#include "Layer3Decoder.h"
#include "Layer3Granule.h"
#include "Layer3Tables.h"
#include "MpegHeader.h"
#include "MpegStream.h"
#include "ScaleFactors.h"
#include "ScalefactorCoder.h"
#include "SideInfo.h"
#include "SpectrumDecoder.h"
#include "Veloradecoder.h"

namespace velora::enc::test {

// ---------------------------------------------------------------------------------------
// Synthetic granules

enum class Shape {
    kZero,        // all lines 0
    kCount1Only,  // magnitudes up to 1
    kDecaying,    // large at low lines, falling towards the top, like music
    kEscapes,     // a few values up to 8206 among small ones
    kMixed,       // bands of random sizes, every table range
};

inline int RandomInt(std::mt19937& rng, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
}

inline int32_t WithRandomSign(std::mt19937& rng, int magnitude) {
    return RandomInt(rng, 0, 1) != 0 ? -magnitude : magnitude;
}

// Largest magnitudes of the table-choice rows, so that every row is hit.
constexpr int kRowMaxima[] = {1,  2,  3,  5,   7,   15,  16,   18,   22,
                              30, 46, 78, 142, 270, 526, 1038, 2062, 8206};

inline void FillValues(std::mt19937& rng, Shape shape, int32_t* values) {
    std::fill(values, values + kGranuleLines, 0);
    if (shape == Shape::kZero) return;
    const int top = RandomInt(rng, 4, kGranuleLines);
    switch (shape) {
        case Shape::kCount1Only:
            for (int i = 0; i < top; ++i)
                values[i] = RandomInt(rng, 0, 3) == 0 ? WithRandomSign(rng, 1) : 0;
            break;
        case Shape::kDecaying: {
            const double start = RandomInt(rng, 2, 40);
            for (int i = 0; i < top; ++i) {
                const double scale = start * (1.0 - static_cast<double>(i) / top) + 0.3;
                std::exponential_distribution<double> e(1.0 / scale);
                values[i] =
                    WithRandomSign(rng, std::min(kMaxCodableValue, static_cast<int>(e(rng))));
            }
            break;
        }
        case Shape::kEscapes:
            for (int i = 0; i < top; ++i)
                values[i] =
                    RandomInt(rng, 0, 2) == 0 ? WithRandomSign(rng, RandomInt(rng, 0, 3)) : 0;
            for (int k = RandomInt(rng, 1, 6); k > 0; --k)
                values[RandomInt(rng, 0, top - 1)] =
                    WithRandomSign(rng, RandomInt(rng, 15, kMaxCodableValue));
            values[RandomInt(rng, 0, top - 1)] = WithRandomSign(rng, kMaxCodableValue);
            break;
        default: {
            int i = 0;
            while (i < top) {
                const int width = RandomInt(rng, 2, 40);
                const int maxValue =
                    kRowMaxima[RandomInt(rng, 0, static_cast<int>(std::size(kRowMaxima)) - 1)];
                // Most lines small, so that a band's size is its few large values.
                for (int k = 0; k < width && i < top; ++k, ++i) {
                    const int m = RandomInt(rng, 0, 7) == 0
                                      ? RandomInt(rng, 0, maxValue)
                                      : RandomInt(rng, 0, std::min(maxValue, 3));
                    values[i] = WithRandomSign(rng, m);
                }
            }
            break;
        }
    }
}

// Random side fields and scale factors that the MPEG-1 or MPEG-2 groups can carry.
inline void FillScalefactors(std::mt19937& rng, int version, bool intensityChannel,
                             QuantisedGranule& g) {
    std::fill(std::begin(g.scalefactors), std::end(g.scalefactors), 0);
    const bool shortBlock = g.blockType == kBlockShort;
    const int count = shortBlock ? 36 : 21;
    const int maxWidth = RandomInt(rng, 0, 3);
    for (int i = 0; i < count; ++i) {
        int limit = (1 << maxWidth) - 1;
        if (version == 0) limit = std::min(limit, i < (shortBlock ? 18 : 11) ? 15 : 7);
        if (version != 0 && g.preflag != 0)
            limit = std::min(limit, i < (shortBlock ? 18 : 11) ? 7 : 3);
        if (version != 0 && intensityChannel) limit = std::min(limit, 7);
        g.scalefactors[i] = RandomInt(rng, 0, limit);
    }
}

inline void FillSideFields(std::mt19937& rng, bool shortBlocks, int lowestGain, int highestGain,
                           QuantisedGranule& g) {
    g.blockType = shortBlocks ? RandomInt(rng, 0, 3) : kBlockLong;
    g.globalGain = RandomInt(rng, lowestGain, highestGain);
    g.scalefacScale = RandomInt(rng, 0, 1);
    g.preflag = g.blockType == kBlockShort || g.intensityChannel ? 0 : RandomInt(rng, 0, 1);
    g.intensityScale = g.intensityChannel ? RandomInt(rng, 0, 1) : 0;
    for (int w = 0; w < kShortWindows; ++w)
        g.subblockGain[w] = g.blockType == kBlockShort ? RandomInt(rng, 0, 7) : 0;
}

// Lowers the top of the spectrum until scale factors and Huffman data fit `budget` bits, as
// a quantiser with too few bits would; with nothing left, the scale factors go too.
inline int FitToBudget(const SpectrumCoder& coder, int version, QuantisedGranule& g, int budget) {
    int top = kGranuleLines;
    for (;;) {
        const int bits = ScalefactorBits(g, version, g.intensityChannel) +
                         coder.CountBits(g.values, g.blockType);
        if (bits <= budget && bits <= kMaxGranuleBits) return bits;
        if (top == 0) {
            std::fill(std::begin(g.scalefactors), std::end(g.scalefactors), 0);
            return ScalefactorBits(g, version, g.intensityChannel);
        }
        while (top > 0 && g.values[top - 1] == 0) --top;
        const int cut = std::max(2, top / 8);
        for (int i = std::max(0, top - cut); i < top; ++i) g.values[i] = 0;
        top = std::max(0, top - cut);
    }
}

// ---------------------------------------------------------------------------------------
// Streams written by the frame writer

struct StreamOptions {
    int version = 0;
    int samplingIndex = 0;
    int channelMode = 1;
    int bitrateIndex = 9;
    bool crc = false;
    int frames = 24;
    bool shortBlocks = true;   // also window switching granules
    bool sbrPayloads = false;  // every third frame carries a payload
    bool sbrContainer = true;
    bool intensity = false;  // MPEG-2: intensity stereo on in some frames
    uint32_t seed = 1;
    bool padding = true;  // padding as the rate asks for
    // Global gains; the default range overdrives the output with the largest values, which
    // decoders clip in different ways, so comparisons of PCM take lower ones.
    int lowestGain = 120;
    int highestGain = 180;
    // Stereo granules of a frame share the block type, as mid/side and intensity stereo
    // need for decoders to agree.
    bool sameBlockTypes = false;
    // Block types follow the window sequence a filter bank produces (long or stop, then long
    // or start; start or short, then short or stop).
    bool windowSequence = false;
    // Intensity positions of 0..2 with a 2 in every partition (width 2), which all decoders
    // read alike. The largest value of a width (2^slen - 1, also 0 of width 0) marks a band
    // that is not intensity coded, as this project's decoder and the conformance streams
    // have it; mpg123 treats only 7 that way (at any width) and ffmpeg only values above
    // 15, so such positions cannot be compared (frame_IntensityMpeg2 checks the rule).
    bool plainIntensityPositions = false;
};

struct WrittenStream {
    std::vector<uint8_t> bytes;
    std::vector<FrameReport> reports;
    std::vector<std::vector<QuantisedGranule>> granules;  // per frame: [gr * channels + ch]
    std::vector<std::vector<uint8_t>> payloads;           // container data per frame (empty: none)
    std::vector<int> payloadBits;                         // bits of it the container carries
    std::vector<int> modeExtensions;
    bool ok = false;
    std::string error;
};

// Writes a CBR stream of synthetic granules whose sizes vary from frame to frame, so that the
// reservoir fills and drains.
inline WrittenStream WriteStream(const StreamOptions& o) {
    WrittenStream out;
    FrameWriterSettings settings;
    settings.version = o.version;
    settings.samplingIndex = o.samplingIndex;
    settings.channelMode = o.channelMode;
    settings.crc = o.crc;
    settings.sbrContainer = o.sbrContainer;
    FrameWriter writer;
    if (!writer.Init(settings)) {
        out.error = "Init failed";
        return out;
    }
    std::mt19937 rng(o.seed);
    const int channels = writer.Channels();
    const int granules = writer.Granules();
    const int rate = kSamplingRates[o.version][o.samplingIndex];
    const int kbps = kBitratesKbps[o.version == 0 ? 0 : 1][o.bitrateIndex];
    const int samples = o.version == 0 ? 1152 : 576;
    long long padAccumulator = 0;
    int previousBlock[2] = {kBlockLong, kBlockLong};
    std::vector<uint8_t> chunk(16384);
    for (int f = 0; f < o.frames; ++f) {
        // Padding the way a CBR encoder spreads the fractional byte.
        const long long exact = static_cast<long long>(samples) * kbps * 1000 / 8;
        padAccumulator += exact % rate;
        int padding = 0;
        if (o.padding && padAccumulator >= rate) {
            padAccumulator -= rate;
            padding = 1;
        }
        FrameInput in;
        in.bitrateIndex = o.bitrateIndex;
        in.padding = padding;
        in.modeExtension = o.channelMode == 1
                               ? (o.intensity && f % 2 == 1 ? 1 : 0) | (RandomInt(rng, 0, 1) << 1)
                               : 0;
        std::vector<uint8_t> payload;
        if (o.sbrPayloads && f % 3 == 0) {
            payload.resize(static_cast<size_t>(RandomInt(rng, 2, 60)));
            for (uint8_t& b : payload) b = static_cast<uint8_t>(RandomInt(rng, 0, 255));
            in.sbr.present = true;
            in.sbr.header = true;
            in.sbr.optionalFields = true;
            in.sbr.data = payload.data();
            in.sbr.dataBits = static_cast<int>(payload.size()) * 8 - RandomInt(rng, 0, 7);
        }
        const int sbrBits = o.sbrContainer ? SbrContainerBits(in.sbr) : 0;
        const int capacity = writer.MainDataCapacityBits(in.bitrateIndex, padding) - sbrBits;
        // Quiet frames leave bits in the reservoir, loud ones take them.
        const int mood = RandomInt(rng, 0, 3);
        const int perFrame =
            writer.FrameBits(in.bitrateIndex, padding) - writer.HeaderSideBits() - sbrBits;
        int frameBudget = mood == 0 ? perFrame / 4 : (mood == 3 ? capacity : perFrame);
        frameBudget = std::min(frameBudget, capacity);
        std::vector<QuantisedGranule> frame(static_cast<size_t>(granules * channels));
        int left = frameBudget;
        for (int gr = 0; gr < granules; ++gr) {
            for (int ch = 0; ch < channels; ++ch) {
                QuantisedGranule& g = frame[static_cast<size_t>(gr * channels + ch)];
                g.intensityChannel = writer.IntensityChannel(in.modeExtension, ch);
                FillSideFields(rng, o.shortBlocks, o.lowestGain, o.highestGain, g);
                if (o.windowSequence && o.shortBlocks) {
                    const int previous = previousBlock[ch];
                    const bool afterLong = previous == kBlockLong || previous == kBlockStop;
                    g.blockType = afterLong
                                      ? (RandomInt(rng, 0, 2) == 0 ? kBlockStart : kBlockLong)
                                      : (RandomInt(rng, 0, 1) == 0 ? kBlockShort : kBlockStop);
                }
                if (ch == 1 && o.sameBlockTypes)
                    g.blockType = frame[static_cast<size_t>(gr * channels)].blockType;
                previousBlock[ch] = g.blockType;
                if (g.blockType == kBlockShort) g.preflag = 0;
                for (int w = 0; w < kShortWindows; ++w)
                    if (g.blockType != kBlockShort) g.subblockGain[w] = 0;
                FillScalefactors(rng, o.version, g.intensityChannel, g);
                if (g.intensityChannel && o.plainIntensityPositions) {
                    for (int i = 0; i < 36; ++i)
                        g.scalefactors[i] = i % 3 == 0 ? 2 : RandomInt(rng, 0, 2);
                }
                const int remaining = granules * channels - (gr * channels + ch);
                const int budget = std::max(0, left / remaining);
                FillValues(rng, static_cast<Shape>(RandomInt(rng, 0, 4)), g.values);
                left -= FitToBudget(writer.Spectrum(), o.version, g, budget);
                in.granule[gr][ch] = &g;
            }
        }
        FrameReport report;
        const FrameStatus status = writer.Write(in, &report);
        if (status != FrameStatus::kOk) {
            out.error = "frame " + std::to_string(f) + ": status " +
                        std::to_string(static_cast<int>(status));
            return out;
        }
        out.reports.push_back(report);
        out.granules.push_back(frame);
        out.payloads.push_back(payload);
        out.payloadBits.push_back(in.sbr.dataBits);
        out.modeExtensions.push_back(in.modeExtension);
        const int n = writer.Emit(chunk.data(), static_cast<int>(chunk.size()));
        out.bytes.insert(out.bytes.end(), chunk.begin(), chunk.begin() + n);
    }
    if (!writer.Flush()) {
        out.error = "Flush failed";
        return out;
    }
    const int n = writer.Emit(chunk.data(), static_cast<int>(chunk.size()));
    out.bytes.insert(out.bytes.end(), chunk.begin(), chunk.begin() + n);
    if (writer.ReadyBytes() != 0) {
        out.error = "frames left after the flush";
        return out;
    }
    out.ok = true;
    return out;
}

// ---------------------------------------------------------------------------------------
// Reading written streams back

// MSB-first reader over a byte vector; reads past the end give zeros and set `overrun`.
struct BitReader {
    const std::vector<uint8_t>* bytes = nullptr;
    long long position = 0;
    bool overrun = false;
    uint32_t Read(int bits) {
        uint32_t v = 0;
        for (int i = 0; i < bits; ++i, ++position) {
            const long long byte = position >> 3;
            uint32_t bit = 0;
            if (byte < static_cast<long long>(bytes->size()))
                bit = ((*bytes)[static_cast<size_t>(byte)] >> (7 - (position & 7))) & 1u;
            else
                overrun = true;
            v = (v << 1) | bit;
        }
        return v;
    }
};

struct ReadGranule {
    int scalefactorBits = 0;  // what the decoder consumed for the scale factors
    GranuleInfo info;
    ScaleFactors factors;
    int32_t values[kGranuleLines] = {};
};

struct ReadFrame {
    size_t offset = 0;
    MpegHeader header;
    SideInfo side;
    int mainDataBits = 0;      // sum of part2_3_length
    int consumedMismatch = 0;  // granules whose decoding ran past part2_3_length
    ReadGranule granule[2][2];
    std::vector<int> filler;  // bits between the granules and the next byte boundary
    bool container = false;
    uint32_t marker = 0;
    int length = 0;  // stated bytes
    int flag = 0;
    std::vector<uint8_t> body;  // the bytes the length counts (the bits after the flag)
};

struct ReadStreamResult {
    std::vector<ReadFrame> frames;
    std::vector<uint8_t> mainData;  // every frame's main-data share, in order
    bool ok = false;
    std::string error;
};

// Walks the frames by their headers (no resynchronisation: a written stream must be exact),
// rebuilds the main-data stream and decodes every granule from main_data_begin on.
inline ReadStreamResult ReadStream(const std::vector<uint8_t>& bytes, bool expectContainer) {
    ReadStreamResult r;
    size_t at = 0;
    std::vector<uint8_t> storage(BitBuffer::RoundedSize(1 << 15));
    while (at < bytes.size()) {
        if (at + 4 > bytes.size()) {
            r.error = "trailing bytes at " + std::to_string(at);
            return r;
        }
        ReadFrame f;
        f.offset = at;
        const uint32_t word = uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
                              uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
        if (!f.header.Parse(word)) {
            r.error = "no header at " + std::to_string(at);
            return r;
        }
        const size_t frameBytes = static_cast<size_t>(f.header.frameBits / 8);
        if (at + frameBytes > bytes.size()) {
            r.error = "truncated frame at " + std::to_string(at);
            return r;
        }
        const int sideBytes = f.header.SideInfoBytes();
        const size_t shareStart = at + static_cast<size_t>(f.header.headerBits / 8 + sideBytes);
        {
            BitBuffer side;
            std::vector<uint8_t> sideStorage(static_cast<size_t>(BitBuffer::RoundedSize(64)));
            side.Init(sideStorage.data(), 64);
            side.Write(bytes.data() + at + f.header.headerBits / 8, sideBytes);
            ReadSideInfo(side, f.header.version == 0, f.header.channels, f.side);
        }
        const long long areaStart = static_cast<long long>(r.mainData.size());
        r.mainData.insert(r.mainData.end(), bytes.begin() + static_cast<long>(shareStart),
                          bytes.begin() + static_cast<long>(at + frameBytes));
        const long long start = areaStart - f.side.main_data_begin;
        if (start < 0) {
            r.error = "main_data_begin reaches before the stream at " + std::to_string(at);
            return r;
        }
        BitBuffer main;
        main.Init(storage.data(), static_cast<int>(storage.size()));
        const long long available = static_cast<long long>(r.mainData.size()) - start;
        if (available > static_cast<long long>(storage.size()) - 8) {
            r.error = "main data too long";
            return r;
        }
        main.Write(r.mainData.data() + start, static_cast<int>(available));
        const int granules = f.header.version == 0 ? 2 : 1;
        const ScaleFactorBands& bands = kScaleFactorBands[f.header.version][f.header.samplingIndex];
        const bool intensity = f.header.mode == 1 && (f.header.modeExtension & 1) != 0;
        for (int gr = 0; gr < granules; ++gr) {
            for (int ch = 0; ch < f.header.channels; ++ch) {
                ReadGranule& g = f.granule[gr][ch];
                g.info = f.side.granule[gr][ch];
                main.ClearConsumed();
                if (f.header.version == 0)
                    ReadScaleFactorsMpeg1(main, g.info, f.side.scfsi[ch], gr, g.factors);
                else
                    ReadScaleFactorsMpeg2(main, g.info, intensity && ch == 1, g.factors);
                g.scalefactorBits = main.Consumed();
                DecodeHuffman(main, g.info, bands, f.header.version, g.values);
                // Reading may stop early (the rest of a long stuffing is skipped), never late.
                if (main.Consumed() > g.info.part2_3_length) ++f.consumedMismatch;
                main.Skip(g.info.part2_3_length - main.Consumed());
                f.mainDataBits += g.info.part2_3_length;
            }
        }
        if (expectContainer) {
            BitReader reader{&r.mainData, start * 8 + f.mainDataBits, false};
            while (reader.position % 8 != 0) f.filler.push_back(static_cast<int>(reader.Read(1)));
            f.marker = reader.Read(4);
            f.length = static_cast<int>(reader.Read(8));
            if (f.length == 255) f.length += static_cast<int>(reader.Read(8));
            f.flag = static_cast<int>(reader.Read(1));
            // Flag, data and padding take 8 * length + 4 bits: the length counts the bytes
            // behind the first four of them.
            std::vector<int> bits;
            for (int i = 0; i < 8 * f.length + 3; ++i)
                bits.push_back(static_cast<int>(reader.Read(1)));
            f.body.assign((bits.size() + 7) / 8, 0);
            for (size_t i = 0; i < bits.size(); ++i)
                f.body[i / 8] = static_cast<uint8_t>(f.body[i / 8] | (bits[i] << (7 - i % 8)));
            f.container = !reader.overrun;
        }
        r.frames.push_back(f);
        at += frameBytes;
    }
    r.ok = true;
    return r;
}

// ---------------------------------------------------------------------------------------
// This project's decoder

// One frame as the decoding core saw it.
struct CoreFrame {
    Mp3Ssc status = kSscSuccess;
    std::vector<uint8_t> sbr;  // the payload the core's search found
};

// Runs the stream through MpegStream and Layer3Decoder frame by frame, feeding the input as
// the stream buffer takes it.
inline std::vector<CoreFrame> DecodeCore(const std::vector<uint8_t>& bytes,
                                         std::vector<Mp3Ssc>* syncStatuses = nullptr) {
    std::vector<CoreFrame> frames;
    std::vector<uint8_t> storage(65536);
    MpegStream stream;
    stream.Init(storage.data(), static_cast<int>(storage.size()));
    auto core = std::make_unique<Layer3Decoder>();
    std::vector<float> pcm(kMaxFrameSamples);
    size_t fed = 0;
    for (int guard = 0; guard < 1000000; ++guard) {
        if (fed < bytes.size()) {
            fed += static_cast<size_t>(
                stream.Feed(bytes.data() + fed, static_cast<int>(bytes.size() - fed)));
            if (fed == bytes.size()) stream.SetEndOfData();
        }
        const Mp3Ssc sync = stream.NextFrame();
        if (sync == kSscSyncEof) break;
        if (sync != kSscSuccess) {
            if (syncStatuses != nullptr) syncStatuses->push_back(sync);
            continue;
        }
        CoreFrame f;
        int coreBytes = 0;
        f.status = core->DecodeFrame(stream, pcm.data(), static_cast<int>(pcm.size()) * 4,
                                     &coreBytes, nullptr, nullptr, 0, false);
        f.sbr.assign(core->SbrPayload(), core->SbrPayload() + core->SbrPayloadLength());
        frames.push_back(f);
    }
    return frames;
}

// The payload the decoding core hands on for a container with the optional-fields flag set:
// marker, flag, the data bits, zeros up to whole bytes.
inline std::vector<uint8_t> CorePayload(uint32_t marker, const uint8_t* data, int dataBits) {
    std::vector<int> bits;
    for (int i = 3; i >= 0; --i) bits.push_back(static_cast<int>((marker >> i) & 1u));
    bits.push_back(1);
    for (int i = 0; i < dataBits; ++i) bits.push_back((data[i / 8] >> (7 - i % 8)) & 1);
    while (bits.size() % 8 != 0) bits.push_back(0);
    std::vector<uint8_t> bytes(bits.size() / 8, 0);
    for (size_t i = 0; i < bits.size(); ++i)
        bytes[i / 8] = static_cast<uint8_t>(bytes[i / 8] | (bits[i] << (7 - i % 8)));
    return bytes;
}

// The whole stream through the decoder object as 16-bit PCM; `statuses` receives every
// status of a delivered or failed frame.
inline std::vector<int16_t> DecodePcm(const std::vector<uint8_t>& bytes,
                                      std::vector<Mp3Ssc>& statuses) {
    std::vector<int16_t> pcm;
    VeloradecoderPtr decoder(Veloradecoder::Create(0, false, false));
    if (!decoder) return pcm;
    size_t fed = 0;
    std::vector<int16_t> out(kMaxFrameSamples * 2);
    for (int guard = 0; guard < 1000000; ++guard) {
        if (fed < bytes.size()) {
            fed += static_cast<size_t>(
                decoder->Feed(bytes.data() + fed, static_cast<int>(bytes.size() - fed)));
            if (fed == bytes.size()) decoder->SetEndOfData();
        }
        int written = 0;
        const Mp3Ssc status = decoder->Decode(out.data(), static_cast<int>(out.size() * 2),
                                              &written, true, nullptr, nullptr);
        if (status == kSscSyncEof) break;
        if (status == kSscSyncSearched || status == kSscSyncNeedData) continue;
        statuses.push_back(status);
        if (SscIsError(status)) break;
        pcm.insert(pcm.end(), out.begin(), out.begin() + written / 2);
    }
    return pcm;
}

// ---------------------------------------------------------------------------------------
// Peer decoders

inline std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/mp3enc_bs_" + std::to_string(::getpid()) +
           "_" + name;
}

inline bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return bytes;
    uint8_t buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof(buffer), f)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

inline bool ToolAvailable(const char* tool) {
    const std::string command = std::string("command -v ") + tool + " > /dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Runs `command` through the shell; returns its exit status and what it printed.
inline int RunCommand(const std::string& command, std::string& output) {
    output.clear();
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    char line[1024];
    while (std::fgets(line, sizeof(line), pipe) != nullptr) output += line;
    return ::pclose(pipe);
}

}  // namespace velora::enc::test
