#include "SbrEndToEnd.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>

#include "Fft.h"
#include "Resampler.h"
#include "SbrDecoder.h"
#include "SbrPayloadParser.h"

namespace velora::sbr::test {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr size_t kSegment = 1024;

struct Random {
    uint32_t state;
    float Next() {  // uniform in -1..1
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<double>(state >> 8) / 8388608.0 - 1.0);
    }
};

// Power spectrum of one Hann segment starting at `start` (zeros outside x).
std::vector<double> Spectrum(const std::vector<float>& x, long long start) {
    static const math::RealFft fft = [] {
        math::RealFft f;
        f.Init(static_cast<int>(kSegment));
        return f;
    }();
    std::vector<float> a(kSegment);
    for (size_t i = 0; i < kSegment; ++i) {
        const long long n = start + static_cast<long long>(i);
        const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / kSegment);
        const double v = n >= 0 && n < static_cast<long long>(x.size()) ? static_cast<double>(x[static_cast<size_t>(n)]) : 0.0;
        a[i] = static_cast<float>(v * w);
    }
    std::vector<float> re(kSegment / 2 + 1);
    std::vector<float> im(kSegment / 2 + 1);
    fft.Forward(a.data(), re.data(), im.data());
    std::vector<double> p(kSegment / 2);
    for (size_t b = 0; b < kSegment / 2; ++b) {
        const double r = re[b];
        const double m = im[b];
        p[b] = r * r + m * m;
    }
    return p;
}

double SumBins(const std::vector<double>& p, double f1, double f2) {
    double s = 0.0;
    for (size_t b = 1; b < p.size(); ++b) {
        const double f = static_cast<double>(b) * kRate / kSegment;
        if (f >= f1 && f < f2) s += p[b];
    }
    return s;
}

// Delay of y against x by cross-correlation of a low-passed view (the core band).
int MeasureDelay(const std::vector<float>& x, const std::vector<float>& y, int maxDelay) {
    const size_t n = std::min(x.size(), y.size());
    if (n < static_cast<size_t>(maxDelay) + 8192) return 0;
    int best = 0;
    double bestValue = -1.0;
    for (int d = 0; d < maxDelay; ++d) {
        double c = 0.0;
        for (size_t i = 4096; i + static_cast<size_t>(d) < n && i < 4096 + 32768; ++i)
            c += static_cast<double>(x[i]) * static_cast<double>(y[i + static_cast<size_t>(d)]);
        if (c > bestValue) {
            bestValue = c;
            best = d;
        }
    }
    return best;
}

struct ResamplerDeleter {
    void operator()(resample::Resampler* r) const { resample::Destroy(r); }
};
struct DecoderDeleter {
    void operator()(SbrDecoder* d) const { SbrDecoder::Destroy(d); }
};
struct EncoderDeleter {
    void operator()(SbrEncoder* e) const { SbrEncoder::Destroy(e); }
};

}  // namespace

