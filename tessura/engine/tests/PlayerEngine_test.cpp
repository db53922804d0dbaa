// The player engine driven as the window will drive it, with the project's real input modules
// and the built-in output: lists of mp3, FLAC and WAVE entries heard in order under each repeat
// mode and compared with mpg123's and sox's decodes; a format change mid-list; pause and seek;
// the equaliser at unity and with a preset; the choice of module for names nobody claims.
#include "PlayerRig.h"

#include "Equaliser.h"
#include "audio/AlsaMasterVolume.h"
#include "PlaybackControls.h"

#include <gtest/gtest.h>

#include <cmath>
#include <dlfcn.h>
#include <complex>
#include <cstring>
#include <numbers>

namespace tessura {
namespace {

using test::PlayerRig;

// Makes `file` with `make` (IN replaced by the file) and returns the 16-bit PCM of `decode`.
std::string makeAndDecode(const test::TempFolder& folder, const std::string& name, const std::string& make,
                          const std::string& decode) {
    const std::string in = folder.file(name), ref = folder.file(name + ".raw");
    auto expand = [&](std::string command) {
        for (auto [key, value] : {std::pair<std::string, std::string>{"IN", in}, {"REF", ref}, {"DIR", folder.path()}})
            for (std::size_t at; (at = command.find(key)) != std::string::npos;) command.replace(at, key.size(), value);
        return command;
    };
    EXPECT_EQ(test::run(expand(make)), 0) << make;
    EXPECT_EQ(test::run(expand(decode)), 0) << decode;
    return test::readBytes(ref);
}

const char* kSoxRaw = "sox IN -t raw -e signed-integer -b 16 -L REF";

struct ThreeEntries {
    std::string mp3, flac, wav;
};

ThreeEntries makeThreeEntries(PlayerRig& rig) {
    const test::TempFolder& f = rig.home.folder;
    ThreeEntries pcm;
    pcm.mp3 = makeAndDecode(f, "one.mp3",
                            "sox -n -r 44100 -c 2 -b 16 DIR/src.wav synth 0.7 sine 300 sine 500 gain -4 && "
                            "lame --quiet -b 128 DIR/src.wav IN",
                            "mpg123 -q -e s16 -s IN > REF");
    pcm.flac = makeAndDecode(f, "two.flac", "sox -n -r 44100 -c 2 -b 16 IN synth 0.6 sine 440 sine 660 gain -3", kSoxRaw);
    pcm.wav = makeAndDecode(f, "three.wav", "sox -n -r 44100 -c 2 -b 16 IN synth 0.5 pinknoise gain -8", kSoxRaw);
    for (const char* name : {"one.mp3", "two.flac", "three.wav"}) rig.engine->playlist().AddItem(f.file(name));
    return pcm;
}

TEST(PlayerEngine, PlaysAThreeEntryListInOrderUnderEachRepeatMode) {
    PlayerRig rig;
    const ThreeEntries pcm = makeThreeEntries(rig);
    ASSERT_EQ(rig.engine->playlist().size(), 3);
    ASSERT_FALSE(pcm.mp3.empty());

    // Off: the three entries back to back in one opening of the device, then the end.
    ASSERT_TRUE(rig.engine->PlayFrom(0));
    ASSERT_TRUE(rig.runUntilStopped());
    const auto segments = rig.heard.segments();
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].format.rate, 44100);
    EXPECT_EQ(segments[0].format.channels, 2);
    EXPECT_TRUE(segments[0].pcm == pcm.mp3 + pcm.flac + pcm.wav)
        << "heard " << segments[0].pcm.size() << " bytes, expected "
        << pcm.mp3.size() + pcm.flac.size() + pcm.wav.size();
    EXPECT_FALSE(rig.engine->IsPlaying());

    struct Case {
        const char* name;
        int mode, start;
        std::string expected;  // what is heard first
    };
    const Case cases[] = {
        {"one track repeats the second entry", 1, 1, pcm.flac + pcm.flac},
        {"all wraps from the last entry to the first", 2, 2, pcm.wav + pcm.mp3 + pcm.flac},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rig.engine->playlist().SetRepeatMode(c.mode);
        const std::size_t before = rig.heard.bytes();
        ASSERT_TRUE(rig.engine->PlayFrom(c.start));
        ASSERT_TRUE(rig.runUntil([&] { return rig.heard.bytes() >= before + c.expected.size() + 8192; }));
        rig.engine->StopPlayback();
        const std::string heard = rig.heard.all().substr(before);
        ASSERT_GE(heard.size(), c.expected.size());
        EXPECT_TRUE(heard.compare(0, c.expected.size(), c.expected) == 0);
        EXPECT_FALSE(rig.engine->IsPlaying());
    }
}

