// Converts a few minutes of stereo audio 48000 -> 44100 and 44100 -> 22050 with the
// project's converter and with libsoxr, prints the CPU time of each and their ratio, then
// measures pass-band ripple and stop-band rejection of both on the same synthetic tones.
// A benchmark, not a test: see README.md beside this file.
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Fft.h"
#include "KaiserDesign.h"
#include "Resampler.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kChannels = 2;
constexpr int kBlockFrames = 2048;
const char* const kMusicFile = "/usr/share/games/frozen-bubble/snd/frozen-mainzik-2p.xm";

struct Options {
    int seconds = 180;
    int reps = 3;
    bool synth = false;
    double soxrBits = 15.0;
};

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// --- source audio ------------------------------------------------------------------------

// The music rendered by ffmpeg at `rate` as interleaved stereo floats; empty on failure.
std::vector<float> DecodeMusic(int rate, int seconds) {
    const std::string command = "ffmpeg -nostdin -loglevel error -i '" + std::string(kMusicFile) +
                                "' -t " + std::to_string(seconds) + " -ac 2 -ar " +
                                std::to_string(rate) + " -f f32le - 2>/dev/null";
    std::vector<float> samples;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return samples;
    float buffer[8192];
    size_t got = 0;
    while ((got = std::fread(buffer, sizeof(float), 8192, pipe)) > 0) {
        samples.insert(samples.end(), buffer, buffer + got);
    }
    if (pclose(pipe) != 0) samples.clear();
    samples.resize(samples.size() / kChannels * kChannels);
    return samples;
}

// Noise with a falling spectrum, swelling and fading, under three sweeping tones; a
// function of time only, so both rates get the same signal.
std::vector<float> SynthesiseAudio(int rate, int seconds) {
    const size_t frames = static_cast<size_t>(rate) * static_cast<size_t>(seconds);
    std::vector<float> samples(frames * kChannels);
    std::mt19937 rng(12345);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    float low[kChannels] = {};
    for (size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        const double swell = 0.5 + 0.5 * std::sin(2.0 * kPi * 0.1 * t);
        for (int c = 0; c < kChannels; ++c) {
            low[c] = 0.9f * low[c] + 0.1f * noise(rng);
            double v = 0.15 * swell * static_cast<double>(low[c]);
            for (int k = 1; k <= 3; ++k) {
                const double f0 = 110.0 * k * (c + 1), f1 = 6000.0 * k;
                const double span = 20.0;
                const double u = std::fmod(t, span);
                v += 0.1 * std::sin(2.0 * kPi * (f0 * u + 0.5 * (f1 - f0) * u * u / span));
            }
            samples[n * kChannels + static_cast<size_t>(c)] = static_cast<float>(v);
        }
    }
    return samples;
}

// --- the converters ------------------------------------------------------------------------

using Converter = std::function<std::vector<float>(const std::vector<float>&, int, int)>;

std::vector<float> ConvertVelora(const std::vector<float>& in, int inRate, int outRate) {
    using namespace velora::resample;
    ResamplerSettings s;
    s.channels = kChannels;
    s.inputRate = inRate;
    s.outputRate = outRate;
    s.inputBlockSamples = kBlockFrames * kChannels;
    s.cutoffHz = 0.5 * std::min(inRate, outRate);
    ResamplerInfo info;
    CreateError error = CreateError::kNone;
    Resampler* r = Create(s, &info, &error);
    if (!r) {
        std::fprintf(stderr, "resample_bench: the converter refused %d -> %d\n", inRate, outRate);
        std::exit(1);
    }
    std::vector<float> out(static_cast<size_t>(static_cast<double>(in.size()) * outRate / inRate +
                                               4.0 * info.outputBlockSamples));
    size_t produced = 0;
    int position = 0;
    const int total = static_cast<int>(in.size());
    while (position < total) {
        int written = 0;
        Process(r, in.data(), total, &position, out.data() + produced, info.outputBlockSamples,
                &written, InputEnd::kLast);
        produced += static_cast<size_t>(written);
    }
    Destroy(r);
    out.resize(produced);
    return out;
}

