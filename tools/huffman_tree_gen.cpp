// huffman_tree_gen INPUT OUTPUT.cpp
//
// Turns the Layer III Huffman code list (Veloradec/tables/huffman_codes.txt) into the 4-way
// decoding trees of Veloradec/HuffmanTables.h: a node is four entries picked by the next two
// bits; an inner entry holds the next node's index (bits 8..15 zero), a leaf holds the code
// length in bits 8..15 and the value in bits 0..7. The output is written to a temporary file
// and renamed, so an interrupted build never leaves a partial source behind.

#include "GeneratedFile.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kTableCount = 34;
constexpr int kFirstCount1Table = 32;
constexpr int kMaxNodes = 256;      // node indices must fit in bits 0..7 of an entry
constexpr int kMaxCodeLength = 32;  // keeps every length, fillers included, within 8 bits

struct Code {
    int value = 0;
    std::string bits;
    int line = 0;
};

struct Table {
    bool defined = false;
    int xlen = 0;
    int ylen = 0;
    int linbits = 0;
    int reference = -1;
    int line = 0;
    std::vector<Code> codes;
};

struct Node {
    std::array<uint32_t, 4> entry{};
    std::array<bool, 4> set{};
    int depth = 0;
};

std::string g_input;

bool Fail(int line, const std::string& message) {
    if (line > 0)
        std::fprintf(stderr, "huffman_tree_gen: %s:%d: %s\n", g_input.c_str(), line, message.c_str());
    else
        std::fprintf(stderr, "huffman_tree_gen: %s: %s\n", g_input.c_str(), message.c_str());
    return false;
}

// Accepts plain decimal digits only: no sign, no trailing characters.
bool ParseUint(const std::string& text, int maxValue, int& out) {
    if (text.empty() || text.size() > 9) return false;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text[0] == '-') return false;
    if (value < 0 || value > maxValue) return false;
    out = value;
    return true;
}

std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> tokens;
    std::istringstream stream(line);
    std::string token;
    while (stream >> token) tokens.push_back(token);
    return tokens;
}

bool ParseCodeLine(const std::vector<std::string>& tok, int line, int tableIndex, Table& table) {
    const bool count1 = tableIndex >= kFirstCount1Table;
    const size_t expected = count1 ? 3 : 4;
    if (tok.size() != expected)
        return Fail(line, count1 ? "expected 'val hlen hcod'" : "expected 'x y hlen hcod'");
    Code code;
    code.line = line;
    size_t next = 0;
    if (count1) {
        if (!ParseUint(tok[next++], table.xlen * table.ylen - 1, code.value))
            return Fail(line, "value out of range for this table");
    } else {
        int x = 0;
        int y = 0;
        if (!ParseUint(tok[next++], table.xlen - 1, x) || !ParseUint(tok[next++], table.ylen - 1, y))
            return Fail(line, "x or y out of range for this table");
        code.value = (x << 4) | y;
    }
    int hlen = 0;
    if (!ParseUint(tok[next++], kMaxCodeLength, hlen) || hlen == 0)
        return Fail(line, "code length must be 1.." + std::to_string(kMaxCodeLength));
    code.bits = tok[next];
    if (code.bits.find_first_not_of("01") != std::string::npos)
        return Fail(line, "code word must consist of 0 and 1");
    if (static_cast<int>(code.bits.size()) != hlen)
        return Fail(line, "code word length differs from hlen");
    for (const Code& other : table.codes)
        if (other.value == code.value)
            return Fail(line, "value already has a code (line " + std::to_string(other.line) + ")");
    table.codes.push_back(code);
    return true;
}

