// The response parser on whole responses, fed in every split, and on hostile ones.
#include "FeedlineAbi.h"
#include "HttpResponseParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace feedline {
namespace {

struct Parsed {
    HttpResponseParser::Result headResult = HttpResponseParser::Result::NeedMore;
    HttpResponseParser::Result bodyResult = HttpResponseParser::Result::NeedMore;
    int error = 0;
    int status = 0;
    std::string audio;
    std::optional<std::string> title;
    bool completeAtEnd = false;
    HttpHead head;
};

// Feeds `response` in pieces of `piece` bytes, head then body, as the client does.
Parsed parse(const std::string& response, std::size_t piece, HttpLimits limits = {}) {
    HttpResponseParser parser(limits);
    Parsed out;
    std::size_t at = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(response.data());
    while (at < response.size()) {
        const std::size_t n = std::min(piece, response.size() - at);
        std::size_t used = 0;
        if (out.headResult != HttpResponseParser::Result::Done) {
            out.headResult = parser.feedHead(bytes + at, n, used);
            if (out.headResult == HttpResponseParser::Result::Error) break;
        }
        if (out.headResult == HttpResponseParser::Result::Done && used < n) {
            out.bodyResult = parser.feedBody(bytes + at + used, n - used, out.audio);
            if (out.bodyResult == HttpResponseParser::Result::Error) break;
        }
        at += n;
    }
    out.error = parser.error();
    out.status = parser.head().status;
    out.title = parser.streamTitle();
    out.completeAtEnd = parser.completeAtEnd();
    out.head = parser.head();
    return out;
}

std::string withMetadata(const std::string& audio, std::size_t interval, const std::vector<std::string>& blocks) {
    std::string out;
    std::size_t at = 0, block = 0;
    while (at < audio.size()) {
        const std::size_t n = std::min(interval, audio.size() - at);
        out += audio.substr(at, n);
        at += n;
        if (n < interval) break;
        const std::string meta = block < blocks.size() ? blocks[block++] : std::string();
        const std::size_t padded = (meta.size() + 15) / 16 * 16;
        out += static_cast<char>(padded / 16);
        out += meta + std::string(padded - meta.size(), '\0');
    }
    return out;
}

std::string pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + 3) % 251);
    return s;
}

struct Case {
    const char* name;
    std::string response;
    HttpResponseParser::Result head;
    int error;
    int status;
    std::string audio;
    std::optional<std::string> title;
    bool completeAtEnd;
};

std::vector<Case> cases() {
    const std::string body = pattern(3000);
    const std::string meta1 = "StreamTitle='First song';StreamUrl='';";
    const std::string meta2 = "StreamTitle='It''s two';";
    using R = HttpResponseParser::Result;
    return {
        {"plain close-delimited", "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n" + body, R::Done, 0, 200,
         body, std::nullopt, true},
        {"icy status line, LF only", "ICY 200 OK\nicy-name: Station\n\n" + body, R::Done, 0, 200, body,
         std::nullopt, true},
        {"content length cuts the body", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + body, R::Done, 0,
         200, body.substr(0, 1000), std::nullopt, true},
        {"content length not reached", "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + body, R::Done, 0, 200,
         body, std::nullopt, false},
        {"chunked with extension and trailer",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" "a;x=1\r\n" + body.substr(0, 10) + "\r\n" +
             "BAE\r\n" + body.substr(10, 2990) + "\r\n0\r\nX-Trailer: 1\r\n\r\n",
         R::Done, 0, 200, body, std::nullopt, true},
        {"chunked cut short", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n" + body.substr(0, 8),
         R::Done, 0, 200, body.substr(0, 8), std::nullopt, false},
        {"chunk size not hex", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", R::Done,
         FEEDLINE_MALFORMED_RESPONSE, 200, "", std::nullopt, false},
        {"chunk size overlong", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1000000000000000\r\n",
         R::Done, FEEDLINE_MALFORMED_RESPONSE, 200, "", std::nullopt, false},
        {"metadata stripped, last title kept",
         "ICY 200 OK\r\nicy-metaint: 1000\r\n\r\n" + withMetadata(body, 1000, {meta1, "", meta2}), R::Done, 0,
         200, body, std::string("It''s two"), true},
        {"metaint zero means none", "ICY 200 OK\r\nicy-metaint: 0\r\n\r\n" + body, R::Done, 0, 200, body,
         std::nullopt, true},
        {"metaint not a number", "ICY 200 OK\r\nicy-metaint: x\r\n\r\n", R::Error, FEEDLINE_MALFORMED_RESPONSE,
         200, "", std::nullopt, false},
        {"metaint too large", "ICY 200 OK\r\nicy-metaint: 99999999\r\n\r\n", R::Error,
         FEEDLINE_MALFORMED_RESPONSE, 200, "", std::nullopt, false},
        {"redirect head", "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 0\r\n\r\n", R::Done, 0, 302,
         "", std::nullopt, true},
        {"folded header", "HTTP/1.0 200 OK\r\nX-A: one\r\n  two\r\n\r\n", R::Done, 0, 200, "", std::nullopt, true},
        {"no status line", "Content-Type: audio/mpeg\r\n\r\n", R::Error, FEEDLINE_MALFORMED_RESPONSE, 0, "",
         std::nullopt, false},
        {"unknown protocol", "SPDY/9 200 OK\r\n\r\n", R::Error, FEEDLINE_MALFORMED_RESPONSE, 0, "", std::nullopt,
         false},
        {"status not numeric", "HTTP/1.1 2x0 OK\r\n\r\n", R::Error, FEEDLINE_MALFORMED_RESPONSE, 0, "",
         std::nullopt, false},
        {"header without colon", "HTTP/1.1 200 OK\r\nbroken\r\n\r\n", R::Error, FEEDLINE_MALFORMED_RESPONSE, 200,
         "", std::nullopt, false},
        {"bad content length", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n", R::Error,
         FEEDLINE_MALFORMED_RESPONSE, 200, "", std::nullopt, false},
        {"NUL in a header", std::string("HTTP/1.1 200 OK\r\nX: a\0b\r\n\r\n", 27), R::Error,
         FEEDLINE_MALFORMED_RESPONSE, 200, "", std::nullopt, false},
        {"endless header line", "HTTP/1.1 200 OK\r\nX-Long: " + std::string(20000, 'a'), R::Error,
         FEEDLINE_RESPONSE_TOO_LARGE, 200, "", std::nullopt, false},
        {"too many headers", "HTTP/1.1 200 OK\r\n" + [] {
             std::string s;
             for (int i = 0; i < 101; ++i) s += "X-" + std::to_string(i) + ": v\r\n";
             return s;
         }() + "\r\n",
         R::Error, FEEDLINE_RESPONSE_TOO_LARGE, 200, "", std::nullopt, false},
        {"head too large in total", "HTTP/1.1 200 OK\r\n" + [] {
             std::string s;
             for (int i = 0; i < 90; ++i) s += "X-" + std::to_string(i) + ": " + std::string(800, 'v') + "\r\n";
             return s;
         }() + "\r\n",
         R::Error, FEEDLINE_RESPONSE_TOO_LARGE, 200, "", std::nullopt, false},
        {"head not finished", "HTTP/1.1 200 OK\r\nX: 1\r\n", R::NeedMore, 0, 200, "", std::nullopt, false},
    };
}

