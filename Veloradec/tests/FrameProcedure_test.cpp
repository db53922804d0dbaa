// The Layer III frame procedure on synthetic frames: SBR payload search, ancillary text,
// the bit reservoir, CRC handling and concealment (the last also on real streams).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Concealment.h"
#include "FrameBuilder.h"
#include "FrameWalker.h"
#include "Layer3Decoder.h"
#include "Layer3Tables.h"
#include "MpegStream.h"
#include "Veloradecoder.h"

namespace velora {
namespace {

using test::Append;
using test::BuildFrame;
using test::FrameSpec;
using test::MainDataBytes;

constexpr int kInputSize = 8192;

// ---------------------------------------------------------------------------------------
// Drivers

// An MpegStream and a Layer3Decoder driven directly, so that the payload, the confirmation
// count and the text outputs can be looked at after every frame.
struct CoreRig {
    std::array<uint8_t, kInputSize> storage{};
    MpegStream stream;
    Layer3Decoder core;
    std::array<float, kMaxFrameSamples> output{};
    char text[kAncillaryTextCapacity + 16] = {};
    int textLength = 0;
    int coreBytes = 0;
    int countAtSync = 0;  // confirmation count after the last frame sync
    std::vector<uint8_t> input;
    std::size_t fed = 0;

    CoreRig() { stream.Init(storage.data(), kInputSize); }

    void Load(const std::vector<uint8_t>& bytes) {
        input = bytes;
        fed = 0;
        Top();
    }
    void Top() {
        if (fed < input.size()) {
            fed += static_cast<std::size_t>(
                stream.Feed(input.data() + fed, static_cast<int>(input.size() - fed)));
        }
        if (fed == input.size() && !stream.Buffer().EndOfData()) stream.SetEndOfData();
    }

    // Syncs to the next frame and decodes it; a sync warning is returned as it is.
    Mp3Ssc Next(bool wantText = true) {
        Top();
        const Mp3Ssc sync = stream.NextFrame();
        if (sync != kSscSuccess) return sync;
        countAtSync = stream.ConfirmationCount();
        textLength = 0;
        std::fill(std::begin(text), std::end(text), '#');
        return core.DecodeFrame(stream, output.data(), static_cast<int>(sizeof(output)), &coreBytes,
                                wantText ? text : nullptr, wantText ? &textLength : nullptr, 0,
                                false);
    }

    std::vector<uint8_t> Payload() const {
        return std::vector<uint8_t>(core.SbrPayload(), core.SbrPayload() + core.SbrPayloadLength());
    }
    std::string Text() const { return std::string(text, static_cast<std::size_t>(textLength)); }
};

std::unique_ptr<CoreRig> MakeRig(const std::vector<uint8_t>& bytes) {
    auto rig = std::make_unique<CoreRig>();
    rig->Load(bytes);
    return rig;
}

// One Decode call of the decoder object.
struct Call {
    Mp3Ssc status;
    int bytes;
    FrameInfo info;
    std::vector<int16_t> pcm;   // 16-bit output
    std::vector<float> floats;  // float output
};

// Feeds the whole stream (as much as fits before each call) and decodes until the end.
std::vector<Call> DecodeCalls(Veloradecoder& decoder, const std::vector<uint8_t>& bytes,
                              bool floatOutput = false) {
    std::vector<Call> calls;
    std::vector<float> out(kMaxFrameSamples);
    std::size_t fed = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        if (fed < bytes.size()) {
            fed += static_cast<std::size_t>(
                decoder.Feed(bytes.data() + fed, static_cast<int>(bytes.size() - fed)));
            if (fed == bytes.size()) decoder.SetEndOfData();
        }
        int written = -1;
        const Mp3Ssc status =
            decoder.Decode(out.data(), static_cast<int>(out.size() * sizeof(float)), &written, true,
                           nullptr, nullptr);
        if (status == kSscSyncEof) break;
        Call call{status, written, decoder.Info(), {}, {}};
        const std::size_t count = static_cast<std::size_t>(std::max(written, 0));
        if (floatOutput) {
            call.floats.assign(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(count / 4));
        } else if (count > 0) {
            call.pcm.resize(count / 2);
            std::memcpy(call.pcm.data(), out.data(), count);
        }
        calls.push_back(std::move(call));
        if (SscIsError(status)) break;
    }
    return calls;
}

std::vector<Call> DecodeCalls(const std::vector<uint8_t>& bytes, bool floatOutput = false) {
    VeloradecoderPtr decoder(Veloradecoder::Create(0, false, floatOutput));
    return DecodeCalls(*decoder, bytes, floatOutput);
}

bool Silent(const std::vector<int16_t>& pcm) {
    return std::all_of(pcm.begin(), pcm.end(), [](int16_t s) { return s == 0; });
}

// ---------------------------------------------------------------------------------------
// Synthetic frames

FrameSpec Stereo128() {
    FrameSpec s;
    s.mode = 0;
    s.bitrateIndex = 9;  // 128 kbit/s at 44100 Hz: 417 bytes, 381 of main data
    return s;
}

FrameSpec Mono32() {
    FrameSpec s;
    s.mode = 3;
    s.bitrateIndex = 1;  // 32 kbit/s at 44100 Hz: 104 bytes, 83 of main data
    return s;
}

FrameSpec WithData(FrameSpec s, std::vector<uint8_t> data) {
    s.mainData = std::move(data);
    return s;
}

FrameSpec WithBegin(FrameSpec s, int mainDataBegin) {
    s.mainDataBegin = mainDataBegin;
    return s;
}

std::vector<uint8_t> Stream(const std::vector<FrameSpec>& frames) {
    std::vector<uint8_t> bytes;
    for (const FrameSpec& f : frames) Append(bytes, BuildFrame(f));
    return bytes;
}

std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) Append(out, p);
    return out;
}

std::vector<uint8_t> RandomBytes(int count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(static_cast<std::size_t>(count));
    for (uint8_t& b : out) b = static_cast<uint8_t>(rng() & 0xFF);
    return out;
}

// An SBR payload as it sits in the ancillary data: 4-bit marker, 8-bit length (255 and an
// extension byte for longer ones), 4 bits, then the length-many bytes.
std::vector<uint8_t> SbrBlock(uint32_t marker, int length, uint32_t nibble,
                              const std::vector<uint8_t>& body) {
    test::BitWriter w;
    w.Put(marker, 4);
    if (length >= 255) {
        w.Put(255, 8);
        w.Put(static_cast<uint32_t>(length - 255), 8);
    } else {
        w.Put(static_cast<uint32_t>(length), 8);
    }
    w.Put(nibble, 4);
    w.PutBytes(body);
    return w.Bytes();
}

std::vector<uint8_t> ExpectedPayload(uint32_t marker, uint32_t nibble,
                                     const std::vector<uint8_t>& body) {
    std::vector<uint8_t> p = body;
    p.insert(p.begin(), static_cast<uint8_t>(marker * 16 + nibble));
    return p;
}

// A text item: 0xA0 + count, or 0xAF and count - 15 for 15 characters or more.
std::vector<uint8_t> TextItem(const std::string& s) {
    std::vector<uint8_t> out;
    if (s.size() >= 15) {
        out.push_back(0xAF);
        out.push_back(static_cast<uint8_t>(s.size() - 15));
    } else {
        out.push_back(static_cast<uint8_t>(0xA0 + s.size()));
    }
    Append(out, Bytes(s));
    return out;
}

// ---------------------------------------------------------------------------------------
// The builder itself: every kind of frame it makes is accepted and decodes as silence.

TEST(frame_FrameBuilder, SilentFramesDecodeAsSilence) {
    struct Case {
        int version, samplingIndex, bitrateIndex, padding, mode;
        bool crc;
    };
    const Case cases[] = {
        {0, 0, 9, 0, 0, false}, {0, 0, 9, 1, 1, true},   {0, 1, 1, 0, 3, false},
        {0, 2, 14, 1, 3, true}, {1, 0, 1, 0, 3, false},  {1, 1, 8, 1, 0, true},
        {2, 2, 1, 0, 3, true},  {2, 0, 14, 1, 2, false},
    };
    for (const Case& c : cases) {
        FrameSpec s;
        s.version = c.version;
        s.samplingIndex = c.samplingIndex;
        s.bitrateIndex = c.bitrateIndex;
        s.padding = c.padding;
        s.mode = c.mode;
        s.crc = c.crc;
        const std::vector<uint8_t> frame = BuildFrame(s);
        ASSERT_EQ(static_cast<int>(frame.size()), test::FrameBytes(s));
        const std::vector<Call> calls = DecodeCalls(Stream({s, s, s}));
        ASSERT_EQ(calls.size(), 3u) << c.version << " " << c.bitrateIndex;
        for (const Call& call : calls) {
            EXPECT_EQ(call.status, kSscSuccess);
            EXPECT_EQ(call.info.version, c.version);
            EXPECT_EQ(call.info.codedChannels, test::ChannelsOf(s));
            EXPECT_EQ(call.info.codedSamplingRate,
                      test::kTestSamplingRates[c.version][c.samplingIndex]);
            EXPECT_EQ(call.info.frameBits, test::FrameBytes(s) * 8);
            EXPECT_EQ(call.bytes, test::SamplesOf(s) * test::ChannelsOf(s) * 2);
            EXPECT_TRUE(Silent(call.pcm));
        }
    }
}

