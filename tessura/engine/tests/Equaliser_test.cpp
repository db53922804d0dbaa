// The equaliser model and "TesEque.spf": the file's bytes as written, replaced and refused, and
// the presets as selected, saved and read back by a second model.
#include "Equaliser.h"
#include "AtomicFile.h"
#include "LanguageStore.h"
#include "Preferences.h"
#include "ProgramFolder.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

namespace tessura {
namespace {

namespace fs = std::filesystem;

class EqualiserTest : public testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("tessura-eq-" + std::to_string(::getpid()) + "-" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        path_ = (folder_ / kPresetFileName).string();
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string bytes() const {
        std::string content;
        readWholeFile(path_, content);
        return content;
    }
    void writeBytes(const std::string& content) const {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << content;
    }
    float gainAt(const std::string& content, std::size_t record, std::size_t band) const {
        uint32_t bits = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            bits |= uint32_t{static_cast<unsigned char>(content[record * 100 + 20 + band * 4 + i])}
                    << (8 * i);
        }
        return std::bit_cast<float>(bits);
    }

    fs::path folder_;
    std::string path_;
    EqualiserFilter filter_;
};

TEST_F(EqualiserTest, PresetFileIsWrittenAfreshUnlessItHasTheRightSize) {
    std::string kept = EqualiserPresetFile::FreshFile();
    kept.replace(300, 7, "Mellow\0", 7);
    struct Case {
        const char* what;
        std::optional<std::string> before;  // none: no file
        bool replaced;
    } cases[] = {
        {"missing", std::nullopt, true},
        {"1099 bytes", std::string(1099, 'x'), true},
        {"1101 bytes", std::string(1101, 'x'), true},
        {"empty", std::string(), true},
        {"1100 bytes kept", kept, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(path_);
        if (c.before) writeBytes(*c.before);
        EqualiserPresetFile file(path_);
        ASSERT_TRUE(file.Ensure());
        const std::string now = bytes();
        ASSERT_EQ(now.size(), 1100u);
        EXPECT_EQ(now, c.replaced ? EqualiserPresetFile::FreshFile() : kept);
        // No temporary file is left beside it.
        EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
    }

    ProgramFolder program;
    program.home = folder_.string();
    EXPECT_EQ(EqualiserPresetFile::InProgramFolder(program).path(), path_);

    // The fresh layout, byte by byte: names NUL-padded to 20 bytes, gains 1.0f little-endian.
    const std::string fresh = EqualiserPresetFile::FreshFile();
    for (std::size_t record = 0; record < 11; ++record) {
        SCOPED_TRACE(record);
        const std::string name = record == 10 ? "Custom" : "UserPreset" + std::to_string(record);
        const std::string field = fresh.substr(record * 100, 20);
        EXPECT_EQ(field, name + std::string(20 - name.size(), '\0'));
        for (std::size_t band = 0; band < 20; ++band) {
            EXPECT_EQ(fresh.substr(record * 100 + 20 + band * 4, 4),
                      std::string("\x00\x00\x80\x3f", 4));
        }
    }
}

TEST_F(EqualiserTest, DamagedOrUnreadableRecordsFallBackToPresetNone) {
    auto withGain = [](std::size_t record, std::size_t band, float value) {
        std::string content = EqualiserPresetFile::FreshFile();
        const uint32_t bits = std::bit_cast<uint32_t>(value);
        for (std::size_t i = 0; i < 4; ++i)
            content[record * 100 + 20 + band * 4 + i] = static_cast<char>(bits >> (8 * i));
        return content;
    };
    struct Case {
        const char* what;
        std::function<void()> prepare;
        int id;
        std::string name;  // what PresetName(id) shows (user presets only)
    } cases[] = {
        {"NaN gain", [&] { writeBytes(withGain(3, 5, std::numeric_limits<float>::quiet_NaN())); },
         103, "UserPreset3"},
        {"infinite gain",
         [&] { writeBytes(withGain(9, 19, std::numeric_limits<float>::infinity())); }, 109,
         "UserPreset9"},
        {"-infinite gain",
         [&] { writeBytes(withGain(0, 0, -std::numeric_limits<float>::infinity())); }, 100,
         "UserPreset0"},
        {"NaN in Custom",
         [&] { writeBytes(withGain(10, 7, std::numeric_limits<float>::quiet_NaN())); }, 6,
         "Custom"},
        // A folder where the file should be: it can be neither read nor replaced.
        {"unreadable", [&] { fs::create_directories(path_); }, 105, "UserPreset5"},
        {"folder missing", [&] { fs::remove_all(folder_); }, 102, "UserPreset2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        c.prepare();
        Preferences preferences;
        preferences.eqPreset = 2;
        Equaliser eq(EqualiserPresetFile(path_), filter_.processorInterface(), nullptr,
                     &preferences);
        ASSERT_EQ(eq.presetId(), 2);
        EXPECT_FALSE(eq.SelectPreset(c.id));
        EXPECT_EQ(eq.presetId(), kPresetNone);
        EXPECT_EQ(preferences.eqPreset, kPresetNone);
        EXPECT_EQ(eq.presetName(), "None");
        for (int band = 0; band < 20; ++band) {
            EXPECT_EQ(eq.BandGain(band), 1.0);
            EXPECT_EQ(filter_.band(band).gain, 0.0);
        }
        EXPECT_EQ(eq.PresetName(c.id), c.name);
    }
}

TEST_F(EqualiserTest, NameThatFillsItsFieldIsReadNoFurther) {
    std::string content = EqualiserPresetFile::FreshFile();
    content.replace(100, 20, std::string(20, 'A'));  // record 1, no NUL
    writeBytes(content);
    Equaliser eq(EqualiserPresetFile(path_), filter_.processorInterface(), nullptr, nullptr);
    EXPECT_EQ(eq.PresetName(101), std::string(19, 'A'));
}

TEST_F(EqualiserTest, PresetsSelectLoadAndReachTheFilter) {
    const auto& table = Equaliser::BuiltinGains();
    const std::array<double, 20> flat = table[0];
    struct Case {
        int id;
        bool ok;
        int presetAfter;
        std::string name;
        std::array<double, 20> gains;
    } cases[] = {
        {0, true, 0, "None", flat},
        {1, true, 1, "Pop", {1.0, 1.1, 1.2, 1.3, 1.4, 1.3, 1.2, 1.1, 1.1, 1.0,
                             1.0, 1.0, 1.0, 1.1, 1.2, 1.3, 1.4, 1.3, 1.2, 1.1}},
        {2, true, 2, "Rock", {1.3, 1.3, 1.2, 1.1, 1.0, 1.2, 1.3, 1.3, 1.1, 1.0,
                              1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.1, 1.2, 1.3, 1.4}},
        {3, true, 3, "Jazz", {1.1, 1.1, 1.2, 1.1, 1.0, 1.2, 1.0, 1.0, 1.3, 1.3,
                              1.4, 1.2, 1.1, 1.0, 1.0, 1.0, 1.1, 1.2, 1.3, 1.2}},
        {4, true, 4, "Classical", table[2]},
        {5, true, 5, "Dance", {1.3, 1.25, 1.2, 1.15, 1.1, 1.05, 1.0, 1.0,  1.0, 1.0,
                               1.0, 1.0,  1.0, 1.05, 1.1, 1.15, 1.2, 1.25, 1.3, 1.35}},
        {6, true, 6, "Custom", flat},  // a new file
        {100, true, 100, "UserPreset0", flat},
        {109, true, 109, "UserPreset9", flat},
        {7, false, 0, "None", flat},
        {99, false, 0, "None", flat},
        {110, false, 0, "None", flat},
        {-1, false, 0, "None", flat},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        Equaliser eq(EqualiserPresetFile(path_), filter_.processorInterface(), nullptr, nullptr);
        eq.SelectPreset(1);
        EXPECT_EQ(eq.SelectPreset(c.id), c.ok);
        EXPECT_EQ(eq.presetId(), c.presetAfter);
        EXPECT_EQ(eq.presetName(), c.name);
        for (int band = 0; band < 20; ++band) {
            EXPECT_EQ(eq.BandGain(band), c.gains[band]) << band;
            // The lowest model band drives the lowest filter band (the last one).
            EXPECT_DOUBLE_EQ(filter_.band(19 - band).gain, (c.gains[band] - 1.0) * 0.75) << band;
        }
    }
    Equaliser eq(EqualiserPresetFile(path_), filter_.processorInterface(), nullptr, nullptr);
    EXPECT_EQ(eq.PresetName(6), "Custom");
    EXPECT_EQ(eq.PresetName(7), std::nullopt);
    EXPECT_EQ(eq.PresetName(110), std::nullopt);
}

TEST_F(EqualiserTest, UserPresetsAndTheCustomCurveRoundTrip) {
    struct Case {
        int id;
        std::string name, stored;
        bool ok;
    } cases[] = {
        {100, "Late night", "Late night", true},
        {104, "", "UserPreset4", true},
        {105, "Twenty characters!!!", "Twenty characters!!", true},  // 19 bytes and the NUL
        {106, "A name far longer than the field", "A name far longer t", true},
        // Ten U+00C4 (20 bytes): nine fit, none is split.
        {107, "\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84",
         "\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84\xC3\x84", true},
        {108, std::string("Cut\0here", 8), "Cut", true},
        {99, "Nope", "", false},
        {110, "Nope", "", false},
        {6, "Nope", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        Preferences preferences;
        Equaliser eq(EqualiserPresetFile(path_), filter_.processorInterface(), nullptr,
                     &preferences);
        eq.SelectPreset(3);
        ASSERT_TRUE(eq.SetBandGain(c.id % 20, 0.25 + c.id % 7 * 0.1));
        EXPECT_EQ(eq.presetId(), kPresetCustom);
        EXPECT_EQ(preferences.eqPreset, kPresetCustom);
        const auto gains = eq.gains();
        EXPECT_EQ(eq.SaveUserPreset(c.id, c.name), c.ok);
        ASSERT_EQ(bytes().size(), 1100u);
        if (!c.ok) continue;
        EXPECT_EQ(eq.presetName(), c.stored);

        Equaliser again(EqualiserPresetFile(path_), filter_.processorInterface(), nullptr, nullptr);
        EXPECT_EQ(again.PresetName(c.id), c.stored);
        ASSERT_TRUE(again.SelectPreset(c.id));
        EXPECT_EQ(again.presetName(), c.stored);
        for (int band = 0; band < 20; ++band)
            EXPECT_EQ(again.BandGain(band), static_cast<float>(gains[band]));
        EXPECT_EQ(gainAt(bytes(), static_cast<std::size_t>(c.id - 100), 0),
                  static_cast<float>(gains[0]));
    }

    // Invalid band edits change nothing.
    Equaliser eq(EqualiserPresetFile(path_), filter_.processorInterface(), nullptr, nullptr);
    EXPECT_FALSE(eq.SetBandGain(20, 1.5));
    EXPECT_FALSE(eq.SetBandGain(-1, 1.5));
    EXPECT_FALSE(eq.SetBandGain(3, std::numeric_limits<double>::quiet_NaN()));
    EXPECT_EQ(eq.presetId(), kPresetNone);

    // At exit the current curve becomes record 10, named "Custom".
    ASSERT_TRUE(eq.SetBandGain(0, 1.75));
    ASSERT_TRUE(eq.SaveCustom());
    EXPECT_EQ(bytes().substr(1000, 20), std::string("Custom") + std::string(14, '\0'));
    EXPECT_EQ(gainAt(bytes(), 10, 0), 1.75f);
    Preferences preferences;
    preferences.eqPreset = kPresetCustom;
    Equaliser next(EqualiserPresetFile(path_), filter_.processorInterface(), nullptr, &preferences);
    EXPECT_EQ(next.presetId(), kPresetCustom);
    EXPECT_EQ(next.BandGain(0), 1.75);
    EXPECT_EQ(filter_.band(19).gain, 0.75 * 0.75);
}

TEST_F(EqualiserTest, EnablingStoresTheFlagAndAnnouncesIt) {
    std::vector<std::string> shown;
    int redraws = 0;
    Preferences preferences;
    preferences.enableEQ = 1;
    Equaliser eq(EqualiserPresetFile(path_), filter_.processorInterface(), nullptr, &preferences,
                 {[&] { ++redraws; }, [&](const std::string& text) { shown.push_back(text); }});
    EXPECT_TRUE(eq.enabled());
    EXPECT_TRUE(filter_.enabled());
    const int before = redraws;
    eq.EnableEqualiser(false, true);
    EXPECT_FALSE(filter_.enabled());
    EXPECT_EQ(preferences.enableEQ, 0);
    eq.EnableEqualiser(true, false);
    EXPECT_TRUE(filter_.enabled());
    EXPECT_EQ(preferences.enableEQ, 1);
    eq.EnableEqualiser(true, true);
    EXPECT_EQ(shown, (std::vector<std::string>{"main/eqdisabled", "main/eqenabled"}));
    EXPECT_EQ(redraws, before + 3);
}

TEST_F(EqualiserTest, BuiltinNamesAreTranslatedAndCutToTwentyCharacters) {
    writeFileAtomically((folder_ / "english.lng").string(),
                        "<Translation><Language>English</Language>"
                        "<item name=\"main/eqenabled\">Equaliser on</item></Translation>");
    writeFileAtomically(
        (folder_ / "deutsch.lng").string(),
        "<Translation><Language>Deutsch</Language>"
        "<item name=\"eq/preset_pop_text\">Popul\xC3\xA4re Musik der achtziger Jahre</item>"
        "<item name=\"eq/preset_jazz_text\">Jazz und Swing</item></Translation>");
    LanguageStore language;
    language.LoadLanguageList(folder_.string());
    ASSERT_EQ(language.SelectLanguage("Deutsch"), LanguageStore::kSelected);
    std::vector<std::string> shown;
    Equaliser eq(EqualiserPresetFile(path_), filter_.processorInterface(), &language, nullptr,
                 {nullptr, [&](const std::string& text) { shown.push_back(text); }});
    const std::pair<int, std::string> cases[] = {
        {0, "None"},                         // neither translation has it
        {1, "Popul\xC3\xA4re Musik der a"},  // 20 characters, 21 bytes
        {2, "Rock"},
        {3, "Jazz und Swing"},
        {6, "Custom"},
    };
    for (const auto& [id, name] : cases) {
        SCOPED_TRACE(id);
        EXPECT_EQ(eq.PresetName(id), name);
        ASSERT_TRUE(eq.SelectPreset(id));
        EXPECT_EQ(eq.presetName(), name);
    }
    eq.EnableEqualiser(true, true);
    EXPECT_EQ(shown, std::vector<std::string>{"Equaliser on"});
}

}  // namespace
}  // namespace tessura
