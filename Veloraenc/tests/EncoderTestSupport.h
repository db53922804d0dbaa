// Test support for the encoder library: test signals as the caller hands them in (16-bit
// or float bytes), a whole stream pushed through the seven calls the way the encode job
// drives them, and tuning tables with extra rows.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "EncoderApi.h"
#include "TuningTables.h"

namespace velora::enc::test {

constexpr double kTestPi = 3.14159265358979323846;

// Closes the instance when the test leaves its scope.
struct Handle {
    explicit Handle(Mp3EncHandle handle) : h(handle) {}
    ~Handle() { mp3EncClose(h); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Mp3EncHandle h;
};

// Partials with vibrato, a noise floor and drum-like bursts, with high partials for SBR to
// describe. Interleaved, full scale +-32768.
inline std::vector<float> MusicSignal(int rate, int channels, double seconds, uint32_t seed = 7) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<float> out(frames * static_cast<size_t>(channels));
    for (size_t n = 0; n < frames; ++n) {
        const double t = static_cast<double>(n) / rate;
        for (int ch = 0; ch < channels; ++ch) {
            const double base = ch == 0 ? 220.0 : 330.0;
            double v = 0.0;
            for (int k = 1; k <= 12; ++k) {
                const double f = base * k;
                if (f < 0.45 * rate) v += 2000.0 / k * std::sin(2 * kTestPi * f * t + 0.3 * std::sin(2 * kTestPi * 5 * t));
            }
            v += 300.0 * noise(rng);
            const double beat = std::fmod(t, 0.5);
            if (beat < 0.03) v += 5000.0 * noise(rng) * (1.0 - beat / 0.03);
            out[n * static_cast<size_t>(channels) + static_cast<size_t>(ch)] = static_cast<float>(v);
        }
    }
    return out;
}

inline std::vector<uint8_t> AsInt16Bytes(const std::vector<float>& pcm) {
    std::vector<uint8_t> bytes(pcm.size() * 2);
    for (size_t i = 0; i < pcm.size(); ++i) {
        const auto s = static_cast<int16_t>(std::clamp(std::lround(pcm[i]), -32768L, 32767L));
        std::memcpy(&bytes[2 * i], &s, 2);
    }
    return bytes;
}

inline std::vector<uint8_t> AsFloatBytes(const std::vector<float>& pcm) {
    std::vector<uint8_t> bytes(pcm.size() * 4);
    std::memcpy(bytes.data(), pcm.data(), bytes.size());
    return bytes;
}

struct EncodedStream {
    std::vector<uint8_t> bytes;  // with the VBRI frame first when VBR is on
    int vbrHeaderBytes = 0;
    int calls = 0;
    bool ok = false;
};

// Feeds `input` in chunks of `chunk` bytes (the job's 2304), advancing by the consumed
// count, then flushes; with VBR the placeholder goes first and the final header replaces it.
inline EncodedStream EncodeAll(Mp3EncHandle h, const std::vector<uint8_t>& input, size_t chunk = 2304) {
    EncodedStream e;
    std::vector<uint8_t> out(8192);
    std::vector<uint8_t> header(1024);
    e.vbrHeaderBytes = mp3EncGetVbrHeader(h, header.data(), static_cast<int>(header.size()));
    e.bytes.insert(e.bytes.end(), header.begin(), header.begin() + e.vbrHeaderBytes);
    size_t at = 0;
    while (at < input.size()) {
        const int pending = static_cast<int>(std::min(chunk, input.size() - at));
        int consumed = 0;
        const int n = VeloraencEncodeFrame(h, input.data() + at, pending, &consumed, out.data(),
                                           static_cast<int>(out.size()), 0, 0);
        ++e.calls;
        if (n < 0 || consumed < 0 || consumed > pending) return e;
        if (n == 0 && consumed == 0) return e;  // no progress
        at += static_cast<size_t>(consumed);
        e.bytes.insert(e.bytes.end(), out.begin(), out.begin() + n);
    }
    for (int guard = 0; guard < 100000; ++guard) {
        int consumed = 0;
        const int n = VeloraencEncodeFrame(h, nullptr, 0, &consumed, out.data(), static_cast<int>(out.size()), 0, 0);
        ++e.calls;
        if (n < 0) return e;
        if (n == 0) {
            if (e.vbrHeaderBytes > 0 &&
                mp3EncGetVbrHeader(h, e.bytes.data(), static_cast<int>(e.bytes.size())) != e.vbrHeaderBytes)
                return e;
            e.ok = true;
            return e;
        }
        e.bytes.insert(e.bytes.end(), out.begin(), out.begin() + n);
    }
    return e;
}

// Tables of their own, independent of the shipped ones: the single 64000 bit/s point the
// encoder started with (a 22050 Hz core for both channel counts, SBR for two coded
// channels), plus SBR rows for one coded channel and a 16000..24000 Hz core row for
// 24000..32000 bit/s, to reach the selection paths on known rows.
struct ExtendedTables {
    SbrTuningRow sbr[3] = {
        {64000, 64001, 22050, 2, 10, 9, {0, 0, 0, 0, 0}, 2},
        {32000, 64001, 22050, 1, 10, 9, {0, 0, 0, 0, 0}, 2},
        {24000, 36000, 16000, 1, 8, 9, {0, 0, 0, 0, 0}, 2},
    };
    CoreTuningRow core[kCoreTuningBlockRows] = {
        {0, 0, 0, {0, 0}, 8000},         {0, 0, 0, {0, 0}, 16000},
        {0, 0, 0, {0, 0}, 24000},        {16000, 16000, 24000, {0, 0}, 32000},
        {0, 0, 0, {0, 0}, 40000},        {0, 0, 0, {0, 0}, 48000},
        {0, 0, 0, {0, 0}, 56000},        {0, 0, 0, {0, 0}, 64000},
        {22050, 22050, 22050, {0, 0}, 64001}, {0, 0, 0, {0, 0}, 80000},
        {0, 0, 0, {0, 0}, 96000},        {0, 0, 0, {0, 0}, 128000},
        {0, 0, 0, {0, 0}, 192000},       {0, 0, 0, {0, 0}, 320001},
    };
    TuningTables tables{sbr, 3, {core, core}, {kCoreTuningBlockRows, kCoreTuningBlockRows}};

    ExtendedTables() = default;
    ExtendedTables(const ExtendedTables&) = delete;  // `tables` points into this object
    ExtendedTables& operator=(const ExtendedTables&) = delete;
};

}  // namespace velora::enc::test
