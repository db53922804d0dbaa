#pragma once
// The parts of an "http://" address, and where a redirect's Location leads from one.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace feedline {

struct HttpUrl {
    std::string host;  // without the brackets of an IPv6 literal
    uint16_t port = 80;
    std::string path = "/";  // with its query
    std::string user, password;  // from "user:password@", empty when none

    // "host" or "host:port" as a Host header and an absolute request target carry it.
    std::string authority() const;
    std::string absolute() const;
};

inline constexpr std::size_t kMaxUrlBytes = 2047;

// An "http://" address (scheme in any case); nothing for anything else or an address with
// blanks, control characters or a bad port.
std::optional<HttpUrl> parseHttpUrl(std::string_view text);
// A proxy given as "host:port" or "http://host:port".
std::optional<HttpUrl> parseProxy(std::string_view text);
// Where `location` leads from `base`: absolute, scheme-relative, absolute path or relative.
std::optional<HttpUrl> resolveLocation(const HttpUrl& base, std::string_view location);

std::string base64(std::string_view bytes);

}  // namespace feedline