TEST(PlayerEngine, ReopensTheOutputWhenTheFormatChangesMidList) {
    PlayerRig rig;
    const test::TempFolder& f = rig.home.folder;
    const std::string stereo = makeAndDecode(f, "a.wav", "sox -n -r 44100 -c 2 -b 16 IN synth 0.4 sine 500", kSoxRaw);
    const std::string mono = makeAndDecode(f, "b.flac", "sox -n -r 22050 -c 1 -b 16 IN synth 0.5 sine 700", kSoxRaw);
    rig.engine->playlist().AddItem(f.file("a.wav"));
    rig.engine->playlist().AddItem(f.file("b.flac"));
    ASSERT_TRUE(rig.engine->PlayFrom(0));
    ASSERT_TRUE(rig.runUntilStopped());
    const auto segments = rig.heard.segments();
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].format.rate, 44100);
    EXPECT_EQ(segments[0].format.channels, 2);
    EXPECT_TRUE(segments[0].pcm == stereo) << segments[0].pcm.size() << " vs " << stereo.size();
    EXPECT_EQ(segments[1].format.rate, 22050);
    EXPECT_EQ(segments[1].format.channels, 1);
    EXPECT_TRUE(segments[1].pcm == mono) << segments[1].pcm.size() << " vs " << mono.size();
}

TEST(PlayerEngine, PausesHoldsAndSeeksToTheSampleAsked) {
    PlayerRig rig(8);
    const test::TempFolder& f = rig.home.folder;
    // Longer than the chain holds ahead, so decoding is still going when the seek comes.
    const std::string pcm = makeAndDecode(f, "long.flac", "sox -n -r 44100 -c 2 -b 16 IN synth 6 sine 200-2000", kSoxRaw);
    rig.engine->playlist().AddItem(f.file("long.flac"));
    ASSERT_TRUE(rig.engine->PlayFrom(0));
    EXPECT_EQ(rig.engine->Length(), 6000);
    ASSERT_TRUE(rig.runUntil([&] { return rig.heard.bytes() > 44100 * 4 / 4; }));

    ASSERT_TRUE(rig.engine->TogglePause());
    EXPECT_TRUE(rig.engine->IsPaused());
    const std::size_t atPause = rig.heard.bytes();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // more than a second of sound at 8x
    // At most the buffer that was playing when the device paused finishes.
    EXPECT_LE(rig.heard.bytes(), atPause + rig.builtin.blockSize());
    const std::size_t heldAt = rig.heard.bytes();

    ASSERT_TRUE(rig.engine->Seek(4000));
    EXPECT_EQ(rig.engine->Position(), 4000) << "the target shows until playback moves on";
    ASSERT_TRUE(rig.engine->TogglePause());
    ASSERT_TRUE(rig.runUntilStopped());

    const std::string heard = rig.heard.all();
    const std::string tail = pcm.substr(4 * 44100 * 4);
    ASSERT_GE(heard.size(), heldAt + tail.size());
    EXPECT_TRUE(heard.compare(heard.size() - tail.size(), tail.size(), tail) == 0)
        << "after the seek the file plays from 4000 ms exactly";
    EXPECT_TRUE(heard.compare(0, heldAt, pcm, 0, heldAt) == 0) << "before it, the file from its start";
    EXPECT_EQ(heard.size(), heldAt + tail.size()) << "nothing queued before the seek plays after it";
}

// The amplitude of `hz` in 16-bit stereo PCM (left channel), by correlation.
double toneAmplitude(const std::string& pcm, double hz, int rate) {
    const std::size_t frames = pcm.size() / 4;
    std::complex<double> sum = 0;
    for (std::size_t i = frames / 4; i < frames; ++i) {  // past the filters' settling
        int16_t left;
        std::memcpy(&left, pcm.data() + i * 4, 2);
        sum += static_cast<double>(left) * std::polar(1.0, -2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate);
    }
    return 2.0 * std::abs(sum) / static_cast<double>(frames - frames / 4);
}

