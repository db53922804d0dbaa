#include "SbrPayloadParser.h"

#include "SbrCrc.h"
#include "SbrFreqTables.h"
#include "SbrHuffman.h"

namespace velora::sbr {

namespace {

constexpr int kKindPlain = 12;
constexpr int kKindHeader = 13;
constexpr int kMaxPayloadBytes = static_cast<int>(sizeof(velora::SbrFrame::payload));
constexpr int kMaxBorder = 12;

// ceil(log2(relative borders + 2)) for the pointer field.
int PointerBits(int relativeBorders) {
    const int n = relativeBorders + 2;
    if (n <= 2) return 1;
    if (n <= 4) return 2;
    return 3;
}

int ReadInt(SbrBitReader& reader, int bits) { return static_cast<int>(reader.Read(bits)); }

void SetFixedGrid(SbrFrameInfo& g, int envelopes, int freqRes) {
    static constexpr int32_t kBorders[3][5] = {{0, 9, 0, 0, 0}, {0, 5, 9, 0, 0}, {0, 2, 5, 7, 9}};
    const int row = envelopes == 1 ? 0 : (envelopes == 2 ? 1 : 2);
    g.envelopes = envelopes;
    for (int i = 0; i <= kMaxEnvelopes; ++i) g.borders[i] = kBorders[row][i];
    for (int i = 0; i < kMaxEnvelopes; ++i) g.freqRes[i] = i < envelopes ? freqRes : 0;
    g.pointer = 0;
    if (envelopes == 1) {
        g.noiseEnvelopes = 1;
        g.noiseBorders[0] = 0;
        g.noiseBorders[1] = 9;
        g.noiseBorders[2] = 0;
    } else {
        g.noiseEnvelopes = 2;
        g.noiseBorders[0] = 0;
        g.noiseBorders[1] = 5;
        g.noiseBorders[2] = 9;
    }
}

void SetNoiseBorders(SbrFrameInfo& g, int middle) {
    const int last = g.borders[g.envelopes];
    g.noiseBorders[0] = g.borders[0];
    if (g.envelopes == 1) {
        g.noiseEnvelopes = 1;
        g.noiseBorders[1] = last;
        g.noiseBorders[2] = 0;
    } else {
        g.noiseEnvelopes = 2;
        g.noiseBorders[1] = middle;
        g.noiseBorders[2] = last;
    }
}

const SbrHuffmanTree& EnvelopeTree(bool balance, int ampRes, bool overTime) {
    if (balance) {
        if (ampRes == 0) return SbrTree(overTime ? SbrCodebook::kBalance15Time : SbrCodebook::kBalance15Freq);
        return SbrTree(overTime ? SbrCodebook::kBalance30Time : SbrCodebook::kBalance30Freq);
    }
    if (ampRes == 0) return SbrTree(overTime ? SbrCodebook::kEnvelope15Time : SbrCodebook::kEnvelope15Freq);
    return SbrTree(overTime ? SbrCodebook::kEnvelope30Time : SbrCodebook::kEnvelope30Freq);
}

const SbrHuffmanTree& NoiseTree(bool balance, bool overTime) {
    if (balance) return SbrTree(overTime ? SbrCodebook::kNoiseBalanceTime : SbrCodebook::kBalance30Freq);
    return SbrTree(overTime ? SbrCodebook::kNoiseTime : SbrCodebook::kEnvelope30Freq);
}

bool ParseEnvelopes(SbrBitReader& r, int ampRes, const SbrFreqData& f, SbrChannelData& c) {
    const bool balance = c.balance;
    const int firstBits = (ampRes == 0 ? 7 : 6) - (balance ? 1 : 0);
    const int scale = balance ? 2 : 1;
    int total = 0;
    for (int e = 0; e < c.grid.envelopes; ++e) {
        const int bands = c.grid.freqRes[e] != 0 ? f.highBands : f.lowBands;
        if (bands < 1 || bands > kMaxMasterBands) return false;
        total += bands;
        if (total > kMaxEnvelopeValues) return false;
        const bool overTime = c.deltaTime[e] != 0;
        const SbrHuffmanTree& tree = EnvelopeTree(balance, ampRes, overTime);
        for (int k = 0; k < bands; ++k) {
            int value = 0;
            if (!overTime && k == 0) {
                value = ReadInt(r, firstBits);
            } else if (!SbrHuffmanDecode(tree, r, value)) {
                return false;
            }
            c.envelope[e][k] = value * scale;
        }
    }
    return true;
}

bool ParseNoise(SbrBitReader& r, const SbrFreqData& f, SbrChannelData& c) {
    const bool balance = c.balance;
    const int scale = balance ? 2 : 1;
    const int bands = f.noiseBandCount;
    if (bands < 1 || bands > kMaxNoiseBands) return false;
    for (int e = 0; e < c.grid.noiseEnvelopes; ++e) {
        const bool overTime = c.noiseDeltaTime[e] != 0;
        const SbrHuffmanTree& tree = NoiseTree(balance, overTime);
        for (int k = 0; k < bands; ++k) {
            int value = 0;
            if (!overTime && k == 0) {
                value = ReadInt(r, 5);
            } else if (!SbrHuffmanDecode(tree, r, value)) {
                return false;
            }
            c.noise[e][k] = value * scale;
        }
    }
    return true;
}

bool ParseWaveform(SbrBitReader& r, SbrChannelData& c) {
    c.waveformGroups = 0;
    if (r.ReadBit() == 0) return true;
    const int groups = ReadInt(r, 2) + 1;
    for (int g = 0; g < groups; ++g) {
        SbrWaveformGroup& w = c.waveform[g];
        w = SbrWaveformGroup{};
        w.firstBand = ReadInt(r, 6);
        w.bands = ReadInt(r, 2) + 1;
        w.timeRange = ReadInt(r, 2);
        if (w.timeRange == 0) return false;
        w.fadeOut = ReadInt(r, 1);
        const int first = w.timeRange == 1 ? 9 : 0;
        const int end = w.timeRange == 2 ? 9 : kFrameSubsamples;
        for (int b = 0; b < w.bands; ++b) {
            w.width[b] = 4 + ReadInt(r, 1);
            w.scaleIndex[b] = ReadInt(r, 5);
            for (int s = first; s < end; ++s) {
                int magnitude = ReadInt(r, w.width[b] - 1);
                if (magnitude != 0 && r.ReadBit() != 0) magnitude = -magnitude;
                w.values[b][s] = magnitude;
            }
        }
    }
    c.waveformGroups = groups;
    return true;
}

void SkipExtension(SbrBitReader& r) {
    if (r.ReadBit() == 0) return;
    int count = ReadInt(r, 4);
    if (count == 15) count += ReadInt(r, 8);
    r.Skip(count * 8);
}

void ReadDirections(SbrBitReader& r, SbrChannelData& c) {
    for (int e = 0; e < c.grid.envelopes; ++e) c.deltaTime[e] = ReadInt(r, 1);
    for (int e = 0; e < c.grid.noiseEnvelopes; ++e) c.noiseDeltaTime[e] = ReadInt(r, 1);
}

void StartChannel(SbrChannelData& scratch, const SbrChannelData& previous) {
    scratch = SbrChannelData{};
    scratch.previousInvfMode = previous.invfMode;
}

// The stream flag is shared by both element kinds; a mismatch invalidates the element and
// the received value is kept for the frames that follow.
bool CheckStreamFlag(SbrBitReader& r, SbrHeader& header) {
    const int flag = ReadInt(r, 1);
    if (flag == header.streamFlag) return true;
    header.streamFlag = flag;
    return false;
}

bool ParseSingle(SbrBitReader& r, SbrParserState& s) {
    SbrChannelData& c = s.scratch[0];
    StartChannel(c, s.channel[0]);
    bool ok = CheckStreamFlag(r, s.header);
    const int outputMode = ReadInt(r, 1);
    if (s.header.channelMode == ChannelMode::kUnset)
        s.header.channelMode = outputMode != 0 ? ChannelMode::kMonoAfterStereo : ChannelMode::kMono;
    if (!ParseSbrGrid(r, c.grid)) return false;
    ReadDirections(r, c);
    c.invfMode = ReadInt(r, 2);
    c.secondField = ReadInt(r, 2);
    if (s.header.flagA != 0) c.patchMode = ReadInt(r, 3);
    if (!ParseEnvelopes(r, s.header.ampRes, s.freq[0], c)) return false;
    if (!ParseNoise(r, s.freq[0], c)) return false;
    if (!ParseWaveform(r, c)) return false;
    SkipExtension(r);
    return ok;
}

bool ParsePair(SbrBitReader& r, SbrParserState& s) {
    SbrChannelData& c0 = s.scratch[0];
    SbrChannelData& c1 = s.scratch[1];
    StartChannel(c0, s.channel[0]);
    StartChannel(c1, s.channel[1]);
    bool ok = CheckStreamFlag(r, s.header);
    const bool coupled = r.ReadBit() != 0;
    c0.coupled = coupled;
    c1.coupled = coupled;
    c1.balance = coupled;
    if (!ParseSbrGrid(r, c0.grid)) return false;
    if (coupled) {
        c1.grid = c0.grid;
    } else if (!ParseSbrGrid(r, c1.grid)) {
        return false;
    }
    ReadDirections(r, c0);
    ReadDirections(r, c1);
    if (coupled) {
        c0.invfMode = c1.invfMode = ReadInt(r, 2);
        c0.secondField = c1.secondField = ReadInt(r, 2);
        if (s.header.flagA != 0) c0.patchMode = c1.patchMode = ReadInt(r, 3);
    } else {
        c0.invfMode = ReadInt(r, 2);
        c1.invfMode = ReadInt(r, 2);
        c0.secondField = ReadInt(r, 2);
        c1.secondField = ReadInt(r, 2);
        if (s.header.flagA != 0) {
            c0.patchMode = ReadInt(r, 3);
            c1.patchMode = ReadInt(r, 3);
        }
    }
    const int ampRes = s.header.ampRes;
    if (coupled) {
        if (!ParseEnvelopes(r, ampRes, s.freq[0], c0) || !ParseNoise(r, s.freq[0], c0)) return false;
        if (!ParseEnvelopes(r, ampRes, s.freq[1], c1) || !ParseNoise(r, s.freq[1], c1)) return false;
    } else {
        if (!ParseEnvelopes(r, ampRes, s.freq[0], c0) || !ParseEnvelopes(r, ampRes, s.freq[1], c1))
            return false;
        if (!ParseNoise(r, s.freq[0], c0) || !ParseNoise(r, s.freq[1], c1)) return false;
    }
    if (!ParseWaveform(r, c0) || !ParseWaveform(r, c1)) return false;
    SkipExtension(r);
    return ok;
}

bool Reinitialise(SbrParserState& s) {
    for (SbrFreqData& f : s.freq)
        if (!BuildFreqTables(s.header, s.outputRate, s.tiltDb, f)) return false;
    return true;
}

void ResetHeaderToDefaults(SbrParserState& s) {
    const bool keepWidth = s.header.keepWidth;
    s.header = SbrHeader{};
    s.header.keepWidth = keepWidth;
    s.header.streamFlag = s.defaultStreamFlag;
}

enum class HeaderResult { kOk, kDiscarded, kRejected, kReinitFailed };

HeaderResult TakeHeader(SbrBitReader& r, bool stereo, SbrParserState& s) {
    SbrHeader h = s.header;
    ParseSbrHeader(r, stereo, h);
    if (h.version != s.header.version) {
        if (!s.header.received) {
            ResetHeaderToDefaults(s);
            return HeaderResult::kRejected;
        }
        return HeaderResult::kDiscarded;
    }
    const SbrHeader& old = s.header;
    s.tablesChanged = h.startFreq != old.startFreq || h.stopFreq != old.stopFreq ||
                      h.freqScale != old.freqScale || h.alterScale != old.alterScale;
    // The tables of the defaults were built at creation; the first header builds them anew
    // all the same, as a fresh start.
    const bool reset = s.tablesChanged || h.xoverBand != old.xoverBand || h.noiseBands != old.noiseBands ||
                       !old.received;
    if (stereo)
        h.channelMode = ChannelMode::kStereo;
    else if (old.channelMode == ChannelMode::kStereo)
        h.channelMode = ChannelMode::kMonoAfterStereo;
    h.received = true;
    const SbrHeader previous = s.header;
    s.header = h;
    if (!reset) return HeaderResult::kOk;
    s.headerReset = true;
    if (Reinitialise(s)) return HeaderResult::kOk;
    s.header = previous;
    if (!Reinitialise(s)) return HeaderResult::kReinitFailed;
    return HeaderResult::kDiscarded;
}

// An erroneous frame: the channels are concealed from their previous data.
int MarkError(SbrParserState& s, int channels) {
    if (!s.validFrameSeen) return kSbrErrUnusable;
    for (int ch = 0; ch < channels; ++ch) {
        s.channel[ch].frameError = true;
        s.channel[ch].errorState = true;
    }
    s.elementChannels = channels;
    return kSbrOk;
}

}  // namespace

void ParseSbrHeader(SbrBitReader& r, bool stereo, SbrHeader& h) {
    h.version = ReadInt(r, 2);
    h.ampRes = ReadInt(r, 1);
    h.startFreq = ReadInt(r, 4);
    h.stopFreq = ReadInt(r, 4);
    h.xoverBand = ReadInt(r, 3);
    r.Skip(2);
    h.flagA = ReadInt(r, 1);
    const bool extra1 = r.ReadBit() != 0;
    const bool extra2 = r.ReadBit() != 0;
    if (!stereo) {
        const int width = ReadInt(r, 2);
        if (!h.keepWidth) h.pseudoStereoWidth = width;
    }
    if (extra1) {
        h.freqScale = ReadInt(r, 2);
        h.alterScale = ReadInt(r, 1);
        h.noiseBands = ReadInt(r, 2);
    }
    if (extra2) {
        h.limiterBands = ReadInt(r, 2);
        h.limiterGains = ReadInt(r, 2);
        h.interpolFreq = ReadInt(r, 1);
        h.smoothingMode = ReadInt(r, 1);
        r.Skip(1);
    }
}

bool CheckSbrGrid(const SbrFrameInfo& g) {
    const int n = g.envelopes;
    if (n < 1 || n > kMaxEnvelopes) return false;
    if (g.noiseEnvelopes < 1 || g.noiseEnvelopes > kMaxNoiseEnvelopes) return false;
    if (n == 1 && g.noiseEnvelopes != 1) return false;
    if (g.borders[0] < 0 || g.borders[0] >= g.borders[n] || g.borders[n] > kMaxBorder) return false;
    for (int i = 0; i < n; ++i)
        if (g.borders[i] >= g.borders[i + 1]) return false;
    if (g.pointer < 0 || g.pointer > n) return false;
    const int q = g.noiseEnvelopes;
    if (g.noiseBorders[0] != g.borders[0] || g.noiseBorders[q] != g.borders[n]) return false;
    for (int i = 0; i < q; ++i)
        if (g.noiseBorders[i] >= g.noiseBorders[i + 1]) return false;
    for (int i = 1; i < q; ++i) {
        bool found = false;
        for (int j = 0; j <= n; ++j) found = found || g.noiseBorders[i] == g.borders[j];
        if (!found) return false;
    }
    return true;
}

bool ParseSbrGrid(SbrBitReader& r, SbrFrameInfo& g) {
    g = SbrFrameInfo{};
    for (int32_t& b : g.borders) b = 0;
    for (int32_t& f : g.freqRes) f = 0;
    g.frameClass = ReadInt(r, 2);
    int rel[2 * 3] = {};
    switch (g.frameClass) {
        case 0: {
            const int log = ReadInt(r, 2);
            if (log == 3) return false;  // 8 envelopes do not fit the frame
            SetFixedGrid(g, 1 << log, ReadInt(r, 1));
            break;
        }
        case 1:
        case 2: {
            const int abs = ReadInt(r, 3);
            const int count = ReadInt(r, 2);
            for (int i = 0; i < count; ++i) rel[i] = ReadInt(r, 2);
            const int p = ReadInt(r, PointerBits(count));
            const int n = count + 1;
            g.envelopes = n;
            if (p > n) return false;
            if (g.frameClass == 1) {
                for (int i = n - 1; i >= 0; --i) g.freqRes[i] = ReadInt(r, 1);
                g.borders[n] = abs + kFrameSlots;
                for (int i = 0; i < count; ++i) g.borders[n - 1 - i] = g.borders[n - i] - (2 * rel[i] + 2);
                g.borders[0] = 0;
                g.pointer = p > 0 ? count - p + 2 : 0;
                SetNoiseBorders(g, p > 1 ? g.borders[g.pointer] : g.borders[count]);
            } else {
                for (int i = 0; i < n; ++i) g.freqRes[i] = ReadInt(r, 1);
                g.borders[0] = abs;
                for (int i = 0; i < count; ++i) g.borders[i + 1] = g.borders[i] + 2 * rel[i] + 2;
                g.borders[n] = kFrameSlots;
                g.pointer = p > 1 ? p - 1 : 0;
                SetNoiseBorders(g, p == 0 ? g.borders[1] : (p == 1 ? g.borders[count] : g.borders[p - 1]));
            }
            break;
        }
        default: {
            const int absLead = ReadInt(r, 3);
            const int absTrail = ReadInt(r, 3);
            const int lead = ReadInt(r, 2);
            const int trail = ReadInt(r, 2);
            const int n = lead + trail + 1;
            if (n > kMaxEnvelopes) return false;
            for (int i = 0; i < lead + trail; ++i) rel[i] = ReadInt(r, 2);
            const int p = ReadInt(r, PointerBits(lead + trail));
            g.envelopes = n;
            if (p > n) return false;
            for (int i = 0; i < n; ++i) g.freqRes[i] = ReadInt(r, 1);
            g.borders[0] = absLead;
            for (int i = 0; i < lead; ++i) g.borders[i + 1] = g.borders[i] + 2 * rel[i] + 2;
            g.borders[n] = kFrameSlots + absTrail;
            for (int i = 0; i < trail; ++i) g.borders[n - 1 - i] = g.borders[n - i] - (2 * rel[lead + i] + 2);
            g.pointer = p > 0 ? lead + trail - p + 2 : 0;
            SetNoiseBorders(g, p > 1 ? g.borders[g.pointer] : g.borders[n - 1]);
            break;
        }
    }
    return CheckSbrGrid(g);
}

bool InitParserState(SbrParserState& state, int outputRate, float tiltDb) {
    state.header = SbrHeader{};
    state.tiltDb = tiltDb;
    state.outputRate = outputRate;
    // Cores above 24000 Hz (outputs above 48000 Hz) signal 0.
    state.defaultStreamFlag = outputRate > 48000 ? 0 : 1;
    state.header.streamFlag = state.defaultStreamFlag;
    state.validFrameSeen = false;
    for (int ch = 0; ch < 2; ++ch) {
        state.channel[ch] = SbrChannelData{};
        state.scratch[ch] = SbrChannelData{};
        state.freq[ch] = SbrFreqData{};
    }
    state.tablesChanged = false;
    state.headerReset = false;
    state.elementChannels = 0;
    return Reinitialise(state);
}

int ParsePayload(SbrParserState& s, const velora::SbrFrame& frame) {
    s.tablesChanged = false;
    s.headerReset = false;
    s.elementChannels = 0;
    s.payloadValid = false;
    if (frame.kind != kKindPlain && frame.kind != kKindHeader) return kSbrErrElement;
    const bool stereo = frame.stereo != 0;
    const int channels = stereo ? 2 : 1;
    // A frame that lost its payload is concealed like a damaged one.
    if (frame.present == 0) return s.validFrameSeen ? MarkError(s, channels) : kSbrOk;

    const int bytes = frame.length < 0 ? 0 : (frame.length > kMaxPayloadBytes ? kMaxPayloadBytes : frame.length);
    SbrBitReader r(frame.payload, bytes);
    r.Skip(4);     // marker, already evaluated by the mp3 side
    r.ReadBit();   // CRC flag: mp3 cores always carry the CRC
    const uint32_t crc = r.Read(7);
    const bool withHeader = frame.kind == kKindHeader;
    bool error = (SbrCrc(frame.payload, bytes, kSbrCrcStartBit, SbrCrcBits(stereo, withHeader)) & 0x7Fu) != crc;

    if (withHeader) {
        switch (TakeHeader(r, stereo, s)) {
            case HeaderResult::kOk:
                break;
            case HeaderResult::kDiscarded:
                error = true;
                break;
            case HeaderResult::kRejected:
                return kSbrErrUnusable;
            case HeaderResult::kReinitFailed:
                return kSbrErrReinit;
        }
    }

    // Until the first header arrives the frames carry nothing the decoder can use (such as
    // the signature in the silent first frame of a VBR file); a header that came and was
    // refused counts as an erroneous frame.
    if (!s.header.received) {
        if (withHeader) return MarkError(s, channels);
        if (!stereo) r.ReadBit();
        s.payloadValid = !error;
        return kSbrOk;
    }
    bool ok = false;
    if (stereo) {
        if (s.header.channelMode != ChannelMode::kStereo) return kSbrErrUnusable;
        ok = ParsePair(r, s);
    } else {
        if (s.header.channelMode == ChannelMode::kStereo) return kSbrErrUnusable;
        ok = ParseSingle(r, s);
    }
    if (!ok || r.Overrun() || (r.BitsRead() + 7) / 8 != bytes) error = true;
    s.payloadValid = !error;
    if (error) return MarkError(s, channels);

    s.elementChannels = channels;
    bool inErrorState = false;
    bool restarts = true;
    for (int ch = 0; ch < channels; ++ch) {
        inErrorState = inErrorState || s.channel[ch].errorState;
        restarts = restarts && s.scratch[ch].deltaTime[0] == 0;
    }
    // Time-direction deltas build on data this channel does not have.
    if (inErrorState && !restarts) {
        for (int ch = 0; ch < channels; ++ch) s.channel[ch].frameError = true;
        return kSbrOk;
    }
    for (int ch = 0; ch < channels; ++ch) {
        s.channel[ch] = s.scratch[ch];
        s.channel[ch].frameError = false;
        s.channel[ch].errorState = false;
        s.channel[ch].valid = true;
    }
    if (!stereo) s.channel[1].valid = false;
    s.validFrameSeen = true;
    return kSbrOk;
}

void BeginPayloadProbe(SbrPayloadProbe& probe, int coreRate, float tiltDb) {
    probe.failed = false;
    probe.passed = 0;
    probe.elementChecks = coreRate > 0 && coreRate <= kMaxProbeCoreRate &&
                          InitParserState(probe.parser, 2 * coreRate, tiltDb);
}

bool ProbePayload(SbrPayloadProbe& probe, const velora::SbrFrame& frame) {
    if (probe.failed) return false;
    probe.failed = true;
    const bool stereo = frame.stereo != 0;
    // Byte 0 and the CRC field, which runs into byte 1, at the least.
    if (frame.present == 0 || frame.length < 2 || frame.length > kMaxPayloadBytes) return false;
    const uint32_t first = frame.payload[0];
    const bool header = (first & 0x20u) != 0;
    if ((first & 0xC0u) != 0xC0u || ((first & 0x10u) != 0) == stereo || (first & 0x08u) == 0 ||
        frame.kind != (header ? kKindHeader : kKindPlain))
        return false;
    if (probe.elementChecks) {
        if (ParsePayload(probe.parser, frame) != kSbrOk || !probe.parser.payloadValid) return false;
    } else {
        SbrBitReader r(frame.payload, frame.length);
        r.Skip(kSbrCrcStartBit - 7);
        const uint32_t crc = r.Read(7);
        const uint32_t computed =
            SbrCrc(frame.payload, frame.length, kSbrCrcStartBit, SbrCrcBits(stereo, header));
        if ((computed & 0x7Fu) != crc) return false;
        if (header && r.Read(2) != 0) return false;  // the only header version there is
    }
    probe.failed = false;
    ++probe.passed;
    return true;
}

}  // namespace velora::sbr