Converter SoxrConverter(soxr_quality_spec_t quality) {
    return [quality](const std::vector<float>& in, int inRate, int outRate) {
        // soxr's defaults for the rest: interleaved floats in and out, one thread.
        soxr_error_t error = nullptr;
        soxr_t soxr = soxr_create(inRate, outRate, kChannels, &error, nullptr, &quality, nullptr);
        if (!soxr || error) {
            std::fprintf(stderr, "resample_bench: soxr: %s\n", soxr_strerror(error));
            std::exit(1);
        }
        const size_t inFrames = in.size() / kChannels;
        std::vector<float> out(
            static_cast<size_t>(static_cast<double>(inFrames) * outRate / inRate + 8192) *
            kChannels);
        size_t consumed = 0, produced = 0;
        const size_t outFrames = out.size() / kChannels;
        // The same blocks as the project's converter gets, then the end of input.
        while (true) {
            const size_t take = std::min<size_t>(kBlockFrames, inFrames - consumed);
            size_t used = 0, done = 0;
            soxr_process(soxr, take > 0 ? in.data() + consumed * kChannels : nullptr, take, &used,
                         out.data() + produced * kChannels, outFrames - produced, &done);
            consumed += used;
            produced += done;
            if (take == 0 && done == 0) break;
            if (produced == outFrames) break;
        }
        soxr_delete(soxr);
        out.resize(produced * kChannels);
        return out;
    };
}

// --- measurements ---------------------------------------------------------------------------

constexpr int kWindow = 1 << 15;  // output samples analysed
constexpr int kSkip = 1 << 13;    // start-up skipped

// Amplitude per bin of channel 0 under a Kaiser window (beta 20, side lobes below -150 dB).
std::vector<double> Spectrum(const std::vector<float>& y) {
    const double beta = 20.0;
    const double i0 = velora::resample::BesselI0(beta);
    std::vector<float> x(kWindow);
    double sum = 0.0;
    for (int t = 0; t < kWindow; ++t) {
        const double w = velora::resample::KaiserWindow(t, kWindow, beta, i0);
        sum += w;
        x[static_cast<size_t>(t)] = static_cast<float>(
            w * static_cast<double>(y[static_cast<size_t>(kSkip + t) * kChannels]));
    }
    velora::math::RealFft fft;
    fft.Init(kWindow);
    std::vector<float> re(kWindow / 2 + 1), im(kWindow / 2 + 1);
    fft.Forward(x.data(), re.data(), im.data());
    std::vector<double> amplitude(kWindow / 2 + 1);
    for (size_t k = 0; k < amplitude.size(); ++k) {
        amplitude[k] =
            2.0 * std::hypot(static_cast<double>(re[k]), static_cast<double>(im[k])) / sum;
    }
    return amplitude;
}

std::vector<float> StereoTones(const std::vector<double>& freqs, double amplitude, int rate,
                               size_t frames) {
    std::vector<float> x(frames * kChannels);
    for (size_t n = 0; n < frames; ++n) {
        double v = 0.0;
        for (size_t i = 0; i < freqs.size(); ++i) {
            v += amplitude * std::sin(2.0 * kPi * freqs[i] * static_cast<double>(n) / rate +
                                      0.7 * static_cast<double>(i));
        }
        x[n * kChannels] = x[n * kChannels + 1] = static_cast<float>(v);
    }
    return x;
}

struct Quality {
    double rippleDb = 0.0;  // max - min gain over the pass-band tones
    double passEdgeHz = 0.0;
    double stopResidueDb = 0.0;  // strongest output of the stop-band tones, re one tone
    double stopEdgeHz = 0.0;
};

