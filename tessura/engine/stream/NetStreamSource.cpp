#include "NetStreamSource.h"

#include "DialogService.h"
#include "FeedlineLibrary.h"
#include "LanguageStore.h"
#include "TessuraPluginAbi.h"
#include "TextCase.h"
#include "TitleChannel.h"

#include <chrono>
#include <system_error>

namespace tessura {

namespace {
constexpr const char* kErrorCaption = "errors/tessurainterneterror";
constexpr std::size_t kHeaderBytes = 1024;
}  // namespace

NetStreamSource::NetStreamSource(NetStreamServices services) : services_(std::move(services)) {
    if (services_.library && services_.library->NewInstance(instance_) != 0) instance_ = nullptr;
}

NetStreamSource::~NetStreamSource() {
    Close();
    if (instance_ != nullptr) services_.library->Release(instance_);
}

std::string NetStreamSource::text(const char* key) const {
    return services_.language != nullptr ? services_.language->Text(key) : std::string(key);
}

void NetStreamSource::showError(const char* textKey) {
    if (services_.dialogs == nullptr) return;
    MessageRequest box;
    box.title = text(kErrorCaption);
    box.text = text(textKey);
    box.titleKey = kErrorCaption;
    box.textKey = textKey;
    box.buttons = Buttons::Ok;
    services_.dialogs->message(box);
}

void NetStreamSource::showStatus(const std::string& status) {
    if (request_) request_(HOST_REQUEST_STATUS_TEXT, reinterpret_cast<intptr_t>(status.c_str()));
}

bool NetStreamSource::Open(const std::string& name, SourceRequest request) {
    Close();
    url_ = name.substr(0, kMaxUrlLength);
    while (!url_.empty() && (url_.back() == '\r' || url_.back() == '\n')) url_.pop_back();
    if (url_.size() >= 7 && equalsNoCase(std::string_view(url_).substr(0, 7), "null://")) {
        nullMode_ = true;
        return true;
    }
    request_ = std::move(request);
    settings_ = (services_.settings ? services_.settings() : StreamSettings{}).clamped();
    threshold_ = PreBufferThreshold(settings_);
    cancel_ = std::make_unique<PollableEvent>(PollableEvent::Reset::Manual);
    ring_ = std::make_unique<StreamRing>(StreamRingBytes(settings_));
    counter_ = 0;
    finished_ = false;
    if (cancel_->valid()) {
        try {
            reader_ = std::thread(&NetStreamSource::readerThread, this);
            return true;
        } catch (const std::system_error&) {
        }
    }
    ring_.reset();
    cancel_.reset();
    request_ = nullptr;
    return false;
}

void NetStreamSource::readerThread() {
    runStream();
    finished_ = true;
}

void NetStreamSource::runStream() {
    if (instance_ == nullptr) {
        showError("errors/internetinitfailed");
        counter_ = kFailed;
        return;
    }
    const FeedlineInstanceTable& call = *instance_->table;
    FeedlineProxy proxy{};
    const bool useProxy = settings_.useProxy && !settings_.proxyUrl.empty();
    if (useProxy) {
        proxy.url = settings_.proxyUrl.c_str();
        if (settings_.useProxyAuth && !settings_.proxyUser.empty()) proxy.user = settings_.proxyUser.c_str();
        if (settings_.useProxyAuth && !settings_.proxyPassword.empty()) {
            proxy.password = settings_.proxyPassword.c_str();
        }
    }
    {
        std::lock_guard<std::mutex> hold(infoMutex_);
        channel_ = std::make_unique<TitleChannel>(instance_);
        openText_.reset();
    }
    auto dropChannel = [this] {
        std::lock_guard<std::mutex> hold(infoMutex_);
        channel_.reset();
    };
    call.set_request_header(instance_, "User-agent", kUserAgent);
    char* openText = nullptr;
    const int32_t opened = call.open(instance_, url_.c_str(), kOpenBufferKb, "HTTP/1.1", 0,
                                     services_.libraryTimeoutMs, useProxy ? &proxy : nullptr, cancel_->fd(),
                                     &TitleChannel::OnEvent, &openText);
    if (openText != nullptr) {
        std::lock_guard<std::mutex> hold(infoMutex_);
        openText_ = std::string(openText);
        call.free_text(instance_, openText);
    }
    if (opened < 0) {
        // A cancelled open (the stream is being closed) is no error to show.
        if (opened != call.status(instance_, FEEDLINE_STATUS_CANCELLED_CODE)) showError("errors/connectionerror");
        counter_ = kFailed;
        call.close(instance_, cancel_->fd());
        dropChannel();
        return;
    }
    showStatus(text("internet/connecting_status"));
    uint8_t buffer[kStreamReadBytes];
    for (;;) {
        const int32_t got = call.read(instance_, buffer, static_cast<int32_t>(sizeof buffer), 1, cancel_->fd());
        if (got < 1) break;
        const std::size_t stored = ring_->Write(buffer, static_cast<std::size_t>(got), true, cancel_.get());
        const int64_t total = counter_ += static_cast<int64_t>(stored);
        if (stored < static_cast<std::size_t>(got)) break;  // closed or cancelled
        if (total < threshold_) {
            const std::string status =
                services_.language != nullptr
                    ? services_.language->Format("internet/buffer_status", {static_cast<long long>(total)})
                    : "internet/buffer_status " + std::to_string(total);
            showStatus(status);
        }
    }
    ring_->Finish(false);
    call.close(instance_, cancel_->fd());
    dropChannel();
}

bool NetStreamSource::Read(void* buffer, uint32_t& length) {
    const uint32_t wanted = length;
    length = 0;
    if (nullMode_ || !ring_) return false;
    // Pre-buffering: until the threshold, a failure, or a stream that ended short of it.
    while (counter_ != kFailed && counter_ < threshold_ && !finished_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(services_.pollIntervalMs));
    }
    if (counter_ == kFailed) return false;
    const int64_t got = ring_->Read(buffer, wanted, true, true, cancel_.get());
    if (got < 0) return false;
    length = static_cast<uint32_t>(got);
    return true;
}

