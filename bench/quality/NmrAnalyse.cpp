// Compares a decoded file with its original: finds the decoder's delay, then prints the
// noise-to-mask ratio (NmrModel), the share of frames with audible noise, the bandwidth
// of both signals, SNR and segmental SNR. See README.md beside this file.
//
//   velora_nmr ORIGINAL DECODED [--rate R --channels C] [--max-lag N] [--max-hz F]
//              [--regions] [--bands] [--worst K] [--frames FILE] [--envelope F0,F1,...]
//
// --max-hz adds figures over the bands below F alone (inband_*), for comparing encoders
// apart from their choice of bandwidth; --worst and --frames then list those.
//
// Files are 16-bit WAVE or raw 16-bit little-endian PCM (then --rate and --channels say
// what they hold). The first output line is "result key=value ..." for scripts.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Alignment.h"
#include "BandEnvelope.h"
#include "NmrAnalysis.h"
#include "NmrModel.h"
#include "Signal.h"
#include "SignalMeasures.h"

namespace {

using namespace velora::bench;

struct Options {
    std::string original;
    std::string decoded;
    int rate = 0;
    int channels = 0;
    int maxLag = 8192;
    double maxHz = 0.0;
    bool regions = false;
    bool bands = false;
    int worst = 0;
    std::string framesFile;
    std::vector<double> envelopeHz;  // band edges of the envelope comparison
};

void Usage() {
    std::fprintf(stderr,
                 "usage: velora_nmr ORIGINAL DECODED [--rate R --channels C] [--max-lag N] [--max-hz F]\n"
                 "                  [--regions] [--bands] [--worst K] [--frames FILE]\n"
                 "                  [--envelope F0,F1,...]\n");
}

bool ParseOptions(int argc, char** argv, Options& o) {
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--rate" && hasValue) {
            o.rate = std::atoi(argv[++i]);
        } else if (arg == "--channels" && hasValue) {
            o.channels = std::atoi(argv[++i]);
        } else if (arg == "--max-lag" && hasValue) {
            o.maxLag = std::atoi(argv[++i]);
        } else if (arg == "--max-hz" && hasValue) {
            o.maxHz = std::atof(argv[++i]);
        } else if (arg == "--worst" && hasValue) {
            o.worst = std::atoi(argv[++i]);
        } else if (arg == "--frames" && hasValue) {
            o.framesFile = argv[++i];
        } else if (arg == "--envelope" && hasValue) {
            const std::string list = argv[++i];
            size_t from = 0;
            while (from <= list.size()) {
                const size_t comma = std::min(list.find(',', from), list.size());
                const double hz = std::atof(list.substr(from, comma - from).c_str());
                if (hz <= 0.0 || (!o.envelopeHz.empty() && hz <= o.envelopeHz.back())) return false;
                o.envelopeHz.push_back(hz);
                from = comma + 1;
            }
            if (o.envelopeHz.size() < 2) return false;
        } else if (arg == "--regions") {
            o.regions = true;
        } else if (arg == "--bands") {
            o.bands = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2 || o.maxLag < 1 || o.worst < 0 || o.maxHz < 0.0) return false;
    o.original = positional[0];
    o.decoded = positional[1];
    return true;
}

double Db(double ratio) {
    return 10.0 * std::log10(std::max(ratio, 1e-10));
}

// Frequency regions for the coarse profile; bands go by their centre.
void PrintRegions(const NmrModel& model, const NmrResult& r) {
    const double edges[] = {0, 250, 500, 1000, 2000, 4000, 8000, 12000, 16000, 1e9};
    const int count = static_cast<int>(sizeof(edges) / sizeof(edges[0])) - 1;
    for (int g = 0; g < count; ++g) {
        double sum = 0.0;
        double audible = 0.0;
        int n = 0;
        for (int b = 0; b < model.BandCount(); ++b) {
            const double centre = 0.5 * (model.Band(b).lowHz + model.Band(b).highHz);
            if (centre < edges[g] || centre >= edges[g + 1]) continue;
            sum += r.bandMean[static_cast<size_t>(b)];
            audible = std::max(audible, r.bandAudible[static_cast<size_t>(b)]);
            ++n;
        }
        if (n == 0) continue;
        std::printf("region %.0f %.0f %.2f %.1f\n", edges[g], std::min(edges[g + 1], model.SampleRate() / 2.0),
                    Db(sum / n), 100.0 * audible);
    }
}

