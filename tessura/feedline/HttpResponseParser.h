#pragma once
// The response side of Feedline's HTTP client, without sockets: the status line ("HTTP/1.x" or
// the audiocast form "ICY 200 OK"), the header lines, and the body with its transfer coding
// (chunked, Content-Length or up to the end) and in-band metadata ("icy-metaint": every N
// audio bytes a length byte and that many 16-byte blocks of "StreamTitle='...';" text) taken
// out. Every line, count and size has a limit, so a hostile server cannot make it hold more
// than those limits.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace feedline {

struct HttpLimits {
    std::size_t maxLineBytes = 8192;     // one status, header, chunk-size or trailer line
    std::size_t maxHeaderCount = 100;
    std::size_t maxHeadBytes = 65536;    // the whole response head
    std::size_t maxTrailerBytes = 8192;  // the trailer of a chunked body
    uint32_t maxMetaInterval = 1u << 20; // icy-metaint above this is refused
};

struct HttpHeader {
    std::string name, value;
};

struct HttpHead {
    enum class Protocol { Http10, Http11, Icy };
    Protocol protocol = Protocol::Http10;
    int status = 0;
    std::string reason;
    std::vector<HttpHeader> headers;

    // The first header of that name (any case), or null.
    const std::string* find(std::string_view name) const;
};

class HttpResponseParser {
  public:
    enum class Result { NeedMore, Done, Error };

    explicit HttpResponseParser(HttpLimits limits = {});

    // The head: takes bytes until the blank line that ends it; `consumed` tells how many were
    // used (the rest belongs to the body). Done once the head is complete; Error (see error())
    // for a malformed or oversized head.
    Result feedHead(const uint8_t* data, std::size_t size, std::size_t& consumed);
    const HttpHead& head() const { return head_; }

    // The body, after a complete head: appends the audio bytes of `data` to `audio` (never
    // more than `size` bytes). Done when the body is complete (chunked end or Content-Length
    // reached; later bytes are ignored), Error for a malformed body, else NeedMore.
    Result feedBody(const uint8_t* data, std::size_t size, std::string& audio);
    // Whether the connection closing now ends the body properly.
    bool completeAtEnd() const;

    // The current in-band title, once one has arrived; `titleChanged` says whether it is new
    // since the last takeTitleChange.
    bool takeTitleChange(std::string& title);
    const std::optional<std::string>& streamTitle() const { return title_; }

    // The FEEDLINE_* code of the last Error.
    int error() const { return error_; }
    bool chunked() const { return chunked_; }
    std::optional<uint64_t> contentLength() const { return contentLength_; }
    uint32_t metaInterval() const { return metaInterval_; }

  private:
    Result fail(int code);
    bool takeStatusLine(std::string_view line);
    bool takeHeaderLine(std::string_view line);
    bool configureBody();
    Result decodeChunked(const uint8_t* data, std::size_t size, std::string& audio);
    void deliverEntity(const uint8_t* data, std::size_t size, std::string& audio);
    void takeMetadata();

    HttpLimits limits_;
    HttpHead head_;
    std::string line_;
    std::size_t headBytes_ = 0;
    bool sawStatus_ = false;
    bool headDone_ = false;
    bool bodyDone_ = false;
    int error_ = 0;

    bool chunked_ = false;
    enum class ChunkState { Size, Data, DataEnd, Trailer, Done };
    ChunkState chunkState_ = ChunkState::Size;
    uint64_t chunkLeft_ = 0;
    std::size_t trailerBytes_ = 0;

    std::optional<uint64_t> contentLength_;
    uint64_t entityLeft_ = 0;

    uint32_t metaInterval_ = 0;
    uint32_t audioLeft_ = 0;
    bool inMetadata_ = false;
    bool awaitingMetaLength_ = false;
    std::size_t metaLeft_ = 0;
    std::string metadata_;
    std::optional<std::string> title_;
    bool titleChanged_ = false;
};

// The StreamTitle of one metadata block ("StreamTitle='A - B';StreamUrl='';" padded with NULs),
// or nothing when it has none.
std::optional<std::string> streamTitleOf(std::string_view metadata);

bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace feedline
