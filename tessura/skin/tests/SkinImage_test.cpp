// Skin images: JPEGs made here with libjpeg's encoder read back at their size and within
// JPEG's error, masks apply, missing members fall back on the default skin, and damaged
// images end in the program's messages instead of the decoder ending the process.
#include "SkinArchiveWriter.h"
#include "SkinArchive.h"
#include "SkinImage.h"
#include "TempFolder.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <jpeglib.h>

namespace tessura {
namespace {

using Colour = std::function<void(int x, int y, unsigned char rgb[3])>;

std::string encodeJpeg(int width, int height, const Colour& colour, int quality = 95) {
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) colour(x, y, &row[std::size_t(x) * 3]);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string out(reinterpret_cast<char*>(buffer), size);
    std::free(buffer);
    return out;
}

void gradient(int x, int y, unsigned char rgb[3]) {
    rgb[0] = static_cast<unsigned char>(x * 6);
    rgb[1] = static_cast<unsigned char>(y * 12);
    rgb[2] = static_cast<unsigned char>(200 - x * 2);
}

// White on the left half, black on the right.
void leftHalf(int x, int, unsigned char rgb[3]) { rgb[0] = rgb[1] = rgb[2] = x < 20 ? 255 : 0; }

class SkinImageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        texts.LoadLanguageList(std::string(VELORA_SOURCE_DIR) + "/tessura/system");
        ASSERT_EQ(texts.SelectLanguage("English"), LanguageStore::kSelected);
        sources.programDir = home.path();
        sources.currentSkin = "skins/slate.tgf";
        sources.defaultSkin = "system/tessura.tgf";
    }
    test::TempFolder home;
    SkinSources sources;
    LanguageStore texts;
};

TEST_F(SkinImageTest, JpegReadsBackWithItsMaskAndFallsBackOnTheDefaultSkin) {
    const std::string picture = encodeJpeg(40, 16, gradient);
    home.write("skins/slate.tgf", test::WriteSkinArchive(2, {
        {"/jpeg/navitem1", picture, true},
        {"/jpeg/navitem1mask", encodeJpeg(40, 16, leftHalf)},
        {"/jpeg/navitem2", picture},
        {"/jpeg/navitem2mask", encodeJpeg(8, 8, leftHalf)},  // wrong size: ignored
    }, 5));
    home.write("system/tessura.tgf", test::WriteSkinArchive(1, {
        {"/jpeg/misc", encodeJpeg(3, 2, gradient)},
        {"/jpeg/navitem1", encodeJpeg(5, 5, gradient)},
    }));

    const SkinImageResult own = LoadSkinImage("/jpeg/navitem1", false, sources);
    ASSERT_EQ(own.status, SkinImageResult::Status::Loaded);
    EXPECT_FALSE(own.fromDefaultSkin);
    const SkinImage& image = *own.image;
    ASSERT_EQ(image.width, 40);
    ASSERT_EQ(image.height, 16);
    ASSERT_EQ(image.rgb.size(), 40u * 16 * 3);
    int worst = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 40; ++x) {
            unsigned char want[3];
            gradient(x, y, want);
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(int(image.rgb[(std::size_t(y) * 40 + x) * 3 + c]) - want[c]));
        }
    EXPECT_LE(worst, 12) << "red, green, blue in that order, top row first";
    ASSERT_EQ(image.alpha.size(), 40u * 16);
    for (int y : {0, 15}) {
        EXPECT_EQ(image.alpha[std::size_t(y) * 40 + 0], 255);
        EXPECT_EQ(image.alpha[std::size_t(y) * 40 + 18], 255);
        EXPECT_EQ(image.alpha[std::size_t(y) * 40 + 21], 0);
        EXPECT_EQ(image.alpha[std::size_t(y) * 40 + 39], 0);
    }

    const SkinImageResult mismatched = LoadSkinImage("/jpeg/navitem2", false, sources);
    ASSERT_EQ(mismatched.status, SkinImageResult::Status::Loaded);
    EXPECT_TRUE(mismatched.image->alpha.empty());

    const SkinImageResult fallback = LoadSkinImage("/jpeg/misc", false, sources);
    ASSERT_EQ(fallback.status, SkinImageResult::Status::Loaded);
    EXPECT_TRUE(fallback.fromDefaultSkin);
    EXPECT_EQ(fallback.image->width, 3);
    EXPECT_FALSE(MessageFor(fallback, texts));

    const SkinImageResult fromDefault = LoadSkinImage("/jpeg/navitem1", true, sources);
    ASSERT_EQ(fromDefault.status, SkinImageResult::Status::Loaded);
    EXPECT_EQ(fromDefault.image->width, 5);

    // A named archive is asked on its own.
    const SkinImageResult named = LoadSkinImage(JoinSkinMember(home.file("skins/slate.tgf"), "/jpeg/misc"), false, sources);
    EXPECT_EQ(named.status, SkinImageResult::Status::MemberMissing);

    // What the user is told: a missing image asks whether to quit, an unreadable skin ends.
    struct Failure {
        const char* skin;
        SkinImageResult::Status status;
        const char* text;
        bool askQuit, endsProgram;
    };
    for (const Failure& f : {
             Failure{"skins/slate.tgf", SkinImageResult::Status::MemberMissing,
                     "The skin skins/slate.tgf has no image /jpeg/splash. Quit Tessura?", true, false},
             Failure{"skins/gone.tgf", SkinImageResult::Status::ArchiveUnreadable,
                     "The skin skins/gone.tgf could not be loaded.", false, true},
         }) {
        SCOPED_TRACE(f.skin);
        sources.currentSkin = f.skin;
        const SkinImageResult result = LoadSkinImage("/jpeg/splash", false, sources);
        EXPECT_EQ(result.status, f.status);
        const auto message = MessageFor(result, texts);
        ASSERT_TRUE(message);
        EXPECT_EQ(message->title, "Tessura error");
        EXPECT_EQ(message->text, f.text);
        EXPECT_EQ(message->askQuit, f.askQuit);
        EXPECT_EQ(message->endsProgram, f.endsProgram);
    }
}

