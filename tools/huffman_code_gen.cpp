// huffman_code_gen INPUT OUTPUT.cpp
//
// Turns the Layer III Huffman code list (Veloradec/tables/huffman_codes.txt) into the
// encoder's tables behind Veloraenc/mp3fastenc/HuffmanCodes.h: the code word and length of
// every pair of the big-value tables and of every quadruple of the two count1 tables, and the
// packed bit counts (code length plus sign bits) with which the spectrum coder counts two or
// three candidate tables in one pass. The input is checked: every table complete, no code a
// prefix of another. The output is written to a temporary file and renamed, so an interrupted
// build never leaves a partial source behind.

#include "GeneratedFile.h"
#include "Layer3HuffmanText.h"
#include "TextTable.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using layer3::Code;
using layer3::kFirstCount1Table;
using layer3::kTableCount;
using layer3::Table;
using layer3::Tables;

constexpr const char* kTool = "huffman_code_gen";
constexpr int kMaxCodeLength = 19;  // the longest Layer III code word
constexpr int kPairEntries = 256;   // index (x << 4) | y

// No tree is built here, so prefix codes are caught while reading. The tables index a count1
// table by all 16 quadruples and a table with LINBITS by the 16 x 16 pairs of its escape.
constexpr layer3::Rules kRules{.maxCodeLength = kMaxCodeLength,
                               .maxLinbits = 13,
                               .count1TablesFull = true,
                               .linbitsOnly16x16 = true,
                               .rejectPrefixes = true};

TextSource g_input{kTool, ""};

// Code word and length of every value of one code table, by value index.
struct Words {
    std::array<uint32_t, kPairEntries> word{};  // code word << 5 | length, 0 = no code
    std::array<int, kPairEntries> length{};
};

Words MakeWords(const Table& table) {
    Words w;
    for (const Code& c : table.codes) {
        const uint32_t bits = static_cast<uint32_t>(std::stoul(c.bits, nullptr, 2));
        const int length = static_cast<int>(c.bits.size());
        w.word[static_cast<size_t>(c.value)] = (bits << 5) | static_cast<uint32_t>(length);
        w.length[static_cast<size_t>(c.value)] = length;
    }
    return w;
}

int SignBits(int index) {
    return ((index >> 4) != 0 ? 1 : 0) + ((index & 15) != 0 ? 1 : 0);
}
int QuadSignBits(int value) {
    return __builtin_popcount(static_cast<unsigned>(value));
}

void WriteWords(std::FILE* out, const char* name, const Words& w, int count) {
    std::fprintf(out, "\nstatic const uint32_t %s[%d] = {\n", name, count);
    for (int i = 0; i < count; i += 8) {
        std::fprintf(out, "   ");
        for (int j = i; j < i + 8 && j < count; ++j)
            std::fprintf(out, " 0x%07x,", w.word[static_cast<size_t>(j)]);
        std::fprintf(out, "\n");
    }
    std::fprintf(out, "};\n");
}

// Packs the bit counts of up to three tables, the first in the highest lane; an entry is 0
// where a table has no code (the coder never looks there).
void WritePacked(std::FILE* out, const char* type, const char* name,
                 const std::vector<const Words*>& lanes, int laneBits) {
    std::fprintf(out, "\nconst %s %s[256] = {\n", type, name);
    for (int i = 0; i < kPairEntries; i += 8) {
        std::fprintf(out, "   ");
        for (int j = i; j < i + 8; ++j) {
            uint64_t packed = 0;
            bool all = true;
            for (const Words* w : lanes) all = all && w->length[static_cast<size_t>(j)] > 0;
            for (size_t lane = 0; lane < lanes.size() && all; ++lane) {
                const uint64_t bits = static_cast<uint64_t>(
                    lanes[lane]->length[static_cast<size_t>(j)] + SignBits(j));
                packed |= bits << (laneBits * static_cast<int>(lanes.size() - 1 - lane));
            }
            std::fprintf(out, " 0x%llx,", static_cast<unsigned long long>(packed));
        }
        std::fprintf(out, "\n");
    }
    std::fprintf(out, "};\n");
}

int MaxValue(const Table& t) {
    if (t.xlen == 0) return 0;
    if (t.linbits == 0) return t.xlen - 1;
    return 15 + (1 << t.linbits) - 1;
}

