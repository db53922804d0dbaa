// The VBR header frame: the header frame chosen per rate, the seek table's doubling and
// compaction, the rendered layout, and a rendered frame read back by the decoder's stream
// analysis and by ffprobe.
#include "VbriWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "MpegHeader.h"
#include "StreamInfo.h"

namespace velora::enc {
namespace {

uint32_t Get16(const uint8_t* p) { return (uint32_t{p[0]} << 8) | p[1]; }
uint32_t Get32(const uint8_t* p) { return (Get16(p) << 16) | Get16(p + 2); }

std::vector<uint8_t> Rendered(const VbriWriter& w, bool sbrOn = false) {
    std::vector<uint8_t> frame(static_cast<size_t>(w.FrameLength()), 0xAA);
    EXPECT_EQ(w.Render(frame.data(), static_cast<int>(frame.size()), false, false, false, sbrOn), w.FrameLength());
    return frame;
}

TEST(vbri_Writer, HeaderFramePerRate) {
    struct Row {
        int rate;
        int version;
        int samples;
        int bitrate;
        int length;
    };
    const Row rows[] = {{8000, 2, 576, 56000, 504},    {11025, 2, 576, 80000, 522},
                        {12000, 2, 576, 80000, 480},   {16000, 1, 576, 112000, 504},
                        {22050, 1, 576, 144000, 470},  {24000, 1, 576, 160000, 480},
                        {32000, 0, 1152, 112000, 504}, {44100, 0, 1152, 160000, 522},
                        {48000, 0, 1152, 160000, 480}};
    for (const Row& r : rows) {
        for (int channels : {1, 2}) {
            VbriWriter w;
            ASSERT_TRUE(w.Create(r.rate, channels, false)) << r.rate;
            EXPECT_EQ(w.FrameLength(), r.length) << r.rate;
            EXPECT_EQ(w.Version(), r.version) << r.rate;
            // The placeholder's header, read by the decoder's own parser.
            const std::vector<uint8_t> f = Rendered(w);
            MpegHeader h;
            ASSERT_TRUE(h.Parse(Get32(f.data()))) << r.rate;
            EXPECT_EQ(h.samplingRate, r.rate);
            EXPECT_EQ(h.version, r.version);
            EXPECT_EQ(h.bitrate, r.bitrate) << r.rate;
            EXPECT_EQ(h.SamplesPerFrame(), r.samples);
            EXPECT_EQ(h.frameBits / 8, r.length);
            EXPECT_EQ(h.channels, channels);
            EXPECT_FALSE(h.crcPresent);
            EXPECT_EQ(w.Delay(), r.samples);
        }
    }
    VbriWriter w;
    EXPECT_FALSE(w.Create(44000, 2, false));
    EXPECT_FALSE(w.Create(96000, 2, false));
    EXPECT_FALSE(w.Create(22050, 3, false));
    EXPECT_FALSE(w.Create(0, 1, false));
}

TEST(vbri_Writer, PlaceholderIsTheBareHeader) {
    VbriWriter w;
    ASSERT_TRUE(w.Create(22050, 2, true));
    const std::vector<uint8_t> f = Rendered(w, true);
    for (size_t i = 4; i < f.size(); ++i) ASSERT_EQ(f[i], 0) << i;
    // Private, copyright and original bits go into the header.
    std::vector<uint8_t> g(static_cast<size_t>(w.FrameLength()));
    w.Render(g.data(), static_cast<int>(g.size()), true, true, true, false);
    MpegHeader h;
    ASSERT_TRUE(h.Parse(Get32(g.data())));
    EXPECT_EQ(h.privateBit, 1);
    EXPECT_EQ(h.copyright, 1);
    EXPECT_EQ(h.original, 1);
    EXPECT_EQ(h.mode, 0);
    // A short buffer is left alone, and the length reported all the same.
    std::vector<uint8_t> small(100, 0x55);
    EXPECT_EQ(w.Render(small.data(), 100, false, false, false, false), 470);
    EXPECT_EQ(small[0], 0x55);
}

TEST(vbri_SeekTable, DoublesAtTwoHundredAndCompactsAtThreeHundred) {
    SeekTable t;
    for (uint32_t i = 0; i < 199; ++i) t.Offer(i * 10);
    EXPECT_EQ(t.StoredCount(), 199);
    EXPECT_EQ(t.FramesPerEntry(), 1);
    t.Offer(1990);  // the 200th
    EXPECT_EQ(t.StoredCount(), 200);
    EXPECT_EQ(t.FramesPerEntry(), 2);
    for (uint32_t i = 200; i < 398; ++i) t.Offer(i * 10);
    EXPECT_EQ(t.StoredCount(), 299);
    t.Offer(3980);  // the 399th
    EXPECT_EQ(t.StoredCount(), 200);
    EXPECT_EQ(t.FramesPerEntry(), 4);
    EXPECT_EQ(t.FramesOffered(), 399u);
    // The compacted entries are two frames apart, as the logical view says, although new
    // ones are taken every four frames.
    EXPECT_EQ(t.LogicalFramesPerEntry(), 2);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(t.Stored(i), static_cast<uint32_t>(i) * 20u) << i;
    // And it goes on without growing.
    for (uint32_t i = 399; i < 5000; ++i) {
        t.Offer(i * 10);
        ASSERT_LE(t.StoredCount(), SeekTable::kCapacity);
    }
    const int n = t.LogicalCount();
    const uint32_t step = static_cast<uint32_t>(t.LogicalFramesPerEntry()) * 10u;
    for (int i = 0; i < n; ++i) EXPECT_EQ(t.LogicalEntry(i), static_cast<uint32_t>(i) * step) << i;
}

TEST(vbri_Writer, TableSpacingIsRightJustAfterTheDoubling) {
    VbriWriter w;
    ASSERT_TRUE(w.Create(22050, 1, false));
    for (uint32_t i = 0; i < 199; ++i) w.RecordFrame(i * 100, 100);  // 200 positions
    std::vector<uint8_t> f = Rendered(w);
    EXPECT_EQ(Get16(&f[54]), 199u);
    EXPECT_EQ(Get16(&f[60]), 1u);
    EXPECT_EQ(Get16(&f[62]), 470u);
    for (int i = 2; i < 200; ++i) EXPECT_EQ(Get16(&f[static_cast<size_t>(60 + 2 * i)]), 100u) << i;
    w.RecordFrame(19900, 100);
    w.RecordFrame(20000, 100);  // a new entry two frames on
    f = Rendered(w);
    EXPECT_EQ(Get16(&f[54]), 100u) << "the header view takes every second early entry";
    EXPECT_EQ(Get16(&f[60]), 2u);
    EXPECT_EQ(Get16(&f[62]), 470u + 100u);
    for (int i = 2; i <= 100; ++i) EXPECT_EQ(Get16(&f[static_cast<size_t>(60 + 2 * i)]), 200u) << i;
}

TEST(vbri_Writer, OneFrameStream) {
    VbriWriter w;
    ASSERT_TRUE(w.Create(22050, 2, false));
    w.SetDelayAndQuality(1000, 45);
    w.RecordFrame(0, 200);
    const std::vector<uint8_t> f = Rendered(w);
    EXPECT_EQ(std::string(f.begin() + 36, f.begin() + 40), "VBRI");
    EXPECT_EQ(Get16(&f[40]), 1u);
    EXPECT_EQ(Get16(&f[42]), 1000u + 576u);
    EXPECT_EQ(Get16(&f[44]), 45u);
    EXPECT_EQ(Get32(&f[46]), 470u + 200u);
    EXPECT_EQ(Get32(&f[50]), 2u);
    EXPECT_EQ(Get16(&f[54]), 1u);
    EXPECT_EQ(Get16(&f[56]), 1u);
    EXPECT_EQ(Get16(&f[58]), 2u);
    EXPECT_EQ(Get16(&f[60]), 1u);
    EXPECT_EQ(Get16(&f[62]), 470u);
    for (size_t i = 64; i < f.size(); ++i) ASSERT_EQ(f[i], 0) << i;
}

TEST(vbri_Writer, SbrSignatureSitsBehindTheSideInformation) {
    for (int channels : {1, 2}) {
        VbriWriter w;
        ASSERT_TRUE(w.Create(22050, channels, true));
        w.SetDelayAndQuality(0, 50);
        EXPECT_EQ(w.Delay(), 2 * 576);
        w.RecordFrame(0, 300);
        const std::vector<uint8_t> with = Rendered(w, true);
        const std::vector<uint8_t> without = Rendered(w, false);
        const size_t at = channels == 2 ? 21 : 13;
        const uint8_t first = channels == 2 ? 0xC0 : 0xD0;
        EXPECT_EQ(with[at], first);
        EXPECT_EQ(with[at + 1], 0x1E);
        EXPECT_EQ(with[at + 2], 0xE8);
        EXPECT_EQ(with[at + 3], 0x00);
        for (size_t i = 4; i < 36; ++i) {
            if (i < at || i >= at + 4) {
                EXPECT_EQ(with[i], 0) << i;
            }
        }
        for (size_t i = 4; i < 36; ++i) EXPECT_EQ(without[i], 0) << i;
    }
}

// A real VBR stream behind the rendered frame: the decoder's analysis and ffprobe read it.
class vbri_Stream : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string path = VELORA_SOURCE_DIR "/Veloradec/tests/conformance/M2L3_bitrate_22_all.bit";
        audio.resize(std::filesystem::file_size(path));
        std::ifstream in(path, std::ios::binary);
        in.read(reinterpret_cast<char*>(audio.data()), static_cast<std::streamsize>(audio.size()));
        ASSERT_FALSE(audio.empty());
        ASSERT_TRUE(w.Create(22050, 2, false));
        w.SetDelayAndQuality(529, 50);
        size_t at = 0;
        MpegHeader h;
        while (at + 4 <= audio.size() && h.Parse(Get32(&audio[at]))) {
            const uint32_t length = static_cast<uint32_t>(h.frameBits / 8);
            if (at + length > audio.size()) break;
            frameStarts.push_back(static_cast<uint32_t>(at));
            w.RecordFrame(static_cast<uint32_t>(at), length);
            at += length;
        }
        audio.resize(at);
        ASSERT_GT(frameStarts.size(), 100u);
        file = Rendered(w);
        file.insert(file.end(), audio.begin(), audio.end());
    }

