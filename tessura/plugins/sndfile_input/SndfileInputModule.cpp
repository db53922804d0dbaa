// Input module for WAVE, FLAC, Ogg Vorbis, Opus and AIFF files over libsndfile, reading through
// the host's source functions (libsndfile's virtual I/O). The files need a seekable source.
#include "DecodingModule.h"
#include "TessuraPluginAbi.h"

#include <sndfile.h>

#include <cstdio>
#include <vector>

namespace {

using tessura_plugin::HostSource;

class SndfileDecoder final : public tessura_plugin::Decoder {
  public:
    ~SndfileDecoder() override {
        if (file_ != nullptr) sf_close(file_);
    }

    bool open(HostSource& source) override {
        source_ = &source;
        if (source.size() < 0) return false;
        static SF_VIRTUAL_IO io = {&length, &seek, &read, &write, &tell};
        file_ = sf_open_virtual(&io, SFM_READ, &info_, this);
        if (file_ == nullptr || info_.channels <= 0 || info_.channels > 8 || info_.samplerate <= 0) return false;
        buffer_.resize(kFramesPerPiece * static_cast<std::size_t>(info_.channels));
        return true;
    }

    int32_t rate() const override { return info_.samplerate; }
    int32_t channels() const override { return info_.channels; }

    bool next(const int16_t*& samples, std::size_t& frames) override {
        const sf_count_t got = sf_readf_short(file_, buffer_.data(), kFramesPerPiece);
        if (got <= 0) return false;
        samples = buffer_.data();
        frames = static_cast<std::size_t>(got);
        return true;
    }

    bool seekFrame(int64_t frame) override {
        return sf_seek(file_, frame, SEEK_SET) >= 0;
    }

    int64_t lengthFrames() override { return info_.frames; }

    std::string describe() const override {
        SF_FORMAT_INFO format{};
        format.format = info_.format & SF_FORMAT_TYPEMASK;
        const char* name = sf_command(nullptr, SFC_GET_FORMAT_INFO, &format, sizeof format) == 0 ? format.name : "audio";
        char text[160];
        std::snprintf(text, sizeof text, "%s, %d Hz, %d channel%s", name, info_.samplerate, info_.channels,
                      info_.channels == 1 ? "" : "s");
        return text;
    }

  private:
    static constexpr sf_count_t kFramesPerPiece = 1152;

    static SndfileDecoder& of(void* self) { return *static_cast<SndfileDecoder*>(self); }
    static sf_count_t length(void* self) { return of(self).source_->size(); }
    static sf_count_t seek(sf_count_t offset, int whence, void* self) {
        const int32_t method = whence == SEEK_SET ? SOURCE_SEEK_BEGIN
                               : whence == SEEK_CUR ? SOURCE_SEEK_CURRENT
                                                    : SOURCE_SEEK_END;
        return of(self).source_->seek(offset, method);
    }
    static sf_count_t read(void* buffer, sf_count_t count, void* self) {
        if (count <= 0) return 0;
        const long got = of(self).source_->read(buffer, static_cast<std::size_t>(count));
        return got < 0 ? 0 : got;
    }
    static sf_count_t write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t tell(void* self) { return of(self).source_->tell(); }

    HostSource* source_ = nullptr;
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
    std::vector<int16_t> buffer_;
};

const ModuleDescription kDescription = {
    0, "Sound File Input", "WAVE, FLAC, Ogg Vorbis, Opus and AIFF through libsndfile", "", 0,
    "wav\0flac\0ogg\0oga\0opus\0aiff\0aif\0", 0, 0, 0};

}  // namespace

namespace tessura_plugin {

const ModuleDescription& moduleDescription() {
    return kDescription;
}

std::unique_ptr<Decoder> makeModuleDecoder() {
    return std::make_unique<SndfileDecoder>();
}

bool startModuleLibrary() {
    return true;
}

}  // namespace tessura_plugin
