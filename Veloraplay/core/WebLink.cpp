#include "WebLink.h"

#include <algorithm>
#include <cctype>

namespace veloraplay {
namespace {

bool isAsciiAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isAsciiAlnum(char c) {
    return isAsciiAlpha(c) || isAsciiDigit(c);
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool startsWithNoCase(const std::string& text, const char* prefix) {
    const std::string p = prefix;
    return text.size() >= p.size() && lower(text.substr(0, p.size())) == p;
}

// The scheme at the start of the address (RFC 3986: a letter, then letters, digits, '+',
// '-', '.'), or nothing. "host:8080" and "host:" followed by a path of digits is a host with
// a port, and a name with a dot before the colon is a host too: no scheme we would open has
// one.
std::optional<std::string> schemeOf(const std::string& address) {
    const std::size_t colon = address.find(':');
    if (colon == std::string::npos || colon == 0 || !isAsciiAlpha(address[0])) return std::nullopt;
    for (std::size_t i = 1; i < colon; ++i) {
        const char c = address[i];
        if (!isAsciiAlnum(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    }
    const std::string name = address.substr(0, colon);
    if (name.find('.') != std::string::npos) return std::nullopt;
    std::size_t digits = colon + 1;
    while (digits < address.size() && isAsciiDigit(address[digits])) ++digits;
    if (digits > colon + 1 && (digits == address.size() || address[digits] == '/')) {
        return std::nullopt;  // a port
    }
    return lower(name);
}

}  // namespace

std::string browserProblemText(const std::string& address) {
    return std::string(kBrowserProblemText) + address + kBrowserProblemTail;
}

std::optional<std::string> browserAddress(const std::string& address) {
    if (address.empty()) return std::nullopt;
    const bool unsafe = std::any_of(address.begin(), address.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7f;
    });
    if (unsafe) return std::nullopt;

    if (const auto scheme = schemeOf(address)) {
        const std::string rest = address.substr(scheme->size() + 1);
        if (*scheme == "mailto") {
            if (rest.empty()) return std::nullopt;
            return address;
        }
        if (*scheme != "http" && *scheme != "https" && *scheme != "ftp") return std::nullopt;
        if (rest.size() < 3 || rest.compare(0, 2, "//") != 0 || rest[2] == '/') {
            return std::nullopt;  // no host
        }
        return address;
    }

    if (!isAsciiAlnum(address[0])) return std::nullopt;
    if (startsWithNoCase(address, "ftp.")) return "ftp://" + address;
    const std::size_t at = address.find('@');
    if (at != std::string::npos && at > 0 && at + 1 < address.size() &&
        address.find('/') == std::string::npos) {
        return "mailto:" + address;
    }
    return "http://" + address;
}

WebLink::WebLink(Launcher& launcher, DialogService& dialogs)
    : launcher_(launcher), dialogs_(dialogs) {}

bool WebLink::open(const std::string& address) {
    const auto target = browserAddress(address);
    if (target && launcher_.open(*target)) return true;
    MessageBoxRequest request;
    request.title = "veloraplay";
    request.text = browserProblemText(address);
    request.buttons = DialogButtons::Ok;
    request.icon = DialogIcon::Warning;
    dialogs_.messageBox(request);
    return false;
}

}  // namespace veloraplay
