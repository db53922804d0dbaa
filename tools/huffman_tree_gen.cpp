// huffman_tree_gen INPUT OUTPUT.cpp
//
// Turns the Layer III Huffman code list (Veloradec/tables/huffman_codes.txt) into the 4-way
// decoding trees of Veloradec/HuffmanTables.h: a node is four entries picked by the next two
// bits; an inner entry holds the next node's index (bits 8..15 zero), a leaf holds the code
// length in bits 8..15 and the value in bits 0..7. The output is written to a temporary file
// and renamed, so an interrupted build never leaves a partial source behind.

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
using layer3::kTableCount;
using layer3::Table;
using layer3::Tables;

constexpr const char* kTool = "huffman_tree_gen";
constexpr int kMaxNodes = 256;      // node indices must fit in bits 0..7 of an entry
constexpr int kMaxCodeLength = 32;  // keeps every length, fillers included, within 8 bits

// Prefix codes are found while the tree is built.
constexpr layer3::Rules kRules{.maxCodeLength = kMaxCodeLength, .maxLinbits = 16};

struct Node {
    std::array<uint32_t, 4> entry{};
    std::array<bool, 4> set{};
    int depth = 0;
};

TextSource g_input{kTool, ""};

bool Insert(std::vector<Node>& nodes, const Code& code) {
    const std::string& bits = code.bits;
    const size_t length = bits.size();
    const auto bit = [&bits](size_t i) { return static_cast<size_t>(bits[i] - '0'); };
    const std::string conflict =
        "code " + bits + " and an earlier code: one is a prefix of the other";
    size_t node = 0;
    size_t pos = 0;
    while (length - pos > 2) {
        const size_t slot = bit(pos) * 2 + bit(pos + 1);
        if (!nodes[node].set[slot]) {
            if (nodes.size() >= kMaxNodes)
                return g_input.Fail(code.line,
                                    "tree needs more than " + std::to_string(kMaxNodes) + " nodes");
            Node child;
            child.depth = nodes[node].depth + 1;
            nodes[node].entry[slot] = static_cast<uint32_t>(nodes.size());
            nodes[node].set[slot] = true;
            nodes.push_back(child);
        } else if ((nodes[node].entry[slot] & 0xFF00u) != 0) {
            return g_input.Fail(code.line, conflict);
        }
        node = nodes[node].entry[slot];
        pos += 2;
    }
    const uint32_t leaf = (static_cast<uint32_t>(length) << 8) | static_cast<uint32_t>(code.value);
    // A code ending on the first bit of a pair owns both entries of that bit.
    const size_t first = length - pos == 2 ? bit(pos) * 2 + bit(pos + 1) : bit(pos) * 2;
    const size_t count = length - pos == 2 ? 1 : 2;
    for (size_t slot = first; slot < first + count; ++slot) {
        if (nodes[node].set[slot]) return g_input.Fail(code.line, conflict);
        nodes[node].entry[slot] = leaf;
        nodes[node].set[slot] = true;
    }
    return true;
}

bool BuildTree(const Table& table, std::vector<uint32_t>& tree) {
    std::vector<Node> nodes(1);
    for (const Code& code : table.codes)
        if (!Insert(nodes, code)) return false;
    tree.clear();
    for (const Node& node : nodes) {
        for (size_t slot = 0; slot < 4; ++slot) {
            // A path no code takes ends in a value-0 leaf of the bits read so far, so a
            // decoder always terminates.
            const uint32_t filler = static_cast<uint32_t>(2 * node.depth + 2) << 8;
            tree.push_back(node.set[slot] ? node.entry[slot] : filler);
        }
    }
    return true;
}

bool WriteSource(std::FILE* out, const Tables& tables,
                 const std::array<std::vector<uint32_t>, kTableCount>& trees) {
    WriteGeneratedNotice(out, kTool, g_input.path);
    std::fprintf(out, "#include \"HuffmanTables.h\"\n\nnamespace velora {\n");
    for (size_t n = 0; n < kTableCount; ++n) {
        const std::vector<uint32_t>& tree = trees[n];
        if (tree.empty()) continue;
        std::fprintf(out, "\n// Table %zu: %zu nodes.\nstatic const uint32_t kTree%zu[%zu] = {\n",
                     n, tree.size() / 4, n, tree.size());
        for (size_t i = 0; i < tree.size(); i += 4)
            std::fprintf(out, "    0x%04x, 0x%04x, 0x%04x, 0x%04x,  // %zu\n", tree[i], tree[i + 1],
                         tree[i + 2], tree[i + 3], i / 4);
        std::fprintf(out, "};\n");
    }
    std::fprintf(out, "\nconst HuffmanTable kHuffmanTables[kHuffmanTableCount] = {\n");
    for (size_t n = 0; n < kTableCount; ++n) {
        const Table& t = tables[n];
        const size_t source = t.reference >= 0 ? static_cast<size_t>(t.reference) : n;
        if (trees[source].empty())
            std::fprintf(out, "    {%d, nullptr},  // %zu\n", t.linbits, n);
        else
            std::fprintf(out, "    {%d, kTree%zu},  // %zu\n", t.linbits, source, n);
    }
    std::fprintf(out, "};\n\n}  // namespace velora\n");
    return std::ferror(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: huffman_tree_gen INPUT OUTPUT.cpp\n");
        return 2;
    }
    g_input.path = argv[1];
    const std::string output = argv[2];

    Tables tables;
    if (!layer3::ParseHuffmanText(g_input, kRules, tables)) return 1;
    std::array<std::vector<uint32_t>, kTableCount> trees;
    for (size_t n = 0; n < kTableCount; ++n) {
        if (tables[n].reference >= 0 || tables[n].codes.empty()) continue;
        if (!BuildTree(tables[n], trees[n])) return 1;
    }

    return WriteGeneratedFile(kTool, output,
                              [&](std::FILE* out) { return WriteSource(out, tables, trees); });
}
