// Input module for MPEG audio (mp3, mp2, mp1) over libmpg123. It reads only through the host's
// source functions: with a seekable source libmpg123 reads and seeks through them; a source
// that cannot seek (a stream) is fed to the decoder piece by piece.
#include "DecodingModule.h"
#include "TessuraPluginAbi.h"

#include <mpg123.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using tessura_plugin::HostSource;

class MpegDecoder final : public tessura_plugin::Decoder {
  public:
    ~MpegDecoder() override {
        if (handle_ != nullptr) {
            mpg123_close(handle_);
            mpg123_delete(handle_);
        }
    }

    bool open(HostSource& source) override {
        source_ = &source;
        int error = MPG123_OK;
        handle_ = mpg123_new(nullptr, &error);
        if (handle_ == nullptr) return false;
        mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
        // Always 16-bit signed at the stream's own rate and channels.
        mpg123_format_none(handle_);
        const long* rates = nullptr;
        std::size_t count = 0;
        mpg123_rates(&rates, &count);
        for (std::size_t i = 0; i < count; ++i)
            mpg123_format(handle_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);

        seekable_ = source.size() >= 0;
        if (seekable_) {
            if (mpg123_replace_reader_handle(handle_, &readHandle, &seekHandle, nullptr) != MPG123_OK ||
                mpg123_open_handle(handle_, this) != MPG123_OK)
                return false;
        } else if (mpg123_open_feed(handle_) != MPG123_OK) {
            return false;
        }
        // Up to the first frame, which tells the format.
        for (int attempts = 0; attempts < 4096; ++attempts) {
            off_t frame = 0;
            unsigned char* audio = nullptr;
            std::size_t bytes = 0;
            const int result = mpg123_decode_frame(handle_, &frame, &audio, &bytes);
            if (result == MPG123_NEW_FORMAT) {
                long rate = 0;
                int channels = 0, encoding = 0;
                if (mpg123_getformat(handle_, &rate, &channels, &encoding) != MPG123_OK) return false;
                rate_ = static_cast<int32_t>(rate);
                channels_ = channels;
                return rate_ > 0 && channels_ > 0;
            }
            if (result == MPG123_NEED_MORE && !seekable_ && feed()) continue;
            if (result != MPG123_OK) return false;
        }
        return false;
    }

    int32_t rate() const override { return rate_; }
    int32_t channels() const override { return channels_; }

    bool next(const int16_t*& samples, std::size_t& frames) override {
        for (;;) {
            off_t frame = 0;
            unsigned char* audio = nullptr;
            std::size_t bytes = 0;
            const int result = mpg123_decode_frame(handle_, &frame, &audio, &bytes);
            if (result == MPG123_OK || result == MPG123_NEW_FORMAT) {
                if (bytes == 0) continue;
                samples = reinterpret_cast<const int16_t*>(audio);
                frames = bytes / (2 * static_cast<std::size_t>(channels_));
                return true;
            }
            if (result == MPG123_NEED_MORE && !seekable_ && feed()) continue;
            return false;  // MPG123_DONE, or an error that ends the track
        }
    }

    bool seekFrame(int64_t frame) override {
        if (!seekable_) return false;
        return mpg123_seek(handle_, static_cast<off_t>(frame), SEEK_SET) >= 0;
    }

    int64_t lengthFrames() override {
        if (!seekable_) return -1;
        const off_t length = mpg123_length(handle_);
        return length < 0 ? -1 : static_cast<int64_t>(length);
    }

    std::string describe() const override {
        mpg123_frameinfo info{};
        if (mpg123_info(handle_, &info) != MPG123_OK) return "MPEG audio";
        char text[160];
        std::snprintf(text, sizeof text, "MPEG %s layer %d, %d kbit/s, %ld Hz, %s",
                      info.version == MPG123_1_0 ? "1" : (info.version == MPG123_2_0 ? "2" : "2.5"),
                      info.layer, info.bitrate, info.rate, channels_ == 1 ? "mono" : "stereo");
        return text;
    }

  private:
    bool feed() {
        unsigned char piece[16384];
        const long got = source_->read(piece, sizeof piece);
        if (got <= 0) return false;
        return mpg123_feed(handle_, piece, static_cast<std::size_t>(got)) == MPG123_OK;
    }

    static ssize_t readHandle(void* self, void* buffer, std::size_t size) {
        const long got = static_cast<MpegDecoder*>(self)->source_->read(buffer, size);
        return got < 0 ? -1 : static_cast<ssize_t>(got);
    }
    static off_t seekHandle(void* self, off_t offset, int whence) {
        const int32_t method = whence == SEEK_SET ? SOURCE_SEEK_BEGIN
                               : whence == SEEK_CUR ? SOURCE_SEEK_CURRENT
                                                    : SOURCE_SEEK_END;
        return static_cast<off_t>(static_cast<MpegDecoder*>(self)->source_->seek(offset, method));
    }

    HostSource* source_ = nullptr;
    mpg123_handle* handle_ = nullptr;
    bool seekable_ = false;
    int32_t rate_ = 0;
    int channels_ = 0;
};

const ModuleDescription kDescription = {
    0, "MPEG Audio Input", "MPEG audio layers 1-3 through libmpg123", "", 0,
    "mp3\0mp2\0mp1\0mpga\0", 0, 0, 0};

}  // namespace

namespace tessura_plugin {

const ModuleDescription& moduleDescription() {
    return kDescription;
}

std::unique_ptr<Decoder> makeModuleDecoder() {
    return std::make_unique<MpegDecoder>();
}

bool startModuleLibrary() {
#if MPG123_API_VERSION < 46
    return mpg123_init() == MPG123_OK;
#else
    return true;
#endif
}

}  // namespace tessura_plugin
