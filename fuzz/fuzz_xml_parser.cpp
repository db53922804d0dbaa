// The XML parser on arbitrary text: it must end with a tree no deeper than its bound or with one
// of its own error codes and a text, whatever the nesting and the entities ask for.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "XmlParser.h"

namespace {

[[noreturn]] void Fail(const char* what, long long detail) {
    std::fprintf(stderr, "fuzz_xml_parser: %s (%lld)\n", what, detail);
    std::abort();
}

int Depth(const tessura::XmlElement& element) {
    int deepest = 0;
    for (const tessura::XmlElement& child : element.children) {
        const int d = Depth(child);
        if (d > deepest) deepest = d;
    }
    return deepest + 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using tessura::XmlParser;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    XmlParser parser;
    tessura::XmlElement document;
    if (parser.Parse(text, "fuzz.lng", document)) {
        // The document itself is one level above the deepest element allowed.
        const int depth = Depth(document);
        if (depth > XmlParser::kMaxDepth + 1) Fail("tree deeper than the bound", depth);
        return 0;
    }
    const int code = parser.ErrorCode();
    if (code > XmlParser::kErrUnequalCount || code < XmlParser::kErrEntityExpansion) Fail("unknown error code", code);
    if (parser.ErrorText().empty()) Fail("error without a text", code);
    return 0;
}