TEST(PlayerEngine, TheEqualiserLeavesSamplesAloneAtUnityAndShapesThemWithAPreset) {
    PlayerRig rig;
    const test::TempFolder& f = rig.home.folder;
    const std::string pcm =
        makeAndDecode(f, "tones.wav", "sox -n -r 44100 -c 2 -b 16 IN synth 1 sine 70 synth 1 sine mix 1656 gain -9", kSoxRaw);
    rig.engine->playlist().AddItem(f.file("tones.wav"));
    Equaliser eq(EqualiserPresetFile(f.file("TesEque.spf")), rig.equaliser.processorInterface(), nullptr, nullptr);

    eq.SelectPreset(kPresetNone);
    eq.EnableEqualiser(true, false);
    ASSERT_TRUE(rig.engine->PlayFrom(0));
    ASSERT_TRUE(rig.runUntilStopped());
    EXPECT_TRUE(rig.heard.all() == pcm) << "all gains at 1.0 are the identity, bit for bit";

    ASSERT_TRUE(eq.SelectPreset(2));  // Rock: the lowest band lifted, the middle flat
    const std::size_t before = rig.heard.bytes();
    ASSERT_TRUE(rig.engine->PlayFrom(0));
    ASSERT_TRUE(rig.runUntilStopped());
    const std::string shaped = rig.heard.all().substr(before);
    ASSERT_EQ(shaped.size(), pcm.size());
    const double low = toneAmplitude(shaped, 70, 44100) / toneAmplitude(pcm, 70, 44100);
    const double mid = toneAmplitude(shaped, 1656, 44100) / toneAmplitude(pcm, 1656, 44100);
    // The band at 70 Hz adds (1.3 - 1) x 0.75 of its own output; the flat middle stays put.
    EXPECT_GT(low, 1.3) << "the lowest bands lift it together";
    EXPECT_LT(low, 1.6);
    EXPECT_NEAR(mid, 1.0, 0.08);

    // One band alone: the tone changes by the band's designed response, |1 + g H(f)| with
    // H(z) = alpha (1 - z^-2) / (1 + beta z^-1 + gamma z^-2) and g = (1.3 - 1) x 0.75.
    ASSERT_TRUE(eq.SelectPreset(kPresetNone));
    ASSERT_TRUE(eq.SetBandGain(0, 1.3));
    const EqualiserFilter::Band lowest = rig.equaliser.band(19);
    const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * 70 / 44100), z2 = z1 * z1;
    const double designed = std::abs(1.0 + lowest.gain * lowest.alpha * (1.0 - z2) /
                                               (1.0 + lowest.beta * z1 + lowest.gamma * z2));
    EXPECT_DOUBLE_EQ(lowest.gain, 0.3 * 0.75);
    const std::size_t second = rig.heard.bytes();
    ASSERT_TRUE(rig.engine->PlayFrom(0));
    ASSERT_TRUE(rig.runUntilStopped());
    const std::string band = rig.heard.all().substr(second);
    EXPECT_NEAR(toneAmplitude(band, 70, 44100) / toneAmplitude(pcm, 70, 44100), designed, 0.005);
    EXPECT_NEAR(toneAmplitude(band, 1656, 44100) / toneAmplitude(pcm, 1656, 44100), 1.0, 0.01);
}

TEST(PlayerEngine, ChoosesTheModuleByExtensionThenByTheDefaultExtension) {
    PlayerRig rig;
    const test::TempFolder& f = rig.home.folder;
    const std::string pcm = makeAndDecode(f, "clip.mp3",
                                          "sox -n -r 44100 -c 2 -b 16 DIR/src.wav synth 0.3 sine 300 && "
                                          "lame --quiet -b 128 DIR/src.wav IN",
                                          "mpg123 -q -e s16 -s IN > REF");
    std::filesystem::copy_file(f.file("clip.mp3"), f.file("clip.unknown"));
    EXPECT_TRUE(rig.engine->claimsFile("a.MP3"));
    EXPECT_FALSE(rig.engine->claimsFile("a.unknown"));

    // A name nobody claims plays through the module of "test.mp3".
    AddRequest anyType;
    PlaylistOptions options;
    options.allowDefaultType = true;
    rig.engine->playlist().setOptions(options);
    ASSERT_EQ(rig.engine->playlist().AddItem(f.file("clip.unknown"), anyType), 1);
    ASSERT_TRUE(rig.engine->PlayFrom(0));
    EXPECT_EQ(rig.engine->currentPlayer()->Describe(), "MPEG Audio Input");
    ASSERT_TRUE(rig.runUntilStopped());
    EXPECT_TRUE(rig.heard.all() == pcm);

    // Nothing to play: the status line says so and nothing starts.
    rig.engine->playlist().ClearPlaylist();
    EXPECT_FALSE(rig.engine->PlayFrom(0));
    EXPECT_FALSE(rig.engine->PlayEntry(0));
    const auto status = rig.events.status();
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.back(), rig.home.language.Text("errors/nofile"));
}

