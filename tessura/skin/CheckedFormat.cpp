#include "CheckedFormat.h"

#include <cstdio>
#include <string>

namespace tessura {

namespace {

enum class Kind { Literal, Signed, Unsigned, Char, Floating, String, Invalid };

struct Conversion {
    Kind kind = Kind::Invalid;
    std::string flagsWidthPrecision;  // "-08.3" and the like
    char conversion = 0;
    std::size_t length = 0;  // characters the conversion takes in the format
};

// Width and precision are bounded so one conversion cannot ask for megabytes.
constexpr int kMaxFieldDigits = 3;

Conversion readConversion(std::string_view format, std::size_t start) {
    Conversion c;
    std::size_t i = start + 1;
    if (i < format.size() && format[i] == '%') {
        c.kind = Kind::Literal;
        c.length = 2;
        return c;
    }
    while (i < format.size() && std::string_view("-+ #0").find(format[i]) != std::string_view::npos) {
        c.flagsWidthPrecision += format[i++];
    }
    int digits = 0;
    while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
        c.flagsWidthPrecision += format[i++];
        if (++digits > kMaxFieldDigits) return c;
    }
    if (i < format.size() && format[i] == '.') {
        c.flagsWidthPrecision += format[i++];
        digits = 0;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
            c.flagsWidthPrecision += format[i++];
            if (++digits > kMaxFieldDigits) return c;
        }
    }
    // Length modifiers are accepted and dropped: the argument's own width is used.
    bool wide = false;
    while (i < format.size() && std::string_view("hlLqjzt").find(format[i]) != std::string_view::npos) {
        if (format[i] == 'l') wide = true;
        ++i;
    }
    if (i >= format.size()) return c;
    c.conversion = format[i];
    c.length = i + 1 - start;
    switch (c.conversion) {
        case 'd': case 'i': c.kind = Kind::Signed; break;
        case 'u': case 'x': case 'X': case 'o': c.kind = Kind::Unsigned; break;
        case 'c': c.kind = wide ? Kind::Invalid : Kind::Char; break;
        case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A':
            c.kind = Kind::Floating;
            break;
        case 's': c.kind = wide ? Kind::Invalid : Kind::String; break;
        default: c.kind = Kind::Invalid; break;  // 'n', 'p', '*', '$' and everything else
    }
    return c;
}

bool fits(Kind kind, const FormatArg& arg) {
    switch (kind) {
        case Kind::Signed: case Kind::Unsigned: case Kind::Char:
            return std::holds_alternative<long long>(arg);
        case Kind::Floating: return std::holds_alternative<double>(arg);
        case Kind::String: return std::holds_alternative<std::string_view>(arg);
        default: return false;
    }
}

// The format here is one conversion that was checked against its argument above.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <typename T>
void appendOne(std::string& out, const std::string& spec, T value) {
    char small[512];
    const int n = std::snprintf(small, sizeof small, spec.c_str(), value);
    if (n < 0) return;
    if (static_cast<std::size_t>(n) < sizeof small) {
        out.append(small, static_cast<std::size_t>(n));
        return;
    }
    std::string large(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(large.data(), large.size(), spec.c_str(), value);
    large.resize(static_cast<std::size_t>(n));
    out += large;
}
#pragma GCC diagnostic pop

void appendConversion(std::string& out, const Conversion& c, const FormatArg& arg) {
    const std::string base = "%" + c.flagsWidthPrecision;
    switch (c.kind) {
        case Kind::Signed:
            appendOne(out, base + "ll" + c.conversion, std::get<long long>(arg));
            break;
        case Kind::Unsigned:
            appendOne(out, base + "ll" + c.conversion,
                      static_cast<unsigned long long>(std::get<long long>(arg)));
            break;
        case Kind::Char:
            appendOne(out, base + "c", static_cast<int>(std::get<long long>(arg)));
            break;
        case Kind::Floating:
            appendOne(out, base + c.conversion, std::get<double>(arg));
            break;
        case Kind::String: {
            const std::string text(std::get<std::string_view>(arg));
            appendOne(out, base + "s", text.c_str());
            break;
        }
        default: break;
    }
}

// Walks the format; with `args` null only the syntax is checked.
std::optional<std::string> walk(std::string_view format, const std::span<const FormatArg>* args) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size();) {
        if (format[i] != '%') {
            out += format[i++];
            continue;
        }
        const Conversion c = readConversion(format, i);
        if (c.kind == Kind::Invalid) return std::nullopt;
        i += c.length;
        if (c.kind == Kind::Literal) {
            out += '%';
            continue;
        }
        if (args) {
            if (next >= args->size() || !fits(c.kind, (*args)[next])) return std::nullopt;
            appendConversion(out, c, (*args)[next]);
        }
        ++next;
    }
    return out;
}

}  // namespace

std::optional<std::string> formatChecked(std::string_view format,
                                         std::span<const FormatArg> args) {
    return walk(format, &args);
}

bool isWellFormedFormat(std::string_view format) {
    return walk(format, nullptr).has_value();
}

}  // namespace tessura