void NetStreamSource::Close() {
    if (nullMode_) {
        nullMode_ = false;
        return;
    }
    if (reader_.joinable()) {
        cancel_->set();
        if (!ring_->Closed()) ring_->Finish(true);
        // Every wait of the reader ends on the cancel event or the closed ring: it is joined.
        reader_.join();
    }
    ring_.reset();
    cancel_.reset();
    request_ = nullptr;
}

std::optional<std::string> NetStreamSource::header(const char* name) const {
    if (instance_ == nullptr) return std::nullopt;
    char value[kHeaderBytes];
    if (instance_->table->response_header(instance_, name, value, sizeof value) < 0) return std::nullopt;
    return std::string(value);
}

bool NetStreamSource::GetInfo(StreamInfo& info) {
    if (nullMode_) return false;
    TitleChannel::Pairs pairs;
    std::optional<std::string> openText;
    {
        std::lock_guard<std::mutex> hold(infoMutex_);
        if (channel_) pairs = channel_->pairs();
        openText = openText_;
    }
    auto lookup = [&](const char* name) -> std::optional<std::string> {
        for (const auto& [key, value] : pairs) {
            if (equalsNoCase(key, name)) return value;
        }
        return header(name);
    };
    StreamTitleParts parts;
    parts.streamTitle = lookup(kStreamTitleHeader);
    parts.name = lookup(kStreamNameHeader);
    parts.description = lookup(kStreamDescriptionHeader);
    parts.genre = lookup(kStreamGenreHeader);
    return JoinStreamTitle(parts, openText, info);
}

bool NetStreamSource::CanOpen(const std::string& name) {
    if (nullMode_) return false;
    return name.find("://") != std::string::npos;
}

bool NetStreamSource::AllowSave() {
    if (nullMode_) return true;
    const std::optional<std::string> allow = header("Allow-save");
    return !(allow && equalsNoCase(*allow, "no"));
}

StreamSourceFactory NetStreamSourceFactory(NetStreamServices services) {
    return [services = std::move(services)]() -> std::unique_ptr<StreamSource> {
        return std::make_unique<NetStreamSource>(services);
    };
}

}  // namespace tessura