RunResult Run(const std::vector<std::vector<float>>& input, const RunOptions& o) {
    RunResult result;
    const int inputChannels = static_cast<int>(input.size());
    const int coreChannels = o.codedChannels;
    const int frames = static_cast<int>(input[0].size() / kFrame);

    // The core signal: each coded channel (or the mix for LC stereo) through the decimator.
    std::vector<std::vector<float>> coreInput(static_cast<size_t>(coreChannels));
    for (int ch = 0; ch < coreChannels; ++ch) {
        if (static_cast<size_t>(ch) < o.core.size()) {
            coreInput[static_cast<size_t>(ch)] = o.core[static_cast<size_t>(ch)];
        } else if (o.lcStereo) {
            coreInput[0].resize(input[0].size());
            for (size_t i = 0; i < input[0].size(); ++i) coreInput[0][i] = 0.5f * (input[0][i] + input[1][i]);
        } else {
            coreInput[static_cast<size_t>(ch)] = input[static_cast<size_t>(ch)];
        }
    }

    SbrEncoderParams p;
    p.channels = o.codedChannels;
    p.startFreq = o.startFreq;
    p.stopFreq = o.stopFreq;
    for (int i = 0; i < 5; ++i) p.tuning[i] = o.tuning[i];
    p.stereoCoding = o.stereoCoding;
    p.monoCoreStereo = o.lcStereo;

    // The encoder's crossover sets the decimator's cut-off; build a probe first.
    SbrExchange probe;
    std::unique_ptr<SbrEncoder, EncoderDeleter> first(SbrEncoder::Create(p, probe));
    if (!first) return result;
    const float crossover = first->Crossover();

    resample::ResamplerSettings rs;
    rs.channels = coreChannels;
    rs.inputRate = kRate;
    rs.outputRate = kRate / 2;
    rs.inputBlockSamples = kFrame * coreChannels;
    rs.cutoffHz = static_cast<double>(crossover) * 1.15;
    resample::ResamplerInfo info;
    std::unique_ptr<resample::Resampler, ResamplerDeleter> decimator(resample::Create(rs, &info, nullptr));
    if (!decimator) return result;
    p.coreDelay = info.delay;
    result.coreDelay = info.delay;

    SbrExchange ex;
    std::unique_ptr<SbrEncoder, EncoderDeleter> encoder(SbrEncoder::Create(p, ex));
    if (!encoder) return result;
    result.created = true;
    result.crossover = encoder->Crossover();

    std::vector<float> blocks(static_cast<size_t>(2 * kFrame));
    std::vector<float> interleaved(static_cast<size_t>(kFrame * coreChannels));
    std::vector<float> decimated(static_cast<size_t>(info.outputBlockSamples + 16));
    std::vector<float> coreFifo;
    std::vector<float> buffer(static_cast<size_t>(2 * kFrame));
    std::unique_ptr<SbrDecoder, DecoderDeleter> decoder;
    SbrParserState parser;
    InitParserState(parser, kRate);
    double bits = 0.0;
    int outChannels = 0;

    for (int f = 0; f < frames; ++f) {
        for (int ch = 0; ch < inputChannels && ch < 2; ++ch)
            std::copy_n(input[static_cast<size_t>(ch)].begin() + static_cast<long>(f) * kFrame, kFrame,
                        blocks.begin() + static_cast<long>(ch) * kFrame);
        if (!o.sourceShare.empty())
            for (int ch = 0; ch < o.codedChannels; ++ch)
                encoder->SetSourceShare(ch, o.sourceShare.data(), static_cast<int>(o.sourceShare.size()));
        velora::SbrFrame frame{};
        if (encoder->EncodeFrame(ex, blocks.data()) && ex.bits > 0) {
            frame.present = 1;
            frame.stereo = coreChannels == 2 ? 1 : 0;
            frame.kind = ex.header ? 13 : 12;
            frame.length = ex.bits / 8;
            std::copy_n(ex.buffer, frame.length, frame.payload);
        }
        result.payloads.push_back(frame);
        bits += ex.bits;
        result.maxPayloadBytes = std::max(result.maxPayloadBytes, frame.length);
        if (frame.kind == 13) {
            ++result.headers;
            result.headerFrames.push_back(f);
        }

        // The decoder's parser on its own, to see every frame's verdict.
        const int status = ParsePayload(parser, frame);
        bool good = status == kSbrOk && frame.present != 0;
        for (int ch = 0; good && ch < coreChannels; ++ch)
            good = !parser.channel[ch].frameError && parser.channel[ch].valid;
        if (!good) {
            ++result.parseErrors;
            result.badFrames.push_back(f);
        }
        if (f == 0) result.freq = parser.freq[0];
        result.grids.push_back(parser.channel[0].grid);
        result.coupledFrames.push_back(parser.channel[0].coupled ? 1 : 0);
        result.widthIndex.push_back(parser.header.pseudoStereoWidth);
        result.limiterGains.push_back(parser.header.limiterGains);
        result.outputModeOne.push_back(parser.header.channelMode == ChannelMode::kMonoAfterStereo ? 1 : 0);

        // Core frame.
        for (int ch = 0; ch < coreChannels; ++ch)
            for (int i = 0; i < kFrame; ++i)
                interleaved[static_cast<size_t>(i * coreChannels + ch)] =
                    coreInput[static_cast<size_t>(ch)][static_cast<size_t>(f) * kFrame + static_cast<size_t>(i)];
        int position = 0;
        int produced = 0;
        resample::Process(decimator.get(), interleaved.data(), static_cast<int>(interleaved.size()), &position,
                          decimated.data(), static_cast<int>(decimated.size()), &produced);
        coreFifo.insert(coreFifo.end(), decimated.begin(), decimated.begin() + produced);
        const size_t coreSamples = static_cast<size_t>(576 * coreChannels);
        if (coreFifo.size() < coreSamples) continue;
        std::copy_n(coreFifo.begin(), coreSamples, buffer.begin());
        coreFifo.erase(coreFifo.begin(), coreFifo.begin() + static_cast<long>(coreSamples));

        if (!decoder) {
            decoder.reset(SbrDecoder::Create(kRate / 2, 576, DefaultSbrConfig(576), frame));
            if (!decoder) return result;
            decoder->SetEnabled(o.enhancement);
        }
        if (decoder->Process(frame, buffer.data(), coreChannels) != 0) ++result.decodeErrors;
        outChannels = decoder->OutputChannels(coreChannels);
        if (result.output.empty()) result.output.resize(static_cast<size_t>(outChannels));
        for (int ch = 0; ch < outChannels && ch < static_cast<int>(result.output.size()); ++ch)
            for (int i = 0; i < kFrame; ++i)
                result.output[static_cast<size_t>(ch)].push_back(buffer[static_cast<size_t>(i * outChannels + ch)]);
    }
    result.meanPayloadBits = frames > 0 ? bits / frames : 0.0;

    // Delay on the core band, from the first coded channel (the mix for LC stereo).
    if (!result.output.empty()) {
        const std::vector<float>& reference = coreInput[0];
        result.measuredDelay = MeasureDelay(reference, result.output[0], 4096);
        result.outputDelay = result.coreDelay + kDecoderPathDelay;
    }
    return result;
}

