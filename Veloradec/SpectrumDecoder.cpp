#include "SpectrumDecoder.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "HuffmanTables.h"

namespace velora {
namespace {

// The first four steps of every tree resolved for all 8-bit look-aheads: most codes are
// short, so one lookup usually finds the leaf; otherwise the walk resumes at the node
// reached. Entries use the tree's own format.
struct FirstSteps {
    uint32_t entry[kHuffmanTableCount][256];
};

FirstSteps MakeFirstSteps() {
    FirstSteps f{};
    for (int t = 0; t < kHuffmanTableCount; ++t) {
        const uint32_t* tree = kHuffmanTables[t].tree;
        if (tree == nullptr) continue;
        for (uint32_t bits = 0; bits < 256; ++bits) {
            uint32_t node = 0;
            uint32_t entry = 0;
            for (int step = 0; step < 4; ++step) {
                entry = tree[node * 4 + ((bits >> (6 - 2 * step)) & 3)];
                if (HuffmanIsLeaf(entry)) break;
                node = entry & 0xFF;
            }
            f.entry[t][bits] = entry;
        }
    }
    return f;
}

const FirstSteps kFirstSteps = MakeFirstSteps();

// One pair or quadruple from a 4-way tree, two bits per step, from a 32-bit look-ahead
// (the longest code is 19 bits). Returns the value; `length` receives the code length (an
// odd-length code gives back its last bit).
inline int WalkTree(int table, const uint32_t* tree, uint32_t bits, int& length) {
    const uint32_t first = kFirstSteps.entry[table][bits >> 24];
    if (HuffmanIsLeaf(first)) {
        length = HuffmanLength(first);
        return HuffmanValue(first);
    }
    uint32_t node = first & 0xFF;
    int used = 8;
    for (;;) {
        const uint32_t entry = tree[node * 4 + (bits >> (30 - used) & 3)];
        used += 2;
        if (HuffmanIsLeaf(entry)) {
            length = HuffmanLength(entry);
            return HuffmanValue(entry);
        }
        node = entry & 0xFF;
    }
}

// Takes the sign bit of a non-zero value from the look-ahead.
inline int32_t SignFrom(uint32_t bits, int& used, int32_t magnitude) {
    if (magnitude == 0) return 0;
    const bool negative = (bits << used) & 0x80000000u;
    ++used;
    return negative ? -magnitude : magnitude;
}

inline int32_t WithSign(BitBuffer& buffer, int32_t magnitude) {
    if (magnitude == 0) return 0;
    return buffer.Read(1) ? -magnitude : magnitude;
}

// Magnitudes up to this come from the table (it stays in the first-level cache); larger
// ones, which need long escape codes, are rare.
constexpr int kTableMagnitudes = 1024;

struct RequantTables {
    std::array<float, kTableMagnitudes> pow43;
    std::array<float, 128> gain;  // 32768 * 2^(-g/4)
};

RequantTables MakeRequantTables() {
    RequantTables t{};
    for (int i = 0; i < kTableMagnitudes; ++i) {
        t.pow43[static_cast<size_t>(i)] = static_cast<float>(std::pow(i, 4.0 / 3.0));
    }
    for (int i = 0; i < 128; ++i) {
        t.gain[static_cast<size_t>(i)] = static_cast<float>(32768.0 * std::pow(2.0, -i / 4.0));
    }
    return t;
}

const RequantTables kRequant = MakeRequantTables();

inline float Pow43(int32_t magnitude) {
    if (magnitude < kTableMagnitudes) return kRequant.pow43[static_cast<size_t>(magnitude)];
    return static_cast<float>(std::pow(static_cast<double>(magnitude), 4.0 / 3.0));
}

// Requantises lines [begin, end) with gain index g; bands outside the table are silent.
inline void ScaleLines(const int32_t* values, float* spectrum, int begin, int end, int g) {
    if (g < 0 || g > 127) {
        for (int i = begin; i < end; ++i) spectrum[i] = 0.0f;
        return;
    }
    const float gain = kRequant.gain[static_cast<size_t>(g)];
    for (int i = begin; i < end; ++i) {
        const int32_t v = values[i];
        const float magnitude = Pow43(v < 0 ? -v : v) * gain;
        spectrum[i] = v < 0 ? -magnitude : magnitude;
    }
}

}  // namespace

namespace {
int DecodeLines(BitBuffer& buffer, const GranuleInfo& info, const ScaleFactorBands& bands,
                int version, int32_t values[576]);
}  // namespace

int DecodeHuffman(BitBuffer& reservoir, const GranuleInfo& info, const ScaleFactorBands& bands,
                  int version, int32_t values[576]) {
    // A local copy keeps the read position in registers through the loops.
    BitBuffer buffer = reservoir;
    const int nonzero = DecodeLines(buffer, info, bands, version, values);
    reservoir = buffer;
    return nonzero;
}

namespace {

int DecodeLines(BitBuffer& buffer, const GranuleInfo& info, const ScaleFactorBands& bands,
                int version, int32_t values[576]) {
    const int bigEnd = std::min(2 * info.big_values, 576);
    int region1 = 0;
    int region2 = 0;
    if (info.ShortBlocks() && !info.MixedBlocks()) {
        region1 = 3 * bands.shortBounds[static_cast<size_t>((info.region0_count + 1) / 3)];
        region2 = 576;
    } else if (info.MixedBlocks()) {
        region1 = version == 0 ? bands.longBounds[static_cast<size_t>(info.region0_count + 1)]
                               : bands.longBounds[6] +
                                     2 * (bands.shortBounds[4] - bands.shortBounds[3]);
        region2 = 576;
    } else {
        region1 = bands.longBounds[static_cast<size_t>(std::min(info.region0_count + 1, 22))];
        region2 = bands.longBounds[static_cast<size_t>(
            std::min(info.region0_count + info.region1_count + 2, 22))];
    }
    region1 = std::min(region1, bigEnd);
    region2 = std::min(std::max(region2, region1), bigEnd);
    const int regionEnd[3] = {region1, region2, bigEnd};

    int line = 0;
    for (int r = 0; r < 3; ++r) {
        const int tableIndex = info.table_select[r] & 31;
        const HuffmanTable& table = kHuffmanTables[tableIndex];
        const int end = regionEnd[r];
        if (table.tree == nullptr) {
            for (; line < end; ++line) values[line] = 0;
            continue;
        }
        const int linbits = table.linbits;
        for (; line < end; line += 2) {  // region ends are even
            const uint32_t bits = buffer.Peek32();
            int used = 0;
            const int pair = WalkTree(tableIndex, table.tree, bits, used);
            int32_t x = pair >> 4;
            int32_t y = pair & 15;
            if (linbits == 0 || (x != 15 && y != 15)) {
                // Code and both signs fit in the look-ahead.
                values[line] = SignFrom(bits, used, x);
                values[line + 1] = SignFrom(bits, used, y);
                buffer.Skip(used);
                continue;
            }
            buffer.Skip(used);
            if (x == 15) x += static_cast<int32_t>(buffer.Read(linbits));
            x = WithSign(buffer, x);
            if (y == 15) y += static_cast<int32_t>(buffer.Read(linbits));
            y = WithSign(buffer, y);
            values[line] = x;
            values[line + 1] = y;
        }
    }

    const int count1Table = 32 + (info.count1table_select & 1);
    const uint32_t* count1Tree = kHuffmanTables[count1Table].tree;
    const int limit = info.part2_3_length;
    while (line <= 572 && buffer.Consumed() < limit) {
        const uint32_t bits = buffer.Peek32();
        int used = 0;
        const int quad = WalkTree(count1Table, count1Tree, bits, used);
        values[line] = SignFrom(bits, used, (quad >> 3) & 1);
        values[line + 1] = SignFrom(bits, used, (quad >> 2) & 1);
        values[line + 2] = SignFrom(bits, used, (quad >> 1) & 1);
        values[line + 3] = SignFrom(bits, used, quad & 1);
        buffer.Skip(used);
        line += 4;
    }
    if (buffer.Consumed() > limit && line > bigEnd) {
        // The last quadruple ran past the granule's data: it is not part of it.
        line -= 4;
    }

    int nonzero = line;
    while (nonzero > 0 && values[nonzero - 1] == 0) --nonzero;
    for (int i = nonzero; i < 576; ++i) values[i] = 0;
    return nonzero;
}

}  // namespace

void Requantise(const int32_t values[576], GranuleInfo& info, const ScaleFactors& factors,
                const ScaleFactorBands& bands, int version, float spectrum[576]) {
    const int nonzero = info.nonzeroLines;
    const int m = info.scalefac_scale ? 4 : 2;
    const int gainOffset = 210 - info.global_gain;

    for (int i = 0; i < 576; ++i) spectrum[i] = 0.0f;

    int longBands = 22;
    int firstShort = 0;
    if (info.ShortBlocks()) {
        longBands = info.MixedBlocks() ? (version == 0 ? 8 : 6) : 0;
        firstShort = info.MixedBlocks() ? 3 : 0;
    }

    int lastLongBand = 0;
    for (int band = 0; band < longBands; ++band) {
        const int begin = bands.longBounds[static_cast<size_t>(band)];
        if (begin >= nonzero) break;
        const int end = std::min(bands.longBounds[static_cast<size_t>(band) + 1], nonzero);
        const int pre = info.preflag ? kPretab[band] : 0;
        ScaleLines(values, spectrum, begin, end, (factors.longBands[band] + pre) * m + gainOffset);
        lastLongBand = band + 1;
    }
    info.longBandCount = lastLongBand;

    for (int w = 0; w < 3; ++w) info.shortBandCount[w] = firstShort;
    if (longBands == 22) return;

    for (int band = firstShort; band < 13; ++band) {
        const int start = bands.shortBounds[static_cast<size_t>(band)];
        const int width = bands.shortBounds[static_cast<size_t>(band) + 1] - start;
        if (3 * start >= nonzero) break;
        for (int w = 0; w < 3; ++w) {
            const int begin = 3 * start + w * width;
            const int end = std::min(begin + width, nonzero);
            if (begin >= end) continue;
            const int g = 8 * info.subblock_gain[w] + m * factors.shortBands[band][w] + gainOffset;
            ScaleLines(values, spectrum, begin, end, g);
            for (int i = begin; i < end; ++i) {
                if (values[i] != 0) {
                    info.shortBandCount[w] = band + 1;
                    break;
                }
            }
        }
    }
}

}  // namespace velora