bool WriteSource(std::FILE* out, const Tables& tables) {
    std::array<Words, kTableCount> words;
    for (size_t n = 0; n < kTableCount; ++n)
        if (tables[n].reference < 0) words[n] = MakeWords(tables[n]);

    WriteGeneratedNotice(out, kTool, g_input.path);
    std::fprintf(out, "#include \"HuffmanCodes.h\"\n\nnamespace velora::enc {\n");
    for (size_t n = 0; n < kFirstCount1Table; ++n) {
        if (tables[n].reference >= 0 || tables[n].codes.empty()) continue;
        const std::string name = "kWords" + std::to_string(n);
        WriteWords(out, name.c_str(), words[n], kPairEntries);
    }
    std::fprintf(out, "\nconst PairCodeTable kPairCodeTables[kPairTableCount] = {\n");
    for (size_t n = 0; n < kFirstCount1Table; ++n) {
        const Table& t = tables[n];
        const size_t source = t.reference >= 0 ? static_cast<size_t>(t.reference) : n;
        if (tables[source].codes.empty())
            std::fprintf(out, "    {nullptr, 0, %d},  // %zu\n", n == 0 ? 0 : -1, n);
        else
            std::fprintf(out, "    {kWords%zu, %d, %d},  // %zu\n", source, t.linbits, MaxValue(t),
                         n);
    }
    std::fprintf(out, "};\n\nconst uint32_t kQuadCodeWords[2][16] = {\n");
    for (size_t n = kFirstCount1Table; n < kTableCount; ++n) {
        std::fprintf(out, "    {");
        for (int v = 0; v < 16; ++v)
            std::fprintf(out, "0x%x%s", words[n].word[static_cast<size_t>(v)], v < 15 ? ", " : "");
        std::fprintf(out, "},\n");
    }
    std::fprintf(out, "};\n");

    WritePacked(out, "uint32_t", "kPairBits1", {&words[1]}, 16);
    WritePacked(out, "uint32_t", "kPairBits2And3", {&words[2], &words[3]}, 16);
    WritePacked(out, "uint32_t", "kPairBits5And6", {&words[5], &words[6]}, 16);
    WritePacked(out, "uint64_t", "kPairBits7To9", {&words[7], &words[8], &words[9]}, 16);
    WritePacked(out, "uint64_t", "kPairBits10To12", {&words[10], &words[11], &words[12]}, 16);
    WritePacked(out, "uint32_t", "kPairBits13And15", {&words[13], &words[15]}, 16);
    WritePacked(out, "uint32_t", "kPairBits16And24", {&words[16], &words[24]}, 16);

    std::fprintf(out, "\nconst uint32_t kQuadBits[16] = {\n   ");
    for (int v = 0; v < 16; ++v) {
        const uint32_t a =
            static_cast<uint32_t>(words[32].length[static_cast<size_t>(v)] + QuadSignBits(v));
        const uint32_t b =
            static_cast<uint32_t>(words[33].length[static_cast<size_t>(v)] + QuadSignBits(v));
        std::fprintf(out, " 0x%x,", (a << 16) | b);
    }
    std::fprintf(out, "\n};\n\n}  // namespace velora::enc\n");
    return std::ferror(out) == 0;
}

// The packed tables assume the candidate tables the coder pairs up exist with their own
// codes and the shapes it indexes with.
bool CheckShapes(const Tables& tables) {
    const int own[] = {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 24};
    for (int n : own) {
        const Table& t = tables[static_cast<size_t>(n)];
        if (t.reference >= 0 || t.codes.empty())
            return g_input.Fail(t.line, "table " + std::to_string(n) + " needs its own codes");
    }
    for (int n = 17; n < 32; ++n) {
        const Table& t = tables[static_cast<size_t>(n)];
        const int expected = n < 24 ? 16 : 24;
        if (n != 24 && t.reference != expected)
            return g_input.Fail(t.line, "table " + std::to_string(n) + " must refer to table " +
                                            std::to_string(expected));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: huffman_code_gen INPUT OUTPUT.cpp\n");
        return 2;
    }
    g_input.path = argv[1];
    const std::string output = argv[2];

    Tables tables;
    if (!layer3::ParseHuffmanText(g_input, kRules, tables) || !CheckShapes(tables)) return 1;
    return WriteGeneratedFile(kTool, output,
                              [&](std::FILE* out) { return WriteSource(out, tables); });
}
