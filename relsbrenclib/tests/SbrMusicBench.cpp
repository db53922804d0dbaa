// The test harness on a recording: a raw 16-bit little-endian stereo file at 44.1 kHz
// through encoder, decimator and decoder, the band energy measure overall, per SBR band and
// by kind of segment. A benchmark for tuning, not a test: nothing runs it by itself.
//
//   relsbrenc_music_bench FILE [SECONDS] [mono|stereo|both]
//
// Mono codes the mix of the two channels. Environment: BENCH_SHIFT (extra output delay in
// samples, to look for misalignment), BENCH_GAIN_DB (input gain, to tell level-bound errors
// from the rest), BENCH_TRACE=BAND (prints the runs of segments around each error of 8 dB
// or more in that band), BENCH_STEREO_CODING and BENCH_AMP_RES (the pair's stereo coding
// parameter and tuning value 2).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "SbrEndToEnd.h"

namespace {

using velora::sbr::test::BandSegment;

// Extra delay of the output in samples (BENCH_SHIFT), to look for misalignment.
int Shift() {
    const char* v = std::getenv("BENCH_SHIFT");
    return v != nullptr ? std::atoi(v) : 0;
}

struct Tally {
    double absSum = 0.0;
    double sum = 0.0;
    int within = 0;
    int count = 0;
    void Add(double d) {
        absSum += std::fabs(d);
        sum += d;
        within += std::fabs(d) <= 6.0 ? 1 : 0;
        ++count;
    }
    void Print(const char* label) const {
        if (count == 0) {
            std::printf("  %-26s      -\n", label);
            return;
        }
        std::printf("  %-26s n=%6d abs=%5.2f dB signed=%+5.2f dB within6=%5.1f %%\n", label, count, absSum / count,
                    sum / count, 100.0 * within / count);
    }
};

void Report(const char* name, const std::vector<std::vector<float>>& original,
            const velora::sbr::test::RunResult& r) {
    Tally all;
    std::vector<Tally> perBand(static_cast<size_t>(r.freq.highBands));
    Tally level[4];  // by distance below the band's loudest segment: <10, <20, <35, <50 dB
    Tally rise, fall, steady;
    Tally beforeRise, afterRise, others;  // the segment before / after a rise of 15 dB or more
    Tally absolute[6];
    int outliers[4][3][2] = {};  // level bucket x change (rise, fall, steady) x sign, |d| > 6  // by the original's power per sample: < 0, 0..10, .. 40.., dB
    for (size_t ch = 0; ch < original.size() && ch < r.output.size(); ++ch) {
        const std::vector<BandSegment> segs =
            velora::sbr::test::CompareBandSegments(original[ch], r.output[ch], r.outputDelay + Shift(), r.freq);
        std::vector<double> loudest(static_cast<size_t>(r.freq.highBands), -1e9);
        for (const BandSegment& s : segs)
            if (s.originalDb > loudest[static_cast<size_t>(s.band)]) loudest[static_cast<size_t>(s.band)] = s.originalDb;
        if (std::getenv("BENCH_TRACE") != nullptr && ch == 0) {
            // Runs of segments of one band around its big errors: original dB and difference.
            const int band = std::atoi(std::getenv("BENCH_TRACE"));
            for (size_t i = 3; i + 3 < segs.size(); ++i) {
                if (segs[i].band != band || std::fabs(segs[i].diffDb) < 8.0) continue;
                std::printf("   seg %5d:", segs[i].segment);
                for (size_t j = i - 3; j <= i + 3; ++j)
                    if (segs[j].band == band) std::printf(" %5.1f(%+5.1f)", segs[j].originalDb, segs[j].diffDb);
                std::printf("\n");
            }
        }
        for (size_t i = 0; i < segs.size(); ++i) {
            const BandSegment& s = segs[i];
            all.Add(s.diffDb);
            perBand[static_cast<size_t>(s.band)].Add(s.diffDb);
            const double below = loudest[static_cast<size_t>(s.band)] - s.originalDb;
            level[below < 10.0 ? 0 : (below < 20.0 ? 1 : (below < 35.0 ? 2 : 3))].Add(s.diffDb);
            const bool nextRises = i + 1 < segs.size() && segs[i + 1].band == s.band &&
                                   segs[i + 1].segment == s.segment + 1 &&
                                   segs[i + 1].originalDb - s.originalDb >= 15.0;
            const bool rose = i > 0 && segs[i - 1].band == s.band && segs[i - 1].segment + 1 == s.segment &&
                              s.originalDb - segs[i - 1].originalDb >= 15.0;
            (nextRises ? beforeRise : (rose ? afterRise : others)).Add(s.diffDb);
            const int a = static_cast<int>(std::floor(s.originalDb / 10.0)) + 1;
            absolute[a < 0 ? 0 : (a > 5 ? 5 : a)].Add(s.diffDb);
            // Change against the previous segment of the same band.
            if (i > 0 && segs[i - 1].band == s.band && segs[i - 1].segment + 1 == s.segment) {
                const double change = s.originalDb - segs[i - 1].originalDb;
                (change > 6.0 ? rise : (change < -6.0 ? fall : steady)).Add(s.diffDb);
                if (std::fabs(s.diffDb) > 6.0)
                    ++outliers[below < 10.0 ? 0 : (below < 20.0 ? 1 : (below < 35.0 ? 2 : 3))]
                              [change > 6.0 ? 0 : (change < -6.0 ? 1 : 2)][s.diffDb > 0.0 ? 1 : 0];
            }
        }
    }
    std::printf("%s: %.1f payload bits/frame, max %d bytes, parse errors %d\n", name, r.meanPayloadBits,
                r.maxPayloadBytes, r.parseErrors);
    all.Print("all");
    for (size_t b = 0; b < perBand.size(); ++b) {
        char label[64];
        std::snprintf(label, sizeof(label), "band %zu (%d..%d)", b, r.freq.high[b], r.freq.high[b + 1]);
        perBand[b].Print(label);
    }
    level[0].Print("level 0..10 dB below top");
    level[1].Print("level 10..20 dB below top");
    level[2].Print("level 20..35 dB below top");
    level[3].Print("level 35..50 dB below top");
    for (int a = 0; a < 6; ++a) {
        char label[64];
        std::snprintf(label, sizeof(label), "power %d..%d dB", (a - 1) * 10, a * 10);
        absolute[a].Print(label);
    }
    beforeRise.Print("before a rise >= 15 dB");
    afterRise.Print("after a rise >= 15 dB");
    others.Print("neither");
    rise.Print("rising > 6 dB");
    fall.Print("falling > 6 dB");
    steady.Print("steady");
    std::printf("  outliers (|d| > 6 dB) by level below top / change: low, high\n");
    const char* levels[4] = {"<10", "10..20", "20..35", "35..50"};
    for (int l = 0; l < 4; ++l)
        std::printf("    %-7s rise %4d %4d  fall %4d %4d  steady %4d %4d\n", levels[l], outliers[l][0][0],
                    outliers[l][0][1], outliers[l][1][0], outliers[l][1][1], outliers[l][2][0], outliers[l][2][1]);
    int coupled = 0;
    for (int c : r.coupledFrames) coupled += c;
    if (original.size() == 2) std::printf("  coupled frames %d of %zu\n", coupled, r.coupledFrames.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [SECONDS] [mono|stereo|both]\n", argv[0]);
        return 2;
    }
    const double seconds = argc > 2 ? std::atof(argv[2]) : 90.0;
    const std::string mode = argc > 3 ? argv[3] : "both";
    FILE* f = std::fopen(argv[1], "rb");
    if (f == nullptr) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    std::vector<std::vector<float>> stereo(2);
    const size_t limit = static_cast<size_t>(seconds * velora::sbr::test::kRate);
    int16_t pair[2];
    // BENCH_GAIN_DB scales the input, to tell level-bound errors from the others.
    const char* gainDb = std::getenv("BENCH_GAIN_DB");
    const float gain = gainDb != nullptr ? static_cast<float>(std::pow(10.0, std::atof(gainDb) / 20.0)) : 1.0f;
    while (stereo[0].size() < limit && std::fread(pair, sizeof(pair), 1, f) == 1) {
        stereo[0].push_back(gain * static_cast<float>(pair[0]));
        stereo[1].push_back(gain * static_cast<float>(pair[1]));
    }
    std::fclose(f);
    const size_t frames = stereo[0].size() / velora::sbr::test::kFrame;
    for (auto& ch : stereo) ch.resize(frames * velora::sbr::test::kFrame);
    if (frames < 20) {
        std::fprintf(stderr, "too short\n");
        return 1;
    }

    if (mode == "mono" || mode == "both") {
        std::vector<std::vector<float>> mono(1, std::vector<float>(stereo[0].size()));
        for (size_t i = 0; i < mono[0].size(); ++i) mono[0][i] = 0.5f * (stereo[0][i] + stereo[1][i]);
        velora::sbr::test::RunOptions o;
        Report("mono", mono, velora::sbr::test::Run(mono, o));
    }
    if (mode == "stereo" || mode == "both") {
        velora::sbr::test::RunOptions o;
        o.codedChannels = 2;
        if (const char* v = std::getenv("BENCH_STEREO_CODING")) o.stereoCoding = std::atoi(v);
        if (const char* v = std::getenv("BENCH_AMP_RES")) o.tuning[2] = std::atoi(v);
        Report("stereo", stereo, velora::sbr::test::Run(stereo, o));
    }
    return 0;
}