    VbriWriter w;
    std::vector<uint8_t> audio;
    std::vector<uint32_t> frameStarts;
    std::vector<uint8_t> file;
};

TEST_F(vbri_Stream, StreamInfoReadsWhatWasWritten) {
    StreamInfo info;
    info.Init();
    const int length = static_cast<int>(std::min<size_t>(file.size(), 8192));
    ASSERT_EQ(info.Analyse(file.data(), length, static_cast<uint32_t>(file.size())), 1);
    EXPECT_EQ(info.vbrHeader, 1);
    EXPECT_EQ(info.vbri.frames, frameStarts.size() + 1);
    EXPECT_EQ(info.vbri.bytes, file.size());
    EXPECT_EQ(info.vbri.delay, 529 + 576);
    EXPECT_EQ(info.vbri.quality, 50);
    ASSERT_EQ(info.vbri.tocEntries, w.Table().LogicalCount() - 1);
    // Every table position is the start of a frame in the file.
    const uint32_t step = info.vbri.framesPerEntry;
    for (int i = 1; i <= info.vbri.tocEntries; ++i) {
        const size_t frame = static_cast<size_t>(i) * step - 1;  // position 0 is the header frame
        ASSERT_LT(frame, frameStarts.size());
        EXPECT_EQ(info.vbri.table[i], frameStarts[frame] + 470u) << i;
    }
}

TEST_F(vbri_Stream, FfprobeReportsTheDurationTheHeaderImplies) {
    if (std::system("ffprobe -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffprobe not installed";
    const std::filesystem::path path = std::filesystem::temp_directory_path() / "velora_vbri_test.mp3";
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    }
    const std::string command = "ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[128] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    pclose(pipe);
    std::filesystem::remove(path);
    ASSERT_TRUE(got);
    const double seconds = std::atof(line);
    const double frame = 576.0 / 22050.0;
    // The header counts itself among the frames; readers subtract it.
    const double implied = static_cast<double>(frameStarts.size()) * frame;
    EXPECT_NEAR(seconds, implied, frame) << "ffprobe says " << line;
}

}  // namespace
}  // namespace velora::enc