bool ParseFile(const std::string& path, std::array<Table, kTableCount>& tables) {
    std::ifstream in(path);
    if (!in) return Fail(0, "cannot open");
    std::string text;
    int line = 0;
    int current = -1;
    bool ended = false;
    while (std::getline(in, text)) {
        ++line;
        const std::vector<std::string> tok = Tokens(text);
        if (tok.empty() || tok[0][0] == '#') continue;
        if (ended) return Fail(line, "content after .end");
        if (tok[0] == ".end") {
            if (tok.size() != 1) return Fail(line, "unexpected fields after .end");
            ended = true;
        } else if (tok[0] == ".table") {
            int n = 0;
            if (tok.size() != 5) return Fail(line, "expected '.table N XLEN YLEN LINBITS'");
            if (!ParseUint(tok[1], kTableCount - 1, n)) return Fail(line, "table number out of range");
            Table& t = tables[static_cast<size_t>(n)];
            if (t.defined) return Fail(line, "table " + tok[1] + " defined twice");
            if (!ParseUint(tok[2], 16, t.xlen) || !ParseUint(tok[3], 16, t.ylen) ||
                !ParseUint(tok[4], 16, t.linbits))
                return Fail(line, "XLEN, YLEN or LINBITS out of range");
            if (n >= kFirstCount1Table && t.xlen * t.ylen > 16)
                return Fail(line, "count1 tables have at most 16 values");
            t.defined = true;
            t.line = line;
            current = n;
        } else if (tok[0] == ".reference") {
            if (current < 0) return Fail(line, ".reference outside a table");
            Table& t = tables[static_cast<size_t>(current)];
            int m = 0;
            if (tok.size() != 2 || !ParseUint(tok[1], kTableCount - 1, m))
                return Fail(line, "expected '.reference M'");
            const Table& target = tables[static_cast<size_t>(m)];
            if (t.reference >= 0 || !t.codes.empty())
                return Fail(line, ".reference must come first and only once");
            if (!target.defined || target.reference >= 0 || target.codes.empty())
                return Fail(line, "referenced table must be an earlier table with its own codes");
            if ((m >= kFirstCount1Table) != (current >= kFirstCount1Table) ||
                target.xlen != t.xlen || target.ylen != t.ylen)
                return Fail(line, "referenced table has a different shape");
            t.reference = m;
        } else if (tok[0][0] == '.') {
            return Fail(line, "unknown directive " + tok[0]);
        } else {
            if (current < 0) return Fail(line, "code line outside a table");
            Table& t = tables[static_cast<size_t>(current)];
            if (t.reference >= 0) return Fail(line, "a referencing table has no codes of its own");
            if (!ParseCodeLine(tok, line, current, t)) return false;
        }
    }
    if (in.bad()) return Fail(0, "read error");
    if (!ended) return Fail(0, "missing .end (truncated file?)");
    for (int n = 0; n < kTableCount; ++n) {
        const Table& t = tables[static_cast<size_t>(n)];
        if (!t.defined) return Fail(0, "table " + std::to_string(n) + " is missing");
        const size_t values = static_cast<size_t>(t.xlen * t.ylen);
        // A table either refers to another or lists one code for every value it can hold.
        if (t.reference < 0 && t.codes.size() != values)
            return Fail(t.line, "table " + std::to_string(n) + " has " + std::to_string(t.codes.size()) +
                                    " codes, expected " + std::to_string(values));
    }
    return true;
}

bool Insert(std::vector<Node>& nodes, const Code& code) {
    const std::string& bits = code.bits;
    const size_t length = bits.size();
    const auto bit = [&bits](size_t i) { return static_cast<size_t>(bits[i] - '0'); };
    const std::string conflict = "code " + bits + " and an earlier code: one is a prefix of the other";
    size_t node = 0;
    size_t pos = 0;
    while (length - pos > 2) {
        const size_t slot = bit(pos) * 2 + bit(pos + 1);
        if (!nodes[node].set[slot]) {
            if (nodes.size() >= kMaxNodes)
                return Fail(code.line, "tree needs more than " + std::to_string(kMaxNodes) + " nodes");
            Node child;
            child.depth = nodes[node].depth + 1;
            nodes[node].entry[slot] = static_cast<uint32_t>(nodes.size());
            nodes[node].set[slot] = true;
            nodes.push_back(child);
        } else if ((nodes[node].entry[slot] & 0xFF00u) != 0) {
            return Fail(code.line, conflict);
        }
        node = nodes[node].entry[slot];
        pos += 2;
    }
    const uint32_t leaf = (static_cast<uint32_t>(length) << 8) | static_cast<uint32_t>(code.value);
    // A code ending on the first bit of a pair owns both entries of that bit.
    const size_t first = length - pos == 2 ? bit(pos) * 2 + bit(pos + 1) : bit(pos) * 2;
    const size_t count = length - pos == 2 ? 1 : 2;
    for (size_t slot = first; slot < first + count; ++slot) {
        if (nodes[node].set[slot]) return Fail(code.line, conflict);
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

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteSource(std::FILE* out, const std::array<Table, kTableCount>& tables,
                 const std::array<std::vector<uint32_t>, kTableCount>& trees) {
    std::fprintf(out, "// Generated by huffman_tree_gen from %s. Do not edit.\n",
                 BaseName(g_input).c_str());
    std::fprintf(out, "#include \"HuffmanTables.h\"\n\nnamespace velora {\n");
    for (size_t n = 0; n < kTableCount; ++n) {
        const std::vector<uint32_t>& tree = trees[n];
        if (tree.empty()) continue;
        std::fprintf(out, "\n// Table %zu: %zu nodes.\nstatic const uint32_t kTree%zu[%zu] = {\n", n,
                     tree.size() / 4, n, tree.size());
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
    g_input = argv[1];
    const std::string output = argv[2];

    std::array<Table, kTableCount> tables;
    if (!ParseFile(g_input, tables)) return 1;
    std::array<std::vector<uint32_t>, kTableCount> trees;
    for (size_t n = 0; n < kTableCount; ++n) {
        if (tables[n].reference >= 0 || tables[n].codes.empty()) continue;
        if (!BuildTree(tables[n], trees[n])) return 1;
    }

    return WriteGeneratedFile("huffman_tree_gen", output, [&](std::FILE* out) { return WriteSource(out, tables, trees); });
}
