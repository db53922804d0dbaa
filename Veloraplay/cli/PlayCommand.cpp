#include "PlayCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "MessageQueue.h"
#include "PcmOut.h"
#include "StreamLayout.h"
#include "Velorawrap.h"
#include "WaveInputFile.h"

namespace veloraplay {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSeekStepPercent = 5;
constexpr int kRefreshMs = 200;  // how often the terminal status line redraws

// ---- signals and the terminal ------------------------------------------------------------

volatile std::sig_atomic_t gSignal = 0;
int gWakeWrite = -1;  // the self-pipe that ends the main loop's poll
bool gTerminalRaw = false;
struct termios gSavedTerminal {};

void Wake() {
    if (gWakeWrite < 0) return;
    const char c = 0;
    // A full pipe already means "wake up".
    [[maybe_unused]] const ssize_t n = ::write(gWakeWrite, &c, 1);
}

void RestoreTerminal() {
    if (gTerminalRaw) tcsetattr(STDIN_FILENO, TCSAFLUSH, &gSavedTerminal);
}

void ApplyRawMode() {
    struct termios raw = gSavedTerminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw);
}

extern "C" void OnPlaySignal(int signo) {
    const int saved = errno;
    if (gSignal == 0) gSignal = signo;
    Wake();
    errno = saved;
}

extern "C" void OnSuspend(int);

void InstallSuspendHandler() {
    struct sigaction sa {};
    sa.sa_handler = OnSuspend;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTSTP, &sa, nullptr);
}

// Ctrl-Z: the shell gets its terminal back as it was; on resume the keys work again.
extern "C" void OnSuspend(int) {
    const int saved = errno;
    RestoreTerminal();
    std::signal(SIGTSTP, SIG_DFL);
    raise(SIGTSTP);
    // Continued.
    if (gTerminalRaw) ApplyRawMode();
    InstallSuspendHandler();
    errno = saved;
}

// Raw keys while it lives; the terminal as it was on every way out (a signal ends the main
// loop, which returns through here).
class TerminalGuard {
  public:
    bool enter() {
        if (tcgetattr(STDIN_FILENO, &gSavedTerminal) != 0) return false;
        gTerminalRaw = true;
        ApplyRawMode();
        InstallSuspendHandler();
        return true;
    }
    ~TerminalGuard() {
        if (!gTerminalRaw) return;
        std::signal(SIGTSTP, SIG_DFL);
        RestoreTerminal();
        gTerminalRaw = false;
    }
};

class WakePipe {
  public:
    bool open() {
        int fds[2];
        if (::pipe(fds) != 0) return false;
        for (const int fd : fds) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        read_ = fds[0];
        gWakeWrite = fds[1];
        return true;
    }
    ~WakePipe() {
        if (read_ >= 0) ::close(read_);
        if (gWakeWrite >= 0) ::close(gWakeWrite);
        gWakeWrite = -1;
    }
    int fd() const { return read_; }
    void clear() {
        char buf[64];
        while (::read(read_, buf, sizeof buf) > 0) {
        }
    }

  private:
    int read_ = -1;
};

// ---- options -----------------------------------------------------------------------------

struct PlayOptions {
    double seekSeconds = 0.0;
    bool enhancement = true;
    int volume = -1;  // -1: leave the device's level
    std::vector<std::string> files;
};

bool ParseSeconds(std::string_view text, double& value) {
    if (text.empty() || text.size() > 32) return false;
    const std::string s(text);
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s.c_str(), &end);
    if (errno != 0 || end != s.c_str() + s.size() || !std::isfinite(v) || v < 0.0) return false;
    value = v;
    return true;
}

bool ParseVolume(std::string_view text, int& value) {
    if (text.empty() || text.size() > 3) return false;
    int v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v > 100) return false;
    value = v;
    return true;
}

