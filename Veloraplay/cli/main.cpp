// velora: decode, encode, inspect and play Velora and mp3 files from the command line.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "OutputTarget.h"
#include "FileInfo.h"
#include "PlayCommand.h"
#include "DecodeJob.h"
#include "EncodeJob.h"
#include "WaveInputFile.h"

namespace {

constexpr const char* kUsage =
    "Usage: velora COMMAND [OPTIONS] ARGUMENTS\n"
    "\n"
    "Decodes, encodes, inspects and plays Velora and mp3 files.\n"
    "\n"
    "Commands:\n"
    "  decode [OPTIONS] IN OUT.wav   decode a Velora or mp3 file to 16-bit PCM WAVE\n"
    "      -s, --shift N             output at full (0), half (1) or quarter (2) rate\n"
    "      -m, --mono                mix the output down to one channel\n"
    "      -n, --no-enhancement      do not rebuild the high band of Velora files (the\n"
    "          --no-sbr              output keeps their doubled rate)\n"
    "          --no-gapless          keep the encoder's delay and padding (trimmed by\n"
    "                                default where the file's VBR header records them)\n"
    "      -q, --quiet               no progress line\n"
    "  encode [OPTIONS] IN.wav OUT   encode a 16-bit PCM WAVE file to a Velora file (an mp3\n"
    "                                stream with the SBR layer), or to plain mp3 without SBR\n"
    "      -b, --bitrate KBPS        total bit rate in kbit/s (default 64, what the encoder\n"
    "                                offers)\n"
    "      -V, --vbr-quality Q       variable bit rate at quality 1..100\n"
    "          --mode MODE           mono, stereo, lc (one core channel, stereo carried by\n"
    "                                SBR) or dual (default: mono or stereo as the input)\n"
    "          --sbr, --no-sbr       with (default) or without the SBR layer\n"
    "      -q N                      quality mode 0 (fastest) .. 2 (best, default)\n"
    "          --intensity           allow intensity stereo (default)\n"
    "          --no-intensity        do not allow it\n"
    "          --quiet               no progress line\n"
    "  encode --list [-b KBPS]       list every operating point, one per line (VBR lines\n"
    "                                for -b KBPS, default 64)\n"
    "  info [--json] FILE            show what the stream says about itself\n"
    "  play [OPTIONS] FILE...        play Velora, mp3 and WAVE files one after another,\n"
    "                                with a status line on standard error\n"
    "          --seek SEC            start SEC seconds into each file (rounded to a whole\n"
    "                                percent of its length)\n"
    "      -n, --no-enhancement      do not rebuild the high band of Velora files\n"
    "          --volume N            output level 0..100 (default 100)\n"
    "                                keys when standard input is a terminal: space pause/\n"
    "                                resume, left/right seek back/on 5%, e enhancement\n"
    "                                on/off, n next file, q quit; SIGINT or SIGTERM stop\n"
    "                                playback and exit with 130 or 143; 1 when a file\n"
    "                                could not be played\n"
    "  help                          show this text\n"
    "\n"
    "For decode, IN and OUT may be '-' for standard input and output. play sounds through\n"
    "the output VELORAPLAY_AUDIO names: sdl (the default), null, or wav:PATH (what would be\n"
    "heard written to a WAVE file, in real time).\n"
    "\n"
    "Options:\n"
    "  -h, --help                    show this text\n"
    "  -V, --version                 show the version\n";

std::atomic<bool> gCancel{false};

extern "C" void OnSignal(int) { gCancel.store(true); }

int Fail(const std::string& message) {
    std::fprintf(stderr, "velora: %s\n", message.c_str());
    return 1;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "velora: %s (try 'velora --help')\n", message.c_str());
    return 2;
}

// How messages name the output.
std::string OutputLabel(const std::string& name) { return name == "-" ? "standard output" : "'" + name + "'"; }

struct Arguments {
    std::vector<std::string> positional;
    veloraplay::DecodeOptions decode;
    bool quiet = false;
};

bool ParseDecodeArguments(int argc, char** argv, Arguments& args, std::string& error) {
    for (int i = 2; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "-s" || a == "--shift") {
            if (i + 1 >= argc) {
                error = "option " + std::string(a) + " needs a value";
                return false;
            }
            const std::string_view v = argv[++i];
            if (v != "0" && v != "1" && v != "2") {
                error = "the shift must be 0, 1 or 2";
                return false;
            }
            args.decode.downsamplingShift = v[0] - '0';
        } else if (a == "-m" || a == "--mono") {
            args.decode.mono = true;
        } else if (a == "-n" || a == "--no-enhancement" || a == "--no-sbr") {
            args.decode.enhancement = false;
        } else if (a == "--no-gapless") {
            args.decode.gapless = false;
        } else if (a == "-q" || a == "--quiet") {
            args.quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option '" + std::string(a) + "'";
            return false;
        } else {
            args.positional.emplace_back(a);
        }
    }
    return true;
}

