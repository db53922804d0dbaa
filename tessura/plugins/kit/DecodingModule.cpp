#include "DecodingModule.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace tessura_plugin {

namespace {

struct Track {
    InputModuleRecord* record = nullptr;
    DecoderFactory factory = nullptr;
    std::unique_ptr<HostSource> source;
    std::unique_ptr<Decoder> decoder;
    std::string name, title;
    std::thread worker;
    std::atomic<bool> stop{false};
    std::atomic<int64_t> seekMs{-1};
    std::mutex mutex;  // guards decoder use between the worker and Seek/GetInfo
};

Track& track() {
    static Track t;
    return t;
}

std::string titleOf(const std::string& name) {
    const std::size_t slash = name.find_last_of("/\\");
    std::string title = slash == std::string::npos ? name : name.substr(slash + 1);
    const std::size_t dot = title.rfind('.');
    if (dot != std::string::npos && dot > 0) title.resize(dot);
    return title;
}

std::string escapeHtml(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if (c == '&') {
            out += "&amp;";
        } else {
            out += c;
        }
    }
    return out;
}

void decodeLoop() {
    Track& t = track();
    InputModuleRecord* record = t.record;
    const int32_t rate = t.decoder->rate(), channels = t.decoder->channels();
    const int32_t songId = record->OpenOutput != nullptr ? record->OpenOutput(rate, channels, MODULE_BITS_16) : 0;
    if (songId == 0) return;
    int64_t framesDone = 0;
    bool ended = false;
    while (!t.stop) {
        const int16_t* samples = nullptr;
        std::size_t frames = 0;
        {
            std::lock_guard<std::mutex> hold(t.mutex);
            const int64_t target = t.seekMs.exchange(-1);
            if (target >= 0 && t.decoder->seekFrame(target * rate / 1000)) framesDone = target * rate / 1000;
            if (!t.decoder->next(samples, frames)) {
                ended = true;
                break;
            }
        }
        if (frames == 0) continue;
        WriteBlock block{};
        block.positionMs = static_cast<int32_t>(framesDone * 1000 / rate);
        block.length = static_cast<uint32_t>(frames * static_cast<std::size_t>(channels) * 2);
        block.data = samples;
        record->WriteOutput(songId, &block);
        framesDone += static_cast<int64_t>(frames);
    }
    if (ended && !t.stop && record->NotifyEnd != nullptr) record->NotifyEnd();
}

void stopWorker() {
    Track& t = track();
    t.stop = true;
    if (t.worker.joinable()) t.worker.join();
    t.stop = false;
}

int32_t moduleOpen(InputModuleRecord* record, const char* name) {
    Track& t = track();
    stopWorker();
    t.record = record;
    t.source = std::make_unique<HostSource>(record);
    t.decoder = t.factory();
    t.name = name != nullptr ? name : "";
    t.title = titleOf(t.name);
    if (!t.decoder || !t.decoder->open(*t.source)) {
        t.decoder.reset();
        return 0;
    }
    return 1;
}

int32_t moduleClose(InputModuleRecord*) {
    stopWorker();
    Track& t = track();
    t.decoder.reset();
    t.source.reset();
    return 1;
}

int32_t modulePlay(InputModuleRecord*) {
    Track& t = track();
    if (!t.decoder) return 0;
    stopWorker();
    t.worker = std::thread(decodeLoop);
    return 1;
}

void moduleStop(InputModuleRecord*) {
    stopWorker();
}

int32_t moduleSeek(InputModuleRecord*, int32_t ms) {
    Track& t = track();
    if (!t.decoder || ms < 0) return 0;
    // Taken by the decoding thread before its next piece, or when Play starts it.
    t.seekMs = ms;
    return 1;
}

int32_t moduleGetInfo(InputModuleRecord*, TrackInfo* info) {
    Track& t = track();
    if (!t.decoder || info == nullptr) return 0;
    std::lock_guard<std::mutex> hold(t.mutex);
    const int64_t frames = t.decoder->lengthFrames();
    info->title = t.title.c_str();
    info->lengthMs = frames < 0 ? -1 : static_cast<int32_t>(frames * 1000 / t.decoder->rate());
    return 1;
}

}  // namespace

void bindDecodingModule(InputModuleRecord* record, DecoderFactory factory) {
    track().factory = factory;
    track().record = record;
    record->Open = &moduleOpen;
    record->Close = &moduleClose;
    record->Play = &modulePlay;
    record->Stop = &moduleStop;
    record->Seek = &moduleSeek;
    record->GetInfo = &moduleGetInfo;
}

void releaseDecodingModule() {
    moduleClose(nullptr);
}

std::string decodingModuleInfoHtml() {
    Track& t = track();
    if (!t.decoder) return {};
    std::lock_guard<std::mutex> hold(t.mutex);
    return "<h1>" + escapeHtml(t.title) + "</h1><p>" + escapeHtml(t.decoder->describe()) + "</p>";
}

int32_t copyInfoHtml(char* buffer, uint32_t* size) {
    if (buffer == nullptr || size == nullptr) return 0;
    const std::string html = decodingModuleInfoHtml();
    if (html.empty()) return 0;
    if (html.size() + 1 > *size) {
        *size = static_cast<uint32_t>(html.size() + 1);
        return 0;
    }
    std::memcpy(buffer, html.c_str(), html.size() + 1);
    return 1;
}

}  // namespace tessura_plugin