// 0 to go on; otherwise the exit status (help shown, or a usage error).
int ParsePlayArguments(int argc, char** argv, const char* usage, PlayOptions& options) {
    const auto usageError = [](const std::string& message) {
        std::fprintf(stderr, "velora: %s (try 'velora --help')\n", message.c_str());
        return 2;
    };
    bool onlyFiles = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (onlyFiles || a == "-" || a.empty() || a[0] != '-') {
            options.files.emplace_back(a);
        } else if (a == "--") {
            onlyFiles = true;
        } else if (a == "-h" || a == "--help") {
            std::fputs(usage, stdout);
            return -1;
        } else if (a == "--seek" || a == "--volume") {
            if (i + 1 >= argc) return usageError("option " + std::string(a) + " needs a value");
            const std::string_view v = argv[++i];
            if (a == "--seek" && !ParseSeconds(v, options.seekSeconds)) {
                return usageError("the seek must be a number of seconds, 0 or more");
            }
            if (a == "--volume" && !ParseVolume(v, options.volume)) {
                return usageError("the volume must be a whole number from 0 to 100");
            }
        } else if (a == "-n" || a == "--no-enhancement" || a == "--no-sbr") {
            options.enhancement = false;
        } else {
            return usageError("unknown option '" + std::string(a) + "'");
        }
    }
    if (options.files.empty()) return usageError("play needs at least one FILE");
    return 0;
}

// ---- one file ----------------------------------------------------------------------------

// The playing time of a file in seconds, < 0 when unknown: a WAVE file's data over its byte
// rate, a compressed file's from its stream analysis.
double DurationOf(const std::string& name, bool wave) {
    if (wave) {
        velora::WaveInputFile file;
        if (!file.Open(name)) return -1.0;
        const double rate = static_cast<double>(file.SampleRate()) * file.Channels() * 2.0;
        return rate > 0.0 ? static_cast<double>(file.DataBytes()) / rate : -1.0;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(name.c_str(), "rb"), &std::fclose);
    if (!in) return -1.0;
    StreamLayout layout;
    std::string error;
    if (!PrepareInput(in.get(), layout, error) || !layout.analysed || !layout.info ||
        layout.info->durationMs <= 0) {
        return -1.0;
    }
    return layout.info->durationMs / 1000.0;
}

std::string MinutesSeconds(double seconds) {
    const long long s = static_cast<long long>(std::max(0.0, seconds));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld:%02lld", s / 60, s % 60);
    return buf;
}

enum class State { Starting, Playing, Paused, Stopped };

const char* StateName(State s) {
    switch (s) {
        case State::Starting: return "starting";
        case State::Playing: return "playing";
        case State::Paused: return "paused";
        default: return "stopped";
    }
}

// What the status line shows of the running file, kept from the worker's messages.
struct Status {
    std::string name;
    double duration = -1.0;
    State state = State::Starting;
    int streamKind = -1;  // kStreamKindNotify: 1 Velora, 0 plain mp3 or WAVE
    bool wave = false;    // the bit rate said WAVE
    int positionPercent = 0;
    int pendingSeek = -1;  // asked by a key, not yet applied: the next key goes on from it
    bool elapsedKnown = false;
    // Elapsed time: the last reported value, and since when it runs on.
    double elapsedBase = 0.0;
    Clock::time_point runningSince{};
    bool running = false;

    double elapsed() const {
        double e = elapsedBase;
        if (running) e += std::chrono::duration<double>(Clock::now() - runningSince).count();
        if (duration >= 0.0) e = std::min(e, duration);
        return e;
    }
    void freeze() {
        elapsedBase = elapsed();
        running = false;
    }
    void resume() {
        runningSince = Clock::now();
        running = true;
    }
    std::string kind(bool enhancement) const {
        if (streamKind < 0) return "";
        if (streamKind == 1) return enhancement ? "Velora" : "Velora, enhancement off";
        return wave ? "WAVE" : "plain mp3";
    }
};

class StatusLine {
  public:
    explicit StatusLine(bool terminal) : terminal_(terminal) {}

