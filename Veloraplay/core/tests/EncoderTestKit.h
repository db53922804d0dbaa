#pragma once
// What the encoder tests share: WAVE files made byte by byte, a dialog service that records
// what it was asked and answers from a list, and a monitor output that keeps what it is given.
#include "DialogService.h"
#include "MonitorOutput.h"
#include "FolderNames.h"
#include "RiffTestFile.h"

#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace veloraplay::test {

// `frames` sample frames of a two-tone signal (one or two channels).
inline std::vector<int16_t> toneSamples(int rate, int channels, int frames) {
    std::vector<int16_t> pcm;
    pcm.reserve(static_cast<size_t>(frames * channels));
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double f = c == 0 ? 440.0 : 660.0;
            pcm.push_back(static_cast<int16_t>(7000.0 * std::sin(2.0 * M_PI * f * i / rate)));
        }
    }
    return pcm;
}

inline void writeWave(const std::string& path, int rate, int channels, const std::vector<int16_t>& samples,
                      uint16_t formatTag = 1) {
    using namespace velora::testing;
    WriteFile(path, RiffWave({FormatChunk(formatTag, static_cast<uint16_t>(channels), static_cast<uint32_t>(rate), 16),
                              Chunk("data", SamplesBody(samples))}));
}

inline std::string readFile(const std::string& path) {
    std::string bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
}

// The names in a folder, sorted, without "." and "..".
class RecordingDialogs final : public DialogService {
  public:
    std::vector<MessageBoxRequest> boxes;
    std::vector<FileDialogRequest> files;
    std::vector<std::string> folders;
    std::deque<DialogButton> buttons;         // answers to message boxes, in order
    std::deque<std::string> paths;            // answers to file and folder dialogs

    DialogButton messageBox(const MessageBoxRequest& request) override {
        boxes.push_back(request);
        if (buttons.empty()) return safeDefault(request.buttons);
        const DialogButton b = buttons.front();
        buttons.pop_front();
        return b;
    }
    QuestionAnswer question(const QuestionRequest&) override { return {}; }
    std::optional<std::string> chooseFile(const FileDialogRequest& request) override {
        files.push_back(request);
        return next();
    }
    std::optional<std::string> chooseFolder(const std::string& title, const std::string&) override {
        folders.push_back(title);
        return next();
    }
    std::string lastText() const { return boxes.empty() ? std::string() : boxes.back().text; }

  private:
    std::optional<std::string> next() {
        if (paths.empty()) return std::nullopt;
        std::string p = paths.front();
        paths.pop_front();
        return p;
    }
};

// Keeps every sample laid into its blocks, as the sound output would play them.
class CollectingMonitor final : public MonitorOutput {
  public:
    int channels = 0, rate = 0, blockSamples = 0, opens = 0, closes = 0, drains = 0;
    bool refuseOpen = false;
    std::vector<int16_t> heard;

    bool open(int ch, int r, int perBlock) override {
        ++opens;
        if (refuseOpen) return false;
        channels = ch;
        rate = r;
        blockSamples = perBlock;
        return true;
    }
    int16_t* nextBlock() override {
        commit(block_.size());
        block_.assign(static_cast<size_t>(blockSamples * channels), 0);
        pendingBlock_ = true;
        return block_.data();
    }
    void setLastBlockLength(size_t samples) override { last_ = samples; }
    void drain() override {
        ++drains;
        commit(last_ < block_.size() ? last_ : block_.size());
    }
    void close() override { ++closes; }
    void interrupt() override {}
    void rearm() override {}

  private:
    void commit(size_t count) {
        if (pendingBlock_) heard.insert(heard.end(), block_.begin(), block_.begin() + static_cast<std::ptrdiff_t>(count));
        pendingBlock_ = false;
        last_ = static_cast<size_t>(-1);
    }
    std::vector<int16_t> block_;
    bool pendingBlock_ = false;
    size_t last_ = static_cast<size_t>(-1);
};

}  // namespace veloraplay::test
