#include "DefaultTag.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "WaveInputFile.h"

namespace velora {
namespace {

constexpr size_t kTextWidth = 30;
constexpr uint8_t kGenreOther = 12;
constexpr char kEncoderComment[] = "KESTRAN Velora Encoder v1.0.4";

struct Field {
    size_t offset;
    size_t width;
};
constexpr Field kTitle{3, 30};
constexpr Field kArtist{33, 30};
constexpr Field kAlbum{63, 30};
constexpr Field kYear{93, 4};
constexpr Field kComment{97, 30};
constexpr size_t kGenreOffset = 127;

void Put(uint8_t* tag, Field field, const std::string& text) {
    std::memcpy(tag + field.offset, text.data(), std::min(text.size(), field.width));
}

// The file name without directory and extension, at most 29 characters: the name is cut
// together with its leading '/' to the 30-character text width, then the '/' is dropped.
std::string TitleFromPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    // A bare file name is handled as if it had a leading '/' so it gets the same limit.
    std::string name = slash == std::string::npos ? "/" + path : path.substr(slash);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.resize(dot);
    if (name.size() > kTextWidth) name.resize(kTextWidth);
    return name.substr(1);
}

}  // namespace

int BuildDefaultTag(uint8_t* buffer, int size, const std::string& sourceWavePath,
                    int currentYearUtc) {
    if (buffer == nullptr || size < kDefaultTagBytes) return 0;

    char title[kTextWidth + 1] = {};
    char artist[kTextWidth + 1] = {};
    char comment[kTextWidth + 1] = {};
    WaveInputFile source;
    if (source.Open(sourceWavePath)) {
        source.ReadInfoTexts(title, sizeof(title), artist, sizeof(artist), comment,
                             sizeof(comment));
    }

    std::memset(buffer, ' ', kDefaultTagBytes);
    std::memcpy(buffer, "TAG", 3);
    buffer[kGenreOffset] = kGenreOther;

    std::string titleText = title;
    if (titleText.empty()) titleText = TitleFromPath(sourceWavePath);
    std::string artistText = artist;
    if (artistText.empty()) artistText = "Unknown";
    char year[16];
    std::snprintf(year, sizeof(year), "%4.4d", currentYearUtc);

    Put(buffer, kTitle, titleText);
    Put(buffer, kArtist, artistText);
    Put(buffer, kAlbum, "Unknown");
    Put(buffer, kYear, year);
    Put(buffer, kComment, kEncoderComment);
    return kDefaultTagBytes;
}

int BuildDefaultTag(uint8_t* buffer, int size, const std::string& sourceWavePath) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    return BuildDefaultTag(buffer, size, sourceWavePath, utc.tm_year + 1900);
}

}  // namespace velora