TEST(frame_FrameBuilder, RewrappedRealFramesCarryAValidCrc) {
    const std::vector<uint8_t> bytes =
        test::ReadFileBytes(test::ConformanceDir() + "l3-he_44khz.bit");
    std::vector<std::vector<uint8_t>> frames;
    test::WalkFrames(bytes, [&](MpegStream& s, long long bitOffset) {
        if (frames.size() >= 12) return;
        const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(bitOffset / 8);
        frames.emplace_back(begin, begin + s.Header().frameBits / 8);
    });
    ASSERT_EQ(frames.size(), 12u);
    for (int flip : {-1, 0, 70, 135}) {
        std::vector<uint8_t> stream;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            Append(stream, i >= 6 ? test::ProtectFrame(frames[i], 17, flip) : frames[i]);
        }
        const std::vector<Call> calls = DecodeCalls(stream);
        ASSERT_EQ(calls.size(), frames.size());
        for (std::size_t i = 6; i < frames.size(); ++i) {
            EXPECT_EQ(calls[i].info.frameBits, static_cast<int>(frames[i].size()) * 8);
            EXPECT_EQ(calls[i].status == kSscInfoCrc, flip >= 0)
                << "flip " << flip << " frame " << i;
        }
    }
}

TEST(frame_FrameBuilder, BitWriterIsMostSignificantFirst) {
    test::BitWriter w;
    w.Put(0xC, 4);
    w.Put(0x1, 1);
    w.Put(0x5A, 8);
    w.Align();
    w.Put(0x3, 2);
    EXPECT_EQ(w.BitCount(), 18);
    EXPECT_EQ(w.Bytes(), (std::vector<uint8_t>{0xCA, 0xD0, 0xC0}));
}

// ---------------------------------------------------------------------------------------
// SBR payload search behind the main data

// Decodes `first` (then a silent frame so the stream can sync) and returns the payload
// found in the first frame; empty when none.
std::vector<uint8_t> PayloadOf(const FrameSpec& first) {
    FrameSpec next = first;
    next.mainData.clear();
    auto rig = MakeRig(Stream({first, next}));
    const Mp3Ssc status = rig->Next();
    EXPECT_EQ(status, kSscSuccess);
    return rig->Payload();
}

TEST(frame_SbrPayload, StereoMarkersGiveMarkerNibbleAndBody) {
    int seed = 1;
    for (uint32_t marker : {0xCu, 0xEu}) {
        for (uint32_t nibble : {0x8u, 0xBu, 0xFu}) {
            for (int length : {0, 1, 37, 200, 254}) {
                const std::vector<uint8_t> body =
                    RandomBytes(length, static_cast<uint32_t>(seed++));
                const std::vector<uint8_t> payload =
                    PayloadOf(WithData(Stereo128(), SbrBlock(marker, length, nibble, body)));
                EXPECT_EQ(static_cast<int>(payload.size()), length + 1)
                    << std::hex << marker << " " << nibble << std::dec << " " << length;
                EXPECT_EQ(payload, ExpectedPayload(marker, nibble, body));
            }
        }
    }
}

TEST(frame_SbrPayload, MarkerMustMatchTheChannelCount) {
    const std::vector<uint8_t> body = RandomBytes(20, 7);
    for (uint32_t marker = 0; marker < 16; ++marker) {
        const bool stereoMarker = marker == 0xC || marker == 0xE;
        const bool monoMarker = marker == 0xD || marker == 0xF;
        const std::vector<uint8_t> block = SbrBlock(marker, 20, 0x9, body);
        const std::vector<uint8_t> stereo = PayloadOf(WithData(Stereo128(), block));
        const std::vector<uint8_t> mono = PayloadOf(WithData(Mono32(), block));
        if (stereoMarker) {
            EXPECT_EQ(stereo, ExpectedPayload(marker, 0x9, body)) << marker;
        } else {
            EXPECT_TRUE(stereo.empty()) << marker;
        }
        if (monoMarker) {
            EXPECT_EQ(mono, ExpectedPayload(marker, 0x9, body)) << marker;
        } else {
            EXPECT_TRUE(mono.empty()) << marker;
        }
    }
    // Also for MPEG-2 frames.
    FrameSpec m2 = Mono32();
    m2.version = 1;
    m2.bitrateIndex = 8;  // 64 kbit/s at 22050 Hz
    EXPECT_EQ(PayloadOf(WithData(m2, SbrBlock(0xD, 20, 0x9, body))),
              ExpectedPayload(0xD, 0x9, body));
    EXPECT_TRUE(PayloadOf(WithData(m2, SbrBlock(0xC, 20, 0x9, body))).empty());
}

TEST(frame_SbrPayload, CountsOnlyWithBit3OfTheFlagNibble) {
    const std::vector<uint8_t> body = RandomBytes(30, 9);
    for (uint32_t nibble = 0; nibble < 16; ++nibble) {
        const std::vector<uint8_t> payload =
            PayloadOf(WithData(Stereo128(), SbrBlock(0xE, 30, nibble, body)));
        if (nibble & 8) {
            EXPECT_EQ(payload, ExpectedPayload(0xE, nibble, body)) << nibble;
        } else {
            EXPECT_TRUE(payload.empty()) << nibble;
        }
    }
}

TEST(frame_SbrPayload, LengthByte255IsExtended) {
    // 255 followed by 3: 258 bytes behind the flag nibble.
    const std::vector<uint8_t> body = RandomBytes(258, 11);
    const std::vector<uint8_t> block = SbrBlock(0xC, 258, 0xA, body);
    ASSERT_EQ(block[0], 0xCF);
    ASSERT_EQ(block[1], 0xF0);
    ASSERT_EQ(block[2], 0x3A);
    const std::vector<uint8_t> payload = PayloadOf(WithData(Stereo128(), block));
    EXPECT_EQ(payload.size(), 259u);
    EXPECT_EQ(payload, ExpectedPayload(0xC, 0xA, body));

    const std::vector<uint8_t> body255 = RandomBytes(255, 12);
    EXPECT_EQ(PayloadOf(WithData(Stereo128(), SbrBlock(0xC, 255, 0x8, body255))),
              ExpectedPayload(0xC, 0x8, body255));
}

TEST(frame_SbrPayload, LengthMustFitTheBytesLeft) {
    // 13 bytes of main data: a 2-byte wrapper leaves 11.
    FrameSpec tiny = Mono32();
    tiny.version = 1;
    tiny.bitrateIndex = 1;  // 8 kbit/s at 22050 Hz: 26 bytes
    ASSERT_EQ(MainDataBytes(tiny), 13);
    const std::vector<uint8_t> body = RandomBytes(12, 13);
    const std::vector<uint8_t> b11(body.begin(), body.begin() + 11);
    EXPECT_EQ(PayloadOf(WithData(tiny, SbrBlock(0xD, 11, 0x8, b11))),
              ExpectedPayload(0xD, 0x8, b11));
    EXPECT_TRUE(PayloadOf(WithData(tiny, SbrBlock(0xD, 12, 0x8, body))).empty());

    // 381 bytes of main data: a 3-byte wrapper leaves 378.
    ASSERT_EQ(MainDataBytes(Stereo128()), 381);
    const std::vector<uint8_t> big = RandomBytes(379, 14);
    const std::vector<uint8_t> b378(big.begin(), big.begin() + 378);
    EXPECT_EQ(PayloadOf(WithData(Stereo128(), SbrBlock(0xE, 378, 0xC, b378))),
              ExpectedPayload(0xE, 0xC, b378));
    EXPECT_TRUE(PayloadOf(WithData(Stereo128(), SbrBlock(0xE, 379, 0xC, big))).empty());
}

TEST(frame_SbrPayload, SearchCoversAtMost510Bytes) {
    // 320 kbit/s at 32000 Hz: 1404 bytes of main data, of which 510 are looked at.
    FrameSpec wide = Stereo128();
    wide.samplingIndex = 2;
    wide.bitrateIndex = 14;
    ASSERT_EQ(MainDataBytes(wide), 1404);
    const std::vector<uint8_t> body = RandomBytes(508, 15);
    const std::vector<uint8_t> b507(body.begin(), body.begin() + 507);
    const std::vector<uint8_t> payload = PayloadOf(WithData(wide, SbrBlock(0xC, 507, 0x8, b507)));
    EXPECT_EQ(payload.size(), 508u);
    EXPECT_EQ(payload, ExpectedPayload(0xC, 0x8, b507));
    EXPECT_TRUE(PayloadOf(WithData(wide, SbrBlock(0xC, 508, 0x8, body))).empty());
}