TEST(PlayerEngine, StopWhilePausedReleasesTheDecoder) {
    PlayerRig rig(4);
    const test::TempFolder& f = rig.home.folder;
    makeAndDecode(f, "long.flac", "sox -n -r 44100 -c 2 -b 16 IN synth 8 sine 300", kSoxRaw);
    rig.engine->playlist().AddItem(f.file("long.flac"));
    ASSERT_TRUE(rig.engine->PlayFrom(0));
    ASSERT_TRUE(rig.runUntil([&] { return rig.heard.bytes() > 0; }));
    ASSERT_TRUE(rig.engine->TogglePause());
    // The module's thread waits for a slot the paused output never frees; the stop flushes.
    rig.engine->StopPlayback();
    EXPECT_FALSE(rig.engine->IsPlaying());
    EXPECT_FALSE(rig.engine->IsPaused());
    EXPECT_FALSE(rig.chain->isOpen());
}

TEST(PlayerEngine, DrivesAModuleThatRendersItself) {
    auto files = test::realPlugins();
    files.emplace_back(TESSURA_TEST_DRIVE, "test_drive.tqp");
    PlayerRig rig(16, files);
    Playlist& list = rig.engine->playlist();
    ASSERT_EQ(list.AddItem("mms://radio.example/live"), 1);
    ASSERT_EQ(rig.engine->moduleCount(), 3u);

    // Nobody claims the address: an "mms://" one goes to the module of "test.wma".
    ASSERT_TRUE(rig.engine->PlayFrom(0));
    CPlayer* player = rig.engine->currentPlayer();
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->Describe(), "Drive Module");
    EXPECT_EQ(player->source(), nullptr) << "it opens its sources itself";
    EXPECT_EQ(rig.engine->Length(), 60000);
    EXPECT_EQ(player->InfoText(), "Drive mms://radio.example/live");
    EXPECT_TRUE(rig.engine->IsPlaying());
    EXPECT_FALSE(rig.chain->isOpen()) << "nothing goes through the output chain";

    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    ASSERT_TRUE(rig.engine->TogglePause());
    const int32_t held = rig.engine->Position();
    EXPECT_GE(held, 100);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(rig.engine->Position(), held) << "the module's own clock stops while paused";
    EXPECT_FALSE(rig.engine->IsPlaying());
    ASSERT_TRUE(rig.engine->TogglePause());

    // Asking for the entry that is playing does not start it again.
    ASSERT_TRUE(rig.engine->PlayFrom(0));
    EXPECT_GE(rig.engine->Position(), held);

    // The left channel is a full-scale square wave: all of it in bin 256 but for a DC of
    // (127 - 128) x 256 / 16 = -16; the right channel is silent.
    uint8_t vis[kVisBlockBytes];
    ASSERT_TRUE(player->GetVisData(vis, kVisWantSpectrum));
    EXPECT_EQ(static_cast<int8_t>(vis[4]), 127);
    EXPECT_EQ(static_cast<int8_t>(vis[5]), -128);
    EXPECT_EQ(vis[1028], 16);
    for (int k = 1; k < 256; ++k) ASSERT_EQ(vis[1028 + k], 0) << k;
    for (int k = 0; k < 256; ++k) ASSERT_EQ(vis[1284 + k], 0) << k;

    rig.engine->SetVolume(30000, true);
    void* library = ::dlopen(rig.home.folder.file("system/test_drive.tqp").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(library, nullptr);
    auto driveVolume = reinterpret_cast<uint32_t (*)()>(::dlsym(library, "DriveVolume"));
    ASSERT_NE(driveVolume, nullptr);
    EXPECT_EQ(driveVolume(), packVolume(30000, 32768));
    ::dlclose(library);
    EXPECT_EQ(rig.events.status().back(), "Volume: 45%");
    rig.engine->StopPlayback();
    EXPECT_FALSE(rig.engine->IsPlaying());
}

