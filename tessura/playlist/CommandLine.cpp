#include "CommandLine.h"

#include "TextCase.h"
#include "ThreadMessages.h"

#include <algorithm>
#include <iterator>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace tessura {

namespace {

constexpr std::string_view kCommandWords[] = {
    "stop",        "play",       "quit",         "pause",         "resume",        "openfiledialog",
    "installskin", "loadskin",   "showwindow",   "nextvis",       "prevvis",       "seeknext",
    "playnext",    "seekprev",   "playprev",     "clearplaylist", "removecursong", "appendonly",
    "startsong",   "shuffle",    "repeat",       "loop",          "seekto",        "playto",
    "scanto",      "setoffset",  "scan",         "setvolume",     "deltavolume",   "cdinsert",
    "execute",     "display",    "debugvisuals", "nowavequery",   "nogui",         "new",
    "nonew"};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool pathExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// '#' before a character drops out and leaves that character as it is ("##" is one '#').
std::string unescapeHashes(const std::string& raw) {
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '#' && i + 1 < raw.size()) ++i;
        out += raw[i];
    }
    return out;
}

}  // namespace

std::span<const std::string_view> CommandWords() {
    return kCommandWords;
}

bool IsCommandWord(std::string_view word) {
    if (word.empty()) return false;
    const std::string lower = lowerAscii(word);
    return std::find(std::begin(kCommandWords), std::end(kCommandWords), lower) != std::end(kCommandWords);
}

std::vector<CommandToken> TokenizeCommandLine(std::string_view text) {
    std::vector<CommandToken> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isBlank(text[i])) ++i;
        if (i >= text.size()) break;
        const bool quoted = text[i] == '"';
        if (quoted) ++i;
        std::string raw;
        while (i < text.size()) {
            const char c = text[i];
            // A backslash makes the next character ordinary; both stay (Windows paths keep theirs).
            if (c == '\\' && i + 1 < text.size()) {
                raw += c;
                raw += text[i + 1];
                i += 2;
                continue;
            }
            if (quoted ? c == '"' : isBlank(c)) break;
            raw += c;
            ++i;
        }
        if (quoted && i < text.size()) ++i;  // the closing quote
        CommandToken token;
        token.text = unescapeHashes(raw);
        if (token.text.size() > kMaxTokenChars) token.text.resize(kMaxTokenChars);
        token.raw = token.text;
        if (!token.text.empty() && (token.text[0] == '-' || token.text[0] == '/')) {
            const std::string word = token.text.substr(1);
            if (token.text[0] == '-' || (IsCommandWord(word) && !pathExists(token.text))) {
                token.command = true;
                token.text = lowerAscii(word);
            }
        }
        if (!token.text.empty() || quoted) tokens.push_back(std::move(token));
    }
    return tokens;
}

SignedArgument ParseSignedArgument(const std::string& text) {
    SignedArgument result;
    std::string digits = text;
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) result.relative = true;
    if (digits.empty()) return result;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(digits.c_str(), &end, 0);
    if (end == digits.c_str() || *end != '\0' || errno == ERANGE) return result;
    result.valid = true;
    result.value = value;
    return result;
}

int CommandDispatcher::nextRepeatMode(int mode) {
    switch (mode) {
        case 0: return 2;
        case 2: return 1;
        default: return 0;
    }
}

struct CommandDispatcher::Run {
    std::vector<CommandToken> tokens;
    std::size_t next = 0;
    bool append = false;
    bool fileSeen = false;
    bool replace = false;
    int oldCount = 0;
    int firstAdded = -1;
};

bool CommandDispatcher::hasArgument(const Run& run) const {
    return run.next < run.tokens.size() && !run.tokens[run.next].command;
}

std::string CommandDispatcher::argument(Run& run) {
    if (run.next >= run.tokens.size()) return {};
    return run.tokens[run.next++].raw;
}