// The K frames with the highest NMR, at least half a second apart.
void PrintWorst(const NmrModel& model, const NmrResult& r, int k) {
    std::vector<NmrFrame> frames = r.frameList;
    std::sort(frames.begin(), frames.end(), [](const NmrFrame& a, const NmrFrame& b) { return a.meanDb > b.meanDb; });
    std::vector<double> taken;
    for (const NmrFrame& f : frames) {
        if (static_cast<int>(taken.size()) >= k) break;
        bool near = false;
        for (double t : taken) near = near || std::fabs(t - f.startSeconds) < 0.5;
        if (near) continue;
        taken.push_back(f.startSeconds);
        const NmrBand& band = model.Band(f.maxBand);
        std::printf("worst %.3f %.2f %.2f %.0f %.0f %d\n", f.startSeconds, f.meanDb, f.maxDb, band.lowHz, band.highHz,
                    f.maxChannel);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        Usage();
        return 2;
    }
    Signal original;
    Signal decoded;
    std::string error;
    if (!ReadOriginalAndDecoded(o.original, o.decoded, o.rate, o.channels, original, decoded, error)) {
        std::fprintf(stderr, "velora_nmr: %s\n", error.c_str());
        return 1;
    }
    NmrModel model;
    if (!model.Init(original.rate)) {
        std::fprintf(stderr, "velora_nmr: no model for %d Hz\n", original.rate);
        return 1;
    }
    const Alignment a = FindLag(MonoSum(original), MonoSum(decoded), o.maxLag);
    size_t begin = 0;
    size_t end = 0;
    OverlapRange(a.lag, original.Length(), decoded.Length(), begin, end);
    const size_t decodedLength = decoded.Length();
    decoded = Shift(decoded, a.lag, original.Length());
    if (a.correlation < 0.9)
        std::fprintf(stderr, "velora_nmr: weak match (correlation %.3f at lag %ld): wrong file or delay above %d?\n",
                     a.correlation, a.lag, o.maxLag);

    const NmrResult r = AnalyseNmr(original, decoded, begin, end, model);
    // The bands wholly below --max-hz.
    int judged = 0;
    while (judged < model.BandCount() && model.Band(judged).highHz <= o.maxHz) ++judged;
    const bool inband = o.maxHz > 0.0;
    if (inband && judged == 0) {
        std::fprintf(stderr, "velora_nmr: no band lies below %.0f Hz\n", o.maxHz);
        return 1;
    }
    const NmrResult in = inband ? AnalyseNmr(original, decoded, begin, end, model, judged) : r;
    std::printf("result lag=%ld correlation=%.5f seconds=%.2f decoded_seconds=%.2f frames=%d skipped=%d "
                "mean_nmr_db=%.2f mean_max_nmr_db=%.2f audible_pct=%.1f loud_pct=%.1f bandwidth_hz=%.0f "
                "original_bandwidth_hz=%.0f snr_db=%.2f segsnr_db=%.2f",
                a.lag, a.correlation, static_cast<double>(end - begin) / original.rate,
                static_cast<double>(decodedLength) / original.rate, r.frames, r.skipped, r.meanDb, r.meanMaxDb,
                100.0 * r.audibleShare, 100.0 * r.loudShare, BandwidthHz(decoded, begin, end),
                BandwidthHz(original, begin, end), SnrDb(original, decoded, begin, end),
                SegmentalSnrDb(original, decoded, begin, end));
    if (inband)
        std::printf(" inband_hz=%.0f inband_mean_nmr_db=%.2f inband_mean_max_nmr_db=%.2f inband_audible_pct=%.1f "
                    "inband_loud_pct=%.1f",
                    model.Band(judged - 1).highHz, in.meanDb, in.meanMaxDb, 100.0 * in.audibleShare,
                    100.0 * in.loudShare);
    std::printf("\n");
    if (o.regions) PrintRegions(model, r);
    if (!o.envelopeHz.empty()) {
        const EnvelopeResult e = CompareEnvelope(original, decoded, begin, end, o.envelopeHz);
        std::printf("envelope segments=%d mean_abs_db=%.2f mean_db=%.2f within6_pct=%.1f\n", e.segments,
                    e.meanAbsDb, e.meanDb, 100.0 * e.within6Share);
    }
    if (o.bands)
        for (int b = 0; b < model.BandCount(); ++b)
            std::printf("band %d %.0f %.0f %.2f %.1f\n", b, model.Band(b).lowHz, model.Band(b).highHz,
                        Db(r.bandMean[static_cast<size_t>(b)]), 100.0 * r.bandAudible[static_cast<size_t>(b)]);
    if (o.worst > 0) PrintWorst(model, in, o.worst);
    if (!o.framesFile.empty()) {
        FILE* f = std::fopen(o.framesFile.c_str(), "w");
        if (f == nullptr) {
            std::fprintf(stderr, "velora_nmr: cannot write %s\n", o.framesFile.c_str());
            return 1;
        }
        std::fprintf(f, "# start_s mean_nmr_db max_nmr_db max_band_low_hz channel\n");
        for (const NmrFrame& fr : in.frameList)
            std::fprintf(f, "%.4f %.2f %.2f %.0f %d\n", fr.startSeconds, fr.meanDb, fr.maxDb,
                         model.Band(fr.maxBand).lowHz, fr.maxChannel);
        std::fclose(f);
    }
    return 0;
}