// Tones on exact bins of the output window up to 0.95 of the cut-off (the project's
// pass-band edge), and tones from 1.05 of it (its stop-band edge) to the input's Nyquist.
// The ripple counts the tones up to `passEnd` of the cut-off, the converter's own
// pass-band edge.
Quality Measure(const Converter& convert, int inRate, int outRate, double passEnd) {
    const double cutoff = 0.5 * std::min(inRate, outRate);
    const double amplitude = 0.03;
    const size_t frames =
        static_cast<size_t>(static_cast<double>(kSkip + kWindow + 4096) * inRate / outRate + 4096);
    Quality q;
    q.passEdgeHz = passEnd * cutoff;
    q.stopEdgeHz = 1.05 * cutoff;

    const double binHz = static_cast<double>(outRate) / kWindow;
    std::vector<size_t> bins;
    std::vector<double> freqs;
    const size_t low = static_cast<size_t>(std::ceil(40.0 / binHz));
    const size_t high = static_cast<size_t>(std::floor(0.999 * 0.95 * cutoff / binHz));
    for (size_t i = 0; i < 24; ++i) {
        bins.push_back(low + (high - low) * i / 23);
        freqs.push_back(static_cast<double>(bins.back()) * binHz);
    }
    const std::vector<double> pass =
        Spectrum(convert(StereoTones(freqs, amplitude, inRate, frames), inRate, outRate));
    double lo = 1e9, hi = -1e9;
    for (size_t b : bins) {
        if (static_cast<double>(b) * binHz > q.passEdgeHz) continue;
        const double g = 20.0 * std::log10(pass[b] / amplitude);
        lo = std::min(lo, g);
        hi = std::max(hi, g);
    }
    q.rippleDb = hi - lo;

    freqs.clear();
    for (int i = 0; i < 12; ++i) {
        freqs.push_back(q.stopEdgeHz + (0.497 * inRate - q.stopEdgeHz) * i / 11.0);
    }
    const std::vector<double> stop =
        Spectrum(convert(StereoTones(freqs, amplitude, inRate, frames), inRate, outRate));
    q.stopResidueDb = 20.0 * std::log10(*std::max_element(stop.begin(), stop.end()) / amplitude);
    return q;
}

// --- the run --------------------------------------------------------------------------------

double BestCpuSeconds(const Converter& convert, const std::vector<float>& in, int inRate,
                      int outRate, int reps, size_t* outFrames) {
    double best = 1e30;
    for (int i = 0; i < reps; ++i) {
        const double start = CpuSeconds();
        const std::vector<float> out = convert(in, inRate, outRate);
        best = std::min(best, CpuSeconds() - start);
        *outFrames = out.size() / kChannels;
    }
    return best;
}

