// Checks the generated Huffman trees and synthesis window against the reference tables
// they were built from, read here with a parser of their own.

#include "BitBuffer.h"
#include "HuffmanTables.h"
#include "SpectrumDecoder.h"
#include "SynthesisWindow.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct CodeWord {
    int value;
    std::string bits;
};

struct ReferenceTable {
    int linbits = -1;
    int reference = -1;
    std::vector<CodeWord> codes;
};

std::vector<ReferenceTable> LoadCodes() {
    std::vector<ReferenceTable> tables(velora::kHuffmanTableCount);
    std::ifstream in(VELORA_SOURCE_DIR "/Veloradec/tables/huffman_codes.txt");
    EXPECT_TRUE(in.good()) << "cannot open huffman_codes.txt";
    std::string line;
    int current = -1;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string s; fields >> s;) f.push_back(s);
        if (f.empty() || f[0][0] == '#') continue;
        if (f[0] == ".end") break;
        if (f[0] == ".table") {
            current = std::stoi(f.at(1));
            tables.at(static_cast<size_t>(current)).linbits = std::stoi(f.at(4));
        } else if (f[0] == ".reference") {
            tables.at(static_cast<size_t>(current)).reference = std::stoi(f.at(1));
        } else if (current >= 32) {
            tables.at(static_cast<size_t>(current)).codes.push_back({std::stoi(f.at(0)), f.at(2)});
            EXPECT_EQ(f.at(2).size(), static_cast<size_t>(std::stoi(f.at(1)))) << line;
        } else {
            const int value = std::stoi(f.at(0)) * 16 + std::stoi(f.at(1));
            tables.at(static_cast<size_t>(current)).codes.push_back({value, f.at(3)});
            EXPECT_EQ(f.at(3).size(), static_cast<size_t>(std::stoi(f.at(2)))) << line;
        }
    }
    return tables;
}

const std::vector<ReferenceTable>& Codes() {
    static const std::vector<ReferenceTable> tables = LoadCodes();
    return tables;
}

// The code words a table decodes: its own, or those of the table it refers to.
const std::vector<CodeWord>& CodesOf(int table) {
    const ReferenceTable& t = Codes()[static_cast<size_t>(table)];
    return t.reference >= 0 ? Codes()[static_cast<size_t>(t.reference)].codes : t.codes;
}

TEST(HuffmanTables, FileHasAllTables) {
    int withCodes = 0;
    for (const ReferenceTable& t : Codes()) {
        EXPECT_GE(t.linbits, 0);
        if (!t.codes.empty()) ++withCodes;
    }
    // 1..3, 5..13, 15, 16, 24, 32, 33 carry code words; the rest are empty or refer.
    EXPECT_EQ(withCodes, 17);
}

TEST(HuffmanTables, LinbitsMatchFile) {
    for (int n = 0; n < velora::kHuffmanTableCount; ++n)
        EXPECT_EQ(velora::kHuffmanTables[n].linbits, Codes()[static_cast<size_t>(n)].linbits)
            << "table " << n;
}

TEST(HuffmanTables, OnlyEmptyTablesHaveNoTree) {
    for (int n = 0; n < velora::kHuffmanTableCount; ++n) {
        const bool empty = n == 0 || n == 4 || n == 14;
        EXPECT_EQ(velora::kHuffmanTables[n].tree == nullptr, empty) << "table " << n;
        EXPECT_EQ(CodesOf(n).empty(), empty) << "table " << n;
    }
}

TEST(HuffmanTables, ReferencingTablesShareTheTree) {
    int references = 0;
    for (int n = 0; n < velora::kHuffmanTableCount; ++n) {
        const int ref = Codes()[static_cast<size_t>(n)].reference;
        if (ref < 0) continue;
        ++references;
        EXPECT_EQ(velora::kHuffmanTables[n].tree, velora::kHuffmanTables[ref].tree) << "table " << n;
    }
    EXPECT_EQ(references, 14);
}

struct Decoded {
    int value = -1;
    int consumed = 0;
    bool ok = false;
};

// Walks a tree two bits at a time, as the Layer III decoder does.
Decoded Decode(const uint32_t* tree, velora::BitBuffer& bits) {
    Decoded result;
    uint32_t node = 0;
    int bitsRead = 0;
    bits.ClearConsumed();
    for (int step = 0; step < 16; ++step) {
        const uint32_t entry = tree[4 * node + bits.Read(2)];
        bitsRead += 2;
        if (velora::HuffmanIsLeaf(entry)) {
            const int back = velora::HuffmanLength(entry) - bitsRead;
            EXPECT_TRUE(back == 0 || back == -1) << "leaf length " << velora::HuffmanLength(entry)
                                                 << " after " << bitsRead << " bits";
            bits.Skip(back);
            result.value = velora::HuffmanValue(entry);
            result.consumed = bits.Consumed();
            result.ok = true;
            return result;
        }
        node = entry & 0xFFu;
    }
    return result;  // more than 32 bits without a leaf: a loop or a broken tree
}

