// The command line: tokens with quotes, backslashes and '#' escapes; '/' words that are paths;
// every command word against a recording player; files added, played, and the old list replaced
// with the playing entry kept.
#include "CommandLine.h"
#include "RecordingHost.h"
#include "TempFolder.h"
#include "ThreadMessages.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tessura {
namespace {

class RecordingTarget final : public CommandTarget {
  public:
    explicit RecordingTarget(Playlist& list) : list_(list) {}
    Playlist& playlist() override { return list_; }
    bool gui() override { return gui_; }
    bool immediatePlay() override { return immediate_; }
    void stop() override { log("stop"); }
    void play() override { log("play"); }
    bool paused() override { return paused_; }
    void togglePause() override {
        paused_ = !paused_;
        log(paused_ ? "pause" : "resume");
    }
    void playPosition(int position) override {
        list_.setCurrentIndex(list_.EntryAtPosition(position));
        log("play " + std::to_string(position));
    }
    int32_t position() override { return 5000; }
    void seek(int32_t ms) override { log("seek " + std::to_string(ms)); }
    uint32_t volume() override { return volume_; }
    void setVolume(uint32_t level) override {
        volume_ = level;
        log("volume " + std::to_string(level));
    }
    void post(uint32_t code, intptr_t w, intptr_t l, int delayMs) override {
        char text[64];
        std::snprintf(text, sizeof text, "post %04X %ld %ld%s", code, static_cast<long>(w), static_cast<long>(l),
                      delayMs > 0 ? " later" : "");
        log(text);
    }
    void installSkin(const std::string& file) override { log("install " + file); }
    void storeSkinToLoad(const std::string& file) override { log("skin '" + file + "'"); }
    void stepVisualisation(int step) override { log("vis " + std::to_string(step)); }
    void showStatus(const std::string& text) override { log("status " + text); }
    void showMessage(const std::string& caption, const std::string& text) override { log("message " + caption + " " + text); }
    void execute(const std::string& program, const std::string& arguments) override {
        log("execute " + program + " [" + arguments + "]");
    }
    int audioCdTracks(const std::string& drive) override {
        log("cd " + drive);
        return 0;
    }
    void saveCdDump() override { log("cddump"); }
    void setFlag(const std::string& name) override { log("flag " + name); }

    std::vector<std::string> calls;
    bool gui_ = true, immediate_ = true, paused_ = false;
    uint32_t volume_ = 30000;

  private:
    void log(const std::string& call) { calls.push_back(call); }
    Playlist& list_;
};

TEST(CommandLine, SplitsTokensByQuotesBackslashesAndHashes) {
    test::TempFolder folder;
    const std::string existing = folder.file("pause");
    std::ofstream(existing) << "x";
    struct Case {
        std::string text;
        std::vector<std::pair<std::string, bool>> tokens;  // text, command
    };
    const Case cases[] = {
        {"  a.mp3   b.mp3 ", {{"a.mp3", false}, {"b.mp3", false}}},
        {"\"My Music/one two.mp3\" -PLAY", {{"My Music/one two.mp3", false}, {"play", true}}},
        {"C:\\Music\\a\\ b.mp3", {{"C:\\Music\\a\\ b.mp3", false}}},  // the backslash keeps the blank
        {"\"say \\\"hi\\\"\"", {{"say \\\"hi\\\"", false}}},
        {"#a#b## c#", {{"ab#", false}, {"c#", false}}},  // a '#' before a character drops out
        {"/pause /tmp/x.mp3 -anything", {{"pause", true}, {"/tmp/x.mp3", false}, {"anything", true}}},
        {existing, {{existing, false}}},  // a command word, but a file of that name exists
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::vector<CommandToken> tokens = TokenizeCommandLine(c.text);
        ASSERT_EQ(tokens.size(), c.tokens.size());
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            EXPECT_EQ(tokens[i].text, c.tokens[i].first);
            EXPECT_EQ(tokens[i].command, c.tokens[i].second);
        }
    }
    EXPECT_EQ(TokenizeCommandLine(std::string(5000, 'x'))[0].text.size(), kMaxTokenChars);
}

struct CommandSetup {
    test::TempFolder folder;
    test::RecordingHost host;
    Playlist list{host};
    RecordingTarget target{list};
    CommandDispatcher dispatcher{target};
    CommandSetup() {
        for (const char* name : {"a.mp3", "b.mp3", "c.ogg", "d.wav"}) std::ofstream(folder.file(name)) << "x";
    }
    std::string file(const std::string& name) const { return folder.file(name); }
};

