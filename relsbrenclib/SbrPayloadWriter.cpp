#include "SbrPayloadWriter.h"

#include "SbrCrc.h"

namespace velora::sbr {

namespace {

constexpr int kMaxPayload = 511;  // first byte and up to 510 more
constexpr int kBufferBytes = static_cast<int>(sizeof(velora::SbrFrame::payload));

class BitWriter {
public:
    explicit BitWriter(uint8_t* data) : data_(data) {
        for (int i = 0; i < kBufferBytes; ++i) data_[i] = 0;
    }

    // Values that do not fit `bits` make the payload invalid rather than being cut.
    void Put(int value, int bits) {
        if (value < 0 || (bits < 31 && value >= (1 << bits))) ok_ = false;
        PutBits(static_cast<uint32_t>(value), bits);
    }

    void PutBits(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (position_ >= kBufferBytes * 8) {
                ok_ = false;
                return;
            }
            if ((value >> i) & 1u) data_[position_ >> 3] |= static_cast<uint8_t>(0x80u >> (position_ & 7));
            ++position_;
        }
    }

    void Fail() { ok_ = false; }
    bool Ok() const { return ok_; }
    int Position() const { return position_; }

private:
    uint8_t* data_;
    int position_ = 0;
    bool ok_ = true;
};

int PointerBits(int relativeBorders) {
    const int n = relativeBorders + 2;
    if (n <= 2) return 1;
    if (n <= 4) return 2;
    return 3;
}

// A border step of 2 * rel + 2 slots, rel in 0..3.
bool RelativeBorder(int step, int& rel) {
    if (step < 2 || step > 8 || (step & 1) != 0) return false;
    rel = step / 2 - 1;
    return true;
}

void WriteGrid(BitWriter& w, const SbrFrameInfo& g) {
    const int n = g.envelopes;
    if (n < 1 || n > kMaxEnvelopes) {
        w.Fail();
        return;
    }
    w.Put(g.frameClass, 2);
    switch (g.frameClass) {
        case 0:
            w.Put(n == 1 ? 0 : (n == 2 ? 1 : 2), 2);
            if (n == 3) w.Fail();
            w.Put(g.freqRes[0], 1);
            break;
        case 1: {
            const int count = n - 1;
            if (g.borders[0] != 0) w.Fail();
            w.Put(g.borders[n] - kFrameSlots, 3);
            w.Put(count, 2);
            for (int i = 0; i < count; ++i) {
                int rel = 0;
                if (!RelativeBorder(g.borders[n - i] - g.borders[n - 1 - i], rel)) w.Fail();
                w.Put(rel, 2);
            }
            w.Put(g.pointer > 0 ? count + 2 - g.pointer : 0, PointerBits(count));
            for (int i = n - 1; i >= 0; --i) w.Put(g.freqRes[i], 1);
            break;
        }
        case 2: {
            const int count = n - 1;
            if (g.borders[n] != kFrameSlots) w.Fail();
            w.Put(g.borders[0], 3);
            w.Put(count, 2);
            for (int i = 0; i < count; ++i) {
                int rel = 0;
                if (!RelativeBorder(g.borders[i + 1] - g.borders[i], rel)) w.Fail();
                w.Put(rel, 2);
            }
            // A stored pointer of 0 stands for 0 or 1; the middle noise border tells them apart.
            int p = 0;
            if (g.pointer > 0)
                p = g.pointer + 1;
            else if (g.noiseEnvelopes == 2 && g.noiseBorders[1] != g.borders[1])
                p = 1;
            w.Put(p, PointerBits(count));
            for (int i = 0; i < n; ++i) w.Put(g.freqRes[i], 1);
            break;
        }
        default: {
            // The borders do not record how they split into leading and trailing ones:
            // take the split with the most leading borders whose steps can all be coded.
            int lead = n - 1 < 3 ? n - 1 : 3;
            for (; lead >= 0; --lead) {
                const int t = n - 1 - lead;
                if (t > 3) {
                    lead = -1;
                    break;
                }
                bool codable = true;
                int rel = 0;
                for (int i = 0; i < lead; ++i) codable = codable && RelativeBorder(g.borders[i + 1] - g.borders[i], rel);
                for (int i = 0; i < t; ++i) codable = codable && RelativeBorder(g.borders[n - i] - g.borders[n - 1 - i], rel);
                if (codable) break;
            }
            if (lead < 0) {
                lead = n - 1 < 3 ? n - 1 : 3;
                w.Fail();
            }
            const int trail = n - 1 - lead;
            w.Put(g.borders[0], 3);
            w.Put(g.borders[n] - kFrameSlots, 3);
            w.Put(lead, 2);
            w.Put(trail, 2);
            for (int i = 0; i < lead; ++i) {
                int rel = 0;
                if (!RelativeBorder(g.borders[i + 1] - g.borders[i], rel)) w.Fail();
                w.Put(rel, 2);
            }
            for (int i = 0; i < trail; ++i) {
                int rel = 0;
                if (!RelativeBorder(g.borders[n - i] - g.borders[n - 1 - i], rel)) w.Fail();
                w.Put(rel, 2);
            }
            w.Put(g.pointer > 0 ? lead + trail + 2 - g.pointer : 0, PointerBits(lead + trail));
            for (int i = 0; i < n; ++i) w.Put(g.freqRes[i], 1);
            break;
        }
    }
}

void WriteHeader(BitWriter& w, const SbrHeader& h, const SbrWriteOptions& o) {
    w.Put(h.version, 2);
    w.Put(h.ampRes, 1);
    w.Put(h.startFreq, 4);
    w.Put(h.stopFreq, 4);
    w.Put(h.xoverBand, 3);
    w.Put(0, 2);
    w.Put(h.flagA, 1);
    w.Put(o.extra1 ? 1 : 0, 1);
    w.Put(o.extra2 ? 1 : 0, 1);
    if (!o.stereo) w.Put(h.pseudoStereoWidth, 2);
    if (o.extra1) {
        w.Put(h.freqScale, 2);
        w.Put(h.alterScale, 1);
        w.Put(h.noiseBands, 2);
    }
    if (o.extra2) {
        w.Put(h.limiterBands, 2);
        w.Put(h.limiterGains, 2);
        w.Put(h.interpolFreq, 1);
        w.Put(h.smoothingMode, 1);
        w.Put(0, 1);
    }
}

void WriteDirections(BitWriter& w, const SbrChannelData& c) {
    for (int e = 0; e < c.grid.envelopes && e < kMaxEnvelopes; ++e) w.Put(c.deltaTime[e], 1);
    for (int e = 0; e < c.grid.noiseEnvelopes && e < kMaxNoiseEnvelopes; ++e) w.Put(c.noiseDeltaTime[e], 1);
}

void WriteCode(BitWriter& w, const SbrHuffmanCodeTable& table, int symbol) {
    if (!table.Has(symbol)) {
        w.Fail();
        return;
    }
    const int at = symbol - table.symbolMin;
    w.PutBits(table.bits[at], table.length[at]);
}

// Balance values are stored doubled; the stream carries them halved.
bool Unscale(int value, bool balance, int& out) {
    if (balance && (value & 1) != 0) return false;
    out = balance ? value / 2 : value;
    return true;
}

const SbrHuffmanCodeTable& EnvelopeCodes(const SbrHuffmanCodeTable* codes, bool balance, int ampRes, bool time) {
    SbrCodebook book;
    if (balance)
        book = ampRes == 0 ? (time ? SbrCodebook::kBalance15Time : SbrCodebook::kBalance15Freq)
                           : (time ? SbrCodebook::kBalance30Time : SbrCodebook::kBalance30Freq);
    else
        book = ampRes == 0 ? (time ? SbrCodebook::kEnvelope15Time : SbrCodebook::kEnvelope15Freq)
                           : (time ? SbrCodebook::kEnvelope30Time : SbrCodebook::kEnvelope30Freq);
    return codes[static_cast<int>(book)];
}

const SbrHuffmanCodeTable& NoiseCodes(const SbrHuffmanCodeTable* codes, bool balance, bool time) {
    SbrCodebook book;
    if (balance)
        book = time ? SbrCodebook::kNoiseBalanceTime : SbrCodebook::kBalance30Freq;
    else
        book = time ? SbrCodebook::kNoiseTime : SbrCodebook::kEnvelope30Freq;
    return codes[static_cast<int>(book)];
}

void WriteEnvelopes(BitWriter& w, const SbrHuffmanCodeTable* codes, int ampRes, const SbrFreqData& f,
                    const SbrChannelData& c, bool balance) {
    const int firstBits = (ampRes == 0 ? 7 : 6) - (balance ? 1 : 0);
    for (int e = 0; e < c.grid.envelopes && e < kMaxEnvelopes; ++e) {
        const int bands = c.grid.freqRes[e] != 0 ? f.highBands : f.lowBands;
        if (bands < 1 || bands > kMaxMasterBands) {
            w.Fail();
            return;
        }
        const bool time = c.deltaTime[e] != 0;
        const SbrHuffmanCodeTable& table = EnvelopeCodes(codes, balance, ampRes, time);
        for (int k = 0; k < bands; ++k) {
            int value = 0;
            if (!Unscale(c.envelope[e][k], balance, value)) w.Fail();
            if (!time && k == 0)
                w.Put(value, firstBits);
            else
                WriteCode(w, table, value);
        }
    }
}

void WriteNoise(BitWriter& w, const SbrHuffmanCodeTable* codes, const SbrFreqData& f, const SbrChannelData& c,
                bool balance) {
    const int bands = f.noiseBandCount;
    if (bands < 1 || bands > kMaxNoiseBands) {
        w.Fail();
        return;
    }
    for (int e = 0; e < c.grid.noiseEnvelopes && e < kMaxNoiseEnvelopes; ++e) {
        const bool time = c.noiseDeltaTime[e] != 0;
        const SbrHuffmanCodeTable& table = NoiseCodes(codes, balance, time);
        for (int k = 0; k < bands; ++k) {
            int value = 0;
            if (!Unscale(c.noise[e][k], balance, value)) w.Fail();
            if (!time && k == 0)
                w.Put(value, 5);
            else
                WriteCode(w, table, value);
        }
    }
}

void WriteWaveform(BitWriter& w, const SbrChannelData& c) {
    if (c.waveformGroups <= 0) {
        w.Put(0, 1);
        return;
    }
    if (c.waveformGroups > kMaxWaveformGroups) {
        w.Fail();
        return;
    }
    w.Put(1, 1);
    w.Put(c.waveformGroups - 1, 2);
    for (int g = 0; g < c.waveformGroups; ++g) {
        const SbrWaveformGroup& group = c.waveform[g];
        if (group.bands < 1 || group.bands > kMaxWaveformBands || group.timeRange < 1 || group.timeRange > 3) {
            w.Fail();
            return;
        }
        w.Put(group.firstBand, 6);
        w.Put(group.bands - 1, 2);
        w.Put(group.timeRange, 2);
        w.Put(group.fadeOut, 1);
        const int first = group.timeRange == 1 ? 9 : 0;
        const int end = group.timeRange == 2 ? 9 : kFrameSubsamples;
        for (int b = 0; b < group.bands; ++b) {
            const int width = group.width[b];
            if (width != 4 && width != 5) {
                w.Fail();
                return;
            }
            w.Put(width - 4, 1);
            w.Put(group.scaleIndex[b], 5);
            for (int s = first; s < end; ++s) {
                const int v = group.values[b][s];
                const int magnitude = v < 0 ? -v : v;
                w.Put(magnitude, width - 1);
                if (magnitude != 0) w.Put(v < 0 ? 1 : 0, 1);
            }
        }
    }
}

void WriteExtension(BitWriter& w, const SbrWriteOptions& o) {
    if (!o.extension) {
        w.Put(0, 1);
        return;
    }
    const int count = o.extensionBytes;
    if (count < 0 || count > 15 + 255) {
        w.Fail();
        return;
    }
    w.Put(1, 1);
    if (count < 15) {
        w.Put(count, 4);
    } else {
        w.Put(15, 4);
        w.Put(count - 15, 8);
    }
    for (int i = 0; i < count; ++i) w.Put(o.extensionData != nullptr ? o.extensionData[i] : 0, 8);
}

void WriteInvf(BitWriter& w, const SbrHeader& h, const SbrChannelData& c) {
    w.Put(c.invfMode, 2);
    w.Put(c.secondField, 2);
    if (h.flagA != 0) w.Put(c.patchMode, 3);
}

}  // namespace