void Usage() {
    std::printf(
        "Usage: resample_bench [-t SECONDS] [-n REPS] [--synth] [--soxr-bits BITS]\n"
        "  -t, --seconds S   length of the audio converted (default 180)\n"
        "  -n, --reps N      timed runs of each converter, the fastest counts (default 3)\n"
        "      --synth       synthesised audio even when the music package is installed\n"
        "      --soxr-bits B precision of the matched soxr setting (default 15, soxr's "
        "lowest)\n");
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if ((a == "-t" || a == "--seconds") && hasValue) {
            o.seconds = std::atoi(argv[++i]);
        } else if ((a == "-n" || a == "--reps") && hasValue) {
            o.reps = std::atoi(argv[++i]);
        } else if (a == "--synth") {
            o.synth = true;
        } else if (a == "--soxr-bits" && hasValue) {
            o.soxrBits = std::atof(argv[++i]);
        } else {
            Usage();
            return a == "-h" || a == "--help" ? 0 : 2;
        }
    }
    if (o.seconds < 1 || o.reps < 1) {
        Usage();
        return 2;
    }

    // soxr set to the project's filter: linear phase, pass band to 0.95 and stop band from
    // 1.05 of the cut-off, precision chosen for a like stop band; and soxr's own default.
    soxr_quality_spec_t matched = soxr_quality_spec(SOXR_16_BITQ, SOXR_LINEAR_PHASE);
    matched.precision = o.soxrBits;
    matched.passband_end = 0.95;
    matched.stopband_begin = 1.05;
    const soxr_quality_spec_t hq = soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE);
    struct Named {
        std::string name;
        Converter convert;
        double passEnd;  // pass-band edge, fraction of the cut-off
    };
    char matchedName[64];
    std::snprintf(matchedName, sizeof matchedName, "soxr %.0f-bit 0.95/1.05", o.soxrBits);
    const std::vector<Named> converters = {
        {"velora", ConvertVelora, 0.95},
        {matchedName, SoxrConverter(matched), matched.passband_end},
        {"soxr HQ (default)", SoxrConverter(hq), hq.passband_end},
    };

    struct Rates {
        int in, out;
    };
    const Rates conversions[] = {{48000, 44100}, {44100, 22050}};

    std::string source;
    std::vector<float> audio48, audio44;
    if (!o.synth) {
        audio48 = DecodeMusic(48000, o.seconds);
        audio44 = DecodeMusic(44100, o.seconds);
        source = "music: frozen-mainzik-2p.xm (Debian package fb-music-high), rendered by ffmpeg";
    }
    if (audio48.empty() || audio44.empty()) {
        audio48 = SynthesiseAudio(48000, o.seconds);
        audio44 = SynthesiseAudio(44100, o.seconds);
        source =
            "synthesised noise and sweeping tones (install fb-music-high and ffmpeg for music)";
    }
    const double seconds = static_cast<double>(audio44.size() / kChannels) / 44100.0;
    std::printf("resample_bench: %.1f s of stereo audio, %s\n", seconds, source.c_str());
    std::printf(
        "soxr %s, one thread; CPU time of the fastest of %d runs, creation included; "
        "blocks of %d frames\n\n",
        soxr_version(), o.reps, kBlockFrames);

    std::printf("%-16s %-24s %9s %12s %14s\n", "conversion", "converter", "CPU ms", "x realtime",
                "time / velora");
    for (const Rates& r : conversions) {
        const std::vector<float>& in = r.in == 48000 ? audio48 : audio44;
        char label[32];
        std::snprintf(label, sizeof label, "%d -> %d", r.in, r.out);
        double veloraTime = 0.0;
        for (const Named& c : converters) {
            size_t outFrames = 0;
            const double t = BestCpuSeconds(c.convert, in, r.in, r.out, o.reps, &outFrames);
            if (c.name == "velora") veloraTime = t;
            std::printf("%-16s %-24s %9.1f %12.0f %14.2f\n", label, c.name.c_str(), t * 1e3,
                        seconds / t, t / veloraTime);
            label[0] = '\0';
        }
    }

    std::printf(
        "\nquality on the same synthetic tones (24 tones up to 0.95 of the cut-off, 12 "
        "from 1.05 of it, each 0.03; %d-point Kaiser-windowed spectrum of the output);\n"
        "the ripple counts the tones within each converter's own pass band\n",
        kWindow);
    std::printf("%-16s %-24s %22s %28s\n", "conversion", "converter", "pass-band ripple dB",
                "stop-band residue dB");
    for (const Rates& r : conversions) {
        char label[32];
        std::snprintf(label, sizeof label, "%d -> %d", r.in, r.out);
        for (const Named& c : converters) {
            const Quality q = Measure(c.convert, r.in, r.out, c.passEnd);
            char pass[48], stop[48];
            std::snprintf(pass, sizeof pass, "%.5f (to %.0f Hz)", q.rippleDb, q.passEdgeHz);
            std::snprintf(stop, sizeof stop, "%.1f (from %.0f Hz)", q.stopResidueDb, q.stopEdgeHz);
            std::printf("%-16s %-24s %22s %28s\n", label, c.name.c_str(), pass, stop);
            label[0] = '\0';
        }
    }
    return 0;
}
