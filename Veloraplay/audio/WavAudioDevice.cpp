// "wav:PATH": what would be heard (volume applied) goes to a 16-bit WAVE file, paced in real
// time. The file lives as long as the device object: a reopen with the same format (PcmOut
// reopens on every reset) appends, another format starts the file afresh. Each close
// completes the header.
#include <cstdio>
#include <string>
#include <vector>

#include "PacedDevice.h"

namespace veloraplay {
namespace {

void put16(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void put32(unsigned char* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}

class WavAudioDevice final : public PacedDevice {
  public:
    explicit WavAudioDevice(std::string path) : path_(std::move(path)) {}
    ~WavAudioDevice() override {
        shutDown();
        if (file_) std::fclose(file_);
    }

  protected:
    bool begin(int channels, int sampleRate) override {
        if (file_ && channels == channels_ && sampleRate == sampleRate_) return true;
        if (file_) std::fclose(file_);
        file_ = std::fopen(path_.c_str(), "wb");
        if (!file_) return false;
        channels_ = channels;
        sampleRate_ = sampleRate;
        dataBytes_ = 0;
        return writeHeader();
    }

    void consume(const int16_t* samples, size_t count, uint32_t volume) override {
        if (!file_) return;
        scratch_.resize(count * 2);
        for (size_t i = 0; i < count; ++i) {
            const auto v = static_cast<uint16_t>(applyVolume(samples[i], volume));
            put16(&scratch_[2 * i], v);
        }
        dataBytes_ += std::fwrite(scratch_.data(), 1, scratch_.size(), file_);
    }

    void end() override {
        if (!file_) return;
        writeHeader();
        std::fseek(file_, 0, SEEK_END);
        std::fflush(file_);
    }

  private:
    bool writeHeader() {
        unsigned char h[44] = {'R', 'I', 'F', 'F', 0,   0,   0,  0, 'W', 'A',
                               'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0,   0};
        const auto blockAlign = static_cast<uint32_t>(2 * channels_);
        put32(h + 4, static_cast<uint32_t>(36 + dataBytes_));
        put16(h + 20, 1);
        put16(h + 22, static_cast<uint32_t>(channels_));
        put32(h + 24, static_cast<uint32_t>(sampleRate_));
        put32(h + 28, blockAlign * static_cast<uint32_t>(sampleRate_));
        put16(h + 32, blockAlign);
        put16(h + 34, 16);
        h[36] = 'd';
        h[37] = 'a';
        h[38] = 't';
        h[39] = 'a';
        put32(h + 40, static_cast<uint32_t>(dataBytes_));
        std::fseek(file_, 0, SEEK_SET);
        return std::fwrite(h, 1, sizeof h, file_) == sizeof h;
    }

    std::string path_;
    std::FILE* file_ = nullptr;
    int channels_ = 0;
    int sampleRate_ = 0;
    uint64_t dataBytes_ = 0;
    std::vector<unsigned char> scratch_;
};

}  // namespace

std::unique_ptr<AudioDevice> makeWavAudioDevice(const std::string& path) {
    return std::make_unique<WavAudioDevice>(path);
}

}  // namespace veloraplay
