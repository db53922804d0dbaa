// The plug-in host over the project's real plug-ins and its hostile test set, in a temporary
// program folder: discovery and its lists, refusals with their messages, and files decoded
// through the module interface into the built-in output's wav: backend, compared sample for
// sample with sox and mpg123.
#include "EngineTestKit.h"
#include "InputModule.h"
#include "PluginCrashGuard.h"
#include "PluginHost.h"
#include "OutputBlockSize.h"
#include "WaveAudioOutput.h"

#include "LanguageStore.h"
#include "ProgramFolder.h"
#include "ScriptedDialogService.h"
#include "SettingsStore.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>

namespace tessura {
namespace {

namespace fs = std::filesystem;


std::string fileName(const std::string& path) {
    return fs::path(path).filename().string();
}

TEST(PluginHost, FindsTheRealPluginsWithTheirDescriptions) {
    test::ProgramHome home(test::realPlugins());
    WaveAudioOutput builtin(*home.settings, home.dialogs);
    PluginHost host(home.home, home.language, home.dialogs);
    host.discover(builtin.outputInterface());

    ASSERT_EQ(host.processors().size(), 1u);
    EXPECT_STREQ(host.processors()[0].info.name, "Stereo Width");
    ASSERT_EQ(host.outputs().size(), 1u);
    EXPECT_STREQ(host.outputs()[0].info.name, "Windows Audio Output");
    EXPECT_EQ(host.outputs()[0].library, nullptr);

    ASSERT_EQ(host.inputModules().size(), 2u);
    std::string listing;
    for (const auto& module : host.inputModules()) {
        EXPECT_FALSE(module->loaded()) << "unloaded again after Query";
        listing += fileName(module->path()) + ": " + module->description().name + " (" +
                   module->description().text1 + "):";
        for (const std::string& extension : module->description().extensionList()) listing += " " + extension;
        listing += "\n";
    }
    std::printf("%s", listing.c_str());
    EXPECT_EQ(listing,
              "mpeg_audio.tqp: MPEG Audio Input (MPEG audio layers 1-3 through libmpg123): mp3 mp2 mp1 mpga\n"
              "sound_file.tqp: Sound File Input (WAVE, FLAC, Ogg Vorbis, Opus and AIFF through libsndfile): "
              "wav flac ogg oga opus aiff aif\n");
    EXPECT_TRUE(host.inputModules()[0]->ClaimsFile("/music/Track.MP3"));
    EXPECT_FALSE(host.inputModules()[0]->ClaimsFile("/music.mp3/track"));
    EXPECT_TRUE(host.inputModules()[1]->ClaimsFile("a.b.Flac"));
    EXPECT_TRUE(home.dialogs.shown().empty());
}

TEST(PluginHost, HostilePluginsArePassedOverWithTheirMessages) {
    auto plugins = test::realPlugins();
    plugins.pop_back();
    plugins.push_back({TESSURA_STEREO_WIDTH, "Stereo_Width.so"});
    plugins.push_back({TESSURA_STEREO_WIDTH, "FeedLine.so"});  // the streaming library's name
    plugins.push_back({TESSURA_TEST_FAILS_INITIALISE, "test_fails_initialise.tqp"});
    plugins.push_back({TESSURA_TEST_MISSING_EXPORT, "test_missing_export.tqp"});
    plugins.push_back({TESSURA_TEST_HUGE_BLOCK, "test_huge_block.so"});
    test::ProgramHome home(plugins);
    test::writeBytes(home.folder.file("system/Garbage.tqp"), "not a shared object\n");

    WaveAudioOutput builtin(*home.settings, home.dialogs);
    PluginHost host(home.home, home.language, home.dialogs);
    host.discover(builtin.outputInterface());

    // Names keep their case; the skip test alone ignores it.
    ASSERT_EQ(host.processors().size(), 2u);
    EXPECT_EQ(fileName(host.processors()[0].path), "Stereo_Width.so");
    EXPECT_STREQ(host.processors()[1].info.name, "Greedy Processor");
    // Both create functions: in both lists, after the built-in output.
    ASSERT_EQ(host.outputs().size(), 2u);
    EXPECT_STREQ(host.outputs()[0].info.name, "Windows Audio Output");
    EXPECT_STREQ(host.outputs()[1].info.name, "Huge Block Output");

    // Garbage.tqp does not load and test_missing_export.tqp lacks Configure: each refused with
    // the message, the others kept.
    std::vector<std::string> names;
    for (const auto& module : host.inputModules()) names.push_back(fileName(module->path()));
    EXPECT_EQ(names, (std::vector<std::string>{"mpeg_audio.tqp", "sound_file.tqp", "test_fails_initialise.tqp"}));
    const std::string message = home.language.Text("errors/tessuraerror") + " | " +
                                home.language.Text("errors/unabletoloadplugin");
    EXPECT_EQ(home.dialogs.shown(), (std::vector<std::string>{message, message}));
    EXPECT_NE(message.find("could not be loaded"), std::string::npos);

    // A module whose Initialise fails is not loaded, and its library is let go.
    InputModule& refusing = *host.inputModules()[2];
    EXPECT_EQ(host.modulesWithSettingsPage(), std::vector<InputModule*>{&refusing});
    EXPECT_EQ(refusing.load(true), InputModule::LoadResult::InitialiseFailed);
    EXPECT_FALSE(refusing.loaded());
    EXPECT_EQ(refusing.loadCount(), 0);
    // Configure gives its page through the third word; ExtendedInfo is asked again with 2048
    // bytes to spare and its unterminated text still ends inside the buffer.
    EXPECT_EQ(refusing.configure(), std::optional<intptr_t>(4242));
    EXPECT_FALSE(refusing.loaded());
    ASSERT_EQ(refusing.load(false), InputModule::LoadResult::Loaded);
    const std::optional<std::string> info = refusing.extendedInfo();
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->size(), 5000u + 2048u - 1u);
    EXPECT_EQ(info->find_first_not_of('x'), std::string::npos);
    refusing.unload(false);
    // The real modules offer no page; with nothing open they have no information text.
    EXPECT_EQ(host.inputModules()[0]->configure(), std::nullopt);