TEST_F(SkinImageTest, DamagedJpegsGiveTheCorruptImageMessage) {
    const std::string good = encodeJpeg(16, 16, gradient);
    std::string huge = good;
    // The frame header's height and width (SOF0 after the default tables) set to 65000.
    const std::size_t sof = huge.find("\xff\xc0");
    ASSERT_NE(sof, std::string::npos);
    huge[sof + 5] = huge[sof + 7] = char(0xfd);
    huge[sof + 6] = huge[sof + 8] = char(0xe8);
    std::string precision = good;
    precision[sof + 4] = 12;
    const std::vector<std::pair<const char*, std::string>> damaged = {
        {"not a JPEG", "this is no image at all"},
        {"empty", ""},
        {"header only", good.substr(0, 20)},
        {"12-bit samples", precision},
        {"65000 x 65000", huge},
    };
    std::vector<test::TestMember> members;
    for (const auto& [name, bytes] : damaged) members.push_back({std::string("/jpeg/") + name, bytes});
    home.write("skins/slate.tgf", test::WriteSkinArchive(1, members));
    for (const auto& [name, bytes] : damaged) {
        SCOPED_TRACE(name);
        const SkinImageResult result = LoadSkinImage(std::string("/jpeg/") + name, false, sources);
        ASSERT_EQ(result.status, SkinImageResult::Status::Corrupt);
        EXPECT_EQ(result.jpegErrorKey, "errors/jpegfatalerror");
        const auto message = MessageFor(result, texts);
        ASSERT_TRUE(message);
        EXPECT_NE(message->text.find("An image of the skin could not be decoded. Quit Tessura?"), std::string::npos);
        EXPECT_TRUE(message->askQuit);
    }
    // A JPEG cut inside its scan is damaged but drawable: the decoder pads it.
    const SkinJpegResult cut = DecodeSkinJpeg(reinterpret_cast<const std::uint8_t*>(good.data()), good.size() - 40);
    ASSERT_TRUE(cut.image);
    EXPECT_EQ(cut.image->width, 16);
}

}  // namespace
}  // namespace tessura
