// The visualisation list in a temporary program folder: its order and names, the project's
// own plug-in found in vis/ and drawing with the skin's colours, the failing test plug-in
// marked crashed and skipped (and, after a real crash, passed over at the next start), and
// every built-in picture staying inside pictures from 1x1 to 400x200.
#include "VisualisationList.h"

#include "PluginCrashGuard.h"
#include "VisAnalysis.h"

#include "LanguageStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace tessura {
namespace {

namespace fs = std::filesystem;

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = fs::temp_directory_path() / "tessura-vis-XXXXXX";
        path_ = ::mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

class FakeSource : public HostVariableSource {
  public:
    int32_t songLengthMs() override { return 1000; }
    int32_t songPositionMs() override { return 10; }
    uint32_t visualLeftColour() override { return 0xff13579bu; }
    uint32_t visualRightColour() override { return 0xff2468acu; }
    uint32_t visualBlendColour() override { return 0xff00ff00u; }
    std::string skinName() override { return "Slate"; }
    std::string songFileName() override { return "a.mp3"; }
    std::string songDisplayText() override { return "A"; }
};

// A program folder with the language file and `plugins` (source, name) copied into vis/. Each
// copy is a file of its own, so each test gets fresh plug-in state.
struct VisHome {
    TempFolder folder;
    LanguageStore language;
    FakeSource source;
    std::vector<std::string> status;

    explicit VisHome(const std::vector<std::pair<std::string, std::string>>& plugins) {
        fs::create_directories(folder.path() + "/system");
        fs::create_directories(folder.path() + "/vis");
        fs::copy_file(VELORA_SOURCE_DIR "/tessura/system/english.lng", folder.path() + "/system/english.lng");
        for (const auto& [from, name] : plugins) fs::copy_file(from, folder.path() + "/vis/" + name);
        language.LoadLanguageList(folder.path() + "/system");
        EXPECT_EQ(language.SelectLanguage("English"), LanguageStore::kSelected);
    }
    std::string plugin(const std::string& name) const { return folder.path() + "/vis/" + name; }
    VisualisationListSetup setup(std::set<std::string> crashed = {}) {
        return {folder.path(), language, source, [this](const std::string& text) { status.push_back(text); },
                std::move(crashed), false};
    }
};

const std::pair<std::string, std::string> kRings{TESSURA_VIS_RINGS, "rings.tvp"};
const std::pair<std::string, std::string> kFailing{TESSURA_TEST_FAILING_VIS, "failing.tvp"};

// A block whose two channels are sines of different pitch, at `loudness` of full scale.
VisBlock toneBlock(double loudness) {
    VisBlock block;
    for (int i = 0; i < TESSURA_VIS_SAMPLES; ++i) {
        block.bytes[static_cast<std::size_t>(TESSURA_VIS_LEFT_SAMPLES + i)] =
            static_cast<uint8_t>(static_cast<int8_t>(std::lround(127 * loudness * std::sin(i * 0.05))));
        block.bytes[static_cast<std::size_t>(TESSURA_VIS_RIGHT_SAMPLES + i)] =
            static_cast<uint8_t>(static_cast<int8_t>(std::lround(-128 * loudness * std::sin(i * 0.3))));
    }
    for (int i = 0; i < 2 * TESSURA_VIS_SPECTRUM_BINS; ++i)
        block.bytes[static_cast<std::size_t>(TESSURA_VIS_LEFT_SPECTRUM + i)] = static_cast<uint8_t>(255 * loudness);
    return block;
}

int countColour(const PixelSurface& surface, uint32_t colour) {
    return static_cast<int>(std::count(surface.pixels(), surface.pixels() + surface.width() * surface.height(), colour));
}

TEST(VisualisationList, BuiltInsThenPluginsByFileNameThenNoVisual) {
    VisHome home({kRings, kFailing});
    VisualisationList list(home.setup());
    list.build();
    EXPECT_EQ(list.names(), (std::vector<std::string>{
                                home.language.Text("vis/waveform"), home.language.Text("vis/spectrum"),
                                home.language.Text("vis/sweep"), home.language.Text("vis/spectrum2"),
                                "Failing test visualisation", "Oscilloscope rings",
                                home.language.Text("vis/novisual")}));
    EXPECT_NE(home.language.Text("vis/novisual"), "vis/novisual") << "translated";
    EXPECT_EQ(list.visIni(), home.folder.path() + "/vis.ini");
    EXPECT_TRUE(list.passedOver().empty());
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(list.at(i).Message(7), 1);
        EXPECT_EQ(list.at(i).Configure(list.visIni()), 1);
        EXPECT_EQ(list.at(i).Query(), 0);
    }

    struct Pick {
        int number, index;
    };
    for (const Pick p : {Pick{-3, 0}, Pick{0, 0}, Pick{5, 5}, Pick{6, 6}, Pick{99, 6}}) {
        list.select(p.number);
        EXPECT_EQ(list.currentIndex(), p.index) << p.number;
    }
}