std::vector<BandSegment> CompareBandSegments(const std::vector<float>& original, const std::vector<float>& output,
                                             int delay, const SbrFreqData& freq, double floorDb) {
    std::vector<BandSegment> result;
    const double hzPerBand = kRate / 128.0;
    const size_t n = std::min(original.size(), output.size() > static_cast<size_t>(delay) ? output.size() - static_cast<size_t>(delay) : 0);
    std::vector<std::vector<double>> orig, out;
    // Skip the start-up of the banks.
    for (size_t start = 8192; start + kSegment <= n; start += kSegment) {
        const std::vector<double> a = Spectrum(original, static_cast<long long>(start));
        const std::vector<double> b = Spectrum(output, static_cast<long long>(start) + delay);
        std::vector<double> ob, yb;
        for (int k = 0; k < freq.highBands; ++k) {
            ob.push_back(SumBins(a, freq.high[k] * hzPerBand, freq.high[k + 1] * hzPerBand));
            yb.push_back(SumBins(b, freq.high[k] * hzPerBand, freq.high[k + 1] * hzPerBand));
        }
        orig.push_back(ob);
        out.push_back(yb);
    }
    // The payload cannot ask for less than energy 64 per QMF band (a power of 1/64 per QMF
    // band at the output): segments within 6 dB of that floor are not judged.
    double window = 0.0;
    for (size_t i = 0; i < kSegment; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / kSegment);
        window += w * w;
    }
    const double toPower = 2.0 / (window * kSegment);
    for (int k = 0; k < freq.highBands; ++k) {
        const double absoluteFloor = 4.0 * (freq.high[k + 1] - freq.high[k]) / 64.0 / toPower;
        double loudest = 0.0;
        for (const auto& seg : orig) loudest = std::max(loudest, seg[static_cast<size_t>(k)]);
        if (loudest <= 0.0) continue;
        for (size_t i = 0; i < orig.size(); ++i) {
            const double a = orig[i][static_cast<size_t>(k)];
            const double b = out[i][static_cast<size_t>(k)];
            if (a < loudest * std::pow(10.0, -floorDb / 10.0) || a < absoluteFloor || a <= 0.0) continue;
            BandSegment s;
            s.band = k;
            s.segment = static_cast<int>(i);
            s.originalDb = 10.0 * std::log10(a * toPower);
            s.diffDb = 10.0 * std::log10((b + 1e-9) / a);
            result.push_back(s);
        }
    }
    return result;
}

BandStats CompareBands(const std::vector<float>& original, const std::vector<float>& output, int delay,
                       const SbrFreqData& freq, double floorDb) {
    BandStats s;
    double sumAbs = 0.0, sum = 0.0;
    int within = 0;
    for (const BandSegment& b : CompareBandSegments(original, output, delay, freq, floorDb)) {
        sumAbs += std::fabs(b.diffDb);
        sum += b.diffDb;
        if (std::fabs(b.diffDb) <= 6.0) ++within;
        ++s.segments;
    }
    if (s.segments > 0) {
        s.meanAbsDb = sumAbs / s.segments;
        s.meanDb = sum / s.segments;
        s.within6Db = static_cast<double>(within) / s.segments;
    }
    return s;
}

