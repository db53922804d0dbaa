// sbr_huffman_gen INPUT OUTPUT.cpp
//
// Turns the SBR codebook trees (relsbrdeclib/tables/sbr_huffman_trees.txt) into the constant
// pair arrays behind relsbrdeclib/SbrHuffman.h. The input is checked to be exactly ten
// complete binary trees: every child index points forward (so a decoder always ends), every
// pair but the root is reached exactly once, and every symbol of the codebook's range has
// exactly one leaf. The output is written to a temporary file and renamed, so an
// interrupted build never leaves a partial source behind.

#include "GeneratedFile.h"
#include "TextTable.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* kTool = "sbr_huffman_gen";

struct Expected {
    const char* name;
    int symbolMin;
    int symbolMax;
};

// In the order of the SbrCodebook enumeration.
constexpr int kTreeCount = 10;
constexpr Expected kExpected[kTreeCount] = {
    {"t_huffman_env_1_5dB", -60, 60},     {"f_huffman_env_1_5dB", -60, 60},
    {"t_huffman_env_bal_1_5dB", -24, 24}, {"f_huffman_env_bal_1_5dB", -24, 24},
    {"t_huffman_env_3_0dB", -31, 31},     {"f_huffman_env_3_0dB", -31, 31},
    {"t_huffman_env_bal_3_0dB", -12, 12}, {"f_huffman_env_bal_3_0dB", -12, 12},
    {"t_huffman_noise_3_0dB", -31, 31},   {"t_huffman_noise_bal_3_0dB", -12, 12},
};
constexpr int kLeafOffset = 64;  // a leaf v stands for the symbol v + 64

struct Tree {
    bool defined = false;
    int line = 0;
    int pairs = 0;
    int symbolMin = 0;
    int symbolMax = 0;
    std::vector<std::array<int, 2>> entries;
};

TextSource g_input{kTool, ""};

// Plain decimal with an optional minus sign, nothing after it.
bool ParseInt(const std::string& text, int minValue, int maxValue, int& out) {
    if (text.empty() || text.size() > 6) return false;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return false;
    if (value < minValue || value > maxValue) return false;
    out = value;
    return true;
}

int FindName(const std::string& name) {
    for (int i = 0; i < kTreeCount; ++i)
        if (name == kExpected[i].name) return i;
    return -1;
}

bool CheckTree(const Tree& tree, int index) {
    const std::string name = kExpected[index].name;
    if (static_cast<int>(tree.entries.size()) != tree.pairs)
        return g_input.Fail(tree.line, name + ": " + std::to_string(tree.entries.size()) +
                                           " pairs, header says " + std::to_string(tree.pairs));
    std::vector<int> reached(static_cast<size_t>(tree.pairs), 0);
    std::vector<int> symbols(static_cast<size_t>(tree.symbolMax - tree.symbolMin + 1), 0);
    for (int p = 0; p < tree.pairs; ++p) {
        for (int v : tree.entries[static_cast<size_t>(p)]) {
            const int line = tree.line + 1 + p;
            if (v >= 0) {
                if (v <= p || v >= tree.pairs)
                    return g_input.Fail(line, name + ": child index " + std::to_string(v) +
                                                  " must point forward inside the tree");
                ++reached[static_cast<size_t>(v)];
            } else {
                const int symbol = v + kLeafOffset;
                if (symbol < tree.symbolMin || symbol > tree.symbolMax)
                    return g_input.Fail(
                        line, name + ": symbol " + std::to_string(symbol) + " out of range");
                if (++symbols[static_cast<size_t>(symbol - tree.symbolMin)] > 1)
                    return g_input.Fail(
                        line, name + ": symbol " + std::to_string(symbol) + " has two leaves");
            }
        }
    }
    for (int p = 1; p < tree.pairs; ++p)
        if (reached[static_cast<size_t>(p)] != 1)
            return g_input.Fail(tree.line, name + ": pair " + std::to_string(p) + " is reached " +
                                               std::to_string(reached[static_cast<size_t>(p)]) +
                                               " times");
    for (size_t s = 0; s < symbols.size(); ++s)
        if (symbols[s] != 1)
            return g_input.Fail(tree.line,
                                name + ": symbol " +
                                    std::to_string(tree.symbolMin + static_cast<int>(s)) +
                                    " has no leaf");
    return true;
}

