#pragma once
// One Feedline stream instance: an HTTP/1.x (and audiocast "ICY") client for one stream at a
// time, behind the instance table of FeedlineAbi.h.
//
// Threads: open, read and close run on the caller's reader thread; response_header and socket
// may be called from others while it reads (the headers and the title are guarded by mutex_).
#include "FeedlineAbi.h"
#include "HttpResponseParser.h"
#include "HttpUrl.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace feedline {

struct Timeouts {
    int connectMs = 10000;
    int headMs = 15000;  // the whole response head, however slowly it comes
    int readMs = 30000;  // each read of the body
};

class FeedlineStream {
  public:
    static constexpr int kMaxRedirects = 5;
    static constexpr std::size_t kMaxRequestHeaders = 64;
    static constexpr std::size_t kMaxRequestHeaderBytes = 4096;
    static constexpr std::size_t kReceiveBytes = 4096;

    FeedlineStream();
    ~FeedlineStream();
    FeedlineStream(const FeedlineStream&) = delete;
    FeedlineStream& operator=(const FeedlineStream&) = delete;

    // The instance handed to the event callback (the exported box that holds this stream).
    void bind(FeedlineInstance* self) { self_ = self; }

    int32_t open(const char* url, int32_t bufferKb, const char* protocol, int32_t timeoutMs,
                 const FeedlineProxy* proxy, int cancel, FeedlineEventCallback callback, char** text);
    int32_t read(void* buffer, std::size_t wanted, int cancel);
    int32_t close();
    int32_t status(int32_t which) const;
    int32_t setRequestHeader(const char* name, const char* value);
    int32_t removeRequestHeader(const char* name);
    int32_t responseHeader(const char* name, char* buffer, int32_t size) const;
    int socket() const { return fd_.load(); }
    void* userSlot() const { return userSlot_.load(); }
    void setUserSlot(void* value) { userSlot_ = value; }

  private:
    // One request and its response head; Done with the head in parser_, or an error code.
    int32_t exchange(const HttpUrl& url, const std::string& protocol, const std::optional<HttpUrl>& proxy,
                     const FeedlineProxy* proxyTexts, int cancel, FeedlineEventCallback callback);
    std::string requestFor(const HttpUrl& url, const std::string& protocol,
                           const std::optional<HttpUrl>& proxy, const FeedlineProxy* proxyTexts) const;
    void closeSocket();
    int32_t finish(int32_t result) {
        lastResult_ = result;
        return result;
    }

    FeedlineInstance* self_ = nullptr;
    Timeouts timeouts_;
    std::size_t receiveBytes_ = kReceiveBytes;
    std::vector<HttpHeader> requestHeaders_;  // reader thread only
    std::unique_ptr<HttpResponseParser> parser_;
    std::string pending_;  // decoded body bytes not yet read
    std::size_t pendingAt_ = 0;
    bool ended_ = false;
    std::atomic<int> fd_{-1};
    std::atomic<void*> userSlot_{nullptr};
    std::atomic<int32_t> lastResult_{0};
    std::atomic<int32_t> httpCode_{0};
    std::atomic<int32_t> redirects_{0};

    mutable std::mutex mutex_;                 // guards the two below
    std::vector<HttpHeader> responseHeaders_;  // of the final response
    std::optional<std::string> streamTitle_;   // from the in-band metadata
};

}  // namespace feedline
