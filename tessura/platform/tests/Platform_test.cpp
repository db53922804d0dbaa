#include "AtomicFile.h"
#include "Event.h"
#include "Guid.h"
#include "ProgramFolder.h"
#include "ScriptedDialogService.h"
#include "TempFolder.h"
#include "TextCase.h"
#include "ThreadMessages.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace tessura {
namespace {

TEST(ThreadMessageQueue, MessagesOfSeveralThreadsArriveWholeAndInEachThreadsOrder) {
    ThreadMessageQueue queue;
    std::atomic<int> wakeUps{0};
    queue.setWakeUp([&] { ++wakeUps; });
    constexpr int kThreads = 4, kEach = 500;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&queue, t] {
            for (int i = 0; i < kEach; ++i) {
                ThreadMessage m;
                m.code = thread_message::kStatusText;
                m.wparam = t;
                m.lparam = i;
                m.text = "status " + std::to_string(i);
                queue.post(std::move(m));
            }
        });
    }
    std::vector<int> next(kThreads, 0);
    int received = 0;
    while (received < kThreads * kEach) {
        received += static_cast<int>(queue.drain([&](const ThreadMessage& m) {
            ASSERT_EQ(m.code, thread_message::kStatusText);
            const auto t = static_cast<std::size_t>(m.wparam);
            EXPECT_EQ(m.lparam, next[t]) << "thread " << t;
            EXPECT_EQ(m.text, "status " + std::to_string(m.lparam));
            next[t] = static_cast<int>(m.lparam) + 1;
        }));
    }
    for (std::thread& p : posters) p.join();
    EXPECT_EQ(queue.pending(), 0u);
    EXPECT_GE(wakeUps.load(), 1);
}

TEST(ThreadMessageQueue, CodesAreTheMainThreadsMessages) {
    EXPECT_EQ(thread_message::kStopAndNotify, 0x8200u);
    EXPECT_EQ(thread_message::kEndOfTrack, 0x8218u);
    EXPECT_EQ(thread_message::kQuit, 0x8224u);
    EXPECT_EQ(thread_message::kLoadStoredSkin, 0x8226u);
    EXPECT_EQ(thread_message::kStatusText, 0x822Fu);
    EXPECT_STREQ(threadMessageName(0x8224), "kQuit");
    EXPECT_EQ(threadMessageName(0x8202), nullptr);
}

TEST(ThreadMessageQueue, AMessagePostedWhileDrainingWaitsForTheNextDrain) {
    ThreadMessageQueue queue;
    queue.post(thread_message::kQuit);
    const std::size_t first = queue.drain([&](const ThreadMessage&) {
        queue.post(thread_message::kRefreshSongDisplay);
    });
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(queue.pending(), 1u);
}

TEST(Event, AutoResetReleasesOneWaiterPerSetAndManualResetStaysSet) {
    Event automatic(Event::Reset::Automatic);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            automatic.wait();
            ++released;
        });
    }
    for (int expected = 1; expected <= 3; ++expected) {
        automatic.set();
        // The set is consumed by exactly one waiter before the next one is released.
        while (released.load() < expected) std::this_thread::yield();
        while (automatic.isSet()) std::this_thread::yield();
        EXPECT_EQ(released.load(), expected);
    }
    for (std::thread& w : waiters) w.join();
    EXPECT_FALSE(automatic.waitFor(std::chrono::milliseconds(0)));

    Event manual(Event::Reset::Manual);
    manual.set();
    EXPECT_TRUE(manual.waitFor(std::chrono::milliseconds(0)));
    EXPECT_TRUE(manual.waitFor(std::chrono::milliseconds(0)));
    manual.reset();
    EXPECT_FALSE(manual.waitFor(std::chrono::milliseconds(0)));
}