double BandPower(const std::vector<float>& x, double f1, double f2, size_t start, size_t end) {
    double window = 0.0;
    for (size_t i = 0; i < kSegment; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / kSegment);
        window += w * w;
    }
    double sum = 0.0;
    int count = 0;
    for (size_t s = start; s + kSegment <= end && s + kSegment <= x.size(); s += kSegment / 2, ++count)
        sum += 2.0 * SumBins(Spectrum(x, static_cast<long long>(s)), f1, f2);
    return count > 0 ? sum / (count * window * kSegment) : 0.0;
}

std::vector<float> WhiteNoise(int frames, float level, uint32_t seed) {
    Random r{seed};
    std::vector<float> x(static_cast<size_t>(frames) * kFrame);
    for (float& v : x) v = level * r.Next();
    return x;
}

std::vector<float> TiltedNoise(int frames, float level, uint32_t seed) {
    // A leaky integrator over white noise: -6 dB per octave above a few hundred Hz.
    Random r{seed};
    std::vector<float> x(static_cast<size_t>(frames) * kFrame);
    float state = 0.0f;
    for (float& v : x) {
        state = 0.95f * state + r.Next();
        v = level * 0.1f * state;
    }
    return x;
}

std::vector<float> Sine(int frames, double hz, float amplitude) {
    std::vector<float> x(static_cast<size_t>(frames) * kFrame);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = amplitude * static_cast<float>(std::sin(2.0 * kPi * hz * static_cast<double>(i) / kRate));
    return x;
}

std::vector<float> ToneAndNoise(int frames, uint32_t seed) {
    std::vector<float> x = Sine(frames, 1000.0, 8000.0f);
    const std::vector<float> h = Sine(frames, 3000.0, 3000.0f);
    const std::vector<float> n = WhiteNoise(frames, 1500.0f, seed);
    for (size_t i = 0; i < x.size(); ++i) x[i] += h[i] + n[i];
    return x;
}

std::vector<float> Castanets(int frames, uint32_t seed) {
    Random r{seed};
    std::vector<float> x(static_cast<size_t>(frames) * kFrame);
    const size_t period = static_cast<size_t>(0.3 * kRate);
    for (size_t i = 0; i < x.size(); ++i) {
        const size_t t = i % period;
        // Quiet bed, then a sharp attack decaying over ~20 ms.
        const double envelope = i >= period ? 12000.0 * std::exp(-static_cast<double>(t) / 900.0) : 0.0;
        x[i] = static_cast<float>(envelope) * r.Next() + 30.0f * r.Next();
    }
    return x;
}

std::vector<float> BandNoise(int frames, double f1, double f2, float level, uint32_t seed, int count) {
    Random r{seed};
    std::vector<float> x(static_cast<size_t>(frames) * kFrame, 0.0f);
    for (int s = 0; s < count; ++s) {
        const double hz = f1 + (f2 - f1) * (s + 0.5) / count;
        const double phase = kPi * static_cast<double>(r.Next());
        const double step = 2.0 * kPi * hz / kRate;
        // A rotating phasor: one complex multiply per sample instead of a sine.
        std::complex<double> v = std::polar(1.0, phase);
        const std::complex<double> w = std::polar(1.0, step);
        for (float& y : x) {
            y += level * static_cast<float>(v.imag());
            v *= w;
        }
    }
    return x;
}

std::vector<float> Gated(const std::vector<float>& x, size_t period, const std::vector<float>& gains) {
    std::vector<float> y(x);
    for (size_t i = 0; i < y.size(); ++i) y[i] *= gains[(i / period) % gains.size()];
    return y;
}

std::vector<float> Square(int frames, double hz, float amplitude) {
    std::vector<float> x(static_cast<size_t>(frames) * kFrame);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = std::fmod(static_cast<double>(i) * hz / kRate, 1.0) < 0.5 ? amplitude : -amplitude;
    return x;
}

std::vector<float> Add(const std::vector<float>& a, const std::vector<float>& b, float gainB) {
    std::vector<float> x(a);
    for (size_t i = 0; i < x.size() && i < b.size(); ++i) x[i] += gainB * b[i];
    return x;
}

}  // namespace velora::sbr::test