void CommandDispatcher::DispatchCommands(std::string_view text, bool append) {
    Run run;
    run.tokens = TokenizeCommandLine(text);
    run.append = append;
    while (run.next < run.tokens.size()) {
        const CommandToken token = run.tokens[run.next++];
        if (token.command) {
            runCommand(run, token.text);
        } else {
            addFile(run, token.text);
        }
    }
    finishReplacement(run);
}

void CommandDispatcher::addFile(Run& run, const std::string& file) {
    Playlist& list = target_.playlist();
    const int before = list.size();
    if (!run.fileSeen) {
        run.fileSeen = true;
        if (!run.append && before > 0) {
            run.replace = true;
            run.oldCount = before;
        }
    }
    int existing = -1;
    AddRequest request;
    request.existingIndex = &existing;
    const int added = list.AddItem(file, request);
    if (added > 0) {
        if (run.firstAdded < 0) run.firstAdded = before;
        if (target_.immediatePlay()) {
            target_.playPosition(list.PositionOfEntry(run.firstAdded));
        } else if (!run.append) {
            target_.stop();
        }
    } else if (existing >= 0) {
        target_.playPosition(list.PositionOfEntry(existing));
    }
}

void CommandDispatcher::finishReplacement(Run& run) {
    if (!run.replace || run.oldCount <= 0) return;
    Playlist& list = target_.playlist();
    const int old = std::min(run.oldCount, list.size());
    const int current = list.currentIndex();
    if (current >= 0 && current < old) {
        // The entry being played survives, moved to the front of the new list.
        if (current + 1 <= old - 1) list.RemoveRange(current + 1, old - 1);
        if (current > 0) list.RemoveRange(0, current - 1);
    } else if (old > 0) {
        list.RemoveRange(0, old - 1);
    }
}

void CommandDispatcher::stepEntry(int direction) {
    Playlist& list = target_.playlist();
    const int size = list.size();
    if (size == 0) return;
    const int at = list.PositionOfEntry(list.currentIndex());
    int to = at + direction;
    const bool wrap = list.repeatMode() == 2;
    if (to >= size) {
        if (!wrap) return;
        to = 0;
    }
    if (to < 0) {
        if (!wrap) return;
        to = size - 1;
    }
    target_.playPosition(to);
}