bool SbrHuffmanCodeTable::Build(const SbrHuffmanTree& tree) {
    symbolMin = tree.symbolMin;
    symbolMax = tree.symbolMax;
    for (int i = 0; i < kMaxSymbols; ++i) {
        bits[i] = 0;
        length[i] = 0;
    }
    if (tree.pairs == nullptr || tree.pairCount <= 0 || tree.pairCount > kMaxSymbols ||
        symbolMax - symbolMin + 1 > kMaxSymbols)
        return false;
    // Depth-first walk; children always lie after their parent, so the stack stays small
    // and the walk ends.
    struct Item {
        int pair;
        uint32_t bits;
        int length;
    };
    Item stack[kMaxSymbols];
    int top = 0;
    stack[top++] = {0, 0, 0};
    while (top > 0) {
        const Item item = stack[--top];
        if (item.length >= 32) return false;
        for (int bit = 0; bit < 2; ++bit) {
            const int entry = tree.pairs[item.pair][bit];
            const uint32_t code = (item.bits << 1) | static_cast<uint32_t>(bit);
            if (entry < 0) {
                const int symbol = entry + kSbrLeafOffset;
                if (symbol < symbolMin || symbol > symbolMax) return false;
                const int at = symbol - symbolMin;
                if (length[at] != 0) return false;
                bits[at] = code;
                length[at] = item.length + 1;
            } else {
                if (entry <= item.pair || entry >= tree.pairCount || top >= kMaxSymbols) return false;
                stack[top++] = {entry, code, item.length + 1};
            }
        }
    }
    return true;
}

