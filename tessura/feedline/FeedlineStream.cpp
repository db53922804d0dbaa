#include "FeedlineStream.h"

#include "Socket.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace feedline {

namespace {

bool headerSafe(const char* text, std::size_t limit) {
    if (text == nullptr) return false;
    const std::size_t length = strnlen(text, limit + 1);
    if (length > limit) return false;
    return std::none_of(text, text + length, [](char c) { return c == '\r' || c == '\n'; });
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

char* copyText(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

}  // namespace

FeedlineStream::FeedlineStream() = default;

FeedlineStream::~FeedlineStream() { closeSocket(); }

void FeedlineStream::closeSocket() {
    const int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

int32_t FeedlineStream::setRequestHeader(const char* name, const char* value) {
    if (!headerSafe(name, 256) || !headerSafe(value, kMaxRequestHeaderBytes) || *name == '\0' ||
        std::strchr(name, ':') != nullptr) {
        return FEEDLINE_BAD_ARGUMENT;
    }
    for (HttpHeader& header : requestHeaders_) {
        if (equalsIgnoringCase(header.name, name)) {
            header.value = value;
            return FEEDLINE_OK;
        }
    }
    if (requestHeaders_.size() >= kMaxRequestHeaders) return FEEDLINE_BAD_ARGUMENT;
    requestHeaders_.push_back({name, value});
    return FEEDLINE_OK;
}

int32_t FeedlineStream::removeRequestHeader(const char* name) {
    if (name == nullptr) return FEEDLINE_BAD_ARGUMENT;
    std::erase_if(requestHeaders_, [name](const HttpHeader& h) { return equalsIgnoringCase(h.name, name); });
    return FEEDLINE_OK;
}

int32_t FeedlineStream::responseHeader(const char* name, char* buffer, int32_t size) const {
    if (name == nullptr) return -1;
    const std::string_view wanted = name;
    std::lock_guard<std::mutex> hold(mutex_);
    const std::string* value = nullptr;
    if (streamTitle_ && equalsIgnoringCase(wanted, FEEDLINE_STREAM_TITLE_HEADER)) value = &*streamTitle_;
    auto find = [this](std::string_view n) -> const std::string* {
        for (const HttpHeader& h : responseHeaders_) {
            if (equalsIgnoringCase(h.name, n)) return &h.value;
        }
        return nullptr;
    };
    if (value == nullptr) value = find(wanted);
    // Audiocast servers of the other dialect name the same headers "icy-name" and so on.
    static constexpr std::string_view kAudiocast = "x-audiocast-";
    if (value == nullptr && wanted.size() > kAudiocast.size() &&
        equalsIgnoringCase(wanted.substr(0, kAudiocast.size()), kAudiocast)) {
        value = find("icy-" + std::string(wanted.substr(kAudiocast.size())));
    }
    if (value == nullptr) return -1;
    if (buffer != nullptr && size > 0) {
        const std::size_t copied = std::min(value->size(), static_cast<std::size_t>(size) - 1);
        std::memcpy(buffer, value->data(), copied);
        buffer[copied] = '\0';
    }
    return static_cast<int32_t>(std::min<std::size_t>(value->size(), INT32_MAX));
}

int32_t FeedlineStream::status(int32_t which) const {
    switch (which) {
    case FEEDLINE_STATUS_CANCELLED_CODE:
        return FEEDLINE_CANCELLED;
    case FEEDLINE_STATUS_LAST_RESULT:
        return lastResult_;
    case FEEDLINE_STATUS_HTTP_CODE:
        return httpCode_;
    case FEEDLINE_STATUS_REDIRECTS:
        return redirects_;
    default:
        return FEEDLINE_BAD_ARGUMENT;
    }
}

std::string FeedlineStream::requestFor(const HttpUrl& url, const std::string& protocol,
                                       const std::optional<HttpUrl>& proxy,
                                       const FeedlineProxy* proxyTexts) const {
    std::string request = "GET " + (proxy ? url.absolute() : url.path) + " " + protocol + "\r\n";
    request += "Host: " + url.authority() + "\r\n";
    request += "Accept: */*\r\n";
    request += "Icy-MetaData: 1\r\n";
    request += "Connection: close\r\n";
    if (!url.user.empty()) {
        request += "Authorization: Basic " + base64(url.user + ":" + url.password) + "\r\n";
    }
    if (proxy && proxyTexts != nullptr && proxyTexts->user != nullptr && *proxyTexts->user != '\0') {
        const std::string password = proxyTexts->password != nullptr ? proxyTexts->password : "";
        request += "Proxy-Authorization: Basic " + base64(std::string(proxyTexts->user) + ":" + password) + "\r\n";
    }
    for (const HttpHeader& header : requestHeaders_) request += header.name + ": " + header.value + "\r\n";
    request += "\r\n";
    return request;
}

int32_t FeedlineStream::exchange(const HttpUrl& url, const std::string& protocol,
                                 const std::optional<HttpUrl>& proxy, const FeedlineProxy* proxyTexts,
                                 int cancel, FeedlineEventCallback callback) {
    const HttpUrl& peer = proxy ? *proxy : url;
    int fd = -1;
    const int connected = connectTcp(peer.host, peer.port, cancel, Deadline(timeouts_.connectMs), fd);
    if (connected != FEEDLINE_OK) return connected;
    fd_ = fd;
    if (callback != nullptr) callback(FEEDLINE_EVENT_SENDING_REQUEST, self_);

    const Deadline headDeadline(timeouts_.headMs);
    const int sent = sendAll(fd, requestFor(url, protocol, proxy, proxyTexts), cancel, headDeadline);
    if (sent != FEEDLINE_OK) return sent;

    parser_ = std::make_unique<HttpResponseParser>();
    std::vector<uint8_t> buffer(receiveBytes_);
    for (;;) {
        const int got = receiveSome(fd, buffer.data(), buffer.size(), cancel, headDeadline);
        if (got < 0) return got;
        if (got == 0) return FEEDLINE_CONNECTION_LOST;
        std::size_t used = 0;
        const auto result = parser_->feedHead(buffer.data(), static_cast<std::size_t>(got), used);
        if (result == HttpResponseParser::Result::Error) return parser_->error();
        if (result == HttpResponseParser::Result::Done) {
            // What came with the head is the beginning of the body.
            if (used < static_cast<std::size_t>(got)) {
                if (parser_->feedBody(buffer.data() + used, static_cast<std::size_t>(got) - used, pending_) ==
                    HttpResponseParser::Result::Error) {
                    return parser_->error();
                }
            }
            return FEEDLINE_OK;
        }
    }
}

int32_t FeedlineStream::open(const char* url, int32_t bufferKb, const char* protocol, int32_t timeoutMs,
                             const FeedlineProxy* proxy, int cancel, FeedlineEventCallback callback,
                             char** text) {
    if (text != nullptr) *text = nullptr;
    close();
    {
        std::lock_guard<std::mutex> hold(mutex_);
        responseHeaders_.clear();
        streamTitle_.reset();
    }
    httpCode_ = 0;
    if (url == nullptr || protocol == nullptr) return finish(FEEDLINE_BAD_ARGUMENT);
    const std::string version = protocol;
    if (version != "HTTP/1.1" && version != "HTTP/1.0") return finish(FEEDLINE_BAD_ARGUMENT);
    const Timeouts defaults;
    timeouts_ = defaults;
    if (timeoutMs > 0) {
        timeouts_.connectMs = std::min(timeouts_.connectMs, timeoutMs);
        timeouts_.headMs = std::min(timeouts_.headMs, timeoutMs);
        timeouts_.readMs = std::min(timeouts_.readMs, timeoutMs);
    }
    receiveBytes_ = static_cast<std::size_t>(std::clamp(bufferKb, 1, 64)) * 1024;

    std::optional<HttpUrl> proxyUrl;
    if (proxy != nullptr && proxy->url != nullptr && *proxy->url != '\0') {
        proxyUrl = parseProxy(proxy->url);
        if (!proxyUrl) return finish(FEEDLINE_BAD_URL);
    }
    std::optional<HttpUrl> target = parseHttpUrl(url);
    if (!target) return finish(FEEDLINE_BAD_URL);

    for (int hop = 0;; ++hop) {
        redirects_ = hop;
        pending_.clear();
        pendingAt_ = 0;
        const int32_t result = exchange(*target, version, proxyUrl, proxy, cancel, callback);
        if (result != FEEDLINE_OK) {
            closeSocket();
            return finish(result);
        }
        const HttpHead& head = parser_->head();
        httpCode_ = head.status;
        if (isRedirect(head.status)) {
            const std::string* location = head.find("Location");
            closeSocket();
            if (location == nullptr) return finish(FEEDLINE_HTTP_STATUS);
            if (hop >= kMaxRedirects) return finish(FEEDLINE_TOO_MANY_REDIRECTS);
            target = resolveLocation(*target, *location);
            if (!target) return finish(FEEDLINE_BAD_URL);
            continue;
        }
        if (head.status < 200 || head.status > 299) {
            closeSocket();
            return finish(FEEDLINE_HTTP_STATUS);
        }
        break;
    }
    {
        std::lock_guard<std::mutex> hold(mutex_);
        responseHeaders_ = parser_->head().headers;
        streamTitle_.reset();
    }
    ended_ = false;
    if (callback != nullptr) callback(FEEDLINE_EVENT_RESPONSE_HEADERS, self_);
    if (text != nullptr) {
        char name[512];
        if (responseHeader("x-audiocast-name", name, sizeof name) > 0) *text = copyText(name);
    }
    return finish(FEEDLINE_OK);
}

int32_t FeedlineStream::read(void* buffer, std::size_t wanted, int cancel) {
    if (buffer == nullptr) return finish(FEEDLINE_BAD_ARGUMENT);
    if (!parser_ || fd_ < 0) return finish(ended_ ? 0 : FEEDLINE_NOT_OPEN);
    if (wanted == 0) return finish(0);
    std::vector<uint8_t> received;
    while (pendingAt_ >= pending_.size()) {
        pending_.clear();
        pendingAt_ = 0;
        if (ended_) return finish(0);
        if (received.empty()) received.resize(receiveBytes_);
        const int got = receiveSome(fd_, received.data(), received.size(), cancel, Deadline(timeouts_.readMs));
        if (got < 0) return finish(got);
        if (got == 0) {
            ended_ = true;
            return finish(parser_->completeAtEnd() ? 0 : FEEDLINE_CONNECTION_LOST);
        }
        const auto result = parser_->feedBody(received.data(), static_cast<std::size_t>(got), pending_);
        if (result == HttpResponseParser::Result::Error) return finish(parser_->error());
        if (result == HttpResponseParser::Result::Done) ended_ = true;
        std::string title;
        if (parser_->takeTitleChange(title)) {
            std::lock_guard<std::mutex> hold(mutex_);
            streamTitle_ = std::move(title);
        }
    }
    const std::size_t n = std::min(wanted, pending_.size() - pendingAt_);
    std::memcpy(buffer, pending_.data() + pendingAt_, n);
    pendingAt_ += n;
    return finish(static_cast<int32_t>(n));
}

int32_t FeedlineStream::close() {
    closeSocket();
    parser_.reset();
    pending_.clear();
    pendingAt_ = 0;
    ended_ = true;
    return FEEDLINE_OK;
}

}  // namespace feedline