TEST(VisualisationList, EmptyVisFolderAndFilesThatAreNoPlugins) {
    VisHome home({});
    // Not a library, and a library without QueryModule.
    { std::FILE* f = std::fopen(home.plugin("junk.tvp").c_str(), "w"); std::fputs("not a library", f); std::fclose(f); }
    fs::copy_file(TESSURA_VIS_RINGS, home.plugin("rings.so"));  // not *.tvp: not looked at
    VisualisationList list(home.setup());
    list.build();
    EXPECT_EQ(list.size(), 5u);
    ASSERT_EQ(list.passedOver().size(), 1u);
    EXPECT_EQ(list.passedOver()[0].rfind("junk.tvp: ", 0), 0u);
}

TEST(VisualisationList, TheRingsPluginDrawsInTheSkinColoursOverTheHostEffects) {
    VisHome home({kRings});
    VisualisationList list(home.setup());
    VisSettings settings;
    settings.fxLevel = 1;
    settings.smoke = settings.zoom = false;
    list.setSettings(settings);
    list.build();
    list.select(4);
    ASSERT_EQ(list.current()->Name(), "Oscilloscope rings");
    auto* plugin = dynamic_cast<PluginVisualisation*>(list.current());
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->version(), 2);
    EXPECT_EQ(plugin->flags() & VIS_FLAG_HOST_EFFECTS, VIS_FLAG_HOST_EFFECTS);

    PixelSurface surface(64, 48);
    surface.fill(surface.bounds(), 0xFFFFFFFFu);
    EXPECT_EQ(list.renderCurrent(surface, {toneBlock(0.8)}), 1);
    // The host faded the old picture (flag 0x04); the plug-in drew its rings in the skin's
    // colours, which it asked for through the host variables (version 2).
    EXPECT_EQ(surface.at(0, 0), 0x80808080u);
    EXPECT_GT(countColour(surface, 0xff13579bu), 50);
    EXPECT_GT(countColour(surface, 0xff2468acu), 20);
    EXPECT_TRUE(home.status.empty());
    EXPECT_FALSE(list.current()->crashed());
}

TEST(VisualisationList, AVersionOnePluginNeverGetsTheHostVariables) {
    VisHome home({kFailing});
    VisualisationList list(home.setup());
    list.build();
    list.select(4);
    PixelSurface surface(8, 8);
    EXPECT_EQ(list.renderCurrent(surface, {}), 1);
    EXPECT_EQ(list.renderCurrent(surface, {}), 2);
    EXPECT_EQ(countColour(surface, 0xff123456u), 64);
    EXPECT_EQ(list.current()->Message(10), 0) << "the host-variable entry was not called";
}

struct FaultCase {
    const char* name;
    uint32_t fault;  // the test plug-in's Message code
};

TEST(VisualisationList, AFailingPluginIsMarkedCrashedReportedOnceAndSkipped) {
    for (const FaultCase c : {FaultCase{"render throws", 2}, FaultCase{"initialise throws", 1},
                              FaultCase{"message throws", 4}}) {
        VisHome home({kFailing});
        VisualisationList list(home.setup());
        list.build();
        list.select(4);
        Visualisation& entry = *list.current();
        const int32_t answer = entry.Message(c.fault);
        EXPECT_EQ(answer, c.fault == 4 ? 0 : 1) << c.name;
        PixelSurface surface(8, 8);
        for (int frame = 0; frame < 3; ++frame) EXPECT_EQ(list.renderCurrent(surface, {}), 0) << c.name;
        EXPECT_TRUE(entry.crashed()) << c.name;
        EXPECT_EQ(countColour(surface, 0xff123456u), 0) << c.name;
        EXPECT_EQ(home.status, std::vector<std::string>{home.language.Text("vis/visualcrashed")}) << c.name;
        EXPECT_EQ(entry.Message(11), 0) << "a crashed entry is not called again";
        EXPECT_EQ(entry.Configure(list.visIni()), 0);
        // The rest of the list draws on.
        list.select(0);
        EXPECT_EQ(list.renderCurrent(surface, {}), 1);
    }
}

TEST(VisualisationList, AnUnguardedPluginsFaultsAreNotCaught) {
    VisHome home({kFailing});
    VisualisationListSetup setup = home.setup();
    setup.unguarded = true;
    VisualisationList list(std::move(setup));
    list.build();
    list.select(4);
    EXPECT_TRUE(list.current()->unguarded());
    EXPECT_ANY_THROW(list.current()->Message(4));
    EXPECT_FALSE(list.current()->crashed());
    EXPECT_TRUE(home.status.empty());
}