// A mono frame whose granule 0 takes all but `left` bytes of the main data (count1 codes
// of zeros: the granule is silent), followed by `tail`.
FrameSpec FilledMono(int left, const std::vector<uint8_t>& tail) {
    FrameSpec s = Mono32();
    const int area = MainDataBytes(s);
    s.granule[0][0].part2_3_length = (area - left) * 8;
    std::vector<uint8_t> data(static_cast<std::size_t>(area - left), 0xFF);
    Append(data, tail);
    s.mainData = data;
    return s;
}

TEST(frame_SbrPayload, NeedsTwoBytesBehindTheMainData) {
    // Two bytes left: marker 0xD, length 0, flag 8 — a one-byte payload.
    {
        auto rig = MakeRig(Stream({FilledMono(2, {0xD0, 0x08}), Mono32()}));
        ASSERT_EQ(rig->Next(), kSscSuccess);
        EXPECT_EQ(rig->Payload(), (std::vector<uint8_t>{0xD8}));
        // The granule data in front of it were count1 codes of zeros.
        EXPECT_TRUE(
            std::all_of(rig->output.begin(), rig->output.end(), [](float v) { return v == 0.0f; }));
    }
    // One byte left. The reservoir storage behind it still holds an older frame's 0x08 (the
    // reservoir was emptied by a CRC failure in between), which must not be taken.
    FrameSpec wide = Mono32();
    wide.bitrateIndex = 14;
    const int area = MainDataBytes(Mono32());
    std::vector<uint8_t> old(static_cast<std::size_t>(area + 1), 0);
    old[static_cast<std::size_t>(area)] = 0x08;
    FrameSpec broken = Mono32();
    broken.crc = true;
    broken.wrongCrc = true;
    auto rig = MakeRig(Stream({WithData(wide, old), broken, FilledMono(1, {0xD0}), Mono32()}));
    ASSERT_EQ(rig->Next(), kSscSuccess);
    ASSERT_EQ(rig->Next(), kSscInfoCrc);
    ASSERT_EQ(rig->Next(), kSscSuccess);
    EXPECT_EQ(rig->core.SbrPayloadLength(), 0);
}

TEST(frame_SbrPayload, StartsAtTheByteAfterTheMainData) {
    // Granule data ending 3 bits into a byte: the marker starts at the next byte.
    FrameSpec s = Mono32();
    s.granule[0][0].part2_3_length = 10 * 8 + 5;
    std::vector<uint8_t> data(11, 0xFF);  // 85 bits of count1 codes, 3 bits of padding
    const std::vector<uint8_t> body = RandomBytes(9, 21);
    Append(data, SbrBlock(0xF, 9, 0xE, body));
    s.mainData = data;
    EXPECT_EQ(PayloadOf(s), ExpectedPayload(0xF, 0xE, body));
}

TEST(frame_SbrPayload, PayloadBytesStayInTheReservoir) {
    // The next frame's main data begins at the first frame's payload: it is still there,
    // so that frame decodes and finds the same payload again.
    const std::vector<uint8_t> body = RandomBytes(100, 17);
    const FrameSpec first = WithData(Stereo128(), SbrBlock(0xC, 100, 0x8, body));
    const FrameSpec second = WithBegin(Stereo128(), MainDataBytes(Stereo128()));
    auto rig = MakeRig(Stream({first, second, Stereo128()}));
    ASSERT_EQ(rig->Next(), kSscSuccess);
    EXPECT_EQ(rig->Payload(), ExpectedPayload(0xC, 0x8, body));
    EXPECT_EQ(rig->Next(), kSscSuccess);
    EXPECT_EQ(rig->Payload(), ExpectedPayload(0xC, 0x8, body));
    EXPECT_EQ(rig->Next(), kSscSuccess);
    EXPECT_EQ(rig->core.SbrPayloadLength(), 0);
}

// ---------------------------------------------------------------------------------------
// Ancillary text: a frame reports the text in the previous frame's remaining ancillary data

struct TextResult {
    int length = 0;
    std::string text;
    bool terminated = false;
};

// Decodes `previous` then `current` and returns what `current` reported.
TextResult TextOf(const FrameSpec& previous, const FrameSpec& current) {
    FrameSpec trailer = current;
    trailer.mainData.clear();
    trailer.mainDataBegin = 0;
    auto rig = MakeRig(Stream({previous, current, trailer}));
    EXPECT_EQ(rig->Next(), kSscSuccess);
    EXPECT_EQ(rig->textLength, 0) << "text before any previous frame";
    EXPECT_EQ(rig->Next(), kSscSuccess);
    TextResult r;
    r.length = rig->textLength;
    r.text = rig->Text();
    r.terminated = rig->text[r.length] == '\0';
    EXPECT_EQ(rig->Next(), kSscSuccess);
    EXPECT_EQ(rig->textLength, 0) << "the text is reported once";
    return r;
}

// `bytes` placed at the end of a frame's main data.
FrameSpec EndingWith(FrameSpec s, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> data(
        static_cast<std::size_t>(MainDataBytes(s) - static_cast<int>(bytes.size())), 0);
    Append(data, bytes);
    s.mainData = data;
    return s;
}

TEST(frame_AncillaryText, ItemOfThePreviousFrameIsReported) {
    const std::vector<uint8_t> zeros(17, 0);
    const TextResult r =
        TextOf(WithData(Stereo128(), Concat({zeros, TextItem("hello")})), Stereo128());
    EXPECT_EQ(r.length, 5);
    EXPECT_EQ(r.text, "hello");
    EXPECT_TRUE(r.terminated);

    // Without a text buffer the frames decode all the same.
    auto rig = MakeRig(Stream({WithData(Mono32(), TextItem("hello")), Mono32()}));
    EXPECT_EQ(rig->Next(false), kSscSuccess);
    EXPECT_EQ(rig->Next(false), kSscSuccess);
    EXPECT_EQ(rig->textLength, 0);
}

TEST(frame_AncillaryText, CountFifteenTakesAnExtraByte) {
    const std::string s15(15, 'f');
    const std::string s20 = "twenty characters!!!";
    const std::string s270(270, 'L');
    ASSERT_EQ(TextItem(s20)[0], 0xAF);
    ASSERT_EQ(TextItem(s20)[1], 5);
    for (const std::string& item : {s15, s20, s270}) {
        const TextResult r = TextOf(WithData(Stereo128(), TextItem(item)), Stereo128());
        EXPECT_EQ(r.length, static_cast<int>(item.size()));
        EXPECT_EQ(r.text, item);
        EXPECT_TRUE(r.terminated);
    }
    // Two of the longest items, appended: 540 characters and the zero. (At the end of the
    // frame: with 1404 bytes of main data per frame the 2048-byte reservoir drops the
    // start of the previous frame's.)
    FrameSpec wide = Stereo128();
    wide.samplingIndex = 2;
    wide.bitrateIndex = 14;
    const std::string other(270, 'M');
    const TextResult r = TextOf(EndingWith(wide, Concat({TextItem(s270), TextItem(other)})), wide);
    EXPECT_EQ(r.length, 540);
    EXPECT_EQ(r.text, s270 + other);
    EXPECT_TRUE(r.terminated);
}

TEST(frame_AncillaryText, BytesDroppedFromTheReservoirAreNotScanned) {
    // 1404 bytes of main data per frame: taking in the second frame's drops the first 760
    // of the first frame's from the 2048-byte reservoir (and the new bytes overwrite
    // them). Only the 644 kept bytes are the previous frame's ancillary data.
    FrameSpec wide = Stereo128();
    wide.samplingIndex = 2;
    wide.bitrateIndex = 14;
    std::vector<uint8_t> current(700, 0);
    const std::vector<uint8_t> wrapped = TextItem("wrap");
    std::copy(wrapped.begin(), wrapped.end(), current.begin() + 650);
    EXPECT_EQ(TextOf(WithData(wide, TextItem("gone")), WithData(wide, current)).length, 0);
    std::vector<uint8_t> kept(1404 - 644, 0);
    Append(kept, TextItem("kept"));
    EXPECT_EQ(TextOf(WithData(wide, kept), WithData(wide, current)).text, "kept");
}

