// The 128-byte tag at the very end of a file ("TAG", title, artist, album, year, comment,
// and a genre byte; a track number in the comment's last two bytes when byte 125 is 0 and
// byte 126 is not). Text is Latin-1 on disk and UTF-8 everywhere else; characters that
// Latin-1 cannot hold are stored as '?'.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velora {

constexpr size_t kId3v1Bytes = 128;
constexpr int kGenreCount = 148;

using Id3v1Block = std::array<uint8_t, kId3v1Bytes>;

namespace id3v1 {
struct Field {
    size_t offset;
    size_t width;
};
constexpr Field kTitle{3, 30};
constexpr Field kArtist{33, 30};
constexpr Field kAlbum{63, 30};
constexpr Field kYear{93, 4};
constexpr Field kComment{97, 30};
constexpr size_t kShortCommentWidth = 28;
constexpr size_t kTrackMarkerOffset = 125;
constexpr size_t kTrackOffset = 126;
constexpr size_t kGenreOffset = 127;
}  // namespace id3v1

// What a tag holds, texts in UTF-8 with trailing blanks removed.
struct Id3v1Tag {
    std::string title, artist, album, year, comment;
    int track = 0;  // 0 = none
    int genre = 0;  // the raw byte, 0..255; only 0..147 name a genre
};

// The changes an update writes into a tag block. Texts are cut to their field width;
// an unset track leaves bytes 125 and 126 as they are, an unset genre leaves byte 127.
struct Id3v1Edit {
    std::string title, artist, album, year, comment;
    std::optional<int> track;  // 1..255
    std::optional<int> genre;  // 0..255
};

// The genre names, index = tag value.
const std::array<const char*, kGenreCount>& GenreTable();
// The name of genre `index`, or nullptr outside 0..147.
const char* GenreName(int index);
// The index whose name is exactly `name` (case matters), or -1.
int GenreIndexByName(std::string_view name);

bool HasTagMarker(const uint8_t* block);
// Byte 125 is 0 and byte 126 is not: the comment is 28 bytes and byte 126 the track.
bool HasTrackNumber(const uint8_t* block);

// Nothing when the block does not start with "TAG".
std::optional<Id3v1Tag> ParseId3v1(const uint8_t* block);
// 128 blanks with "TAG" at the start and genre 0: what a file without a tag starts from.
Id3v1Block NewId3v1Block();
// Writes `edit` into `block` (which holds the file's old tag or a new one), blank-padding
// every text. The comment is 28 bytes when the old tag carried a track number or a new one
// is written, else 30.
void ApplyId3v1Edit(uint8_t* block, const Id3v1Edit& edit);

// Each byte is one character U+0000..U+00FF.
std::string Latin1ToUtf8(std::string_view latin1);
// Characters above U+00FF and malformed sequences become '?'.
std::string Utf8ToLatin1(std::string_view utf8);
bool IsValidUtf8(std::string_view text);

// An MPEG audio frame header (sync, and version, layer, bit rate and sample rate that are
// not reserved) at the start of `bytes`.
bool IsMpegAudioFrameHeader(const uint8_t* bytes, size_t size);
// The file starts with an MPEG audio frame, directly or after an ID3v2 tag.
bool IsMpegAudioFile(const std::string& path);

}  // namespace velora