TEST(VisualisationList, APluginThatKillsTheProgramIsPassedOverAtTheNextStart) {
    VisHome home({kRings, kFailing});
    const std::string crashFile = home.folder.path() + "/plugin.crash";
    const std::string listFile = home.folder.path() + "/crashed-plugins";
    EXPECT_EXIT(
        {
            PluginCrashGuard::install(crashFile);
            VisualisationList list(home.setup());
            list.build();
            list.select(4);
            list.current()->Message(3);
            PixelSurface surface(8, 8);
            list.renderCurrent(surface, {});
            std::exit(0);  // not reached
        },
        // Killed by the signal, or ended by the sanitizer's own handler that the guard hands on to.
        [](int status) { return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0); }, "");
    const std::set<std::string> crashed = PluginCrashGuard::collectCrashed(crashFile, listFile);
    EXPECT_EQ(crashed, std::set<std::string>{home.plugin("failing.tvp")});

    VisualisationList next(home.setup(crashed));
    next.build();
    EXPECT_EQ(next.size(), 6u);
    EXPECT_EQ(next.at(4).Name(), "Oscilloscope rings");
    EXPECT_EQ(next.passedOver(), std::vector<std::string>{"failing.tvp: crashed the program before"});
}

TEST(VisualisationList, WaveformDrawsBothChannelsOnTheirLinesInsideTheMargins) {
    VisHome home({});
    VisualisationList list(home.setup());
    VisSettings settings;
    settings.fxLevel = 0;
    list.setSettings(settings);
    list.setColours({0xff0000ffu, 0xffff0000u, 0xff00ff00u});
    list.build();
    list.select(0);
    PixelSurface surface(40, 70);
    EXPECT_EQ(list.renderCurrent(surface, {VisBlock{}}), 1);
    // Silence: flat lines at 70/2 - 70/7 = 25 and 35 + 10 = 45, from x = 5 to 40 - 6.
    for (int x = 0; x < 40; ++x) {
        const bool drawn = x >= 5 && x <= 34;
        EXPECT_EQ(surface.at(x, 25), drawn ? 0xff0000ffu : 0u) << x;
        EXPECT_EQ(surface.at(x, 45), drawn ? 0xffff0000u : 0u) << x;
    }
    EXPECT_EQ(countColour(surface, 0u), 40 * 70 - 2 * 30);

    EXPECT_EQ(waveformStep(0), 0) << "width 10: no room, no division";
    EXPECT_EQ(waveformStep(-9), 0);
    EXPECT_EQ(waveformStep(1), 0x1FC0000);
    EXPECT_EQ(waveformStep(508), 0x10000);
}

TEST(VisualisationList, EveryBuiltInStaysInsideThePictureAtAnySize) {
    VisHome home({});
    VisualisationList list(home.setup());
    list.build();
    const std::pair<int, int> sizes[] = {{1, 1}, {2, 2}, {1, 9}, {9, 1}, {4, 4}, {5, 3}, {10, 1}, {10, 10},
                                         {11, 3}, {16, 15}, {17, 200}, {400, 1}, {333, 77}, {400, 200}};
    VisSettings effects[4];
    effects[0].fxLevel = 0;
    effects[1].blur = true;
    effects[2].zoomReverse = true;
    effects[2].zoomLevel = 15;
    effects[3].fxLevel = 7;
    effects[3].blur = true;
    const std::vector<VisBlock> blocks = {toneBlock(0.2), toneBlock(1.0)};
    for (const VisSettings& settings : effects) {
        list.setSettings(settings);
        for (std::size_t entry = 0; entry < list.size(); ++entry) {
            list.select(static_cast<int>(entry));
            for (const auto& [w, h] : sizes) {
                PixelSurface surface(w, h);
                surface.fill(surface.bounds(), 0xFFFFFFFFu);
                for (int frame = 0; frame < 3; ++frame)
                    EXPECT_EQ(list.renderCurrent(surface, blocks), 1) << list.at(entry).Name() << " " << w << "x" << h;
            }
        }
    }
    PixelSurface empty(0, 0);
    list.select(0);
    EXPECT_EQ(list.renderCurrent(empty, blocks), 0);
}

TEST(VisualisationList, RendersWhatTheAnalysisHeard) {
    VisHome home({});
    VisualisationList list(home.setup());
    VisSettings settings;
    settings.fxLevel = 0;
    list.setSettings(settings);
    list.build();
    VisAnalysis analysis;
    std::vector<uint8_t> loud(512 * 4);
    for (std::size_t i = 0; i < loud.size(); i += 2) loud[i + 1] = (i / 256) % 2 ? 0x7F : 0x80;
    analysis.addPcm(loud.data(), loud.size(), {44100, 2, 16});
    PixelSurface quiet(64, 64), heard(64, 64);
    list.renderCurrent(quiet, {});
    list.renderCurrent(heard, analysis.newestBlocks());
    EXPECT_NE(std::vector<uint32_t>(quiet.pixels(), quiet.pixels() + 64 * 64),
              std::vector<uint32_t>(heard.pixels(), heard.pixels() + 64 * 64));
}

}  // namespace
}  // namespace tessura