TEST(frame_AncillaryText, AtMostTwoItemsAreTaken) {
    const std::vector<uint8_t> data =
        Concat({TextItem("ab"), {0x00, 0x11}, TextItem("cd"), {0x7F}, TextItem("ef")});
    const TextResult r = TextOf(WithData(Mono32(), data), Mono32());
    EXPECT_EQ(r.text, "abcd");
    EXPECT_EQ(r.length, 4);
    EXPECT_TRUE(r.terminated);
    // Other bytes are passed over.
    const TextResult one =
        TextOf(WithData(Mono32(), Concat({{0x01, 0x9F, 0xB0, 0xFF}, TextItem("x")})), Mono32());
    EXPECT_EQ(one.text, "x");
}

TEST(frame_AncillaryText, ItemThatDoesNotFitIsSkipped) {
    // At the end of the previous frame's data: an exact fit, then one short by six.
    EXPECT_EQ(TextOf(EndingWith(Mono32(), TextItem("xyz")), Mono32()).text, "xyz");
    // (The next frame's own bytes behind it would complete the cut item.)
    const std::vector<uint8_t> cut = {0xA9, 'a', 'b', 'c'};
    const TextResult r = TextOf(EndingWith(Mono32(), cut), WithData(Mono32(), Bytes("defghijkl")));
    EXPECT_EQ(r.length, 0);

    // The range ends where the next frame's main data begins.
    const std::vector<uint8_t> tail = Concat({TextItem("hello"), {0, 0, 0, 0}});
    EXPECT_EQ(TextOf(EndingWith(Stereo128(), tail), WithBegin(Stereo128(), 4)).text, "hello");
    EXPECT_EQ(TextOf(EndingWith(Stereo128(), tail), WithBegin(Stereo128(), 5)).length, 0);
    // A good item before a cut one is still reported.
    EXPECT_EQ(TextOf(EndingWith(Stereo128(), Concat({TextItem("ok"), cut})), Stereo128()).text,
              "ok");
    // After an item too long for the range nothing more is taken, even what would fit.
    const std::vector<uint8_t> tooLong = {0xAF, 0xFF};
    EXPECT_EQ(
        TextOf(EndingWith(Stereo128(), Concat({tooLong, TextItem("hi"), {0, 0}})), Stereo128())
            .length,
        0);
}

std::vector<uint8_t> BE16(int v) {
    return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v & 0xFF)};
}

// An information header: tag, version, delay, quality, bytes, frames, entry count, scale,
// entry size, frames per entry — the fields other than count and size hold 0xA? bytes.
std::vector<uint8_t> Vbri(int entries, int entrySize) {
    return Concat({Bytes("VBRI"),
                   {0xA2, 0xA2},
                   {0xA1, 'x'},
                   {0xA1, 'y'},
                   {0xA3, 'a', 'b', 'c'},
                   {0xA3, 'd', 'e', 'f'},
                   BE16(entries),
                   {0xA1, 'z'},
                   BE16(entrySize),
                   {0xA1, 'w'}});
}

std::vector<uint8_t> FalseItems(int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) out.push_back(i % 2 == 0 ? 0xA1 : 'q');
    return out;
}

TEST(frame_AncillaryText, InformationHeaderIsSkippedWithItsTable) {
    ASSERT_EQ(Vbri(0, 0).size(), 26u);
    const std::vector<uint8_t> lead(5, 0);
    // 10 entries of 2 bytes; 258 entries of 1 byte (the count's high byte matters).
    EXPECT_EQ(
        TextOf(WithData(Stereo128(), Concat({lead, Vbri(10, 2), FalseItems(20), TextItem("ok")})),
               Stereo128())
            .text,
        "ok");
    EXPECT_EQ(TextOf(WithData(Stereo128(), Concat({Vbri(258, 1), FalseItems(258), TextItem("ok")})),
                     Stereo128())
                  .text,
              "ok");
    EXPECT_EQ(TextOf(WithData(Stereo128(),
                              Concat({Vbri(3, 0x0102), FalseItems(3 * 0x102), TextItem("ok")})),
                     Stereo128())
                  .length,
              0)
        << "a table longer than the range ends the scan";
    // A header cut short by the end of the range: the rest of the range is skipped.
    const std::vector<uint8_t> cut =
        Concat({Bytes("VBRI"), TextItem("hi"), std::vector<uint8_t>(17, 0)});
    ASSERT_EQ(cut.size(), 24u);
    EXPECT_EQ(TextOf(EndingWith(Mono32(), cut), Mono32()).length, 0);
    // Not the tag: scanning goes on from the byte after the "V".
    EXPECT_EQ(TextOf(WithData(Mono32(), Concat({Bytes("VBRX"), TextItem("hi")})), Mono32()).text,
              "hi");
    EXPECT_EQ(TextOf(WithData(Mono32(), Concat({Bytes("V"), TextItem("hi")})), Mono32()).text,
              "hi");
    EXPECT_EQ(TextOf(WithData(Mono32(), Concat({Bytes("VBV"), TextItem("hi")})), Mono32()).text,
              "hi");
}

TEST(frame_AncillaryText, TextBehindAnSbrPayloadIsFound) {
    // Payload bytes that would read as items if the scan started inside the payload: the
    // 2-byte wrapper of length 10 is C0 A8, and the body ends with A1.
    std::vector<uint8_t> body = Bytes("payload!!");
    body.push_back(0xA1);
    const std::vector<uint8_t> block = SbrBlock(0xC, 10, 0x8, body);
    ASSERT_EQ(block[1], 0xA8);
    const FrameSpec previous = WithData(Stereo128(), Concat({block, TextItem("good")}));
    ASSERT_EQ(PayloadOf(previous), ExpectedPayload(0xC, 0x8, body));
    const TextResult r = TextOf(previous, Stereo128());
    EXPECT_EQ(r.text, "good");
    EXPECT_EQ(r.length, 4);
    // Also when the next frame's main data begins inside the previous frame's: the range
    // still starts right behind the payload (12 bytes) and here ends right behind the item.
    EXPECT_EQ(TextOf(previous, WithBegin(Stereo128(), 8)).text, "good");
    EXPECT_EQ(TextOf(previous, WithBegin(Stereo128(), MainDataBytes(Stereo128()) - 17)).text,
              "good");

    // A 3-byte wrapper (length 260).
    std::vector<uint8_t> longBody(259, 'x');
    longBody.push_back(0xA1);
    const FrameSpec longer =
        WithData(Stereo128(), Concat({SbrBlock(0xE, 260, 0xF, longBody), TextItem("good")}));
    ASSERT_EQ(PayloadOf(longer).size(), 261u);
    EXPECT_EQ(TextOf(longer, Stereo128()).text, "good");

    // A block that is not a payload (flag bit clear) is scanned as ancillary data: its
    // wrapper byte A7 starts a 7-character item, and the body's last byte A1 a one-character
    // item holding the A4 of the item behind.
    const FrameSpec notPayload =
        WithData(Stereo128(), Concat({SbrBlock(0xC, 10, 0x7, body), TextItem("good")}));
    ASSERT_TRUE(PayloadOf(notPayload).empty());
    EXPECT_EQ(TextOf(notPayload, Stereo128()).text, std::string("payload") + '\xA4');
}

// ---------------------------------------------------------------------------------------
// Bit reservoir and main_data_begin

TEST(frame_Reservoir, MainDataBeginZeroOnAnEmptyReservoirDecodes) {
    VeloradecoderPtr decoder(Veloradecoder::Create(0, false, false));
    const std::vector<Call> calls = DecodeCalls(*decoder, Stream({Stereo128(), Stereo128()}));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].status, kSscSuccess);
    EXPECT_EQ(calls[0].bytes, 1152 * 2 * 2);
    EXPECT_EQ(calls[0].info.missingMainData, 0);
    EXPECT_TRUE(Silent(calls[0].pcm));
}

TEST(frame_Reservoir, MainDataBeginReachesExactlyTheHeldBytes) {
    // After a frame with silent granules the reservoir holds that frame's 83 bytes.
    const int held = MainDataBytes(Mono32());
    for (int begin : {1, held - 1, held}) {
        auto rig = MakeRig(Stream({Mono32(), WithBegin(Mono32(), begin), Mono32()}));
        EXPECT_EQ(rig->Next(), kSscSuccess);
        EXPECT_EQ(rig->Next(), kSscSuccess) << begin;
    }
    auto rig = MakeRig(Stream({Mono32(), WithBegin(Mono32(), held + 1), Mono32()}));
    EXPECT_EQ(rig->Next(), kSscSuccess);
    EXPECT_EQ(rig->Next(), kSscSyncNeedData);
    EXPECT_EQ(rig->coreBytes, 0);
    EXPECT_EQ(rig->Next(), kSscSuccess);
}