SbrPayloadWriter::SbrPayloadWriter() {
    ready_ = true;
    for (int i = 0; i < kSbrCodebookCount; ++i) ready_ = codes_[i].Build(kSbrHuffmanTrees[i]) && ready_;
}

bool SbrPayloadWriter::Write(const SbrHeader& header, const SbrWriteOptions& o, const SbrChannelData* channels,
                             const SbrFreqData& freq, velora::SbrFrame& out) const {
    out.present = 0;
    out.length = 0;
    out.stereo = o.stereo ? 1 : 0;
    out.kind = o.writeHeader ? 13 : 12;
    if (!ready_ || channels == nullptr) return false;

    BitWriter w(out.payload);
    // Marker 0b11HM: H = header present, M = single-channel core.
    w.Put(0xC | (o.writeHeader ? 2 : 0) | (o.stereo ? 0 : 1), 4);
    w.Put(1, 1);  // CRC flag
    w.Put(0, 7);  // CRC, filled in below
    if (o.writeHeader) WriteHeader(w, header, o);

    const int ampRes = header.ampRes;
    if (!o.stereo) {
        const SbrChannelData& c = channels[0];
        w.Put(o.streamFlag, 1);
        w.Put(o.outputMode, 1);
        WriteGrid(w, c.grid);
        WriteDirections(w, c);
        WriteInvf(w, header, c);
        WriteEnvelopes(w, codes_, ampRes, freq, c, false);
        WriteNoise(w, codes_, freq, c, false);
        WriteWaveform(w, c);
    } else {
        const SbrChannelData& c0 = channels[0];
        const SbrChannelData& c1 = channels[1];
        w.Put(o.streamFlag, 1);
        w.Put(o.coupled ? 1 : 0, 1);
        WriteGrid(w, c0.grid);
        if (!o.coupled) WriteGrid(w, c1.grid);
        WriteDirections(w, c0);
        if (o.coupled) {
            // The second channel's directions are its own; its grid is the first one's.
            for (int e = 0; e < c0.grid.envelopes && e < kMaxEnvelopes; ++e) w.Put(c1.deltaTime[e], 1);
            for (int e = 0; e < c0.grid.noiseEnvelopes && e < kMaxNoiseEnvelopes; ++e)
                w.Put(c1.noiseDeltaTime[e], 1);
            WriteInvf(w, header, c0);
            WriteEnvelopes(w, codes_, ampRes, freq, c0, false);
            WriteNoise(w, codes_, freq, c0, false);
            SbrChannelData const* second = &c1;
            // Envelope counts follow the shared grid.
            SbrChannelData shared;
            if (c1.grid.envelopes != c0.grid.envelopes) {
                shared = c1;
                shared.grid = c0.grid;
                second = &shared;
            }
            WriteEnvelopes(w, codes_, ampRes, freq, *second, true);
            WriteNoise(w, codes_, freq, *second, true);
        } else {
            WriteDirections(w, c1);
            w.Put(c0.invfMode, 2);
            w.Put(c1.invfMode, 2);
            w.Put(c0.secondField, 2);
            w.Put(c1.secondField, 2);
            if (header.flagA != 0) {
                w.Put(c0.patchMode, 3);
                w.Put(c1.patchMode, 3);
            }
            WriteEnvelopes(w, codes_, ampRes, freq, c0, false);
            WriteEnvelopes(w, codes_, ampRes, freq, c1, false);
            WriteNoise(w, codes_, freq, c0, false);
            WriteNoise(w, codes_, freq, c1, false);
        }
        WriteWaveform(w, c0);
        WriteWaveform(w, c1);
    }
    WriteExtension(w, o);
    if (!w.Ok()) return false;

    const int bytes = (w.Position() + 7) / 8;
    if (bytes > kMaxPayload) return false;
    uint32_t crc = SbrCrc(out.payload, bytes, kSbrCrcStartBit, SbrCrcBits(o.stereo, o.writeHeader)) & 0x7Fu;
    if (o.corruptCrc) crc ^= 0x01u;
    // CRC bits 5..11: the low 3 bits of byte 0 and the top 4 of byte 1.
    out.payload[0] = static_cast<uint8_t>((out.payload[0] & 0xF8u) | (crc >> 4));
    out.payload[1] = static_cast<uint8_t>((out.payload[1] & 0x0Fu) | ((crc & 0x0Fu) << 4));
    out.length = bytes;
    out.present = 1;
    return true;
}

}  // namespace velora::sbr
