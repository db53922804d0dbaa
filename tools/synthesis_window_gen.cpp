// synthesis_window_gen INPUT OUTPUT.cpp
//
// Turns Veloradec/tables/synthesis_window.txt (lines "i k value", D[i] = k / 65536) into the
// definition of velora::kSynthesisWindow. Every value is written as its exact decimal
// expansion, which a multiple of 2^-16 always has, so the compiler's float is exactly
// k / 65536. The output is written to a temporary file and renamed.

#include "GeneratedFile.h"
#include "TextTable.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 512;
// |k| up to 2^24 keeps k / 65536 exact in a float.
constexpr long kMaxMagnitude = 1L << 24;

constexpr const char* kTool = "synthesis_window_gen";
TextSource g_input{kTool, ""};

bool ParseLong(const std::string& text, long& out) {
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
}

// The exact decimal form of k / 65536: 10^16 / 2^16 = 5^16, so 16 fraction digits suffice.
std::string ExactLiteral(long k) {
    const unsigned long magnitude = static_cast<unsigned long>(k < 0 ? -k : k);
    const unsigned long whole = magnitude >> 16;
    const unsigned long fraction = (magnitude & 0xFFFFu) * 152587890625UL;  // 5^16
    char digits[32];
    std::snprintf(digits, sizeof digits, "%016lu", fraction);
    std::string fractionText = digits;
    while (fractionText.size() > 1 && fractionText.back() == '0') fractionText.pop_back();
    return std::string(k < 0 ? "-" : "") + std::to_string(whole) + "." + fractionText + "f";
}

bool ParseFile(std::array<long, kSize>& window) {
    std::array<int, kSize> seenAt{};
    const bool read = ReadTokenLines(g_input, [&](int line, const std::vector<std::string>& tok) {
        if (tok.size() != 3) return g_input.Fail(line, "expected 'i k value'");
        long index = 0;
        long k = 0;
        if (!ParseLong(tok[0], index) || index < 0 || index >= kSize)
            return g_input.Fail(line, "index must be 0.." + std::to_string(kSize - 1));
        if (!ParseLong(tok[1], k) || k < -kMaxMagnitude || k > kMaxMagnitude)
            return g_input.Fail(line, "k must be an integer of magnitude at most 2^24");
        // The printed value guards against a shifted or mistyped k column.
        char* end = nullptr;
        const double printed = std::strtod(tok[2].c_str(), &end);
        if (end == tok[2].c_str() || *end != '\0')
            return g_input.Fail(line, "value is not a number");
        if (std::fabs(printed - static_cast<double>(k) / 65536.0) > 0.6e-9)
            return g_input.Fail(line, "value does not match k / 65536");
        const size_t i = static_cast<size_t>(index);
        if (seenAt[i] != 0)
            return g_input.Fail(
                line, "index " + tok[0] + " already given on line " + std::to_string(seenAt[i]));
        seenAt[i] = line;
        window[i] = k;
        return true;
    });
    if (!read) return false;
    for (size_t i = 0; i < kSize; ++i)
        if (seenAt[i] == 0) return g_input.Fail(0, "index " + std::to_string(i) + " is missing");
    return true;
}

bool WriteSource(std::FILE* out, const std::array<long, kSize>& window) {
    WriteGeneratedNotice(out, kTool, g_input.path);
    std::fprintf(out, "#include \"SynthesisWindow.h\"\n\nnamespace velora {\n\n");
    std::fprintf(out, "const float kSynthesisWindow[512] = {\n");
    for (size_t i = 0; i < kSize; i += 4) {
        std::fprintf(out, "   ");
        for (size_t j = i; j < i + 4; ++j)
            std::fprintf(out, " %s,", ExactLiteral(window[j]).c_str());
        std::fprintf(out, "  // %zu\n", i);
    }
    std::fprintf(out, "};\n\n}  // namespace velora\n");
    return std::ferror(out) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: synthesis_window_gen INPUT OUTPUT.cpp\n");
        return 2;
    }
    g_input.path = argv[1];
    const std::string output = argv[2];

    std::array<long, kSize> window{};
    if (!ParseFile(window)) return 1;

    return WriteGeneratedFile(kTool, output,
                              [&](std::FILE* out) { return WriteSource(out, window); });
}