TEST(frame_Reservoir, FirstFrameAfterResetWithBackPointerNeedsData) {
    const std::vector<uint8_t> rest = Stream({WithBegin(Stereo128(), 10), Stereo128()});
    // Without a reset the back pointer reaches into the frame before.
    {
        const std::vector<Call> calls = DecodeCalls(Concat({Stream({Stereo128()}), rest}));
        ASSERT_EQ(calls.size(), 3u);
        EXPECT_EQ(calls[1].status, kSscSuccess);
    }
    VeloradecoderPtr decoder(Veloradecoder::Create(0, false, false));
    ASSERT_EQ(DecodeCalls(*decoder, Stream({Stereo128(), Stereo128()})).size(), 2u);
    decoder->Reset();
    const std::vector<Call> calls = DecodeCalls(*decoder, rest);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].status, kSscSyncNeedData);
    EXPECT_EQ(calls[0].bytes, 0);
    EXPECT_EQ(calls[1].status, kSscSuccess);
    EXPECT_EQ(calls[1].bytes, 1152 * 2 * 2);

    // The skipped frame does not use up the confirmation window.
    auto rig = MakeRig(rest);
    EXPECT_EQ(rig->Next(), kSscSyncNeedData);
    EXPECT_EQ(rig->stream.ConfirmationCount(), rig->countAtSync + 1);
    const int before = rig->stream.ConfirmationCount();
    EXPECT_EQ(rig->Next(), kSscSuccess);
    EXPECT_EQ(rig->stream.ConfirmationCount(), before - 1);
}

// Silent mono frames: `missing` frames whose main data is never there, `good` frames, then
// one more frame whose main data is missing; returns the last frame's status.
Mp3Ssc StatusAfter(int missing, int good) {
    std::vector<FrameSpec> frames;
    for (int i = 0; i < missing; ++i) frames.push_back(WithBegin(Mono32(), 511));
    for (int i = 0; i < good; ++i) frames.push_back(Mono32());
    frames.push_back(WithBegin(Mono32(), 511));
    frames.push_back(Mono32());
    auto rig = MakeRig(Stream(frames));
    for (int i = 0; i < missing; ++i) {
        EXPECT_EQ(rig->Next(), kSscSyncNeedData);
        EXPECT_EQ(rig->stream.ConfirmationCount(), rig->countAtSync + 1);
    }
    for (int i = 0; i < good; ++i) {
        EXPECT_EQ(rig->Next(), kSscSuccess);
        EXPECT_EQ(rig->stream.ConfirmationCount(), rig->countAtSync);
    }
    return rig->Next();
}

TEST(frame_Reservoir, ConfirmationWindowCountsOnlyFramesWithMainData) {
    // Ten frames after sync form the window: the sync frame and nine more.
    EXPECT_EQ(StatusAfter(0, 9), kSscSyncNeedData);
    EXPECT_EQ(StatusAfter(0, 10), kSscInfoNoMainData);
    // Three skipped frames at the start do not shorten it.
    EXPECT_EQ(StatusAfter(3, 9), kSscSyncNeedData);
    EXPECT_EQ(StatusAfter(3, 10), kSscInfoNoMainData);
}

TEST(frame_Reservoir, MissingMainDataAfterTheWindowConceals) {
    const int held = MainDataBytes(Mono32());
    std::vector<FrameSpec> frames(12, Mono32());
    frames.push_back(WithBegin(Mono32(), held + 1));
    frames.push_back(WithBegin(Mono32(), 2 * held));
    const std::vector<Call> calls = DecodeCalls(Stream(frames));
    ASSERT_EQ(calls.size(), 14u);
    EXPECT_EQ(calls[12].status, kSscInfoNoMainData);
    EXPECT_EQ(calls[12].info.missingMainData, 1);
    EXPECT_EQ(calls[12].info.crcError, 0);
    EXPECT_EQ(calls[12].bytes, 1152 * 2);
    EXPECT_TRUE(Silent(calls[12].pcm));
    // The missing frame's bytes joined the reservoir all the same: the next frame reaches
    // back over them into the frame before.
    EXPECT_EQ(calls[13].status, kSscSuccess);
    EXPECT_EQ(calls[13].info.missingMainData, 0);

    // Nothing stored at all (every earlier frame failed its CRC): silence.
    FrameSpec broken = Mono32();
    broken.crc = true;
    broken.wrongCrc = true;
    std::vector<FrameSpec> none(10, broken);
    none.push_back(WithBegin(Mono32(), 1));
    none.push_back(Mono32());
    const std::vector<Call> c2 = DecodeCalls(Stream(none));
    ASSERT_EQ(c2.size(), 12u);
    EXPECT_EQ(c2[10].status, kSscInfoNoMainData);
    EXPECT_EQ(c2[10].bytes, 1152 * 2);
    EXPECT_TRUE(Silent(c2[10].pcm));
}

// ---------------------------------------------------------------------------------------
// CRC

FrameSpec Protected(FrameSpec s) {
    s.crc = true;
    return s;
}

// The statuses of a good frame, `middle`, and a good frame.
std::vector<Mp3Ssc> Statuses(const std::vector<uint8_t>& middle, const FrameSpec& around) {
    auto rig = MakeRig(Concat({BuildFrame(around), middle, BuildFrame(around)}));
    std::vector<Mp3Ssc> out;
    for (int i = 0; i < 3; ++i) out.push_back(rig->Next());
    return out;
}

TEST(frame_Crc, EveryProtectedBitIsChecked) {
    for (const FrameSpec& base : {Protected(Stereo128()), [] {
                                      FrameSpec m = Protected(Mono32());
                                      m.version = 1;
                                      m.bitrateIndex = 8;
                                      return m;
                                  }()}) {
        // Non-zero side information so that flipped bits are of both kinds.
        FrameSpec s = base;
        s.mainDataBegin = 0;
        s.privateBits = 1;
        s.granule[0][0].global_gain = 0x5A;
        s.granule[0][0].region0_count = 5;
        const std::vector<uint8_t> good = BuildFrame(s);
        FrameSpec around = base;
        around.crc = false;
        const std::vector<Mp3Ssc> ok = Statuses(good, around);
        EXPECT_EQ(ok, (std::vector<Mp3Ssc>{kSscSuccess, kSscSuccess, kSscSuccess}));
        const int side = test::SideInfoBytesOf(s);
        // Header bits that do not change the frame layout (private, copyright, original,
        // emphasis), the stored CRC and the side information.
        std::vector<int> bits = {23, 28, 29, 30, 31};
        for (int b = 32; b < (6 + side) * 8; ++b) bits.push_back(b);
        for (int bit : bits) {
            std::vector<uint8_t> bad = good;
            bad[static_cast<std::size_t>(bit / 8)] ^= static_cast<uint8_t>(0x80u >> (bit % 8));
            EXPECT_EQ(Statuses(bad, around)[1], kSscInfoCrc) << "bit " << bit;
        }
        // Main data is not covered.
        std::vector<uint8_t> data = good;
        data[static_cast<std::size_t>(6 + side + 3)] ^= 0x10;
        EXPECT_EQ(Statuses(data, around)[1], kSscSuccess);
    }
}

TEST(frame_Crc, FailureDeliversConcealmentAndEmptiesTheReservoir) {
    FrameSpec broken = Protected(Stereo128());
    broken.mainDataBegin = 0;
    const FrameSpec needy = WithBegin(Stereo128(), 10);
    FrameSpec bad = broken;
    bad.wrongCrc = true;

    // Inside the confirmation window.
    {
        const std::vector<Call> control =
            DecodeCalls(Stream({Stereo128(), broken, needy, Stereo128()}));
        ASSERT_EQ(control.size(), 4u);
        EXPECT_EQ(control[1].status, kSscSuccess);
        EXPECT_EQ(control[2].status, kSscSuccess);

        const std::vector<Call> calls = DecodeCalls(Stream({Stereo128(), bad, needy, Stereo128()}));
        ASSERT_EQ(calls.size(), 4u);
        EXPECT_EQ(calls[1].status, kSscInfoCrc);
        EXPECT_EQ(calls[1].info.crcError, 1);
        EXPECT_EQ(calls[1].info.missingMainData, 0);
        EXPECT_EQ(calls[1].bytes, 1152 * 2 * 2);
        EXPECT_TRUE(Silent(calls[1].pcm));
        EXPECT_EQ(calls[2].status, kSscSyncNeedData);
        EXPECT_EQ(calls[2].bytes, 0);
        EXPECT_EQ(calls[3].status, kSscSuccess);
        EXPECT_EQ(calls[3].info.crcError, 0);
    }
    // After it.
    {
        std::vector<FrameSpec> frames(12, Stereo128());
        frames.push_back(bad);
        frames.push_back(needy);
        frames.push_back(Stereo128());
        const std::vector<Call> calls = DecodeCalls(Stream(frames));
        ASSERT_EQ(calls.size(), 15u);
        EXPECT_EQ(calls[12].status, kSscInfoCrc);
        EXPECT_EQ(calls[13].status, kSscInfoNoMainData);
        EXPECT_EQ(calls[13].info.crcError, 0);
        EXPECT_EQ(calls[13].info.missingMainData, 1);
        EXPECT_EQ(calls[13].bytes, 1152 * 2 * 2);
        EXPECT_EQ(calls[14].status, kSscSuccess);
    }
}

