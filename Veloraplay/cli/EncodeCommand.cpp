#include "EncodeCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "CommandMessages.h"
#include "ConditionedInput.h"
#include "EncodeSamples.h"
#include "OutputTarget.h"
#include "SoundFileInput.h"
#include "TagTexts.h"

namespace veloraplay {
namespace {

// The rates a converted input may come from: telephone speech to studio masters.
constexpr int kLowestRate = 8000;
constexpr int kHighestRate = 192000;

struct EncodeArguments {
    EncodeOptions options;
    TagTexts tag;
    int resampleHz = 0;
    bool downmix = false;
    bool quiet = false;
    bool list = false;
    bool genreList = false;
    std::vector<std::string> positional;
};

bool TakesValue(std::string_view a) {
    return a == "-b" || a == "--bitrate" || a == "-V" || a == "--vbr-quality" || a == "--mode" || a == "-q" ||
           a == "--resample" || IsTagOption(a);
}

bool ParseEncodeArguments(int argc, char** argv, EncodeArguments& args, std::string& error) {
    EncodeOptions& options = args.options;
    for (int i = 2; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (TakesValue(a) && i + 1 >= argc) {
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
        } else if (a == "--resample") {
            if (!ParseNumber(argv[++i], 1, kHighestRate * 4, args.resampleHz)) {
                error = "the rate to convert to must be a whole number of Hz";
                return false;
            }
        } else if (IsTagOption(a)) {
            if (TakeTagOption(a, argv[++i], args.tag, error) && !error.empty()) return false;
        } else if (a == "--no-tag") {
            args.tag.none = true;
        } else if (a == "--downmix") {
            args.downmix = true;
        } else if (a == "--sbr") {
            options.sbr = true;
        } else if (a == "--no-sbr") {
            options.sbr = false;
        } else if (a == "--intensity") {
            options.intensityStereo = true;
        } else if (a == "--no-intensity") {
            options.intensityStereo = false;
        } else if (a == "--quiet") {
            args.quiet = true;
        } else if (a == "--list") {
            args.list = true;
        } else if (a == "--genre-list") {
            args.genreList = true;
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option '" + std::string(a) + "'";
            return false;
        } else {
            args.positional.emplace_back(a);
        }
    }
    if (args.tag.none && args.tag.Any()) {
        error = "--no-tag and tag texts exclude each other";
        return false;
    }
    return true;
}

std::string RateList(const std::vector<int>& rates) {
    std::string s;
    for (size_t i = 0; i < rates.size(); ++i) s += (i > 0 ? ", " : "") + std::to_string(rates[i]);
    return s + " Hz";
}

// The rate to encode at: the input's when the options are offered for it, else the nearest
// one that they are (the higher of two as near), or what --resample asks. 0 with `error`
// set when the input cannot be brought to one; the input's own rate, when no rate offers
// the options, so that the encoder's refusal names what is offered.
int ChooseRate(int inputRate, int channels, const EncodeArguments& args, std::string& error) {
    const std::vector<int> rates = InputRatesFor(channels, args.options);
    const auto offered = [&rates](int rate) {
        for (const int r : rates)
            if (r == rate) return true;
        return false;
    };
    if (args.resampleHz != 0) {
        if (args.resampleHz == inputRate || offered(args.resampleHz)) return args.resampleHz;
        error = "cannot encode at " + std::to_string(args.resampleHz) + " Hz with these options; they are offered at " +
                (rates.empty() ? std::string("no rate") : RateList(rates));
        return 0;
    }
    if (rates.empty() || offered(inputRate)) return inputRate;
    if (inputRate < kLowestRate || inputRate > kHighestRate) {
        error = std::to_string(inputRate) + " Hz input; rates from " + std::to_string(kLowestRate) + " to " +
                std::to_string(kHighestRate) + " Hz are converted to one the encoder takes (" + RateList(rates) + ")";
        return 0;
    }
    int best = rates.front();
    for (const int r : rates)
        if (std::abs(r - inputRate) <= std::abs(best - inputRate)) best = r;
    return best;
}

}  // namespace

int RunEncode(int argc, char** argv, const std::atomic<bool>& cancel) {
    EncodeArguments args;
    std::string error;
    if (!ParseEncodeArguments(argc, argv, args, error)) return UsageError(error);
    if (args.list || args.genreList) {
        if (!args.positional.empty()) return UsageError("encode --list and --genre-list take no files");
        if (args.genreList) {
            for (int i = 0; i < velora::kGenreCount; ++i) std::printf("%3d %s\n", i, velora::GenreName(i));
            return 0;
        }
        for (const OperatingPoint& point : ListOperatingPoints(args.options.bitrateKbps))
            std::printf("%s\n", FormatOperatingPoint(point).c_str());
        return 0;
    }
    if (args.positional.size() != 2) return UsageError("encode needs IN and OUT");
    const std::string& inName = args.positional[0];
    const std::string& outName = args.positional[1];
    const std::string inLabel = FileLabel(inName, "standard input");
    const std::string outLabel = FileLabel(outName, "standard output");
    if (outName == "-" && isatty(STDOUT_FILENO)) {
        return UsageError("encode will not write a stream to a terminal");
    }

    SoundFileInput file;
    if (!file.Open(inName, error)) return Fail(inLabel + ": " + error);
    if (file.Channels() > 2 && !args.downmix) {
        return Fail(inLabel + ": " + std::to_string(file.Channels()) +
                    " channels; the encoder takes one or two (--downmix mixes more to stereo)");
    }
    ConditionedInput input(file, args.downmix);
    const int rate = ChooseRate(file.Rate(), input.Channels(), args, error);
    if (rate == 0) return Fail(inLabel + ": " + error);
    if (rate != file.Rate()) {
        if (!input.ConvertTo(rate)) {
            return Fail(inLabel + ": cannot convert " + std::to_string(file.Rate()) + " Hz to " + std::to_string(rate) +
                        " Hz");
        }
        if (!args.quiet) {
            Notice(inLabel + ": " + std::to_string(file.Rate()) + " Hz converted to " + std::to_string(rate) + " Hz" +
                   (args.resampleHz != 0 ? "" : ", the nearest rate this point takes"));
        }
    }

    std::vector<std::string> warnings;
    const velora::Id3v1Block tag = BuildTag(inName, file.Title(), file.Artist(), args.tag, warnings);
    for (const std::string& w : warnings) Notice("warning: " + w);

    struct stat inputStat {};
    const bool inputFound = inName != "-" && ::stat(inName.c_str(), &inputStat) == 0;
    OutputTarget output;
    if (!output.Open(outName, inputFound ? &inputStat : nullptr, error)) {
        return Fail("cannot write " + outLabel + ": " + error);
    }

    const bool showProgress = !args.quiet && isatty(STDERR_FILENO);
    const auto start = std::chrono::steady_clock::now();
    auto shown = start;
    const SampleProgress progress = [&](uint64_t frames, uint64_t total) {
        if (!showProgress) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - shown < std::chrono::milliseconds(250) && (total == 0 || frames < total)) return;
        shown = now;
        const double audio = static_cast<double>(frames) / rate;
        const double elapsed = std::chrono::duration<double>(now - start).count();
        const long long s = static_cast<long long>(audio);
        const std::string percent =
            total > 0 ? std::to_string(static_cast<int>(100 * std::min(frames, total) / total)) + "%" : "";
        std::fprintf(stderr, "\rvelora: encoding %s: %4s  %02lld:%02lld:%02lld  speed %.1fx", inName.c_str(),
                     percent.c_str(), s / 3600, s / 60 % 60, s % 60, elapsed > 0.0 ? audio / elapsed : 0.0);
    };
    const SampleEncodeOutcome outcome =
        EncodeSamples(input, output.Stream(), args.options, args.tag.none ? nullptr : tag.data(), cancel, progress);
    if (showProgress) std::fputc('\n', stderr);
    if (!outcome.ok) {
        const std::string writeError = output.WriteError();
        output.Discard();
        if (cancel.load()) return 130;
        if (!writeError.empty() || outcome.outputError) {
            return Fail("cannot write " + outLabel + ": " + (writeError.empty() ? outcome.error : writeError));
        }
        return Fail(inLabel + ": " + outcome.error);
    }
    if (!output.Commit(error)) return Fail("cannot write " + outLabel + ": " + error);

    uint64_t declared = 0;
    uint64_t present = 0;
    if (WaveDataShortfall(inName, declared, present) && declared > present) {
        Notice("warning: " + inLabel + ": the data chunk is " + std::to_string(declared - present) +
               " bytes short: it claims " + std::to_string(declared) + ", the file holds " + std::to_string(present) +
               "; encoded what there is");
    }
    if (!args.quiet && args.options.sbr && !outcome.sbr) {
        Notice(inLabel + ": no SBR layer at this point (" + std::to_string(rate) + " Hz, " +
               std::to_string(input.Channels()) + (input.Channels() == 1 ? " channel" : " channels") +
               "); coded as plain mp3 at " + std::to_string(outcome.outputRate) + " Hz");
    }
    if (!args.quiet && outcome.vbrHeaderNotRewritten) {
        Notice(outLabel + " cannot seek: the VBR header keeps its placeholder counts");
    }
    return 0;
}

}  // namespace veloraplay
