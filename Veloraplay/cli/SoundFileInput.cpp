#include "SoundFileInput.h"

#include <dlfcn.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace veloraplay {
namespace {

constexpr const char* kReadable =
    "velora encode reads WAVE (any PCM width, float, the extensible header), RF64, AIFF, FLAC, Ogg Vorbis "
    "and Opus files, and WAVE, AIFF or AU from a pipe";

// libsndfile gives -1..1; the encoder's float input is scaled like 16-bit samples. A power
// of two, so a 16-bit sample comes through as its own value.
constexpr float kFullScale = 32768.0f;

// libsndfile is loaded on the first Open, not linked: the codec libraries it brings cost
// every run of the program, also one that only decodes, most of a millisecond at start.
struct SndFile {
    bool loaded = false;
    decltype(&sf_open) open = nullptr;
    decltype(&sf_open_fd) openFd = nullptr;
    decltype(&sf_close) close = nullptr;
    decltype(&sf_command) command = nullptr;
    decltype(&sf_get_string) getString = nullptr;
    decltype(&sf_readf_float) readFloat = nullptr;
    decltype(&sf_error) error = nullptr;
    decltype(&sf_strerror) strError = nullptr;
};

template <typename F>
bool Bind(void* library, const char* name, F& f) {
    f = reinterpret_cast<F>(dlsym(library, name));
    return f != nullptr;
}

// Loaded once for the life of the process; the library is never unloaded.
const SndFile& TheSndFile() {
    static const SndFile sndfile = [] {
        SndFile s;
        void* library = dlopen("libsndfile.so.1", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) return s;
        s.loaded = Bind(library, "sf_open", s.open) && Bind(library, "sf_open_fd", s.openFd) &&
                   Bind(library, "sf_close", s.close) && Bind(library, "sf_command", s.command) &&
                   Bind(library, "sf_get_string", s.getString) &&
                   Bind(library, "sf_readf_float", s.readFloat) && Bind(library, "sf_error", s.error) &&
                   Bind(library, "sf_strerror", s.strError);
        return s;
    }();
    return sndfile;
}

uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

SoundFileInput::~SoundFileInput() {
    if (file_ != nullptr) TheSndFile().close(file_);
}

bool SoundFileInput::Open(const std::string& name, std::string& error) {
    const SndFile& sf = TheSndFile();
    if (!sf.loaded) {
        error = "cannot read it: libsndfile (libsndfile.so.1) is not installed";
        return false;
    }
    SF_INFO info{};
    const bool standardInput = name == "-";
    file_ = standardInput ? sf.openFd(STDIN_FILENO, SFM_READ, &info, 0) : sf.open(name.c_str(), SFM_READ, &info);
    if (file_ == nullptr) {
        struct stat st {};
        if (!standardInput && ::stat(name.c_str(), &st) != 0) {
            error = std::string("cannot open it: ") + std::strerror(errno);
        } else {
            error = std::string("not a sound file this reads (") + sf.strError(nullptr) + "); " + kReadable;
        }
        return false;
    }
    rate_ = info.samplerate;
    channels_ = info.channels;
    // From a pipe libsndfile may report a length the stream never had.
    frames_ = info.seekable && info.frames > 0 ? static_cast<uint64_t>(info.frames) : 0;
    channelMap_.assign(static_cast<size_t>(channels_), 0);
    if (channels_ <= 0 ||
        sf.command(file_, SFC_GET_CHANNEL_MAP_INFO, channelMap_.data(),
                   static_cast<int>(channelMap_.size() * sizeof(int))) != SF_TRUE) {
        channelMap_.clear();
    }
    return true;
}

std::string SoundFileInput::Title() const {
    const char* s = file_ != nullptr ? TheSndFile().getString(file_, SF_STR_TITLE) : nullptr;
    return s != nullptr ? s : "";
}

std::string SoundFileInput::Artist() const {
    const char* s = file_ != nullptr ? TheSndFile().getString(file_, SF_STR_ARTIST) : nullptr;
    return s != nullptr ? s : "";
}

long SoundFileInput::Read(float* samples, long frames) {
    const SndFile& sf = TheSndFile();
    const sf_count_t n = sf.readFloat(file_, samples, frames);
    if (n < 0 || (n == 0 && sf.error(file_) != SF_ERR_NO_ERROR)) return -1;
    for (sf_count_t i = 0; i < n * channels_; ++i) samples[i] *= kFullScale;
    return static_cast<long>(n);
}

std::string SoundFileInput::Error() const {
    return std::string("cannot read it: ") + TheSndFile().strError(file_);
}

bool WaveDataShortfall(const std::string& path, uint64_t& declared, uint64_t& present) {
    if (path == "-") return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    unsigned char head[12];
    bool found = false;
    uint64_t size = 0;
    uint64_t rf64Data = 0;
    if (std::fread(head, 1, 12, f) == 12 && std::memcmp(head + 8, "WAVE", 4) == 0 &&
        (std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RF64", 4) == 0)) {
        // Walk the chunks to "data"; RF64 keeps the real size in "ds64".
        unsigned char chunk[8];
        while (std::fread(chunk, 1, 8, f) == 8) {
            const uint32_t length = Le32(chunk + 4);
            if (std::memcmp(chunk, "ds64", 4) == 0 && length >= 16) {
                unsigned char ds[16];
                if (std::fread(ds, 1, 16, f) != 16) break;
                rf64Data = Le32(ds + 8) | static_cast<uint64_t>(Le32(ds + 12)) << 32;
                if (std::fseek(f, static_cast<long>(length - 16 + (length & 1)), SEEK_CUR) != 0) break;
                continue;
            }
            if (std::memcmp(chunk, "data", 4) == 0) {
                found = length != 0xFFFFFFFFu || rf64Data != 0;
                size = length == 0xFFFFFFFFu ? rf64Data : length;
                break;
            }
            if (std::fseek(f, static_cast<long>(length + (length & 1)), SEEK_CUR) != 0) break;
        }
    }
    const long start = std::ftell(f);
    const bool ended = std::fseek(f, 0, SEEK_END) == 0;
    const long end = std::ftell(f);
    std::fclose(f);
    if (!found || !ended || start < 0 || end < start) return false;
    declared = size;
    present = std::min<uint64_t>(size, static_cast<uint64_t>(end - start));
    return true;
}

}  // namespace veloraplay
