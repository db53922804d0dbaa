#pragma once
// The command line of tessura and of every later start forwarded to it: the words split into
// tokens, files added to the playlist, and the command words ("-pause", "/playnext") run
// against the player. The player side is an interface, so every command is tested without an
// engine or a window.
#include "Playlist.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessura {

inline constexpr std::size_t kMaxTokenChars = 2048;

struct CommandToken {
    std::string text;      // without its quotes and '#' escapes; for a command, without '-' or '/'
    bool command = false;  // began with '-' or '/' and names a command word
    std::string raw;       // as written, unquoted and unescaped: what an argument takes ("-6000")
};

// Splits `text` by the rules of the command line. A word that begins with '/' is a command only
// when it is a known command word and no such file exists (every absolute path begins with '/').
std::vector<CommandToken> TokenizeCommandLine(std::string_view text);
bool IsCommandWord(std::string_view word);
// Every command word, the start-up flags among them.
std::span<const std::string_view> CommandWords();

// What the commands act on.
class CommandTarget {
  public:
    virtual ~CommandTarget() = default;
    virtual Playlist& playlist() = 0;
    virtual bool gui() { return true; }  // false with -nogui
    virtual bool immediatePlay() { return true; }

    virtual void stop() = 0;
    virtual void play() = 0;  // opens the current entry when nothing is open
    virtual bool paused() = 0;
    virtual void togglePause() = 0;
    virtual void playPosition(int position) = 0;  // a position in play order
    virtual int32_t position() = 0;               // ms, -1 when nothing plays
    virtual void seek(int32_t ms) = 0;
    virtual uint32_t volume() = 0;
    virtual void setVolume(uint32_t level) = 0;

    // A thread message to the main thread, now or after `delayMs`.
    virtual void post(uint32_t code, intptr_t wparam = 0, intptr_t lparam = 0, int delayMs = 0) = 0;
    virtual void installSkin(const std::string& file) = 0;
    virtual void storeSkinToLoad(const std::string& file) = 0;  // empty: the default skin
    virtual void stepVisualisation(int step) = 0;
    virtual void showStatus(const std::string& text) = 0;
    virtual void showMessage(const std::string& captionKey, const std::string& textKey) = 0;
    virtual void execute(const std::string& program, const std::string& arguments) = 0;
    // The number of audio tracks in `drive`'s disc, 0 when none can be read.
    virtual int audioCdTracks(const std::string& drive) = 0;
    virtual bool autoCdClearPlaylist() { return true; }
    virtual void saveCdDump() = 0;  // the playlist to "cddump.pls", remembered for restoring
    virtual void setFlag(const std::string& /*name*/) {}  // debugvisuals, nowavequery
};

class CommandDispatcher {
  public:
    explicit CommandDispatcher(CommandTarget& target) : target_(target) {}

    // Runs every token of `text`; `append` is the ListAppend setting for forwarded command lines
    // and false for the program's own.
    void DispatchCommands(std::string_view text, bool append);

    // The repeat cycle off -> all -> one -> off.
    static int nextRepeatMode(int mode);

  private:
    struct Run;
    void runCommand(Run& run, const std::string& word);
    void addFile(Run& run, const std::string& file);
    std::string argument(Run& run);
    bool hasArgument(const Run& run) const;
    void finishReplacement(Run& run);
    void stepEntry(int direction);

    CommandTarget& target_;
};

// "setvolume" and "scanto" arguments: a number in any base with an optional leading sign.
struct SignedArgument {
    bool valid = false;
    bool relative = false;
    long long value = 0;
};
SignedArgument ParseSignedArgument(const std::string& text);

}  // namespace tessura