class FakeMaster final : public MasterVolume {
  public:
    explicit FakeMaster(bool present) : present_(present) {}
    bool available() override { return present_; }
    void set(uint32_t packed) override { levels.push_back(packed); }
    std::vector<uint32_t> levels;

  private:
    bool present_;
};

TEST(PlayerEngine, TheMasterVolumeTakesTheLevelWhereTheMixerHasOne) {
    for (const bool present : {true, false}) {
        SCOPED_TRACE(present ? "with a Master control" : "without one");
        FakeMaster master(present);
        EngineSettings settings;
        settings.alwaysUseMasterVolume = true;
        PlayerRig rig(16, test::realPlugins(), settings, &master);
        rig.engine->SetBalance(16384);
        rig.engine->SetVolume(40000, false);
        const uint32_t packed = packVolume(40000, 16384);
        if (present) {
            ASSERT_FALSE(master.levels.empty());
            EXPECT_EQ(master.levels.back(), packed);
            EXPECT_EQ(rig.chain->volume(), 0xFFFFFFFFu) << "the output is left at full level";
        } else {
            EXPECT_TRUE(master.levels.empty());
            EXPECT_EQ(rig.chain->volume(), packed) << "no mixer control: the output takes it";
        }
    }
    AlsaMasterVolume alsa;  // present or not on this machine, it answers without harm
    if (alsa.available()) SUCCEED() << "this machine's mixer has a Master control";
}

TEST(PlaybackControls, VolumeBalanceKnobsAndTheirTexts) {
    struct Pack {
        uint32_t volume, balance, left, right;
    };
    const Pack packs[] = {
        {65535, 32768, 65535, 65535}, {65535, 32767, 65535, 65533}, {65535, 0, 65535, 0},
        {65535, 65535, 1, 65535},     {40000, 16384, 40000, 20000}, {40000, 49152, 20000, 40000},
    };
    for (const Pack& p : packs) {
        SCOPED_TRACE(::testing::Message() << p.volume << " at " << p.balance);
        const uint32_t packed = packVolume(p.volume, p.balance);
        EXPECT_EQ(packed & 0xFFFF, p.left);
        EXPECT_EQ(packed >> 16, p.right);
    }

    EXPECT_EQ(amplifierGainFromKnob(32768), 1.0);
    EXPECT_EQ(amplifierGainFromKnob(32768 + 700), 1.0) << "within 0.95-1.05 the amplifier is off";
    EXPECT_DOUBLE_EQ(amplifierGainFromKnob(0), 0.125);
    EXPECT_NEAR(amplifierGainFromKnob(65535), 8.0, 0.01);
    EXPECT_EQ(pitchFactorFromKnob(32768 + 400, false), 1.0) << "a factor above 1 by less than 0.01";
    EXPECT_EQ(pitchFactorFromKnob(32768 - 370, false), 1.0) << "within 0.008 below";
    EXPECT_LT(pitchFactorFromKnob(32768 - 400, false), 0.992);
    EXPECT_DOUBLE_EQ(pitchFactorFromKnob(0, false), 0.5);
    EXPECT_NEAR(pitchFactorFromKnob(65535, false), 2.0, 0.001);
    EXPECT_EQ(pitchFactorFromKnob(32768 + 1000, true), 1.0) << "fine steps snap near 1.0 too";
    EXPECT_GT(pitchFactorFromKnob(32768 + 1500, true), 1.01);

    PlayerRig rig;
    const LanguageStore& texts = rig.home.language;
    EXPECT_EQ(volumeText(texts, 65535), "Volume: 100%");
    EXPECT_EQ(volumeText(texts, 32767), "Volume: 49%");
    EXPECT_EQ(balanceText(texts, 32767), "Balance: centre");
    EXPECT_EQ(balanceText(texts, 32768), "Balance: centre");
    EXPECT_EQ(balanceText(texts, 0), "Balance: 100% left");
    EXPECT_EQ(balanceText(texts, 65535), "Balance: 100% right");
    rig.engine->SetAmplifierKnob(65535);
    rig.engine->SetPitchKnob(0, false);
    const auto status = rig.events.status();
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(status[0], "Amplify: 800%");
    EXPECT_EQ(status[1], "Pitch: 50%");
    EXPECT_EQ(rig.pitch.storedFactor(), 128);
}

}  // namespace
}  // namespace tessura