bool ParseFile(std::array<Tree, kTreeCount>& trees) {
    int current = -1;
    const bool read = ReadTokenLines(g_input, [&](int line, const std::vector<std::string>& tok) {
        if (tok[0] == ".tree") {
            if (current >= 0 && !CheckTree(trees[static_cast<size_t>(current)], current))
                return false;
            if (tok.size() != 5)
                return g_input.Fail(line, "expected '.tree NAME PAIRS SYMBOL_MIN SYMBOL_MAX'");
            current = FindName(tok[1]);
            if (current < 0) return g_input.Fail(line, "unknown codebook " + tok[1]);
            Tree& t = trees[static_cast<size_t>(current)];
            if (t.defined) return g_input.Fail(line, tok[1] + " defined twice");
            // Child indices must fit a signed byte.
            if (!ParseInt(tok[2], 1, 127, t.pairs) || !ParseInt(tok[3], -64, 63, t.symbolMin) ||
                !ParseInt(tok[4], -64, 63, t.symbolMax))
                return g_input.Fail(line, "PAIRS, SYMBOL_MIN or SYMBOL_MAX out of range");
            const Expected& e = kExpected[current];
            if (t.symbolMin != e.symbolMin || t.symbolMax != e.symbolMax)
                return g_input.Fail(line, tok[1] + ": symbol range differs from the codebook's");
            if (t.pairs != t.symbolMax - t.symbolMin)
                return g_input.Fail(
                    line,
                    tok[1] + ": a complete tree over the range has one pair less than symbols");
            t.defined = true;
            t.line = line;
            return true;
        }
        if (tok[0][0] == '.') return g_input.Fail(line, "unknown directive " + tok[0]);
        if (current < 0) return g_input.Fail(line, "pair outside a tree");
        if (tok.size() != 2) return g_input.Fail(line, "expected 'a b'");
        std::array<int, 2> pair{};
        if (!ParseInt(tok[0], -128, 127, pair[0]) || !ParseInt(tok[1], -128, 127, pair[1]))
            return g_input.Fail(line, "pair members must be integers in -128..127");
        Tree& t = trees[static_cast<size_t>(current)];
        if (static_cast<int>(t.entries.size()) >= t.pairs)
            return g_input.Fail(line, "more pairs than the header says");
        t.entries.push_back(pair);
        return true;
    });
    if (!read) return false;
    if (current >= 0 && !CheckTree(trees[static_cast<size_t>(current)], current)) return false;
    for (int i = 0; i < kTreeCount; ++i)
        if (!trees[static_cast<size_t>(i)].defined)
            return g_input.Fail(0, std::string(kExpected[i].name) + " is missing");
    return true;
}

bool WriteSource(std::FILE* out, const std::array<Tree, kTreeCount>& trees) {
    WriteGeneratedNotice(out, kTool, g_input.path);
    std::fprintf(out, "#include \"SbrHuffman.h\"\n\nnamespace velora::sbr {\n");
    for (int i = 0; i < kTreeCount; ++i) {
        const Tree& t = trees[static_cast<size_t>(i)];
        std::fprintf(
            out, "\n// %s: %d pairs, symbols %d..%d.\nstatic const int8_t kPairs%d[%d][2] = {\n",
            kExpected[i].name, t.pairs, t.symbolMin, t.symbolMax, i, t.pairs);
        for (size_t p = 0; p < t.entries.size(); ++p)
            std::fprintf(out, "    {%d, %d},  // %zu\n", t.entries[p][0], t.entries[p][1], p);
        std::fprintf(out, "};\n");
    }
    std::fprintf(out, "\nconst SbrHuffmanTree kSbrHuffmanTrees[kSbrCodebookCount] = {\n");
    for (int i = 0; i < kTreeCount; ++i) {
        const Tree& t = trees[static_cast<size_t>(i)];
        std::fprintf(out, "    {kPairs%d, %d, %d, %d, \"%s\"},\n", i, t.pairs, t.symbolMin,
                     t.symbolMax, kExpected[i].name);
    }
    std::fprintf(out, "};\n\n}  // namespace velora::sbr\n");
    return std::ferror(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: sbr_huffman_gen INPUT OUTPUT.cpp\n");
        return 2;
    }
    g_input.path = argv[1];
    const std::string output = argv[2];

    std::array<Tree, kTreeCount> trees;
    if (!ParseFile(trees)) return 1;

    return WriteGeneratedFile(kTool, output,
                              [&](std::FILE* out) { return WriteSource(out, trees); });
}
