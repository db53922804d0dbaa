#pragma once
// An internet stream as a stream source: a reader thread pulls the HTTP stream through a
// Feedline instance into a StreamRing, and the engine's decoding thread reads from the ring
// once the pre-buffer threshold is reached (or the stream ended before it).
//
// Threads: Open, Read, GetInfo, AllowSave and Close run on the engine's thread; the reader
// thread shares with it the ring, the cancel event, the counters (atomics) and the title
// channel and open text (under infoMutex_). Close is the only place that stops the reader
// thread: it signals the cancel event, which every wait of the library and the ring honours,
// and joins the thread.
#include "FeedlineAbi.h"
#include "PollableEvent.h"
#include "StreamRing.h"
#include "StreamSettings.h"
#include "StreamSource.h"
#include "StreamTitle.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace tessura {

class DialogService;
class FeedlineLibrary;
class LanguageStore;
class TitleChannel;

struct NetStreamServices {
    std::shared_ptr<FeedlineLibrary> library;  // null: no library (every stream fails)
    DialogService* dialogs = nullptr;          // null: failures are not shown
    const LanguageStore* language = nullptr;   // null: the keys themselves are shown
    std::function<StreamSettings()> settings;  // read at each Open; null: the defaults
    // The library's timeout argument: FEEDLINE_DEFAULT_TIMEOUT, or a cap in ms (tests).
    int libraryTimeoutMs = FEEDLINE_DEFAULT_TIMEOUT;
    int pollIntervalMs = 10;  // how often Read looks at the counter while pre-buffering
};

class NetStreamSource final : public StreamSource {
  public:
    static constexpr std::size_t kMaxUrlLength = 2047;
    static constexpr const char* kUserAgent = "Tessura 1.50 (no stream save)";
    static constexpr int32_t kOpenBufferKb = 32;

    explicit NetStreamSource(NetStreamServices services);
    ~NetStreamSource() override;

    bool Open(const std::string& name, SourceRequest request) override;
    void Close() override;
    bool Read(void* buffer, uint32_t& length) override;
    bool Seek(int64_t&, int32_t, int64_t&) override { return false; }
    bool GetInfo(StreamInfo& info) override;
    bool CanOpen(const std::string& name) override;
    bool AllowSave() override;

    // For the settings screen and tests.
    static constexpr int64_t kFailed = -1;
    int64_t bytesReceived() const { return counter_; }
    int64_t threshold() const { return threshold_; }
    const std::string& url() const { return url_; }
    bool nullMode() const { return nullMode_; }
    bool hasInstance() const { return instance_ != nullptr; }

  private:
    void readerThread();
    void runStream();
    void showError(const char* textKey);
    void showStatus(const std::string& text);
    std::optional<std::string> header(const char* name) const;
    std::string text(const char* key) const;

    NetStreamServices services_;
    FeedlineInstance* instance_ = nullptr;
    std::string url_;
    bool nullMode_ = false;
    SourceRequest request_;
    StreamSettings settings_;
    int64_t threshold_ = 0;
    std::unique_ptr<PollableEvent> cancel_;
    std::unique_ptr<StreamRing> ring_;
    std::thread reader_;
    std::atomic<int64_t> counter_{0};   // bytes received; kFailed when it never got going
    std::atomic<bool> finished_{false};  // the reader finished the ring

    mutable std::mutex infoMutex_;  // guards the two below
    std::unique_ptr<TitleChannel> channel_;
    std::optional<std::string> openText_;
};

// What the program hands the engine: a maker of internet stream sources sharing `services`
// (one library, one dialog service); the engine tries it after the local-file source.
StreamSourceFactory NetStreamSourceFactory(NetStreamServices services);

}  // namespace tessura