TEST(HuffmanTables, EveryCodeWordDecodes) {
    std::mt19937 random(20240611u);
    std::uniform_int_distribution<int> bit(0, 1);
    std::uniform_int_distribution<int> prefixLength(0, 15);
    std::uniform_int_distribution<int> paddingLength(1, 16);
    for (int n = 0; n < velora::kHuffmanTableCount; ++n) {
        const uint32_t* tree = velora::kHuffmanTables[n].tree;
        if (tree == nullptr) continue;
        for (const CodeWord& code : CodesOf(n)) {
            for (int trial = 0; trial < 8; ++trial) {
                // Random bits before and after the code word: it starts at any bit offset
                // and the decoder must not depend on what follows it.
                std::vector<int> stream;
                const int prefix = prefixLength(random);
                for (int i = 0; i < prefix; ++i) stream.push_back(bit(random));
                for (const char c : code.bits) stream.push_back(c - '0');
                const int padding = paddingLength(random);
                for (int i = 0; i < padding; ++i)
                    stream.push_back(trial == 0 ? 0 : trial == 1 ? 1 : bit(random));

                std::array<uint8_t, 16> storage{};
                std::array<uint8_t, 16> bytes{};
                for (size_t i = 0; i < stream.size(); ++i)
                    if (stream[i] != 0) bytes[i / 8] = static_cast<uint8_t>(bytes[i / 8] | (0x80u >> (i % 8)));
                velora::BitBuffer buffer;
                buffer.Init(storage.data(), static_cast<int>(storage.size()));
                const int length = static_cast<int>((stream.size() + 7) / 8);
                ASSERT_EQ(buffer.Write(bytes.data(), length), length);
                buffer.Skip(prefix);

                const Decoded decoded = Decode(tree, buffer);
                ASSERT_TRUE(decoded.ok) << "table " << n << " code " << code.bits;
                EXPECT_EQ(decoded.value, code.value) << "table " << n << " code " << code.bits;
                EXPECT_EQ(decoded.consumed, static_cast<int>(code.bits.size()))
                    << "table " << n << " code " << code.bits;
            }
        }
    }
}

// Visits every entry reachable from the root, recording the path taken to each leaf.
void CollectLeaves(const uint32_t* tree, uint32_t node, const std::string& path, int& nodesVisited,
                   std::map<std::string, uint32_t>& leaves) {
    ASSERT_LT(path.size(), 32u) << "tree deeper than any code";
    ++nodesVisited;
    for (uint32_t slot = 0; slot < 4; ++slot) {
        const std::string next = path + (slot & 2 ? '1' : '0') + (slot & 1 ? '1' : '0');
        const uint32_t entry = tree[4 * node + slot];
        if (velora::HuffmanIsLeaf(entry)) {
            leaves[next] = entry;
        } else {
            ASSERT_NE(entry & 0xFFu, 0u) << "inner entry back to the root at " << next;
            CollectLeaves(tree, entry & 0xFFu, next, nodesVisited, leaves);
        }
    }
}

TEST(HuffmanTables, LeavesCoverExactlyTheCodes) {
    // The decoder's lookup tables are built from these trees and must hold all of them.
    EXPECT_TRUE(velora::HuffmanLookupsComplete());
    for (int n = 0; n < velora::kHuffmanTableCount; ++n) {
        const uint32_t* tree = velora::kHuffmanTables[n].tree;
        if (tree == nullptr) continue;
        SCOPED_TRACE("table " + std::to_string(n));
        std::map<std::string, uint32_t> leaves;
        int nodes = 0;
        CollectLeaves(tree, 0, "", nodes, leaves);
        EXPECT_LE(nodes, 256);

        std::map<int, std::string> codeOf;
        uint64_t kraft = 0;  // sum of 2^(32 - length): 2^32 for a complete code
        for (const CodeWord& code : CodesOf(n)) {
            codeOf[code.value] = code.bits;
            kraft += uint64_t{1} << (32 - code.bits.size());
        }
        ASSERT_EQ(kraft, uint64_t{1} << 32);
        std::set<int> leafValues;
        for (const auto& [path, entry] : leaves) {
            const int value = velora::HuffmanValue(entry);
            const size_t length = static_cast<size_t>(velora::HuffmanLength(entry));
            leafValues.insert(value);
            ASSERT_TRUE(codeOf.count(value)) << "leaf value " << value << " not in the file";
            // Every code in the file is complete, so each leaf is one code word: its path
            // starts with that word and reads at most one bit past it.
            EXPECT_EQ(length, codeOf[value].size()) << "path " << path;
            EXPECT_TRUE(length == path.size() || length + 1 == path.size()) << "path " << path;
            EXPECT_EQ(path.substr(0, length), codeOf[value]) << "path " << path;
        }
        std::set<int> fileValues;
        for (const auto& entry : codeOf) fileValues.insert(entry.first);
        EXPECT_EQ(leafValues, fileValues);
    }
}

TEST(SynthesisWindow, MatchesFileExactly) {
    std::ifstream in(VELORA_SOURCE_DIR "/Veloradec/tables/synthesis_window.txt");
    ASSERT_TRUE(in.good());
    std::array<bool, 512> seen{};
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        int index = -1;
        long k = 0;
        ASSERT_TRUE(fields >> index >> k) << line;
        ASSERT_TRUE(index >= 0 && index < 512) << line;
        EXPECT_FALSE(seen[static_cast<size_t>(index)]) << line;
        seen[static_cast<size_t>(index)] = true;
        ++count;
        EXPECT_EQ(velora::kSynthesisWindow[index], static_cast<float>(k) / 65536.0f) << line;
    }
    EXPECT_EQ(count, 512);
}

TEST(SynthesisWindow, HasTheWindowSymmetry) {
    const float* d = velora::kSynthesisWindow;
    EXPECT_EQ(d[0], 0.0f);
    EXPECT_GT(d[256], 1.0f);  // the centre tap is the largest
    for (int i = 1; i < 512; ++i) {
        // Mirror taps are equal at multiples of 64 and opposite elsewhere.
        if (i % 64 == 0)
            EXPECT_EQ(d[512 - i], d[i]) << i;
        else
            EXPECT_EQ(d[512 - i], -d[i]) << i;
        EXPECT_LE(std::fabs(d[i]), d[256]) << i;
    }
}

}  // namespace