TEST(CommandLine, RunsEachCommandWord) {
    struct Case {
        std::string line;
        std::vector<std::string> calls;
        int repeatBefore = 0, repeatAfter = -1;
        bool paused = false;
    };
    const std::vector<Case> cases = {
        {"-stop -play -quit", {"stop", "play", "post 8224 0 0"}},
        {"-pause -pause -resume -resume", {"pause", "resume"}},
        {"-resume", {"resume"}, 0, -1, true},
        {"-openfiledialog", {"post 822C 0 0 later"}},
        {"-installskin /skins/x.tgf -loadskin k.tgf -loadskin", {"install /skins/x.tgf", "skin 'k.tgf'", "post 8226 0 0",
                                                                  "skin ''", "post 8226 0 0"}},
        {"-showwindow 1 4 -showwindow 2 0 -showwindow 4 0 -showwindow 0 3",
         {"post 8217 3 4", "post 8217 1 0", "post 8217 5 0"}},
        {"-showwindow 3 2 -showwindow 3 7 -showwindow 3 -1 -showwindow 3 1 -showwindow 3 0 -showwindow 3 8 -showwindow 9 5",
         {"post 8217 2 1", "post 8217 2 9", "post 8217 2 65535", "post 8217 2 65535", "post 8228 0 0", "post 8228 8 0",
          "post 8228 5 0"}},
        {"-nextvis -prevvis", {"vis 1", "vis -1"}},
        {"-playnext -playnext -playnext -playnext", {"play 1", "play 2", "play 3"}},  // off: no wrap
        {"-seekprev", {}},  // at the first entry without repeat all
        {"-playprev", {"play 3"}, 2},
        {"-repeat one", {}, 2, 1},  // one step from all
        {"-loop one", {}, 0, 1},    // two steps from off
        {"-repeat all -repeat bogus", {}, 1, 2},
        {"-seekto 3 -playto 0 -playto 9", {"play 2"}},
        {"-scanto 1200 -scanto +300 -setoffset -6000 -scan 250 -scan x", {"seek 1200", "seek 5300", "seek 0", "seek 5250"}},
        {"-scanto 1200", {}, 0, -1, true},  // ignored while paused
        {"-setvolume 0x8000 -setvolume +70000 -setvolume abc -deltavolume -1000", {"volume 32768", "volume 65535", "volume 64535"}},
        {"-setvolume -40000", {"volume 0"}},
        {"-cdinsert", {"message errors/tessuraerror errors/invaliddriveletter"}},
        {"-cdinsert /dev/cdrom", {"stop", "cddump", "cd /d"}},
        {"-execute notify-send hello -display \"Now here\"", {"execute notify-send [hello]", "status Now here"}},
        {"-debugvisuals -nowavequery -nogui -new -nonew -unknown", {"flag debugvisuals", "flag nowavequery"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        CommandSetup s;
        for (const char* name : {"a.mp3", "b.mp3", "c.ogg", "d.wav"}) s.list.AddItem(s.file(name));
        s.list.setCurrentIndex(0);
        s.list.SetRepeatMode(c.repeatBefore);
        s.target.paused_ = c.paused;
        s.dispatcher.DispatchCommands(c.line, false);
        EXPECT_EQ(s.target.calls, c.calls);
        if (c.repeatAfter >= 0) {
            EXPECT_EQ(s.list.repeatMode(), c.repeatAfter);
        }
    }
}

TEST(CommandLine, AddsFilesAndReplacesTheOldListKeepingTheEntryPlaying) {
    {
        SCOPED_TRACE("a new list: the first file added plays, the old entries go");
        CommandSetup s;
        s.list.AddItem(s.file("d.wav"));
        s.dispatcher.DispatchCommands("\"" + s.file("a.mp3") + "\" \"" + s.file("b.mp3") + "\"", false);
        EXPECT_EQ(s.target.calls, (std::vector<std::string>{"play 1", "play 1"}));
        ASSERT_EQ(s.list.size(), 2);
        EXPECT_EQ(s.list.entry(0).file, s.file("a.mp3"));
        EXPECT_EQ(s.list.currentIndex(), 0) << "the playing entry moved down with the list";
    }
    {
        SCOPED_TRACE("appended (a forwarded line with ListAppend): the old entries stay");
        CommandSetup s;
        s.list.AddItem(s.file("d.wav"));
        s.dispatcher.DispatchCommands(s.file("a.mp3"), true);
        EXPECT_EQ(s.list.size(), 2);
    }
    {
        SCOPED_TRACE("without ImmediatePlay: the old entry that plays survives at the front");
        CommandSetup s;
        s.target.immediate_ = false;
        for (const char* name : {"a.mp3", "b.mp3", "c.ogg"}) s.list.AddItem(s.file(name));
        s.list.setCurrentIndex(1);
        s.dispatcher.DispatchCommands(s.file("d.wav"), false);
        EXPECT_EQ(s.target.calls, std::vector<std::string>{"stop"});
        ASSERT_EQ(s.list.size(), 2);
        EXPECT_EQ(s.list.entry(0).file, s.file("b.mp3"));
        EXPECT_EQ(s.list.entry(1).file, s.file("d.wav"));
        EXPECT_EQ(s.list.currentIndex(), 0);
    }
    {
        SCOPED_TRACE("startsong: an entry of the list, else a new list of the file");
        CommandSetup s;
        for (const char* name : {"a.mp3", "b.mp3"}) s.list.AddItem(s.file(name));
        s.dispatcher.DispatchCommands("-startsong \"" + s.file("b.mp3") + "\"", false);
        EXPECT_EQ(s.target.calls, std::vector<std::string>{"play 1"});
        s.dispatcher.DispatchCommands("-startsong \"" + s.file("c.ogg") + "\"", false);
        ASSERT_EQ(s.list.size(), 1);
        EXPECT_EQ(s.list.entry(0).file, s.file("c.ogg"));
        s.dispatcher.DispatchCommands("-appendonly \"" + s.file("c.ogg") + "\" -clearplaylist", false);
        EXPECT_EQ(s.list.size(), 0);
        EXPECT_EQ(s.target.calls.back(), "stop");
    }
}

}  // namespace
}  // namespace tessura