void CommandDispatcher::runCommand(Run& run, const std::string& word) {
    Playlist& list = target_.playlist();
    if (word == "stop") {
        target_.stop();
    } else if (word == "play") {
        target_.play();
    } else if (word == "quit") {
        target_.post(thread_message::kQuit);
    } else if (word == "pause") {
        if (!target_.paused()) target_.togglePause();
    } else if (word == "resume") {
        if (target_.paused()) target_.togglePause();
    } else if (word == "openfiledialog") {
        if (target_.gui()) target_.post(thread_message::kOpenFileDialog, 0, 0, 200);
    } else if (word == "installskin") {
        const std::string file = argument(run);
        if (!file.empty()) target_.installSkin(file);
    } else if (word == "loadskin") {
        target_.storeSkinToLoad(hasArgument(run) ? argument(run) : std::string());
        target_.post(thread_message::kLoadStoredSkin);
    } else if (word == "showwindow") {
        const int a = std::atoi(argument(run).c_str());
        const int b = std::atoi(argument(run).c_str());
        if (a == 0) return;
        if (a == 1 || a == 2 || a == 4) {
            target_.post(thread_message::kSwitchMode, a == 1 ? 3 : a == 2 ? 1 : 5, b);
        } else if (a == 3 && b != 0 && b >= -2 && b <= 7) {
            static constexpr int kPages[] = {0xFFFF, 0xFFFF, 0, 0xFFFF, 1, 5, 6, 3, 4, 9};  // b = -2 ... 7
            target_.post(thread_message::kSwitchMode, 2, kPages[b + 2]);
        } else {
            target_.post(thread_message::kNavigatorPage, b);
        }
    } else if (word == "nextvis" || word == "prevvis") {
        target_.stepVisualisation(word == "nextvis" ? 1 : -1);
    } else if (word == "seeknext" || word == "playnext") {
        stepEntry(1);
    } else if (word == "seekprev" || word == "playprev") {
        stepEntry(-1);
    } else if (word == "clearplaylist") {
        list.ClearPlaylist();
        target_.stop();
    } else if (word == "removecursong") {
        if (list.lastPlayedIndex() >= 0) list.RemoveEntry(list.lastPlayedIndex());
    } else if (word == "appendonly") {
        AddRequest request;
        request.allowDuplicates = true;
        const std::string file = argument(run);
        if (!file.empty()) list.AddItem(file, request);
    } else if (word == "startsong") {
        const std::string file = argument(run);
        if (file.empty()) return;
        for (int i = 0; i < list.size(); ++i) {
            if (list.entry(i).file == file) {
                target_.playPosition(list.PositionOfEntry(i));
                return;
            }
        }
        if (!run.append && run.firstAdded < 0) list.ClearPlaylist();
        if (list.AddItem(file) > 0) target_.playPosition(list.PositionOfEntry(list.size() - 1));
    } else if (word == "shuffle") {
        const std::string value = lowerAscii(argument(run));
        if (value == "on" || value == "off") list.SetShuffle(value == "on");
    } else if (word == "repeat" || word == "loop") {
        const std::string value = lowerAscii(argument(run));
        const int wanted = value == "one" ? 1 : value == "all" ? 2 : value == "off" ? 0 : -1;
        if (wanted < 0) return;
        for (int step = 0; step < 3 && list.repeatMode() != wanted; ++step)
            list.SetRepeatMode(nextRepeatMode(list.repeatMode()));
    } else if (word == "seekto" || word == "playto") {
        const int n = std::atoi(argument(run).c_str());
        if (n > 0 && n <= list.size()) target_.playPosition(list.PositionOfEntry(n - 1));
    } else if (word == "scanto" || word == "setoffset" || word == "scan") {
        const SignedArgument ms = ParseSignedArgument(argument(run));
        if (!ms.valid || target_.paused()) return;
        const bool relative = ms.relative || word == "scan";
        const long long to = relative ? target_.position() + ms.value : ms.value;
        target_.seek(static_cast<int32_t>(std::clamp<long long>(to, 0, INT32_MAX)));
    } else if (word == "setvolume" || word == "deltavolume") {
        const SignedArgument v = ParseSignedArgument(argument(run));
        if (!v.valid) return;
        const bool relative = v.relative || word == "deltavolume";
        const long long level = relative ? static_cast<long long>(target_.volume()) + v.value : v.value;
        target_.setVolume(static_cast<uint32_t>(std::clamp<long long>(level, 0, 65535)));
    } else if (word == "cdinsert") {
        if (!hasArgument(run)) {
            target_.showMessage("errors/tessuraerror", "errors/invaliddriveletter");
            return;
        }
        std::string drive = argument(run);
        if (drive.size() > 2) drive.resize(2);
        target_.stop();
        if (target_.autoCdClearPlaylist()) {
            target_.saveCdDump();
            list.ClearPlaylist();
        }
        const int tracks = target_.audioCdTracks(drive);
        const int first = list.size();
        for (int track = 1; track <= tracks; ++track) {
            char name[24];
            std::snprintf(name, sizeof name, "Track%02d.cda", track);
            list.AddItem(drive + name);
        }
        if (list.size() > first && target_.immediatePlay()) target_.playPosition(list.PositionOfEntry(first));
    } else if (word == "execute") {
        const std::string program = argument(run);
        const std::string arguments = hasArgument(run) ? argument(run) : std::string();
        if (!program.empty()) target_.execute(program, arguments);
    } else if (word == "display") {
        target_.showStatus(argument(run));
    } else if (word == "debugvisuals" || word == "nowavequery") {
        target_.setFlag(word);
    }
    // Other words (the start-up flags among them) are ignored here.
}

}  // namespace tessura