TEST(frame_Crc, OnlyTheMainDataOfAFailedFrameEntersTheReservoir) {
    // The failed frame's side information is not taken as main data: its payload is
    // found where its main data starts, and the text of the frame before is reported.
    const std::vector<uint8_t> body = RandomBytes(40, 23);
    FrameSpec bad =
        Protected(WithData(Stereo128(), Concat({SbrBlock(0xC, 40, 0x8, body), TextItem("lost")})));
    bad.wrongCrc = true;
    auto rig = MakeRig(Stream({WithData(Stereo128(), TextItem("before")), bad, Stereo128()}));
    ASSERT_EQ(rig->Next(), kSscSuccess);
    ASSERT_EQ(rig->Next(), kSscInfoCrc);
    EXPECT_EQ(rig->Payload(), ExpectedPayload(0xC, 0x8, body));
    EXPECT_EQ(rig->Text(), "before");
    // The reservoir was emptied, its text with it.
    ASSERT_EQ(rig->Next(), kSscSuccess);
    EXPECT_EQ(rig->textLength, 0);
}

struct WalkedFrame {
    std::size_t offset;
    std::size_t bytes;
    bool protectedFrame;
};

std::vector<WalkedFrame> FramesOf(const std::vector<uint8_t>& bytes) {
    std::vector<WalkedFrame> frames;
    test::WalkFrames(bytes, [&](MpegStream& s, long long bitOffset) {
        frames.push_back({static_cast<std::size_t>(bitOffset / 8),
                          static_cast<std::size_t>(s.Header().frameBits / 8),
                          s.Header().crcPresent});
    });
    return frames;
}

std::vector<uint8_t> FrameBytesAt(const std::vector<uint8_t>& stream, const WalkedFrame& f) {
    const auto begin = stream.begin() + static_cast<std::ptrdiff_t>(f.offset);
    return std::vector<uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(f.bytes));
}

TEST(frame_Crc, RealProtectedFramesPassAndFailWhenDamaged) {
    const std::vector<uint8_t> stream =
        test::ReadFileBytes(test::ConformanceDir() + "l3-hecommon.bit");
    const std::vector<WalkedFrame> frames = FramesOf(stream);
    ASSERT_FALSE(frames.empty());
    const auto protectedCount = std::count_if(
        frames.begin(), frames.end(), [](const WalkedFrame& f) { return f.protectedFrame; });
    ASSERT_GT(protectedCount, 20);
    const std::vector<Call> calls = DecodeCalls(stream);
    ASSERT_EQ(calls.size(), frames.size());
    for (const Call& c : calls) EXPECT_NE(c.status, kSscInfoCrc);

    // One side-information bit of the 5th protected frame flipped.
    std::size_t target = 0;
    for (int seen = 0; target < frames.size(); ++target) {
        if (frames[target].protectedFrame && ++seen == 5) break;
    }
    ASSERT_LT(target, frames.size());
    std::vector<uint8_t> damaged = stream;
    damaged[frames[target].offset + 6 + 4] ^= 0x04;
    const std::vector<Call> after = DecodeCalls(damaged);
    ASSERT_EQ(after.size(), frames.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i].status == kSscInfoCrc, i == target) << i;
    }
}

// ---------------------------------------------------------------------------------------
// Concealment

constexpr int64_t kModulus = 1000000000;

int64_t Mod(int64_t v) {
    return ((v % kModulus) + kModulus) % kModulus;
}

// The subtractive generator written as the lagged recurrence X[n] = X[n-55] - X[n-24]
// (mod 10^9), seeded as published: v0 = 161803398 - seed, v1 = 1, v[k+1] = v[k-1] - v[k]
// spread over the table at positions 21k mod 55, then four passes of table[i] -= table[i+31].
class LaggedReference {
  public:
    explicit LaggedReference(int64_t seed) {
        std::array<int64_t, 55> v{};
        v[0] = Mod(161803398 - seed);
        v[1] = 1;
        for (std::size_t k = 2; k < 55; ++k) v[k] = Mod(v[k - 2] - v[k - 1]);
        std::array<int64_t, 56> t{};  // 1-based
        t[55] = v[0];
        for (std::size_t k = 1; k < 55; ++k) t[(21 * k) % 55] = v[k];
        for (int pass = 0; pass < 4; ++pass) {
            for (std::size_t i = 1; i <= 55; ++i) t[i] = Mod(t[i] - t[1 + (i + 30) % 55]);
        }
        history_.assign(t.begin() + 1, t.end());  // oldest first
    }
    int64_t Next() {
        const int64_t x = Mod(history_[0] - history_[31]);
        history_.erase(history_.begin());
        history_.push_back(x);
        return x;
    }

  private:
    std::vector<int64_t> history_;
};

TEST(frame_Concealment, SubtractiveRandomFollowsTheLaggedRecurrence) {
    for (int32_t seed : {42, 0, 12345, 161803397}) {
        SubtractiveRandom random;
        random.Seed(seed);
        LaggedReference reference(seed);
        for (int i = 0; i < 3000; ++i) {
            const int32_t value = random.Next();
            ASSERT_EQ(value, reference.Next()) << "seed " << seed << " value " << i;
            ASSERT_GE(value, 0);
            ASSERT_LT(value, kModulus);
        }
    }
    // Seeding again restarts the sequence.
    SubtractiveRandom a;
    a.Seed(42);
    const int32_t first = a.Next();
    a.Next();
    a.Seed(42);
    EXPECT_EQ(a.Next(), first);
}

// Concealment written out line by line from its description, in double precision.
class ConcealmentReference {
  public:
    void Store(int ch, const std::vector<float>& spectrum, const GranuleInfo& info) {
        if (info.window_switching_flag != 0 && info.block_type == 2) return;
        Channel& c = channels_[ch];
        c.ring[static_cast<std::size_t>(c.index)] = spectrum;
        c.info[static_cast<std::size_t>(c.index)] = info;
        c.index = (c.index + 1) % 4;
        ++c.stored;
    }
    // Returns the concealed spectrum; `info` receives the granule record.
    std::vector<double> Conceal(int ch, const ScaleFactorBands& bands, GranuleInfo& info) {
        Channel& c = channels_[ch];
        std::vector<double> out(576, 0.0);
        if (c.stored == 0) return out;
        std::vector<double> mean(576);
        for (std::size_t i = 0; i < 576; ++i) {
            double sum = 0.0;
            for (const auto& slot : c.ring) {
                sum += slot.empty() ? 0.0 : std::fabs(static_cast<double>(slot[i]));
            }
            mean[i] = sum / 4.0;
        }
        info = c.info[static_cast<std::size_t>((c.index + 3) % 4)];
        for (std::size_t band = 0; band < 22; ++band) {
            const int begin = bands.longBounds[band];
            const int end = bands.longBounds[band + 1];
            double target = 0.0;
            for (int i = begin; i < end; ++i) {
                target += mean[static_cast<std::size_t>(i)] * mean[static_cast<std::size_t>(i)];
            }
            if (target <= 0.0) continue;
            double generated = 0.0;
            for (int i = begin; i < end; ++i) {
                double v;
                if (band == 0) {
                    v = mean[static_cast<std::size_t>(i)] * NextSign();
                } else {
                    v = static_cast<double>(random_.Next()) * 1e-9 - 0.5;
                }
                out[static_cast<std::size_t>(i)] = v;
                generated += v * v;
            }
            const double scale = generated > 0.0 ? std::sqrt(target / generated) : 1.0;
            for (int i = begin; i < end; ++i) out[static_cast<std::size_t>(i)] *= scale;
        }
        return out;
    }

  private:
    double NextSign() {
        // 32-bit shift register: with the top bit set, feed back 9 and shift in a one.
        const bool top = (sign_ & 0x80000000u) != 0;
        sign_ = top ? ((sign_ ^ 9u) << 1) | 1u : sign_ << 1;
        return top ? 1.0 : -1.0;
    }
    struct Channel {
        std::array<std::vector<float>, 4> ring;
        std::array<GranuleInfo, 4> info;
        int index = 0;
        int stored = 0;
    };
    std::array<Channel, 2> channels_;
    uint32_t sign_ = 0xFEED4u;
    LaggedReference random_{42};
};

struct Granule {
    std::vector<float> spectrum;
    GranuleInfo info;
};