    // The huge block size is cut to the host's bound, and the greedy processor's 2 GB result
    // to the buffer it was given.
    OutputInterface* huge = host.outputs()[1].iface;
    test::ModuleTestChain chain(huge, "", true);
    ASSERT_EQ(huge->table->Initialise(huge, nullptr, chain.host()), 0);
    int32_t rate = 44100, channels = 2, bits = 16;
    ASSERT_EQ(huge->table->Open(huge, 1, &rate, &channels, &bits), 0);
    EXPECT_EQ(chain.blockSize(), OutputHostBuffers::kMaxBlockSize);
    EXPECT_EQ(chain.buffers().work().size(), 8u * OutputHostBuffers::kMaxBlockSize);
    std::vector<uint8_t> work(8192, 0);
    EXPECT_EQ(runProcessor(host.processors()[1].iface, work.data(), 4096, work.size(), 4), 8192u);
    EXPECT_EQ(work[8191], 0x5A);
}

TEST(PluginHost, PluginsThatCrashedBeforeAreSkipped) {
    test::ProgramHome home(test::realPlugins());
    const std::string crashFile = home.folder.file("config/Quellmark/plugin.crash");
    const std::string listFile = home.folder.file("config/Quellmark/crashed-plugins");
    fs::create_directories(home.folder.file("config/Quellmark"));
    const std::string width = home.home + "/system/stereo_width.so";
    EXPECT_EXIT(
        {
            PluginCrashGuard::install(crashFile);
            PluginCall call(width);
            std::raise(SIGSEGV);
        },
        // Killed by the signal, or ended by the sanitizer's own handler that the guard hands on to.
        [](int status) { return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0); }, "");
    const std::set<std::string> crashed = PluginCrashGuard::collectCrashed(crashFile, listFile);
    EXPECT_EQ(crashed, std::set<std::string>{width});
    EXPECT_EQ(PluginCrashGuard::collectCrashed(crashFile, listFile), crashed) << "kept across starts";
    EXPECT_EQ(PluginCrashGuard::startRun(home.folder.file("config/Quellmark")), crashed);

    WaveAudioOutput builtin(*home.settings, home.dialogs);
    PluginHost host(home.home, home.language, home.dialogs, crashed);
    host.discover(builtin.outputInterface());
    EXPECT_TRUE(host.processors().empty());
    EXPECT_EQ(host.passedOver(), (std::vector<std::string>{"stereo_width.so: crashed the program before",
                                                          "stereo_width.so: crashed the program before"}));
    EXPECT_EQ(host.inputModules().size(), 2u);
}

struct DecodeCase {
    const char* name;
    const char* make;       // shell command making IN from nothing (sox, lame)
    const char* reference;  // shell command decoding IN into REF (raw 16-bit little-endian)
    const char* extension;
    bool seekable;
    int rate, channels;
    int seekMs;  // asked before Play; 0 plays from the start
};

std::string expand(std::string command, const std::string& in, const std::string& ref, const std::string& dir) {
    for (auto [key, value] : {std::pair<std::string, std::string>{"IN", in}, {"REF", ref}, {"DIR", dir}}) {
        for (std::size_t at; (at = command.find(key)) != std::string::npos;) command.replace(at, key.size(), value);
    }
    return command;
}

