#include "InfoEditorModel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <optional>

#include "Id3v1Tag.h"
#include "WaveInputFile.h"

namespace veloraplay {
namespace {

constexpr size_t kInfoTextLength = 64;
constexpr off_t kTagBytes = static_cast<off_t>(velora::kId3v1Bytes);

// The file's attributes say nobody may write it. Checked apart from access(), which lets
// the superuser write anything.
bool markedReadOnly(const struct stat& st) { return (st.st_mode & 0222) == 0; }

// INFO texts are 8-bit; keep one that is already UTF-8, read any other as Latin-1.
std::string infoText(const char* text) {
    const std::string raw = text;
    return velora::IsValidUtf8(raw) ? raw : velora::Latin1ToUtf8(raw);
}

std::string trimmed(const std::string& text) {
    const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
    const auto begin = std::find_if(text.begin(), text.end(), notSpace);
    const auto end = std::find_if(text.rbegin(), text.rend(), notSpace).base();
    return begin < end ? std::string(begin, end) : std::string();
}

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // close() reports a late write error, so the caller sees it.
    int close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

  private:
    int fd_;
};

bool readFully(int fd, uint8_t* buffer, size_t size, off_t offset) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool writeFully(int fd, const uint8_t* buffer, size_t size, off_t offset) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string writeFailureText(const std::string& path, int error) {
    char code[16];
    std::snprintf(code, sizeof(code), "%4.4X", static_cast<unsigned>(error) & 0xFFFFu);
    return "Couldn't write to file " + path + " (" + code + ").";
}

InfoEditorModel::InfoEditorModel(DialogService& dialogs) : dialogs_(dialogs) {}

std::vector<std::string> InfoEditorModel::sortedGenreNames() {
    std::vector<std::string> names(velora::GenreTable().begin(), velora::GenreTable().end());
    const auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    std::stable_sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        return lower(a) < lower(b);
    });
    return names;
}

void InfoEditorModel::show(const std::string& path) {
    path_ = path;
    fields_ = InfoFields{};
    editable_ = false;
    hasTag_ = false;
    storedGenre_ = -1;
    if (path.empty()) return;

    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    Fd file(fd);

    if (st.st_size >= kTagBytes) {
        velora::Id3v1Block block{};
        if (readFully(fd, block.data(), block.size(), st.st_size - kTagBytes)) {
            if (const auto tag = velora::ParseId3v1(block.data())) {
                hasTag_ = true;
                fields_.title = tag->title;
                fields_.artist = tag->artist;
                fields_.album = tag->album;
                fields_.year = tag->year;
                fields_.comment = tag->comment;
                if (tag->track != 0) fields_.track = std::to_string(tag->track);
                storedGenre_ = tag->genre;
                if (tag->genre < velora::kGenreCount) fields_.genre = tag->genre;
            }
        }
    }
    file.close();
    editable_ = !markedReadOnly(st) && ::access(path.c_str(), W_OK) == 0;

    if (!hasTag_ && velora::IsPcmWaveFile(path)) {
        velora::WaveInputFile wave;
        if (wave.Open(path)) {
            editable_ = false;
            char title[kInfoTextLength + 1], artist[kInfoTextLength + 1],
                comment[kInfoTextLength + 1];
            wave.ReadInfoTexts(title, sizeof(title), artist, sizeof(artist), comment,
                               sizeof(comment));
            fields_.title = infoText(title);
            fields_.artist = infoText(artist);
            fields_.comment = infoText(comment);
        }
    }
}

void InfoEditorModel::fail(int error) {
    MessageBoxRequest request;
    request.title = kMessageTitle;
    request.text = writeFailureText(path_, error);
    request.icon = DialogIcon::Error;
    dialogs_.messageBox(request);
}

void InfoEditorModel::refuse(const std::string& text) {
    MessageBoxRequest request;
    request.title = kMessageTitle;
    request.text = text;
    request.icon = DialogIcon::Warning;
    dialogs_.messageBox(request);
}

InfoEditorModel::UpdateResult InfoEditorModel::update() {
    if (path_.empty() || !updateEnabled()) return UpdateResult::NotEditable;

    velora::Id3v1Edit edit;
    edit.title = fields_.title;
    edit.artist = fields_.artist;
    edit.album = fields_.album;
    edit.year = fields_.year;
    edit.comment = fields_.comment;
    if (fields_.genre >= 0 && velora::GenreName(fields_.genre) != nullptr) {
        edit.genre = fields_.genre;
    }
    const std::string track = trimmed(fields_.track);
    if (!track.empty()) {
        const bool digits = track.size() <= 3 && std::all_of(track.begin(), track.end(), [](char c) {
                                return c >= '0' && c <= '9';
                            });
        const int number = digits ? std::stoi(track) : 0;
        if (number < 1 || number > 255) {
            refuse("The track number \"" + fields_.track +
                   "\" is not a number from 1 to 255. Nothing was written.");
            return UpdateResult::Refused;
        }
        edit.track = number;
    }

    // Made read-only since it was shown: refuse as the system would for anyone else.
    struct stat st {};
    if (::stat(path_.c_str(), &st) == 0 && markedReadOnly(st)) {
        fail(EACCES);
        return UpdateResult::Failed;
    }
    const int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        fail(errno);
        return UpdateResult::Failed;
    }
    Fd file(fd);
    if (::fstat(fd, &st) != 0) {
        fail(errno);
        return UpdateResult::Failed;
    }

    velora::Id3v1Block block{};
    off_t at = st.st_size;  // append unless the file ends in a tag
    if (st.st_size >= kTagBytes) {
        errno = 0;
        if (!readFully(fd, block.data(), block.size(), st.st_size - kTagBytes)) {
            fail(errno != 0 ? errno : EIO);
            return UpdateResult::Failed;
        }
        if (velora::HasTagMarker(block.data())) at = st.st_size - kTagBytes;
    }
    if (at == st.st_size) {
        if (!velora::IsMpegAudioFile(path_)) {
            if (st.st_size < kTagBytes) {
                // Too short to end in a tag: the last 128 bytes cannot be read.
                fail(EINVAL);
                return UpdateResult::Failed;
            }
            refuse(path_ + " has no tag and is not an MPEG audio file. A tag is added only "
                           "to MPEG audio files; nothing was written.");
            return UpdateResult::Refused;
        }
        block = velora::NewId3v1Block();
    }

    velora::ApplyId3v1Edit(block.data(), edit);
    if (!writeFully(fd, block.data(), block.size(), at) || file.close() != 0) {
        fail(errno);
        return UpdateResult::Failed;
    }
    const bool wasLocked = locked_;
    show(path_);
    locked_ = wasLocked;
    return UpdateResult::Written;
}

}  // namespace veloraplay