Granule RandomGranule(std::mt19937& rng, int zeroBegin, int zeroEnd, int blockType) {
    std::normal_distribution<float> normal(0.0f, 300.0f);
    Granule g;
    g.spectrum.resize(576);
    for (int i = 0; i < 576; ++i) {
        g.spectrum[static_cast<std::size_t>(i)] =
            (i >= zeroBegin && i < zeroEnd) ? 0.0f : normal(rng);
    }
    g.info.part2_3_length = static_cast<int32_t>(rng() % 4000);
    g.info.global_gain = static_cast<int32_t>(rng() % 256);
    g.info.big_values = static_cast<int32_t>(rng() % 288);
    g.info.window_switching_flag = blockType != 0 ? 1 : 0;
    g.info.block_type = blockType;
    g.info.nonzeroLines = 576;
    return g;
}

void ExpectConcealedAlike(const std::vector<float>& got, const std::vector<double>& want,
                          const ScaleFactorBands& bands, const std::string& what) {
    for (std::size_t band = 0; band < 22; ++band) {
        const int begin = bands.longBounds[band];
        const int end = bands.longBounds[band + 1];
        double energy = 0.0;
        for (int i = begin; i < end; ++i) {
            energy += want[static_cast<std::size_t>(i)] * want[static_cast<std::size_t>(i)];
        }
        const double tolerance = 1e-4 * std::sqrt(energy / (end - begin)) + 1e-9;
        for (int i = begin; i < end; ++i) {
            ASSERT_NEAR(got[static_cast<std::size_t>(i)], want[static_cast<std::size_t>(i)],
                        tolerance)
                << what << " band " << band << " line " << i;
        }
    }
    for (std::size_t i = static_cast<std::size_t>(bands.longBounds[22]); i < 576; ++i) {
        ASSERT_EQ(got[i], 0.0f) << what << " line " << i;
    }
}

TEST(frame_Concealment, ConcealedGranulesAreShapedNoise) {
    const ScaleFactorBands& bands = kScaleFactorBands[0][0];
    std::mt19937 rng(99);
    // Channel 0: band 5 silent throughout; channel 1: band 0 silent, and more granules than
    // the ring holds.
    const int b5 = bands.longBounds[5], e5 = bands.longBounds[6];
    const int e0 = bands.longBounds[1];
    std::vector<std::pair<int, Granule>> stores = {
        {0, RandomGranule(rng, b5, e5, 0)}, {1, RandomGranule(rng, 0, e0, 0)},
        {0, RandomGranule(rng, b5, e5, 2)},  // short blocks: not stored
        {1, RandomGranule(rng, 0, e0, 1)},  {1, RandomGranule(rng, 0, e0, 3)},
        {0, RandomGranule(rng, b5, e5, 0)}, {1, RandomGranule(rng, 0, e0, 0)},
        {1, RandomGranule(rng, 0, e0, 0)},  {1, RandomGranule(rng, 0, e0, 0)},
    };
    const Granule late = RandomGranule(rng, b5, e5, 3);

    auto run = [&](Concealment& concealment, std::vector<std::vector<float>>* outputs) {
        ConcealmentReference reference;
        for (const auto& [ch, g] : stores) {
            concealment.Store(ch, g.spectrum.data(), g.info);
            reference.Store(ch, g.spectrum, g.info);
        }
        int step = 0;
        // Enough band-0 draws for the sign register's feedback to reach its top bit.
        for (int ch : {0, 1, 0, -1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}) {
            if (ch < 0) {  // a new granule: the mean is taken again
                concealment.Store(0, late.spectrum.data(), late.info);
                reference.Store(0, late.spectrum, late.info);
                continue;
            }
            std::vector<float> spectrum(576, 123.0f);
            GranuleInfo info;
            GranuleInfo want;
            concealment.Conceal(ch, bands, spectrum.data(), info);
            const std::vector<double> expected = reference.Conceal(ch, bands, want);
            ExpectConcealedAlike(spectrum, expected, bands, "step " + std::to_string(step));
            EXPECT_EQ(info.global_gain, want.global_gain);
            EXPECT_EQ(info.part2_3_length, want.part2_3_length);
            EXPECT_EQ(info.block_type, want.block_type);
            EXPECT_EQ(info.nonzeroLines, bands.longBounds[22]);
            EXPECT_EQ(info.longBandCount, 22);
            if (outputs) outputs->push_back(spectrum);
            ++step;
        }
    };
    Concealment concealment;
    concealment.Reset();
    std::vector<std::vector<float>> first;
    run(concealment, &first);
    // A reset restores the generators and forgets the history: the same again.
    concealment.Reset();
    std::vector<std::vector<float>> second;
    run(concealment, &second);
    EXPECT_EQ(first, second);
}

TEST(frame_Concealment, NothingStoredGivesSilence) {
    const ScaleFactorBands& bands = kScaleFactorBands[0][0];
    Concealment concealment;
    concealment.Reset();
    std::vector<float> spectrum(576, 5.0f);
    GranuleInfo info;
    info.nonzeroLines = 300;
    concealment.Conceal(0, bands, spectrum.data(), info);
    EXPECT_TRUE(std::all_of(spectrum.begin(), spectrum.end(), [](float v) { return v == 0.0f; }));
    EXPECT_EQ(info.nonzeroLines, 0);
    // A channel with history does not lend it to the other.
    std::mt19937 rng(5);
    const Granule g = RandomGranule(rng, 0, 0, 0);
    concealment.Store(0, g.spectrum.data(), g.info);
    std::fill(spectrum.begin(), spectrum.end(), 5.0f);
    concealment.Conceal(1, bands, spectrum.data(), info);
    EXPECT_TRUE(std::all_of(spectrum.begin(), spectrum.end(), [](float v) { return v == 0.0f; }));
    // Short-block granules are never stored.
    Concealment shortOnly;
    shortOnly.Reset();
    const Granule s = RandomGranule(rng, 0, 0, 2);
    shortOnly.Store(0, s.spectrum.data(), s.info);
    std::fill(spectrum.begin(), spectrum.end(), 5.0f);
    shortOnly.Conceal(0, bands, spectrum.data(), info);
    EXPECT_TRUE(std::all_of(spectrum.begin(), spectrum.end(), [](float v) { return v == 0.0f; }));
}

constexpr int kFftSize = 2048;

// In place, radix 2.
void Fft(std::vector<std::complex<double>>& x) {
    const std::size_t n = x.size();
    for (std::size_t i = 1, j = 0; i < n; ++i) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    const double pi = std::acos(-1.0);
    for (std::size_t len = 2; len <= n; len <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2.0 * pi / static_cast<double>(len));
        for (std::size_t i = 0; i < n; i += len) {
            std::complex<double> w = 1.0;
            for (std::size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> a = x[i + k];
                const std::complex<double> b = x[i + k + len / 2] * w;
                x[i + k] = a + b;
                x[i + k + len / 2] = a - b;
                w *= step;
            }
        }
    }
}

// Power spectrum of one channel, averaged over Hann-windowed 2048-point blocks with half
// overlap; bin k is k * rate / 2048 Hz.
std::vector<double> PowerSpectrum(const std::vector<float>& interleaved, int channels, int ch) {
    std::vector<double> samples;
    for (std::size_t i = static_cast<std::size_t>(ch); i < interleaved.size();
         i += static_cast<std::size_t>(channels)) {
        samples.push_back(interleaved[i]);
    }
    std::vector<double> power(kFftSize / 2 + 1, 0.0);
    const double pi = std::acos(-1.0);
    int blocks = 0;
    for (std::size_t start = 0; start + kFftSize <= samples.size(); start += kFftSize / 2) {
        std::vector<std::complex<double>> x(kFftSize);
        for (int i = 0; i < kFftSize; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2.0 * pi * i / kFftSize);
            x[static_cast<std::size_t>(i)] = samples[start + static_cast<std::size_t>(i)] * w;
        }
        Fft(x);
        for (std::size_t k = 0; k < power.size(); ++k) power[k] += std::norm(x[k]);
        ++blocks;
    }
    for (double& p : power) p /= std::max(blocks, 1);
    return power;
}

// Band energies in dB over octave bands of the power spectrum, from bin 8 (172 Hz at
// 44100 Hz) up. Lower down, a concealed tone is not expected to match: the lowest
// scale-factor band (0..153 Hz) is refilled with the mean magnitudes of its lines under
// random signs, and the tone's leakage into those lines, which cancels between granules in
// normal decoding, then stays as noise.
std::vector<double> OctaveBandsDb(const std::vector<double>& power) {
    std::vector<double> bands;
    for (std::size_t lo = 8; lo < power.size() - 1; lo *= 2) {
        const std::size_t hi = std::min(lo * 2, power.size() - 1);
        double e = 0.0;
        for (std::size_t k = lo; k < hi; ++k) e += power[k];
        bands.push_back(10.0 * std::log10(e + 1e-12));
    }
    return bands;
}