TEST(Guid, TextFormRoundTripsAndBadTextIsRefused) {
    const Guid builtIn{0xDDDCE15A, 0xBEBC, 0x4F0B, {0x98, 0x0D, 0x1D, 0xD7, 0x9F, 0x80, 0x43, 0x23}};
    EXPECT_EQ(formatGuid(builtIn), "DDDCE15A-BEBC-4F0B-980D-1DD79F804323");
    EXPECT_EQ(parseGuid("dddce15a-bebc-4f0b-980d-1dd79f804323"), builtIn);
    EXPECT_EQ(parseGuid("{DDDCE15A-BEBC-4F0B-980D-1DD79F804323}"), builtIn);
    EXPECT_EQ(formatGuid(Guid{}), "00000000-0000-0000-0000-000000000000");
    EXPECT_TRUE(Guid{}.isNull());
    for (const char* bad : {"", "DDDCE15A-BEBC-4F0B-980D-1DD79F80432", "DDDCE15ABBEBC-4F0B-980D-1DD79F804323",
                            "GDDCE15A-BEBC-4F0B-980D-1DD79F804323", "{DDDCE15A-BEBC-4F0B-980D-1DD79F804323"}) {
        EXPECT_FALSE(parseGuid(bad).has_value()) << bad;
    }
}

TEST(AtomicFile, ReplacesWholeWithItsModeAndLeavesTheOldFileWhenItCannotWrite) {
    test::TempFolder folder;
    const std::string path = folder.write("settings.ini", "old");
    ASSERT_EQ(writeFileAtomically(path, "new contents"), WriteResult::Ok);
    EXPECT_EQ(folder.read("settings.ini"), "new contents");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // A folder that does not exist: nothing is written, nothing is lost.
    EXPECT_EQ(writeFileAtomically(folder.file("missing/settings.ini"), "x"), WriteResult::CannotCreate);
    // The folder holds nothing but the file: no temporary file was left behind.
    std::size_t names = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        (void)entry;
        ++names;
    }
    EXPECT_EQ(names, 1u);
    EXPECT_TRUE(makeFolders(folder.file("a/b/c")));
    EXPECT_FALSE(fileExists(folder.file("a/b/c")));  // a folder, not a file
}

