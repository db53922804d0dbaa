// Streams of the whole encoder decode to the same PCM here and in mpg123: a value this
// decoder reads otherwise than the standard's arithmetic (a band stepped above full scale)
// or a burst only other decoders play would show as a large difference. Skipped without
// mpg123.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "BitstreamTestSupport.h"
#include "DecodeHelpers.h"
#include "EncoderApi.h"
#include "EncoderTestSupport.h"

namespace velora::enc {
namespace {

enum class Signal {
    SameChannels,  // a silent side channel: intensity bands over a channel that codes nothing
    LoudBass,      // a bass near full scale: the coarse steps of the low VBR qualities
};

struct Case {
    const char* name;
    int rate;
    uint32_t vbrQuality;
    uint32_t kbps;  // with VBR it steers the core rate
    Signal signal;
};

// Names the case in failure messages (instead of the bytes of the record).
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<float> InputFor(const Case& c) {
    const double seconds = 1.5;
    std::vector<float> pcm = test::MusicSignal(c.rate, 2, seconds);
    const size_t frames = pcm.size() / 2;
    for (size_t n = 0; n < frames; ++n) {
        if (c.signal == Signal::SameChannels) {
            pcm[2 * n + 1] = pcm[2 * n];
        } else {
            const double bass = 26000.0 * std::sin(2.0 * test::kTestPi * 55.0 * static_cast<double>(n) / c.rate);
            pcm[2 * n] = static_cast<float>(0.2 * static_cast<double>(pcm[2 * n]) + bass);
            pcm[2 * n + 1] = static_cast<float>(0.2 * static_cast<double>(pcm[2 * n + 1]) + bass);
        }
    }
    return pcm;
}

class veloraenc_PeerAgreement : public ::testing::TestWithParam<Case> {};

TEST_P(veloraenc_PeerAgreement, Mpg123DecodesTheSamePcm) {
    if (!test::ToolAvailable("mpg123")) GTEST_SKIP() << "mpg123 not installed";
    const Case& c = GetParam();
    test::Handle e(mp3EncOpen(c.rate, 2, kInputInt16));
    ASSERT_NE(e.h, nullptr);
    EncoderOutputFormat f;
    f.channelMode = kChannelModeStereo;
    f.sbrMode = kSbrModeOff;
    f.bitrate = c.kbps * 1000;
    f.vbrQuality = c.vbrQuality;
    ASSERT_EQ(mp3EncSetOutputFormat(e.h, &f), 1);
    // As velora encode and the encoder window ask: intensity stereo allowed, the best mode.
    EncoderConfiguration config = *mp3EncGetConfiguration(e.h);
    config.intensityStereo = 1;
    config.qualityMode = 2;
    ASSERT_EQ(mp3EncSetConfiguration(e.h, &config), 1);
    const test::EncodedStream s = test::EncodeAll(e.h, test::AsInt16Bytes(InputFor(c)));
    ASSERT_TRUE(s.ok);

    const std::string path = test::TempPath(std::string("veloraenc_peer_") + c.name + ".mp3");
    const std::string raw = path + ".raw";
    ASSERT_TRUE(test::WriteFile(path, s.bytes));
    std::string output;
    ASSERT_EQ(test::RunCommand("mpg123 -q -s '" + path + "' > '" + raw + "'", output), 0) << output;
    const std::vector<uint8_t> bytes = test::ReadFile(raw);
    std::vector<int16_t> theirs(bytes.size() / 2);
    for (size_t i = 0; i < theirs.size(); ++i)
        theirs[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
    const velora::test::Decoded ours = velora::test::DecodeAll(s.bytes);
    EXPECT_EQ(ours.last, kSscSyncEof);
    ASSERT_EQ(theirs.size(), ours.pcm.size());

    double signal = 0.0;
    double error = 0.0;
    int largest = 0;
    for (size_t i = 0; i < theirs.size(); ++i) {
        const double d = static_cast<double>(ours.pcm[i]) - theirs[i];
        signal += static_cast<double>(ours.pcm[i]) * ours.pcm[i];
        error += d * d;
        largest = std::max(largest, static_cast<int>(std::fabs(d)));
    }
    const double snr = error > 0.0 ? 10.0 * std::log10(signal / error) : 200.0;
    std::printf("%s: mpg123 agrees to %.1f dB (largest difference %d)\n", c.name, snr, largest);
    EXPECT_GT(signal, 1e6 * static_cast<double>(theirs.size())) << "the comparison needs a signal";
    EXPECT_GT(snr, 60.0);
    EXPECT_LE(largest, 2);
    std::remove(path.c_str());
    std::remove(raw.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Points, veloraenc_PeerAgreement,
    ::testing::Values(Case{"vbr_q50_44k_same_channels", 44100, 50, 128, Signal::SameChannels},
                      Case{"vbr_q80_44k_same_channels", 44100, 80, 128, Signal::SameChannels},
                      Case{"cbr_128_44k_same_channels", 44100, 0, 128, Signal::SameChannels},
                      Case{"vbr_q20_22k_loud_bass", 22050, 20, 64, Signal::LoudBass},
                      Case{"vbr_q1_22k_loud_bass", 22050, 1, 64, Signal::LoudBass},
                      Case{"cbr_32_22k_loud_bass", 22050, 0, 32, Signal::LoudBass}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace velora::enc
