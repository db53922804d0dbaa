// Grades a decoded file against its original with the PEAQ-style model (PeaqAnalysis):
// finds the decoder's delay as velora_nmr does, aligns, and prints the objective
// difference grade (0 imperceptible .. -4 very annoying), the distortion index and the
// eleven model output variables. See README.md beside this file.
//
//   velora_peaq ORIGINAL DECODED [--rate R --channels C] [--max-lag N] [--bands]
//
// Files are 16-bit WAVE or raw 16-bit little-endian PCM (then --rate and --channels say
// what they hold). The output is one line, "result key=value ..."; --bands adds a line per
// band of the ear model: its centre, mean noise over mask and share of disturbed frames.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Alignment.h"
#include "PeaqAnalysis.h"
#include "Signal.h"

namespace {

using namespace velora::bench;

struct Options {
    std::string original;
    std::string decoded;
    int rate = 0;
    int channels = 0;
    int maxLag = 8192;
    bool bands = false;
};

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
        } else if (arg == "--bands") {
            o.bands = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return false;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2 || o.maxLag < 1) return false;
    o.original = positional[0];
    o.decoded = positional[1];
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        std::fprintf(stderr, "usage: velora_peaq ORIGINAL DECODED [--rate R --channels C] [--max-lag N] [--bands]\n");
        return 2;
    }
    Signal original;
    Signal decoded;
    std::string error;
    if (!ReadOriginalAndDecoded(o.original, o.decoded, o.rate, o.channels, original, decoded, error)) {
        std::fprintf(stderr, "velora_peaq: %s\n", error.c_str());
        return 1;
    }
    const Alignment a = FindLag(MonoSum(original), MonoSum(decoded), o.maxLag);
    size_t begin = 0;
    size_t end = 0;
    OverlapRange(a.lag, original.Length(), decoded.Length(), begin, end);
    decoded = Shift(decoded, a.lag, original.Length());
    if (a.correlation < 0.9)
        std::fprintf(stderr, "velora_peaq: weak match (correlation %.3f at lag %ld): wrong file or delay above %d?\n",
                     a.correlation, a.lag, o.maxLag);
    const PeaqResult r = AnalysePeaq(original, decoded, begin, end);
    if (!r.ok) {
        std::fprintf(stderr, "velora_peaq: nothing to judge (silence, or a rate below 16 kHz)\n");
        return 1;
    }
    const PeaqMovs& m = r.movs;
    std::printf("result odg=%.3f di=%.3f lag=%ld correlation=%.5f frames=%d bw_ref=%.1f bw_test=%.1f nmr_db=%.2f "
                "win_mod_diff=%.2f adb=%.3f ehs=%.3f avg_mod_diff1=%.2f avg_mod_diff2=%.2f noise_loudness=%.3f "
                "mfpd=%.3f rdf=%.3f\n",
                r.grade.odg, r.grade.distortionIndex, a.lag, a.correlation, r.frames, m.bandwidthRef, m.bandwidthTest,
                m.totalNmrDb, m.winModDiff1, m.adb, m.ehs, m.avgModDiff1, m.avgModDiff2, m.rmsNoiseLoudness, m.mfpd,
                m.relDistFrames);
    if (o.bands)
        for (size_t b = 0; b < r.bandCentreHz.size(); ++b)
            std::printf("band %zu centre_hz=%.0f nmr_db=%.2f disturbed=%.3f\n", b, r.bandCentreHz[b], r.bandNmrDb[b],
                        r.bandDisturbed[b]);
    return 0;
}
