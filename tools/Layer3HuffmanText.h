// Reads Veloradec/tables/huffman_codes.txt, the Layer III Huffman code list from which both
// the decoder's trees and the encoder's code tables are generated. Every table is checked to
// be present, consistent and complete; what a generator needs on top of that is in its Rules.
#pragma once

#include "TextTable.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

namespace layer3 {

constexpr int kTableCount = 34;
constexpr int kFirstCount1Table = 32;  // tables 32 and 33 code quadruples, the others pairs

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
    int reference = -1;  // the table whose codes this one shares, -1 for its own
    int line = 0;
    std::vector<Code> codes;
};

using Tables = std::array<Table, kTableCount>;

// What one generator accepts: the decoder's trees take more than the encoder's packed tables.
struct Rules {
    int maxCodeLength = 0;
    int maxLinbits = 0;
    bool count1TablesFull = false;  // exactly 16 values rather than at most 16
    bool linbitsOnly16x16 = false;  // only a 16 x 16 table may have LINBITS
    bool rejectPrefixes = false;    // else the tree builder finds them
};

inline bool ParseCodeLine(const TextSource& source, const Rules& rules,
                          const std::vector<std::string>& tok, int line, int tableIndex,
                          Table& table) {
    const bool count1 = tableIndex >= kFirstCount1Table;
    if (tok.size() != (count1 ? 3u : 4u))
        return source.Fail(line, count1 ? "expected 'val hlen hcod'" : "expected 'x y hlen hcod'");
    Code code;
    code.line = line;
    size_t next = 0;
    if (count1) {
        if (!ParseUint(tok[next++], table.xlen * table.ylen - 1, code.value))
            return source.Fail(line, "value out of range for this table");
    } else {
        int x = 0;
        int y = 0;
        if (!ParseUint(tok[next++], table.xlen - 1, x) ||
            !ParseUint(tok[next++], table.ylen - 1, y))
            return source.Fail(line, "x or y out of range for this table");
        code.value = (x << 4) | y;
    }
    int hlen = 0;
    if (!ParseUint(tok[next++], rules.maxCodeLength, hlen) || hlen == 0)
        return source.Fail(line, "code length must be 1.." + std::to_string(rules.maxCodeLength));
    code.bits = tok[next];
    if (code.bits.find_first_not_of("01") != std::string::npos)
        return source.Fail(line, "code word must consist of 0 and 1");
    if (static_cast<int>(code.bits.size()) != hlen)
        return source.Fail(line, "code word length differs from hlen");
    for (const Code& other : table.codes) {
        if (other.value == code.value)
            return source.Fail(
                line, "value already has a code (line " + std::to_string(other.line) + ")");
        const size_t shorter = std::min(other.bits.size(), code.bits.size());
        if (rules.rejectPrefixes && other.bits.compare(0, shorter, code.bits, 0, shorter) == 0)
            return source.Fail(line, "code " + code.bits + " and the code of line " +
                                         std::to_string(other.line) +
                                         ": one is a prefix of the other");
    }
    table.codes.push_back(code);
    return true;
}

// `.table N XLEN YLEN LINBITS` and `.reference M`; `current` is the table being read.
inline bool ParseDirective(const TextSource& source, const Rules& rules,
                           const std::vector<std::string>& tok, int line, Tables& tables,
                           int& current) {
    if (tok[0] == ".table") {
        int n = 0;
        if (tok.size() != 5) return source.Fail(line, "expected '.table N XLEN YLEN LINBITS'");
        if (!ParseUint(tok[1], kTableCount - 1, n))
            return source.Fail(line, "table number out of range");
        Table& t = tables[static_cast<size_t>(n)];
        if (t.defined) return source.Fail(line, "table " + tok[1] + " defined twice");
        if (!ParseUint(tok[2], 16, t.xlen) || !ParseUint(tok[3], 16, t.ylen) ||
            !ParseUint(tok[4], rules.maxLinbits, t.linbits))
            return source.Fail(line, "XLEN, YLEN or LINBITS out of range");
        const bool count1 = n >= kFirstCount1Table;
        if (count1 && rules.count1TablesFull && t.xlen * t.ylen != 16)
            return source.Fail(line, "count1 tables have 16 values");
        if (count1 && t.xlen * t.ylen > 16)
            return source.Fail(line, "count1 tables have at most 16 values");
        if (rules.linbitsOnly16x16 && t.linbits > 0 && (t.xlen != 16 || t.ylen != 16))
            return source.Fail(line, "a table with LINBITS must be 16 x 16");
        t.defined = true;
        t.line = line;
        current = n;
        return true;
    }
    if (tok[0] == ".reference") {
        if (current < 0) return source.Fail(line, ".reference outside a table");
        Table& t = tables[static_cast<size_t>(current)];
        int m = 0;
        if (tok.size() != 2 || !ParseUint(tok[1], kTableCount - 1, m))
            return source.Fail(line, "expected '.reference M'");
        const Table& target = tables[static_cast<size_t>(m)];
        if (t.reference >= 0 || !t.codes.empty())
            return source.Fail(line, ".reference must come first and only once");
        if (!target.defined || target.reference >= 0 || target.codes.empty())
            return source.Fail(line,
                               "referenced table must be an earlier table with its own codes");
        if ((m >= kFirstCount1Table) != (current >= kFirstCount1Table) || target.xlen != t.xlen ||
            target.ylen != t.ylen)
            return source.Fail(line, "referenced table has a different shape");
        t.reference = m;
        return true;
    }
    return source.Fail(line, "unknown directive " + tok[0]);
}

// Fills `tables` from the code list; returns false after a message on stderr.
inline bool ParseHuffmanText(const TextSource& source, const Rules& rules, Tables& tables) {
    int current = -1;
    bool ended = false;
    const bool read = ReadTokenLines(source, [&](int line, const std::vector<std::string>& tok) {
        if (ended) return source.Fail(line, "content after .end");
        if (tok[0] == ".end") {
            if (tok.size() != 1) return source.Fail(line, "unexpected fields after .end");
            ended = true;
            return true;
        }
        if (tok[0][0] == '.') return ParseDirective(source, rules, tok, line, tables, current);
        if (current < 0) return source.Fail(line, "code line outside a table");
        Table& t = tables[static_cast<size_t>(current)];
        if (t.reference >= 0)
            return source.Fail(line, "a referencing table has no codes of its own");
        return ParseCodeLine(source, rules, tok, line, current, t);
    });
    if (!read) return false;
    // The end marker tells a complete file from a truncated one.
    if (!ended) return source.Fail(0, "missing .end (truncated file?)");
    for (int n = 0; n < kTableCount; ++n) {
        const Table& t = tables[static_cast<size_t>(n)];
        if (!t.defined) return source.Fail(0, "table " + std::to_string(n) + " is missing");
        const size_t values = static_cast<size_t>(t.xlen * t.ylen);
        // A table either refers to another or lists one code for every value it can hold.
        if (t.reference < 0 && t.codes.size() != values)
            return source.Fail(t.line, "table " + std::to_string(n) + " has " +
                                           std::to_string(t.codes.size()) + " codes, expected " +
                                           std::to_string(values));
    }
    return true;
}

}  // namespace layer3
