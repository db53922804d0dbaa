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

#include <algorithm>
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
constexpr int kMaxCodeLength = 19;  // the longest Layer III code word
constexpr int kPairEntries = 256;   // index (x << 4) | y

struct Code {
    int value = 0;  // big values: (x << 4) | y; count1: v*8 + w*4 + x*2 + y
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

std::string g_input;

bool Fail(int line, const std::string& message) {
    if (line > 0)
        std::fprintf(stderr, "huffman_code_gen: %s:%d: %s\n", g_input.c_str(), line,
                     message.c_str());
    else
        std::fprintf(stderr, "huffman_code_gen: %s: %s\n", g_input.c_str(), message.c_str());
    return false;
}

// Accepts plain decimal digits only: no sign, no trailing characters.
bool ParseUint(const std::string& text, int maxValue, int& out) {
    if (text.empty() || text.size() > 9 || text[0] == '-') return false;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return false;
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
    if (tok.size() != (count1 ? 3u : 4u))
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
        if (!ParseUint(tok[next++], table.xlen - 1, x) ||
            !ParseUint(tok[next++], table.ylen - 1, y))
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
    for (const Code& other : table.codes) {
        if (other.value == code.value)
            return Fail(line, "value already has a code (line " + std::to_string(other.line) + ")");
        const size_t shorter = std::min(other.bits.size(), code.bits.size());
        if (other.bits.compare(0, shorter, code.bits, 0, shorter) == 0)
            return Fail(line, "code " + code.bits + " and the code of line " +
                                  std::to_string(other.line) + ": one is a prefix of the other");
    }
    table.codes.push_back(code);
    return true;
}

bool ParseDirective(const std::vector<std::string>& tok, int line,
                    std::array<Table, kTableCount>& tables, int& current) {
    if (tok[0] == ".table") {
        int n = 0;
        if (tok.size() != 5) return Fail(line, "expected '.table N XLEN YLEN LINBITS'");
        if (!ParseUint(tok[1], kTableCount - 1, n)) return Fail(line, "table number out of range");
        Table& t = tables[static_cast<size_t>(n)];
        if (t.defined) return Fail(line, "table " + tok[1] + " defined twice");
        if (!ParseUint(tok[2], 16, t.xlen) || !ParseUint(tok[3], 16, t.ylen) ||
            !ParseUint(tok[4], 13, t.linbits))
            return Fail(line, "XLEN, YLEN or LINBITS out of range");
        if (n >= kFirstCount1Table && t.xlen * t.ylen != 16)
            return Fail(line, "count1 tables have 16 values");
        if (t.linbits > 0 && (t.xlen != 16 || t.ylen != 16))
            return Fail(line, "a table with LINBITS must be 16 x 16");
        t.defined = true;
        t.line = line;
        current = n;
        return true;
    }
    if (tok[0] == ".reference") {
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
        if ((m >= kFirstCount1Table) != (current >= kFirstCount1Table) || target.xlen != t.xlen ||
            target.ylen != t.ylen)
            return Fail(line, "referenced table has a different shape");
        t.reference = m;
        return true;
    }
    return Fail(line, "unknown directive " + tok[0]);
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
        } else if (tok[0][0] == '.') {
            if (!ParseDirective(tok, line, tables, current)) return false;
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
        if (t.reference < 0 && t.codes.size() != values)
            return Fail(t.line, "table " + std::to_string(n) + " has " +
                                    std::to_string(t.codes.size()) + " codes, expected " +
                                    std::to_string(values));
    }
    return true;
}

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

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
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

bool WriteSource(std::FILE* out, const std::array<Table, kTableCount>& tables) {
    std::array<Words, kTableCount> words;
    for (size_t n = 0; n < kTableCount; ++n)
        if (tables[n].reference < 0) words[n] = MakeWords(tables[n]);

    std::fprintf(out, "// Generated by huffman_code_gen from %s. Do not edit.\n",
                 BaseName(g_input).c_str());
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
bool CheckShapes(const std::array<Table, kTableCount>& tables) {
    const int own[] = {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 24};
    for (int n : own) {
        const Table& t = tables[static_cast<size_t>(n)];
        if (t.reference >= 0 || t.codes.empty())
            return Fail(t.line, "table " + std::to_string(n) + " needs its own codes");
    }
    for (int n = 17; n < 32; ++n) {
        const Table& t = tables[static_cast<size_t>(n)];
        const int expected = n < 24 ? 16 : 24;
        if (n != 24 && t.reference != expected)
            return Fail(t.line, "table " + std::to_string(n) + " must refer to table " +
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
    g_input = argv[1];
    const std::string output = argv[2];

    std::array<Table, kTableCount> tables;
    if (!ParseFile(g_input, tables) || !CheckShapes(tables)) return 1;
    return WriteGeneratedFile("huffman_code_gen", output,
                              [&](std::FILE* out) { return WriteSource(out, tables); });
}
