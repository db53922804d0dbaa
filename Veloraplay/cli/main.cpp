// velora: decode, encode, inspect and play Velora and mp3 files from the command line.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "CommandMessages.h"
#include "DecodeJob.h"
#include "EncodeCommand.h"
#include "FileInfo.h"
#include "OutputTarget.h"
#include "PcmOutput.h"
#include "PlayCommand.h"

namespace {

using veloraplay::Fail;
using veloraplay::UsageError;

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
    "      -r, --raw                 headerless 16-bit little-endian samples\n"
    "      -f, --float               32-bit float WAVE (with --raw: headerless floats)\n"
    "      -q, --quiet               no progress line\n"
    "  encode [OPTIONS] IN OUT       encode a sound file to a Velora file (an mp3 stream\n"
    "                                with the SBR layer), or to plain mp3 without SBR; IN\n"
    "                                is WAVE (any PCM width, float, extensible), RF64,\n"
    "                                AIFF, FLAC, Ogg Vorbis or Opus\n"
    "      -b, --bitrate KBPS        total bit rate in kbit/s (default 64, what the encoder\n"
    "                                offers)\n"
    "      -V, --vbr-quality Q       variable bit rate at quality 1..100\n"
    "          --mode MODE           mono, stereo, lc (one core channel, stereo carried by\n"
    "                                SBR) or dual (default: mono or stereo as the input)\n"
    "          --sbr, --no-sbr       with (default) or without the SBR layer\n"
    "      -q N                      quality mode 0 (fastest) .. 2 (best, default)\n"
    "          --intensity           allow intensity stereo (default)\n"
    "          --no-intensity        do not allow it\n"
    "          --resample HZ         convert the input to HZ (default: a rate the point\n"
    "                                does not take goes to the nearest one it does)\n"
    "          --downmix             mix more than two channels to stereo\n"
    "          --title, --tt TEXT    the tag's title (each text is cut to its field)\n"
    "          --artist, --ta TEXT   artist\n"
    "          --album, --tl TEXT    album\n"
    "          --year, --ty TEXT     year\n"
    "          --comment, --tc TEXT  comment\n"
    "          --track, --tn N       track number 1..255\n"
    "          --genre, --tg G       genre number or name (see --genre-list)\n"
    "          --no-tag              write no tag\n"
    "          --quiet               no progress line and no notices\n"
    "  encode --list [-b KBPS]       list every operating point, one per line (VBR lines\n"
    "                                for -b KBPS, default 64)\n"
    "  encode --genre-list           list the tag's genres, number and name\n"
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
    "For decode and encode, IN and OUT may be '-' for standard input and output. play\n"
    "sounds through the output VELORAPLAY_AUDIO names: sdl (the default), null, or wav:PATH\n"
    "(what would be heard written to a WAVE file, in real time).\n"
    "\n"
    "Options:\n"
    "  -h, --help                    show this text\n"
    "  -V, --version                 show the version\n";

std::atomic<bool> gCancel{false};

extern "C" void OnSignal(int) { gCancel.store(true); }

// How messages name the output.
std::string OutputLabel(const std::string& name) { return veloraplay::FileLabel(name, "standard output"); }

struct Arguments {
    std::vector<std::string> positional;
    veloraplay::DecodeOptions decode;
    bool raw = false;     // headerless samples
    bool floats = false;  // 32-bit float samples
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
        } else if (a == "-r" || a == "--raw") {
            args.raw = true;
        } else if (a == "-f" || a == "--float") {
            args.floats = true;
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
    veloraplay::PcmOutput pcm(out, !args.raw, args.floats);
    const veloraplay::DecodeOutcome outcome =
        args.raw || args.floats ? veloraplay::DecodeStream(in, pcm, args.decode, gCancel, progress)
                                : veloraplay::DecodeToWave(in, out, args.decode, gCancel, progress);
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
    if (command == "encode") {
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
        return veloraplay::RunEncode(argc, argv, gCancel);
    }
    if (command == "info") return RunInfo(argc, argv);
    if (command == "play") return veloraplay::RunPlay(argc, argv, kUsage);
    return UsageError("unknown command '" + std::string(command) + "'");
}