    // Redraws in place on a terminal; elsewhere a line only when the file, state or kind changed.
    void show(const Status& s, bool enhancement) {
        const std::string kind = s.kind(enhancement);
        std::string text = s.name + "  " + MinutesSeconds(s.elapsed());
        if (s.duration >= 0.0) text += " / " + MinutesSeconds(s.duration);
        if (!kind.empty()) text += "  " + kind;
        text += "  ";
        text += StateName(s.state);
        if (terminal_) {
            if (shownLength_ > 0 && text == shownText_) return;
            shownText_ = text;
            std::string line = "\r" + text;
            if (text.size() < shownLength_) line.append(shownLength_ - text.size(), ' ');
            shownLength_ = text.size();
            std::fputs(line.c_str(), stderr);
            std::fflush(stderr);
            return;
        }
        // The kind follows the start by one frame: a start is told with it.
        if (s.state == State::Starting || (s.state == State::Playing && kind.empty())) return;
        const std::string key = s.name + '\n' + StateName(s.state) + '\n' + kind;
        if (key == lastKey_) return;
        lastKey_ = key;
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    // Ends the line drawn in place, so that what follows starts on a line of its own.
    void finish() {
        if (terminal_ && shownLength_ > 0) std::fputc('\n', stderr);
        shownLength_ = 0;
    }
    void message(const std::string& text) {
        if (terminal_ && shownLength_ > 0) {
            std::fprintf(stderr, "\r%*s\r", static_cast<int>(shownLength_), "");
            shownLength_ = 0;
        }
        std::fprintf(stderr, "velora: %s\n", text.c_str());
    }

  private:
    bool terminal_;
    size_t shownLength_ = 0;
    std::string shownText_;
    std::string lastKey_;
};

enum class Key { None, Pause, Back, Forward, Enhancement, Next, Quit };

// Bytes from a raw terminal to keys; the arrows come as ESC [ C/D (or ESC O C/D).
class KeyReader {
  public:
    Key feed(char c) {
        if (escape_ == 1) {
            escape_ = (c == '[' || c == 'O') ? 2 : 0;
            return Key::None;
        }
        if (escape_ == 2) {
            if (c >= '0' && c <= '9') return Key::None;  // parameters, as in ESC [ 1 ; 5 C
            if (c == ';') return Key::None;
            escape_ = 0;
            if (c == 'C') return Key::Forward;
            if (c == 'D') return Key::Back;
            return Key::None;
        }
        switch (c) {
            case '\033': escape_ = 1; return Key::None;
            case ' ': return Key::Pause;
            case 'e': case 'E': return Key::Enhancement;
            case 'n': case 'N': return Key::Next;
            case 'q': case 'Q': return Key::Quit;
            default: return Key::None;
        }
    }

  private:
    int escape_ = 0;
};

enum class Outcome { Done, Failed, Next, Quit, Signalled };

class Player {
  public:
    Player(const PlayOptions& options, bool keys, bool terminal)
        : options_(options), keys_(keys), line_(terminal), terminal_(terminal) {}

    bool begin() {
        if (!wake_.open()) return false;
        queue_.setWakeCallback(&Wake);
        wrap_.setEnhancementDefault(options_.enhancement);
        if (options_.volume >= 0) deviceOutput().setVolume(options_.volume);
        return true;
    }

    Outcome play(const std::string& name);

  private:
    void handle(const Message& m, Status& s, bool& failed, bool& ended, bool& heardAnything);
    void seekBy(Status& s, int direction);

