#include "SpectrumDecoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

#include "HuffmanTables.h"
#include "Multiversion.h"

namespace velora {
namespace {

// Lookup tables built from the trees: the first K bits of a code index the first level; a
// code longer than K continues in a second level below its K-bit prefix, indexed by the
// next M bits. An entry holds a pair's x (bits 4..7) and y (bits 0..3), or a quadruple's
// v, w, x, y (bits 3..0), and three bit counts from the start of the code: the code length
// L (bits 8..12), where the sign of y sits (bits 13..17: L plus one when x is non-zero)
// and the length with all signs (bits 18..22). Bit 23 marks a pair with a 15, which takes
// linbits in the tables that have them. A second-level link has bit 31 set, the level's
// offset in bits 0..15 and M in bits 16..20.
constexpr uint32_t kLink = 0x80000000u;
constexpr uint32_t kEscape = 0x00800000u;
constexpr int kFirstBits = 8;  // even: the trees step two bits at a time
constexpr int kPoolEntries = 8192;
static_assert(kFirstBits % 2 == 0);

struct Lookups {
    int firstBits[kHuffmanTableCount];
    int firstOffset[kHuffmanTableCount];  // in `pool`; -1 without a tree
    uint32_t pool[kPoolEntries];
    int used = 0;
    bool complete = true;  // every tree fitted
};

int LongestCode(const uint32_t* tree, uint32_t node, int depth) {
    int longest = 0;
    for (uint32_t slot = 0; slot < 4; ++slot) {
        const uint32_t entry = tree[node * 4 + slot];
        if (HuffmanIsLeaf(entry)) {
            longest = std::max(longest, HuffmanLength(entry));
        } else if (depth < 20) {  // the codes are at most 19 bits
            longest = std::max(longest, LongestCode(tree, entry & 0xFF, depth + 2));
        }
    }
    return longest;
}

uint32_t LeafEntry(uint32_t leaf, bool quadruple) {
    const uint32_t value = HuffmanValue(leaf) & 0xFFu;
    const auto length = static_cast<uint32_t>(HuffmanLength(leaf));
    uint32_t signY = 0;
    uint32_t all = 0;
    uint32_t escape = 0;
    if (quadruple) {
        all = length + static_cast<uint32_t>(std::popcount(value & 15u));
        signY = length;
    } else {
        const uint32_t x = value >> 4;
        const uint32_t y = value & 15;
        signY = length + (x != 0 ? 1 : 0);
        all = signY + (y != 0 ? 1 : 0);
        escape = (x == 15 || y == 15) ? kEscape : 0;
    }
    return value | length << 8 | signY << 13 | all << 18 | escape;
}

// Fills the entries of the level at `base` (2^bits entries, reached `levelDepth` bits into
// the code) for the subtree below `node`, which starts `depth` bits into the code with the
// level-relative prefix `prefix`.
void FillLevel(Lookups& l, const uint32_t* tree, bool quadruple, uint32_t node, int depth,
               uint32_t prefix, int levelDepth, int base, int bits) {
    for (uint32_t slot = 0; slot < 4; ++slot) {
        const uint32_t entry = tree[node * 4 + slot];
        const int childDepth = depth + 2;
        const uint32_t childPrefix = prefix << 2 | slot;
        if (HuffmanIsLeaf(entry)) {
            // An odd-length code fills the range of its own prefix, from both slots.
            const int relative = HuffmanLength(entry) - levelDepth;
            const uint32_t own = childPrefix >> (childDepth - levelDepth - relative);
            const int span = bits - relative;
            if (relative < 1 || span < 0) {
                l.complete = false;
                continue;
            }
            const int first = base + static_cast<int>(own << span);
            for (int i = 0; i < (1 << span); ++i) l.pool[first + i] = LeafEntry(entry, quadruple);
        } else if (childDepth - levelDepth < bits) {
            FillLevel(l, tree, quadruple, entry & 0xFF, childDepth, childPrefix, levelDepth, base,
                      bits);
        } else {
            // The prefix ends on an inner node: a second level below it.
            const int more = LongestCode(tree, entry & 0xFF, childDepth) - childDepth;
            if (levelDepth != 0 || more < 1 || l.used + (1 << more) > kPoolEntries) {
                l.complete = false;
                continue;
            }
            const int level = l.used;
            l.used += 1 << more;
            l.pool[base + static_cast<int>(childPrefix)] =
                kLink | static_cast<uint32_t>(level) | static_cast<uint32_t>(more) << 16;
            FillLevel(l, tree, quadruple, entry & 0xFF, childDepth, 0, childDepth, level, more);
        }
    }
}

Lookups MakeLookups() {
    Lookups l{};
    for (int t = 0; t < kHuffmanTableCount; ++t) {
        const uint32_t* tree = kHuffmanTables[t].tree;
        l.firstOffset[t] = -1;
        l.firstBits[t] = 0;
        if (tree == nullptr) continue;
        // Tables with the same tree share their levels.
        bool shared = false;
        for (int u = 0; u < t && !shared; ++u) {
            if (kHuffmanTables[u].tree == tree) {
                l.firstOffset[t] = l.firstOffset[u];
                l.firstBits[t] = l.firstBits[u];
                shared = true;
            }
        }
        if (shared) continue;
        const int longest = LongestCode(tree, 0, 0);
        const int bits = std::min(kFirstBits, longest + (longest & 1));  // whole tree steps
        if (l.used + (1 << bits) > kPoolEntries) {
            l.complete = false;
            continue;
        }
        l.firstOffset[t] = l.used;
        l.firstBits[t] = bits;
        l.used += 1 << bits;
        FillLevel(l, tree, t >= 32, 0, 0, 0, 0, l.firstOffset[t], bits);
    }
    return l;
}

const Lookups kLookups = MakeLookups();

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

// The decoded values as integers (the encoder's tests read them), or as their magnitudes to
// the power 4/3 with the sign, ready for the band gains.
struct IntegerLines {
    int32_t* out;
    void Put(int i, int32_t magnitude, uint32_t negative) const {
        out[i] = negative ? -magnitude : magnitude;
    }
    // A magnitude of 0 or 1.
    void PutSmall(int i, int32_t magnitude, uint32_t negative) const {
        out[i] = (magnitude ^ -static_cast<int32_t>(negative)) + static_cast<int32_t>(negative);
    }
    bool Zero(int i) const { return out[i] == 0; }
    void Clear(int i) const { out[i] = 0; }
};

struct PoweredLines {
    float* out;
    static float Signed(float magnitude, uint32_t negative) {
        return std::bit_cast<float>(std::bit_cast<uint32_t>(magnitude) | negative << 31);
    }
    void Put(int i, int32_t magnitude, uint32_t negative) const {
        out[i] = Signed(Pow43(magnitude), negative);
    }
    void PutSmall(int i, int32_t magnitude, uint32_t negative) const {
        out[i] = Signed(static_cast<float>(magnitude), negative);
    }
    bool Zero(int i) const { return out[i] == 0.0f; }
    void Clear(int i) const { out[i] = 0.0f; }
};

// Reads whole 32-bit words from the buffer's storage into a 64-bit cache, most significant
// bit first; the buffer itself moves once, at the end.
class BitCache {
public:
    explicit BitCache(const BitBuffer& buffer)
        : data_(buffer.Storage()), mask_(buffer.StorageMask()) {
        const uint32_t position = buffer.ReadPosition();
        byte_ = position >> 3;
        Refill();
        Drop(static_cast<int>(position & 7));
        start_ = Used();
    }
    // The next 64 bits; at least 32 of them are valid after Refill.
    uint64_t Bits() const { return cache_; }
    void Drop(int bits) {
        cache_ <<= bits;
        valid_ -= bits;
    }
    void Refill() {
        if (valid_ > 32) return;
        cache_ |= static_cast<uint64_t>(Word()) << (32 - valid_);
        valid_ += 32;
        byte_ += 4;
        loaded_ += 32;
    }
    // Reads 1..13 bits.
    uint32_t Read(int bits) {
        Refill();
        const auto value = static_cast<uint32_t>(cache_ >> (64 - bits));
        Drop(bits);
        return value;
    }
    // Bits read since the cache was set up.
    int Consumed() const { return Used() - start_; }

private:
    int Used() const { return loaded_ - valid_; }
    uint32_t Word() const {
        const uint32_t at = byte_ & mask_;
        if (at + 4 <= mask_ + 1) {
            uint32_t raw;
            std::memcpy(&raw, data_ + at, sizeof(raw));
            if constexpr (std::endian::native == std::endian::little) raw = __builtin_bswap32(raw);
            return raw;
        }
        uint32_t word = 0;
        for (uint32_t i = 0; i < 4; ++i) word = word << 8 | data_[(at + i) & mask_];
        return word;
    }