int RunDecode(int argc, char** argv) {
    Arguments args;
    std::string error;
    if (!ParseDecodeArguments(argc, argv, args, error)) return UsageError(error);
    if (args.positional.size() != 2) return UsageError("decode needs IN and OUT");
    const std::string& inName = args.positional[0];
    const std::string& outName = args.positional[1];

    std::FILE* in = inName == "-" ? stdin : std::fopen(inName.c_str(), "rb");
    if (in == nullptr) return Fail("cannot open '" + inName + "': " + std::strerror(errno));
    struct stat st {};
    const uint64_t inSize =
        (fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode)) ? static_cast<uint64_t>(st.st_size) : 0;

    // Opened before decoding, so that an output that is the input is refused untouched.
    veloraplay::OutputTarget output;
    if (!output.Open(outName, &st, error)) {
        if (in != stdin) std::fclose(in);
        return Fail("cannot write " + OutputLabel(outName) + ": " + error);
    }
    std::FILE* out = output.Stream();

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    const bool showProgress = !args.quiet && isatty(STDERR_FILENO);
    const veloraplay::DecodeProgress progress = [&](uint64_t bytes, long long frames) {
        if (!showProgress) return;
        if (inSize > 0) {
            std::fprintf(stderr, "\rvelora: decoding %s: %3d%% (%lld frames)", inName.c_str(),
                         static_cast<int>(100 * bytes / inSize), frames);
        } else {
            std::fprintf(stderr, "\rvelora: decoding %s: %lld frames", inName.c_str(), frames);
        }
    };
    const veloraplay::DecodeOutcome outcome =
        veloraplay::DecodeToWave(in, out, args.decode, gCancel, progress);
    if (showProgress) std::fputc('\n', stderr);
    if (in != stdin) std::fclose(in);

    if (!outcome.ok) {
        const std::string writeError = output.WriteError();
        output.Discard();
        if (gCancel.load()) return 130;
        if (!writeError.empty()) return Fail("cannot write " + OutputLabel(outName) + ": " + writeError);
        return Fail("'" + inName + "': " + outcome.error);
    }
    if (!output.Commit(error)) return Fail("cannot write " + OutputLabel(outName) + ": " + error);
    if (outcome.resampledFrames > 0) {
        std::fprintf(stderr,
                     "velora: warning: '%s': %lld frames at half the rate (the core signal of a "
                     "Velora stream whose enhancement stopped) were resampled to %d Hz\n",
                     inName.c_str(), outcome.resampledFrames, outcome.sampleRate);
    }
    if (outcome.rateChanged) {
        std::fprintf(stderr, "velora: warning: '%s' changes its sampling rate; the output keeps %d Hz\n",
                     inName.c_str(), outcome.sampleRate);
    }
    if (outcome.mixedDownFrames > 0) {
        std::fprintf(stderr,
                     "velora: warning: '%s': %lld frames have more channels than the first ones and "
                     "were mixed down to %d (the input could not be read ahead)\n",
                     inName.c_str(), outcome.mixedDownFrames, outcome.channels);
    }
    if (!outcome.incomplete.empty()) {
        std::fprintf(stderr, "velora: warning: '%s': %s\n", inName.c_str(), outcome.incomplete.c_str());
    }
    if (!args.quiet && (outcome.crcErrors > 0 || outcome.concealed > 0)) {
        std::fprintf(stderr, "velora: '%s': %lld damaged and %lld incomplete frames concealed\n",
                     inName.c_str(), outcome.crcErrors, outcome.concealed);
    }
    return 0;
}

// A whole number in [low, high] from an option's value.
bool ParseNumber(std::string_view text, int low, int high, int& value) {
    if (text.empty() || text.size() > 9) return false;
    int v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < low || v > high) return false;
    value = v;
    return true;
}

bool ParseEncodeArguments(int argc, char** argv, veloraplay::EncodeOptions& options, bool& quiet, bool& list,
                          std::vector<std::string>& positional, std::string& error) {
    for (int i = 2; i < argc; ++i) {
        const std::string_view a = argv[i];
        const bool takesValue = a == "-b" || a == "--bitrate" || a == "-V" || a == "--vbr-quality" ||
                                a == "--mode" || a == "-q";
        if (takesValue && i + 1 >= argc) {
            error = "option " + std::string(a) + " needs a value";
            return false;
        }
        if (a == "-b" || a == "--bitrate") {
            if (!ParseNumber(argv[++i], 8, 320, options.bitrateKbps)) {
                error = "the bit rate must be a whole number of kbit/s from 8 to 320";
                return false;
            }
        } else if (a == "-V" || a == "--vbr-quality") {
            if (!ParseNumber(argv[++i], 1, 100, options.vbrQuality)) {
                error = "the VBR quality must be 1 to 100";
                return false;
            }
        } else if (a == "--mode") {
            const std::string_view v = argv[++i];
            if (v == "mono") {
                options.channelMode = 1;
            } else if (v == "stereo") {
                options.channelMode = 2;
            } else if (v == "lc") {
                options.channelMode = 3;
            } else if (v == "dual") {
                options.channelMode = 4;
            } else {
                error = "the mode must be mono, stereo, lc or dual";
                return false;
            }
        } else if (a == "-q") {
            if (!ParseNumber(argv[++i], 0, 2, options.qualityMode)) {
                error = "the quality mode must be 0, 1 or 2";
                return false;
            }
        } else if (a == "--sbr") {
            options.sbr = true;
        } else if (a == "--no-sbr") {
            options.sbr = false;
        } else if (a == "--intensity") {
            options.intensityStereo = true;
        } else if (a == "--no-intensity") {
            options.intensityStereo = false;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--list") {
            list = true;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option '" + std::string(a) + "'";
            return false;
        } else {
            positional.emplace_back(a);
        }
    }
    return true;
}