TEST(HttpResponseParser, ParsesEachCaseTheSameWhateverTheSplit) {
    for (const Case& c : cases()) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{512}, std::size_t{1} << 20}) {
            SCOPED_TRACE(std::string(c.name) + " in pieces of " + std::to_string(piece));
            const Parsed p = parse(c.response, piece);
            EXPECT_EQ(p.headResult, c.head);
            EXPECT_EQ(p.error, c.error);
            EXPECT_EQ(p.status, c.status);
            EXPECT_EQ(p.audio.size(), c.audio.size());
            EXPECT_TRUE(p.audio == c.audio);
            EXPECT_EQ(p.title, c.title);
            EXPECT_EQ(p.completeAtEnd, c.completeAtEnd);
        }
    }
}

TEST(HttpResponseParser, KeepsHeadersAndTheirValues) {
    const Parsed p = parse("ICY 200 OK\r\nicy-name: A Station \r\nX-A: one\r\n\ttwo\r\nicy-br:128\r\n\r\n", 3);
    EXPECT_EQ(p.head.protocol, HttpHead::Protocol::Icy);
    ASSERT_NE(p.head.find("ICY-NAME"), nullptr);
    EXPECT_EQ(*p.head.find("icy-name"), "A Station");
    EXPECT_EQ(*p.head.find("x-a"), "one two");
    EXPECT_EQ(*p.head.find("icy-br"), "128");
    EXPECT_EQ(p.head.find("x-missing"), nullptr);
}

TEST(HttpResponseParser, ReportsEachNewTitleOnce) {
    HttpResponseParser parser;
    const std::string head = "ICY 200 OK\r\nicy-metaint: 4\r\n\r\n";
    std::size_t used = 0;
    ASSERT_EQ(parser.feedHead(reinterpret_cast<const uint8_t*>(head.data()), head.size(), used),
              HttpResponseParser::Result::Done);
    const std::string body = withMetadata("abcdefghijkl", 4, {"StreamTitle='X';", "StreamTitle='X';", "StreamTitle='Y';"});
    std::string audio, title;
    std::vector<std::string> seen;
    for (char c : body) {
        parser.feedBody(reinterpret_cast<const uint8_t*>(&c), 1, audio);
        if (parser.takeTitleChange(title)) seen.push_back(title);
    }
    EXPECT_EQ(audio, "abcdefghijkl");
    EXPECT_EQ(seen, (std::vector<std::string>{"X", "Y"}));
}

TEST(HttpResponseParser, BodyBeforeHeadIsRefused) {
    HttpResponseParser parser;
    std::string audio;
    const uint8_t byte = 'x';
    EXPECT_EQ(parser.feedBody(&byte, 1, audio), HttpResponseParser::Result::Error);
    EXPECT_EQ(parser.error(), FEEDLINE_NOT_OPEN);
}

TEST(StreamTitleOf, TakesTheQuotedTitle) {
    struct Row {
        std::string metadata;
        std::optional<std::string> title;
    };
    const std::vector<Row> rows = {
        {"StreamTitle='Artist - Song';StreamUrl='http://x';", std::string("Artist - Song")},
        {std::string("StreamTitle='';\0\0\0", 18), std::string("")},
        {"StreamTitle='No end", std::string("No end")},
        {"StreamTitle='Line\r\nbreak';", std::string("Line  break")},
        {"StreamUrl='only';", std::nullopt},
        {"", std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(streamTitleOf(row.metadata), row.title) << row.metadata;
}

}  // namespace
}  // namespace feedline