struct RealFrames {
    std::vector<uint8_t> bytes;
    std::vector<WalkedFrame> frames;
};

RealFrames LoadFrames(const std::string& name) {
    RealFrames r;
    r.bytes = test::ReadFileBytes(test::ConformanceDir() + name);
    r.frames = FramesOf(r.bytes);
    return r;
}

// Frames [begin, end) of a stream.
std::vector<uint8_t> FramesBetween(const RealFrames& r, int begin, int end) {
    EXPECT_GE(static_cast<int>(r.frames.size()), end);
    std::vector<uint8_t> out;
    for (int i = begin; i < end && i < static_cast<int>(r.frames.size()); ++i) {
        Append(out, FrameBytesAt(r.bytes, r.frames[static_cast<std::size_t>(i)]));
    }
    return out;
}

// Frames [begin, end) rewrapped as protected frames whose CRC fails (a different side
// information bit flipped in each).
std::vector<uint8_t> RewrappedDamaged(const RealFrames& r, int begin, int end, int sideInfoBytes) {
    std::vector<uint8_t> out;
    for (int i = begin; i < end && i < static_cast<int>(r.frames.size()); ++i) {
        const std::vector<uint8_t> f = FrameBytesAt(r.bytes, r.frames[static_cast<std::size_t>(i)]);
        Append(out, test::ProtectFrame(f, sideInfoBytes, (i * 37) % (sideInfoBytes * 8)));
    }
    return out;
}

// `count` real protected frames (same sampling rate as the tone), each with one side
// information bit flipped so that its CRC fails.
std::vector<uint8_t> DamagedProtectedFrames(int count) {
    const RealFrames common = LoadFrames("l3-hecommon.bit");
    std::vector<uint8_t> out;
    int taken = 0;
    for (const WalkedFrame& f : common.frames) {
        if (!f.protectedFrame || taken == count) continue;
        std::vector<uint8_t> frame = FrameBytesAt(common.bytes, f);
        frame[6 + static_cast<std::size_t>(taken % 32)] ^= static_cast<uint8_t>(1u << (taken % 8));
        Append(out, frame);
        ++taken;
    }
    EXPECT_EQ(taken, count);
    return out;
}

std::vector<float> Joined(const std::vector<Call>& calls, std::size_t begin, std::size_t end) {
    std::vector<float> out;
    for (std::size_t i = begin; i < end && i < calls.size(); ++i) {
        out.insert(out.end(), calls[i].floats.begin(), calls[i].floats.end());
    }
    return out;
}

double Rms(const std::vector<float>& samples) {
    double sum = 0.0;
    for (float s : samples) sum += static_cast<double>(s) * static_cast<double>(s);
    return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

// Concealed output against the passage before it: every concealed frame is loud (within
// 3 dB of the passage's RMS), and in the octave bands that hold energy (within 60 dB of
// the strongest) each channel keeps the passage's average level within 3 dB.
void ExpectEnvelopeKept(const std::vector<Call>& calls, std::size_t passageBegin,
                        std::size_t concealedBegin, std::size_t concealedEnd, int channels,
                        std::size_t minBands) {
    const std::vector<float> passage = Joined(calls, passageBegin, concealedBegin);
    const std::vector<float> concealed = Joined(calls, concealedBegin, concealedEnd);
    const double passageRms = Rms(passage);
    ASSERT_GT(passageRms, 100.0);
    for (std::size_t i = concealedBegin; i < concealedEnd; ++i) {
        const double level = 20.0 * std::log10(Rms(calls[i].floats) / passageRms);
        EXPECT_LT(std::fabs(level), 3.0) << "frame " << i << ": " << level << " dB";
    }
    for (int ch = 0; ch < channels; ++ch) {
        const std::vector<double> want = OctaveBandsDb(PowerSpectrum(passage, channels, ch));
        const std::vector<double> got = OctaveBandsDb(PowerSpectrum(concealed, channels, ch));
        const double strongest = *std::max_element(want.begin(), want.end());
        std::size_t compared = 0;
        for (std::size_t b = 0; b < want.size(); ++b) {
            if (want[b] < strongest - 60.0) continue;
            ++compared;
            EXPECT_NEAR(got[b], want[b], 3.0) << "channel " << ch << " octave " << b;
        }
        EXPECT_GE(compared, minBands) << "channel " << ch;
    }
}

TEST(frame_Concealment, CrcErrorsAfterAHarmonicToneKeepItsEnvelope) {
    // About one second of a steady harmonic tone (mono, 44100 Hz), then twenty frames of
    // the same stream whose CRC fails.
    const RealFrames tone = LoadFrames("l3-he_44khz.bit");
    const std::vector<Call> calls =
        DecodeCalls(Concat({FramesBetween(tone, 0, 40), RewrappedDamaged(tone, 40, 60, 17)}), true);
    ASSERT_EQ(calls.size(), 60u);
    for (std::size_t i = 40; i < 60; ++i) {
        ASSERT_EQ(calls[i].status, kSscInfoCrc) << i;
        ASSERT_EQ(calls[i].bytes, 1152 * 4);
    }
    ExpectEnvelopeKept(calls, 8, 40, 60, 1, 5);
}

TEST(frame_Concealment, CrcErrorsAfterASineKeepItsTone) {
    // The 1 kHz sine (stereo, 44100 Hz) followed by real protected frames of another
    // stream at the same rate, each with one side-information bit flipped. Float output:
    // the full-scale sine's noise would clip in 16 bits.
    const RealFrames sine = LoadFrames("l3-sin1k0db.bit");
    const std::vector<Call> calls =
        DecodeCalls(Concat({FramesBetween(sine, 0, 40), DamagedProtectedFrames(20)}), true);
    ASSERT_EQ(calls.size(), 60u);
    for (std::size_t i = 40; i < 60; ++i) {
        ASSERT_EQ(calls[i].status, kSscInfoCrc) << i;
        ASSERT_EQ(calls[i].bytes, 1152 * 2 * 4);
    }
    ExpectEnvelopeKept(calls, 8, 40, 60, 2, 1);
}

TEST(frame_Concealment, MissingMainDataAfterAToneIsConcealedToo) {
    // The sine's frames point 461 bytes back. After one frame whose CRC fails (which
    // empties the reservoir) the next two find too little main data; the third has it.
    const RealFrames sine = LoadFrames("l3-sin1k0db.bit");
    const std::vector<Call> calls =
        DecodeCalls(Concat({FramesBetween(sine, 0, 40), RewrappedDamaged(sine, 40, 41, 32),
                            FramesBetween(sine, 41, 44)}),
                    true);
    ASSERT_EQ(calls.size(), 44u);
    EXPECT_EQ(calls[40].status, kSscInfoCrc);
    for (std::size_t i = 41; i < 43; ++i) {
        EXPECT_EQ(calls[i].status, kSscInfoNoMainData) << i;
        EXPECT_EQ(calls[i].bytes, 1152 * 2 * 4);
        EXPECT_EQ(calls[i].info.missingMainData, 1);
        EXPECT_EQ(calls[i].info.crcError, 0);
    }
    EXPECT_EQ(calls[43].status, kSscSuccess);
    ExpectEnvelopeKept(calls, 8, 40, 43, 2, 1);
}

TEST(frame_Concealment, RightAfterResetIsSilent) {
    const RealFrames tone = LoadFrames("l3-he_44khz.bit");
    VeloradecoderPtr decoder(Veloradecoder::Create(0, false, false));
    const std::vector<Call> before = DecodeCalls(*decoder, FramesBetween(tone, 0, 40));
    ASSERT_EQ(before.size(), 40u);
    ASSERT_GT(Rms(std::vector<float>(before[30].pcm.begin(), before[30].pcm.end())), 100.0);
    decoder->Reset();
    const std::vector<Call> calls = DecodeCalls(*decoder, RewrappedDamaged(tone, 40, 45, 17));
    ASSERT_EQ(calls.size(), 5u);
    for (const Call& c : calls) {
        EXPECT_EQ(c.status, kSscInfoCrc);
        EXPECT_EQ(c.bytes, 1152 * 2);
        EXPECT_TRUE(Silent(c.pcm));
    }
    // Without the reset the same frames are concealed as noise.
    VeloradecoderPtr control(Veloradecoder::Create(0, false, false));
    const std::vector<Call> noisy = DecodeCalls(
        *control, Concat({FramesBetween(tone, 0, 40), RewrappedDamaged(tone, 40, 45, 17)}));
    ASSERT_EQ(noisy.size(), 45u);
    for (std::size_t i = 40; i < 45; ++i) EXPECT_FALSE(Silent(noisy[i].pcm)) << i;
}

}  // namespace
}  // namespace velora