int RunEncode(int argc, char** argv) {
    veloraplay::EncodeOptions options;
    bool quiet = false;
    std::vector<std::string> positional;
    std::string error;
    bool list = false;
    if (!ParseEncodeArguments(argc, argv, options, quiet, list, positional, error)) return UsageError(error);
    if (list) {
        if (!positional.empty()) return UsageError("encode --list takes no files");
        for (const veloraplay::OperatingPoint& point : veloraplay::ListOperatingPoints(options.bitrateKbps))
            std::printf("%s\n", veloraplay::FormatOperatingPoint(point).c_str());
        return 0;
    }
    if (positional.size() != 2) return UsageError("encode needs IN.wav and OUT");
    const std::string& inName = positional[0];
    const std::string& outName = positional[1];
    if (inName == "-" || outName == "-") return UsageError("encode reads and writes files, not '-'");

    struct stat inputStat {};
    const bool inputFound = ::stat(inName.c_str(), &inputStat) == 0;
    veloraplay::OutputTarget output;
    if (!output.Open(outName, inputFound ? &inputStat : nullptr, error)) {
        return Fail("cannot write '" + outName + "': " + error);
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    const bool showProgress = !quiet && isatty(STDERR_FILENO);
    const auto start = std::chrono::steady_clock::now();
    auto shown = start;
    int bytesPerSecond = 0;
    const veloraplay::EncodeProgress progress = [&](uint64_t bytes, uint64_t total) {
        if (!showProgress || bytesPerSecond <= 0) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - shown < std::chrono::milliseconds(250) && bytes < total) return;
        shown = now;
        const double audio = static_cast<double>(bytes) / bytesPerSecond;
        const double elapsed = std::chrono::duration<double>(now - start).count();
        const long long s = static_cast<long long>(audio);
        std::fprintf(stderr, "\rvelora: encoding %s: %3d%%  %02lld:%02lld:%02lld  speed %.1fx", inName.c_str(),
                     total > 0 ? static_cast<int>(100 * bytes / total) : 100, s / 3600, s / 60 % 60, s % 60,
                     elapsed > 0.0 ? audio / elapsed : 0.0);
    };
    {
        // The rate for the progress line; the encoder reports any problem with the file.
        velora::WaveInputFile probe;
        if (probe.Open(inName)) bytesPerSecond = probe.SampleRate() * probe.Channels() * 2;
    }
    const veloraplay::EncodeOutcome outcome =
        veloraplay::EncodeWaveFile(inName, output.Stream(), options, gCancel, progress);
    if (showProgress && bytesPerSecond > 0) std::fputc('\n', stderr);
    if (!outcome.ok) {
        const std::string writeError = output.WriteError();
        output.Discard();
        if (gCancel.load()) return 130;
        if (!writeError.empty() || outcome.outputError) {
            return Fail("cannot write '" + outName + "': " + (writeError.empty() ? outcome.error : writeError));
        }
        return Fail("'" + inName + "': " + outcome.error);
    }
    if (!output.Commit(error)) return Fail("cannot write '" + outName + "': " + error);
    if (!outcome.incomplete.empty()) {
        std::fprintf(stderr, "velora: warning: '%s': %s\n", inName.c_str(), outcome.incomplete.c_str());
    }
    return 0;
}

int RunInfo(int argc, char** argv) {
    bool json = false;
    std::vector<std::string> files;
    for (int i = 2; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--json" || a == "-j") {
            json = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("unknown option '" + std::string(a) + "'");
        } else {
            files.emplace_back(a);
        }
    }
    if (files.size() != 1) return UsageError("info needs one FILE");
    veloraplay::FileInfo info;
    std::string error;
    if (!veloraplay::ReadFileInfo(files[0], info, error)) return Fail("'" + files[0] + "': " + error);
    const std::string text = json ? veloraplay::FormatJson(info) : veloraplay::FormatText(info);
    std::fputs(text.c_str(), stdout);
    return 0;
}

int Usage(FILE* out, int status) {
    std::fputs(kUsage, out);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage(stderr, 2);
    const std::string_view command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") return Usage(stdout, 0);
    if (command == "-V" || command == "--version") {
        std::printf("velora %s\n", VELORA_VERSION);
        return 0;
    }
    if (command == "decode") return RunDecode(argc, argv);
    if (command == "encode") return RunEncode(argc, argv);
    if (command == "info") return RunInfo(argc, argv);
    if (command == "play") return veloraplay::RunPlay(argc, argv, kUsage);
    return UsageError("unknown command '" + std::string(command) + "'");
}