    const uint8_t* data_;
    uint32_t mask_;
    uint32_t byte_ = 0;
    uint64_t cache_ = 0;
    int valid_ = 0;
    int loaded_ = 0;
    int start_ = 0;
};

// The entry for the code at the front of `bits`.
inline uint32_t LookUp(int first, int firstBits, uint64_t bits) {
    uint32_t entry = kLookups.pool[first + static_cast<int>(bits >> (64 - firstBits))];
    if (entry & kLink) {
        const int more = static_cast<int>((entry >> 16) & 31);
        const auto index = static_cast<int>((bits << firstBits) >> (64 - more));
        entry = kLookups.pool[static_cast<int>(entry & 0xFFFF) + index];
    }
    return entry;
}

inline int CodeLength(uint32_t entry) { return static_cast<int>((entry >> 8) & 31); }
inline int SignYAt(uint32_t entry) { return static_cast<int>((entry >> 13) & 31); }
inline int WithSigns(uint32_t entry) { return static_cast<int>((entry >> 18) & 31); }

inline uint32_t BitAt(uint64_t bits, int at) { return static_cast<uint32_t>((bits << at) >> 63); }

template <typename Lines>
[[gnu::always_inline]] inline int DecodeLines(BitBuffer& buffer, const GranuleInfo& info, const ScaleFactorBands& bands,
                                              int version, const Lines& lines) {
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

    BitCache cache(buffer);
    const int consumedBefore = buffer.Consumed();
    int line = 0;
    for (int r = 0; r < 3; ++r) {
        const int tableIndex = info.table_select[r] & 31;
        const int first = kLookups.firstOffset[tableIndex];
        const int firstBits = kLookups.firstBits[tableIndex];
        const int end = regionEnd[r];
        if (first < 0) {
            for (; line < end; ++line) lines.Clear(line);
            continue;
        }
        const int linbits = kHuffmanTables[tableIndex].linbits;
        for (; line < end; line += 2) {  // region ends are even
            cache.Refill();
            const uint64_t bits = cache.Bits();
            const uint32_t entry = LookUp(first, firstBits, bits);
            int32_t x = static_cast<int32_t>((entry >> 4) & 15);
            int32_t y = static_cast<int32_t>(entry & 15);
            if (linbits == 0 || (entry & kEscape) == 0) {
                // Code and both signs are within the cache's valid bits.
                const int length = CodeLength(entry);
                const int signY = SignYAt(entry);
                const int all = WithSigns(entry);
                lines.Put(line, x, BitAt(bits, length) & static_cast<uint32_t>(signY - length));
                lines.Put(line + 1, y, BitAt(bits, signY) & static_cast<uint32_t>(all - signY));
                cache.Drop(all);
                continue;
            }
            cache.Drop(CodeLength(entry));
            if (x == 15) x += static_cast<int32_t>(cache.Read(linbits));
            lines.Put(line, x, x != 0 ? cache.Read(1) : 0);
            if (y == 15) y += static_cast<int32_t>(cache.Read(linbits));
            lines.Put(line + 1, y, y != 0 ? cache.Read(1) : 0);
        }
    }

    const int count1Table = 32 + (info.count1table_select & 1);
    const int first = kLookups.firstOffset[count1Table];
    const int firstBits = kLookups.firstBits[count1Table];
    const int limit = info.part2_3_length - consumedBefore;
    while (line <= 572 && cache.Consumed() < limit) {
        cache.Refill();
        const uint64_t bits = cache.Bits();
        const uint32_t entry = LookUp(first, firstBits, bits);
        int at = CodeLength(entry);
        for (int k = 0; k < 4; ++k) {
            const uint32_t on = (entry >> (3 - k)) & 1;
            lines.PutSmall(line + k, static_cast<int32_t>(on), BitAt(bits, at) & on);
            at += static_cast<int>(on);
        }
        cache.Drop(WithSigns(entry));
        line += 4;
    }
    if (cache.Consumed() > limit && line > bigEnd) {
        // The last quadruple ran past the granule's data: it is not part of it.
        line -= 4;
    }
    buffer.Skip(cache.Consumed());

    int nonzero = line;
    while (nonzero > 0 && lines.Zero(nonzero - 1)) --nonzero;
    for (int i = nonzero; i < 576; ++i) lines.Clear(i);
    return nonzero;
}

// Requantises lines [begin, end) with gain index g; bands outside the table are silent.
inline void ScaleLines(const float* powered, float* spectrum, int begin, int end, int g) {
    if (g < 0 || g > 127) {
        for (int i = begin; i < end; ++i) spectrum[i] = 0.0f;
        return;
    }
    const float gain = kRequant.gain[static_cast<size_t>(g)];
    for (int i = begin; i < end; ++i) spectrum[i] = powered[i] * gain;
}

}  // namespace

bool HuffmanLookupsComplete() { return kLookups.complete; }

int DecodeHuffman(BitBuffer& buffer, const GranuleInfo& info, const ScaleFactorBands& bands,
                  int version, int32_t values[576]) {
    return DecodeLines(buffer, info, bands, version, IntegerLines{values});
}

// The decoder's own path, also built for processors with single-cycle variable shifts.
VELORA_MULTIVERSION int DecodePowered(BitBuffer& buffer, const GranuleInfo& info,
                                      const ScaleFactorBands& bands, int version,
                                      float powered[576]) {
    return DecodeLines(buffer, info, bands, version, PoweredLines{powered});
}

void Requantise(const float powered[576], GranuleInfo& info, const ScaleFactors& factors,
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
        ScaleLines(powered, spectrum, begin, end, (factors.longBands[band] + pre) * m + gainOffset);
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
            ScaleLines(powered, spectrum, begin, end, g);
            for (int i = begin; i < end; ++i) {
                if (powered[i] != 0.0f) {
                    info.shortBandCount[w] = band + 1;
                    break;
                }
            }
        }
    }
}

}  // namespace velora
