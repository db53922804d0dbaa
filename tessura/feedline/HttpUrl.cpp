#include "HttpUrl.h"

#include "HttpResponseParser.h"

namespace feedline {

namespace {

bool plainText(std::string_view text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 32 || u == 127) return false;
    }
    return true;
}

std::optional<uint16_t> portNumber(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return std::nullopt;
    return static_cast<uint16_t>(value);
}

// "[user[:password]@]host[:port]" into `url`.
bool takeAuthority(std::string_view authority, HttpUrl& url) {
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view userInfo = authority.substr(0, at);
        const std::size_t colon = userInfo.find(':');
        url.user = std::string(userInfo.substr(0, colon));
        if (colon != std::string_view::npos) url.password = std::string(userInfo.substr(colon + 1));
        authority.remove_prefix(at + 1);
    }
    std::string_view port;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return false;
        url.host = std::string(authority.substr(1, close - 1));
        const std::string_view rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return false;
            port = rest.substr(1);
            if (port.empty()) return false;
        }
    } else {
        const std::size_t colon = authority.rfind(':');
        url.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) {
            port = authority.substr(colon + 1);
            if (port.empty()) return false;
        }
    }
    if (url.host.empty()) return false;
    if (!port.empty()) {
        const std::optional<uint16_t> number = portNumber(port);
        if (!number) return false;
        url.port = *number;
    }
    return true;
}

}  // namespace

std::string HttpUrl::authority() const {
    const bool literal6 = host.find(':') != std::string::npos;
    std::string text;
    if (literal6) text += '[';
    text += host;
    if (literal6) text += ']';
    if (port != 80) {
        text += ':';
        text += std::to_string(port);
    }
    return text;
}

std::string HttpUrl::absolute() const {
    std::string text = "http://";
    text += authority();
    text += path;
    return text;
}

std::optional<HttpUrl> parseHttpUrl(std::string_view text) {
    static constexpr std::string_view kScheme = "http://";
    if (text.size() > kMaxUrlBytes || !plainText(text)) return std::nullopt;
    if (text.size() < kScheme.size() || !equalsIgnoringCase(text.substr(0, kScheme.size()), kScheme)) {
        return std::nullopt;
    }
    text.remove_prefix(kScheme.size());
    const std::size_t slash = text.find_first_of("/?#");
    HttpUrl url;
    if (!takeAuthority(text.substr(0, slash), url)) return std::nullopt;
    if (slash != std::string_view::npos) {
        std::string_view path = text.substr(slash);
        path = path.substr(0, path.find('#'));
        url.path.clear();
        if (path.empty() || path.front() != '/') url.path += '/';
        url.path.append(path);
    }
    return url;
}

std::optional<HttpUrl> parseProxy(std::string_view text) {
    while (!text.empty() && (text.back() == '/' || text.back() == ' ')) text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    if (text.find("://") == std::string_view::npos) {
        std::string full = "http://";
        full.append(text);
        return parseHttpUrl(full);
    }
    return parseHttpUrl(text);
}

std::optional<HttpUrl> resolveLocation(const HttpUrl& base, std::string_view location) {
    if (location.empty() || location.size() > kMaxUrlBytes || !plainText(location)) return std::nullopt;
    if (location.find("://") != std::string_view::npos) return parseHttpUrl(location);
    if (location.substr(0, 2) == "//") {
        std::string full = "http:";
        full.append(location);
        return parseHttpUrl(full);
    }
    HttpUrl next = base;
    next.user.clear();
    next.password.clear();
    if (location.front() == '/') {
        next.path = std::string(location);
    } else {
        std::string directory = base.path.substr(0, base.path.find('?'));
        directory = directory.substr(0, directory.rfind('/') + 1);
        next.path = directory;
        next.path.append(location);
    }
    next.path = next.path.substr(0, next.path.find('#'));
    return next;
}

std::string base64(std::string_view bytes) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16) |
                           (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const std::size_t left = bytes.size() - i;
    if (left > 0) {
        uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (left == 2) v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += left == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace feedline
