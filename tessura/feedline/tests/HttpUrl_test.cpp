// Addresses, proxies, redirect targets and the Basic credentials.
#include "HttpUrl.h"

#include <gtest/gtest.h>

#include <vector>

namespace feedline {
namespace {

TEST(HttpUrl, ParsesAddresses) {
    struct Row {
        const char* text;
        bool valid;
        const char* host;
        int port;
        const char* path;
        const char* user;
    };
    const std::vector<Row> rows = {
        {"http://example.org", true, "example.org", 80, "/", ""},
        {"HTTP://example.org:8000/live.mp3?x=1#frag", true, "example.org", 8000, "/live.mp3?x=1", ""},
        {"http://u:p@127.0.0.1:9/a", true, "127.0.0.1", 9, "/a", "u"},
        {"http://[::1]:8080/s", true, "::1", 8080, "/s", ""},
        {"http://host?q", true, "host", 80, "/?q", ""},
        {"https://example.org/", false, "", 0, "", ""},
        {"ftp://example.org/", false, "", 0, "", ""},
        {"http://", false, "", 0, "", ""},
        {"http://host:0/", false, "", 0, "", ""},
        {"http://host:65536/", false, "", 0, "", ""},
        {"http://host:/", false, "", 0, "", ""},
        {"http://ho st/", false, "", 0, "", ""},
        {"http://host/a\r\nX: y", false, "", 0, "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const auto url = parseHttpUrl(row.text);
        ASSERT_EQ(url.has_value(), row.valid);
        if (!url) continue;
        EXPECT_EQ(url->host, row.host);
        EXPECT_EQ(url->port, row.port);
        EXPECT_EQ(url->path, row.path);
        EXPECT_EQ(url->user, row.user);
    }
    EXPECT_FALSE(parseHttpUrl("http://h/" + std::string(kMaxUrlBytes, 'a')));
}

TEST(HttpUrl, ParsesProxies) {
    EXPECT_EQ(parseProxy("proxy:3128")->port, 3128);
    EXPECT_EQ(parseProxy("http://proxy:3128/")->host, "proxy");
    EXPECT_EQ(parseProxy("proxy")->port, 80);
    EXPECT_FALSE(parseProxy(""));
}

TEST(HttpUrl, ResolvesRedirectTargets) {
    const HttpUrl base = *parseHttpUrl("http://a:1@host:81/dir/file?q");
    const std::vector<std::pair<const char*, const char*>> rows = {
        {"/top", "http://host:81/top"},
        {"next.mp3", "http://host:81/dir/next.mp3"},
        {"//other/x", "http://other/x"},
        {"http://third:82/y", "http://third:82/y"},
    };
    for (const auto& [location, expected] : rows) {
        const auto url = resolveLocation(base, location);
        ASSERT_TRUE(url) << location;
        EXPECT_EQ(url->absolute(), expected);
        EXPECT_TRUE(url->user.empty());
    }
    EXPECT_FALSE(resolveLocation(base, ""));
    EXPECT_FALSE(resolveLocation(base, "https://secure/"));
}

TEST(HttpUrl, EncodesBase64) {
    const std::vector<std::pair<const char*, const char*>> rows = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"user:pass", "dXNlcjpwYXNz"}};
    for (const auto& [in, out] : rows) EXPECT_EQ(base64(in), out);
}

}  // namespace
}  // namespace feedline