uint32_t le(const std::string& bytes, std::size_t at, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

TEST(PluginHost, DecodesThroughTheModuleInterfaceIntoTheBuiltinOutput) {
    const DecodeCase cases[] = {
        {"flac stereo", "sox -n -r 44100 -c 2 -b 16 IN synth 1.1 sine 440 sine 660 gain -3",
         "sox IN -t raw -e signed-integer -b 16 -L REF", "flac", true, 44100, 2, 0},
        {"flac stereo from 500 ms", "sox -n -r 44100 -c 2 -b 16 IN synth 1.1 sine 440 sine 660 gain -3",
         "sox IN -t raw -e signed-integer -b 16 -L REF trim 0.5", "flac", true, 44100, 2, 500},
        {"flac mono 48 kHz", "sox -n -r 48000 -c 1 -b 16 IN synth 0.9 pinknoise gain -6",
         "sox IN -t raw -e signed-integer -b 16 -L REF", "flac", true, 48000, 1, 0},
        {"mp3 stereo", "sox -n -r 44100 -c 2 -b 16 DIR/src.wav synth 1.1 sine 300 sine 500 && lame --quiet -b 128 DIR/src.wav IN",
         "mpg123 -q -e s16 -s IN > REF", "mp3", true, 44100, 2, 0},
        {"mp3 from a stream", "sox -n -r 22050 -c 1 -b 16 DIR/src.wav synth 1.1 sine 250 && lame --quiet -b 48 DIR/src.wav IN",
         "mpg123 -q -e s16 -s IN > REF", "mp3", false, 22050, 1, 0},
    };
    test::ProgramHome home(test::realPlugins());
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = home.folder.file(std::string("in.") + c.extension);
        const std::string ref = home.folder.file("ref.raw");
        // A file of its own: within one run the wav: backend goes on appending to a file.
        const std::string out = home.folder.file(std::string("out-") + c.name + ".wav");
        ASSERT_EQ(test::run(expand(c.make, in, ref, home.folder.path())), 0);
        ASSERT_EQ(test::run(expand(c.reference, in, ref, home.folder.path())), 0);

        ::setenv("TESSURA_AUDIO", ("wav:" + out).c_str(), 1);
        {
            WaveAudioOutput builtin(*home.settings, home.dialogs);
            PluginHost host(home.home, home.language, home.dialogs);
            host.discover(builtin.outputInterface());
            InputModule* module = nullptr;
            for (auto& m : host.inputModules())
                if (module == nullptr && m->ClaimsFile(in)) module = m.get();
            ASSERT_NE(module, nullptr);
            ASSERT_EQ(module->load(true), InputModule::LoadResult::Loaded);
            InputModuleRecord& record = module->record();
            ASSERT_NE(record.Open, nullptr);

            OutputInterface* output = host.outputs()[0].iface;
            test::ModuleTestChain chain(output, in, c.seekable);
            setCurrentModuleServices(&chain);
            ASSERT_EQ(output->table->Initialise(output, nullptr, chain.host()), 0);
            ASSERT_NE(record.Open(&record, in.c_str()), 0);
            TrackInfo info{};
            ASSERT_NE(record.GetInfo(&record, &info), 0);
            EXPECT_STREQ(info.title, "in");
            if (c.seekMs > 0) {
                EXPECT_NE(record.Seek(&record, c.seekMs), 0);
            }
            ASSERT_NE(record.Play(&record), 0);
            EXPECT_TRUE(chain.waitUntilTaken());
            EXPECT_EQ(output->table->Close(output, 0), 0);  // plays out what is queued
            const std::optional<std::string> html = module->extendedInfo();
            ASSERT_TRUE(html.has_value());
            EXPECT_EQ(html->rfind("<h1>in</h1>", 0), 0u) << *html;
            record.Stop(&record);
            record.Close(&record);
            setCurrentModuleServices(nullptr);
            module->unload(true);
            EXPECT_EQ(chain.opened(), 1);
            EXPECT_EQ(builtin.blockSize(), outputBlockSize(32768, static_cast<uint32_t>(c.rate),
                                                           static_cast<uint32_t>(c.channels), 16));
        }
        const std::string heard = test::readBytes(out);
        const std::string expected = test::readBytes(ref);
        ASSERT_GE(heard.size(), 44u);
        EXPECT_EQ(le(heard, 22, 2), static_cast<uint32_t>(c.channels));
        EXPECT_EQ(le(heard, 24, 4), static_cast<uint32_t>(c.rate));
        EXPECT_EQ(le(heard, 40, 4), heard.size() - 44);
        EXPECT_GT(expected.size(), static_cast<std::size_t>(c.rate));  // half a second at least
        EXPECT_EQ(heard.size() - 44, expected.size());
        EXPECT_TRUE(heard.compare(44, std::string::npos, expected) == 0) << "samples differ";
    }
}

}  // namespace
}  // namespace tessura