    const PlayOptions& options_;
    bool keys_;
    MessageQueue queue_;
    Velorawrap wrap_{queue_};
    WakePipe wake_;
    StatusLine line_;
    KeyReader keyReader_;
    bool terminal_;
};

void Player::seekBy(Status& s, int direction) {
    int now = s.positionPercent;
    if (s.pendingSeek >= 0) {
        now = s.pendingSeek;
    } else if (s.duration > 0.0) {
        now = static_cast<int>(std::lround(100.0 * s.elapsed() / s.duration));
    }
    s.pendingSeek = std::clamp(now + direction * kSeekStepPercent, 0, 100);
    wrap_.requestSeek(s.pendingSeek);
}

void Player::handle(const Message& m, Status& s, bool& failed, bool& ended, bool& heardAnything) {
    switch (m.code) {
        case msg::kPlayerNotify:
            if (m.wparam == notify::kState) {
                if (m.lparam == notify::kPlaying) {
                    s.state = State::Playing;
                    s.resume();
                } else if (m.lparam == notify::kPaused) {
                    s.state = State::Paused;
                    s.freeze();
                } else if (m.lparam == notify::kStopped) {
                    // The worker's last word for this file.
                    s.freeze();
                    s.state = State::Stopped;
                    ended = true;
                }
            } else if (m.wparam == notify::kElapsed) {
                heardAnything = true;
                s.elapsedKnown = true;
                s.elapsedBase = static_cast<double>(m.lparam);
                s.runningSince = Clock::now();
                // While paused this only shows where a pending seek will go.
                if (s.state != State::Paused) s.pendingSeek = -1;
            } else if (m.wparam == notify::kBitrate) {
                s.wave = m.lparam == notify::kWaveBitrate;
            }
            break;
        case msg::kStreamKindNotify:
            s.streamKind = m.wparam == 1 ? 1 : 0;
            break;
        case msg::kPositionMessage:
            if (m.lparam >= 0 && m.lparam <= 100) s.positionPercent = static_cast<int>(m.lparam);
            break;
        case msg::kShowMessage:
            line_.message(m.payload);
            failed = true;
            break;
        default:
            break;
    }
}

Outcome Player::play(const std::string& name) {
    Status s;
    s.name = std::filesystem::path(name).filename().string();
    if (s.name.empty()) s.name = name;
    // The controller starts nothing without a name (and then says nothing either).
    if (name.empty()) {
        line_.message("cannot play a file without a name");
        return Outcome::Failed;
    }
    wrap_.setFile(name);
    const bool wave = wrap_.isWaveFile();
    s.duration = DurationOf(name, wave);
    wrap_.start();
    // Asked at once: the worker does it as soon as its output is open.
    if (options_.seekSeconds > 0.0) {
        if (s.duration > 0.0) {
            const long percent = std::lround(100.0 * options_.seekSeconds / s.duration);
            wrap_.requestSeek(static_cast<int>(std::min(100L, percent)));
        } else {
            line_.message("'" + name + "': the length is unknown; playing from the start");
        }
    }
    bool failed = false;
    bool ended = false;
    bool heardAnything = false;
    Outcome outcome = Outcome::Done;
    auto redrawn = Clock::now();
    while (!ended) {
        struct pollfd fds[2] = {{wake_.fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const nfds_t count = keys_ ? 2 : 1;
        const int ready = ::poll(fds, count, terminal_ ? kRefreshMs : 1000);
        if (ready > 0 && (fds[0].revents & POLLIN)) wake_.clear();

        if (gSignal != 0) {
            outcome = Outcome::Signalled;
            break;
        }
        std::size_t drained = queue_.drain([&](const Message& m) { handle(m, s, failed, ended, heardAnything); });

        if (keys_ && ready > 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            char buf[32];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i) {
                switch (keyReader_.feed(buf[i])) {
                    case Key::Pause: wrap_.togglePause(); break;
                    case Key::Back: seekBy(s, -1); break;
                    case Key::Forward: seekBy(s, 1); break;
                    case Key::Enhancement: wrap_.toggleEnhancement(); break;
                    case Key::Next: outcome = Outcome::Next; break;
                    case Key::Quit: outcome = Outcome::Quit; break;
                    case Key::None: break;
                }
            }
            if (n == 0) keys_ = false;  // the terminal went away: play on without keys
            if (outcome == Outcome::Next || outcome == Outcome::Quit) break;
        }

        const auto now = Clock::now();
        if (!terminal_ || drained > 0 || now - redrawn >= std::chrono::milliseconds(kRefreshMs)) {
            redrawn = now;
            line_.show(s, wrap_.enhancement());
        }
    }
    // Joins the worker; a stop asked mid-file lets the device output close (and a WAVE
    // backend complete its file).
    wrap_.stop();
    queue_.drain([&](const Message& m) { handle(m, s, failed, ended, heardAnything); });
    if (outcome == Outcome::Done && !failed && !heardAnything) {
        line_.message("'" + name + "': no audio to play");
        failed = true;
    }
    if (s.state != State::Starting) {
        s.state = State::Stopped;
        line_.show(s, wrap_.enhancement());
    }
    line_.finish();
    if (outcome == Outcome::Done && failed) return Outcome::Failed;
    return outcome;
}

}  // namespace

int RunPlay(int argc, char** argv, const char* usage) {
    PlayOptions options;
    if (const int status = ParsePlayArguments(argc, argv, usage, options); status != 0) {
        return status < 0 ? 0 : status;
    }

    struct sigaction sa {};
    sa.sa_handler = OnPlaySignal;
    sigemptyset(&sa.sa_mask);
    for (const int signo : {SIGINT, SIGTERM, SIGHUP}) sigaction(signo, &sa, nullptr);

    const bool keys = isatty(STDIN_FILENO) != 0;
    TerminalGuard terminal;
    const bool raw = keys && terminal.enter();
    Player player(options, raw, isatty(STDERR_FILENO) != 0);
    if (!player.begin()) {
        std::fprintf(stderr, "velora: cannot start playback: %s\n", std::strerror(errno));
        return 1;
    }

    bool anyFailed = false;
    for (const std::string& file : options.files) {
        const Outcome outcome = player.play(file);
        if (outcome == Outcome::Failed) anyFailed = true;
        if (outcome == Outcome::Quit) break;
        if (outcome == Outcome::Signalled) return 128 + gSignal;
    }
    return anyFailed ? 1 : 0;
}

}  // namespace veloraplay