class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        if (value) ::setenv(name, value, 1); else ::unsetenv(name);
    }
    ~ScopedEnvironment() {
        if (had_) ::setenv(name_, old_.c_str(), 1); else ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

TEST(ProgramFolder, HomeAndPerUserFilesFollowTheEnvironment) {
    test::TempFolder folder;
    {
        ScopedEnvironment home("TESSURA_HOME", (folder.path() + "/prog/").c_str());
        ScopedEnvironment config("XDG_CONFIG_HOME", folder.file("config").c_str());
        ScopedEnvironment data("XDG_DATA_HOME", folder.file("data").c_str());
        const ProgramFolder f = ProgramFolder::fromEnvironment();
        EXPECT_EQ(f.home, folder.file("prog"));
        EXPECT_EQ(f.systemDir(), folder.file("prog/system"));
        EXPECT_EQ(f.file("system\\tessura.tgf"), folder.file("prog/system/tessura.tgf"));
        EXPECT_EQ(f.settingsFile(), folder.file("config/Quellmark/tessura.ini"));
        EXPECT_EQ(f.legacySettingsFile(), folder.file("prog/tessura.ini"));
        EXPECT_EQ(f.mimeappsList(), folder.file("config/mimeapps.list"));
        EXPECT_EQ(f.applicationsDir(), folder.file("data/applications"));
    }
    {
        ScopedEnvironment home("TESSURA_HOME", nullptr);
        ScopedEnvironment config("XDG_CONFIG_HOME", "relative/ignored");
        ScopedEnvironment user("HOME", folder.path().c_str());
        const ProgramFolder f = ProgramFolder::fromEnvironment();
        // Without TESSURA_HOME the program folder is where the running program is.
        const std::string exe = runningProgramPath();
        ASSERT_FALSE(exe.empty());
        EXPECT_EQ(f.home, exe.substr(0, exe.rfind('/')));
        EXPECT_EQ(f.configHome, folder.file(".config"));
    }
}

TEST(ProgramFolder, SingleInstanceFilesAndTheSoundBackend) {
    ProgramFolder f;
    f.runtimeDir = "/run/user/1000";
    EXPECT_EQ(f.instanceSocket(), "/run/user/1000/tessura.sock");
    EXPECT_EQ(f.instanceLock(), "/run/user/1000/tessura.lock");
    f.runtimeDir.clear();
    EXPECT_EQ(f.instanceSocket(), "/tmp/tessura-" + std::to_string(::getuid()) + "/tessura.sock");

    using Kind = AudioBackendChoice::Kind;
    struct Case {
        const char* value;
        Kind kind;
        const char* path;
    };
    const Case cases[] = {{nullptr, Kind::Sdl, ""},          {"", Kind::Sdl, ""},
                          {"sdl", Kind::Sdl, ""},            {"null", Kind::Null, ""},
                          {"wav:/tmp/out.wav", Kind::Wav, "/tmp/out.wav"},
                          {"wav:", Kind::Invalid, ""},       {"alsa", Kind::Invalid, ""}};
    for (const Case& c : cases) {
        const AudioBackendChoice choice = parseAudioBackend(c.value);
        EXPECT_EQ(choice.kind, c.kind) << (c.value ? c.value : "(unset)");
        EXPECT_EQ(choice.wavPath, c.path);
    }
}

TEST(ScriptedDialogService, AnswersInOrderByKeyOrTextAndOtherwiseTakesTheSafeAnswer) {
    test::TempFolder folder;
    const std::string script = folder.write("answers",
        "# answers for one run\n"
        "errors/corruptimageres=Yes\r\n"
        "\n"
        "Error loading language file=OK\n"
        "main/open=/music/a.mp3|/music/b.mp3\n"
        "eq/enterpresetname_text=Evening\n");
    ScriptedDialogService dialogs(nullptr);
    ASSERT_TRUE(dialogs.loadScript(script));

    MessageRequest corrupt{"Tessura error", "An image could not be decoded.", "errors/tessuraerror",
                           "errors/corruptimageres", Buttons::YesNo};
    EXPECT_EQ(dialogs.message(corrupt), Answer::Yes);
    EXPECT_EQ(dialogs.message(corrupt), Answer::No);  // its line is used up: the safe answer
    MessageRequest language{"Error loading language file 'x.lng'", "Couldn't parse XML : ...", "", "",
                            Buttons::Ok};
    EXPECT_EQ(dialogs.message(language), Answer::Ok);
    MessageRequest question{"Tessura", "Quit?", "", "", Buttons::YesNoCancel};
    EXPECT_EQ(dialogs.message(question), Answer::Cancel);

    FileRequest open;
    open.title = "Open files";
    open.titleKey = "main/open";
    EXPECT_EQ(dialogs.chooseFiles(open), (std::vector<std::string>{"/music/a.mp3", "/music/b.mp3"}));
    EXPECT_TRUE(dialogs.chooseFiles(open).empty());

    const TextRequest name{"Save preset", "Enter Preset Name", "eq/savepreset_text", "eq/enterpresetname_text", ""};
    EXPECT_EQ(dialogs.askText(name), std::optional<std::string>("Evening"));
    EXPECT_EQ(dialogs.askText(name), std::nullopt);  // no answer left: cancelled
    EXPECT_EQ(dialogs.shown().size(), 8u);
}

TEST(TextCase, ComparesWithoutCaseAndCutsWholeCharacters) {
    EXPECT_TRUE(equalsNoCase("General Preferences 0.80", "general PREFERENCES 0.80"));
    EXPECT_FALSE(equalsNoCase("abc", "abd"));
    EXPECT_TRUE(containsNoCase("system/FeedLine.dll", "feedline.dll"));
    EXPECT_EQ(stripBlanks(" \t key \t"), "key");
    EXPECT_EQ(cutUtf8("ab\xC3\xA9", 3), "ab");  // é is two bytes: not split
    EXPECT_EQ(cutUtf8("ab\xC3\xA9", 4), "ab\xC3\xA9");
}

}  // namespace
}  // namespace tessura
