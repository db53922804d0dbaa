#include "Id3v1Tag.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace velora {
namespace {

constexpr std::array<const char*, kGenreCount> kGenres = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno",
    "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical",
    "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "Alt. Rock",
    "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock",
    "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance",
    "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta Rap", "Top 40", "Christian Rap",
    "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave", "Psychedelic", "Rave",
    "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro",
    "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk/Rock", "National Folk", "Swing",
    "Fast-Fusion", "Bebob", "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde",
    "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock",
    "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera",
    "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire",
    "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad",
    "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A Cappella", "Euro-House",
    "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie", "BritPop",
    "Neuro Punk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal", "Black Metal",
    "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa",
    "Thrash Metal", "Anime", "JPop", "Synthpop"
};

std::string ReadText(const uint8_t* block, id3v1::Field field) {
    const char* start = reinterpret_cast<const char*>(block + field.offset);
    size_t length = 0;
    while (length < field.width && start[length] != '\0') ++length;
    while (length > 0 && start[length - 1] == ' ') --length;
    return Latin1ToUtf8(std::string_view(start, length));
}

// Blanks, then as much of the text as fits (one Latin-1 byte per character).
void WriteText(uint8_t* block, id3v1::Field field, const std::string& utf8) {
    const std::string latin1 = Utf8ToLatin1(utf8);
    std::memset(block + field.offset, ' ', field.width);
    std::memcpy(block + field.offset, latin1.data(), std::min(latin1.size(), field.width));
}

}  // namespace

const std::array<const char*, kGenreCount>& GenreTable() { return kGenres; }

const char* GenreName(int index) {
    return index >= 0 && index < kGenreCount ? kGenres[static_cast<size_t>(index)] : nullptr;
}

int GenreIndexByName(std::string_view name) {
    for (size_t i = 0; i < kGenres.size(); ++i) {
        if (name == kGenres[i]) return static_cast<int>(i);
    }
    return -1;
}

bool HasTagMarker(const uint8_t* block) {
    return block[0] == 'T' && block[1] == 'A' && block[2] == 'G';
}

bool HasTrackNumber(const uint8_t* block) {
    return block[id3v1::kTrackMarkerOffset] == 0 && block[id3v1::kTrackOffset] != 0;
}

std::optional<Id3v1Tag> ParseId3v1(const uint8_t* block) {
    if (!HasTagMarker(block)) return std::nullopt;
    Id3v1Tag tag;
    tag.title = ReadText(block, id3v1::kTitle);
    tag.artist = ReadText(block, id3v1::kArtist);
    tag.album = ReadText(block, id3v1::kAlbum);
    tag.year = ReadText(block, id3v1::kYear);
    // With a track number byte 125 is 0, so the comment ends there by itself.
    tag.comment = ReadText(block, id3v1::kComment);
    if (HasTrackNumber(block)) tag.track = block[id3v1::kTrackOffset];
    tag.genre = block[id3v1::kGenreOffset];
    return tag;
}

Id3v1Block NewId3v1Block() {
    Id3v1Block block;
    block.fill(' ');
    std::memcpy(block.data(), "TAG", 3);
    block[id3v1::kGenreOffset] = 0;
    return block;
}

void ApplyId3v1Edit(uint8_t* block, const Id3v1Edit& edit) {
    const bool newTrack = edit.track.has_value() && *edit.track > 0 && *edit.track <= 255;
    const bool shortComment = HasTrackNumber(block) || newTrack;
    if (edit.genre.has_value() && *edit.genre >= 0 && *edit.genre <= 255) {
        block[id3v1::kGenreOffset] = static_cast<uint8_t>(*edit.genre);
    }
    WriteText(block, id3v1::kTitle, edit.title);
    WriteText(block, id3v1::kArtist, edit.artist);
    WriteText(block, id3v1::kAlbum, edit.album);
    WriteText(block, id3v1::kYear, edit.year);
    WriteText(block,
              shortComment ? id3v1::Field{id3v1::kComment.offset, id3v1::kShortCommentWidth}
                           : id3v1::kComment,
              edit.comment);
    if (newTrack) {
        block[id3v1::kTrackMarkerOffset] = 0;
        block[id3v1::kTrackOffset] = static_cast<uint8_t>(*edit.track);
    }
}

std::string Latin1ToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return out;
}

namespace {

// The code point of the UTF-8 sequence at text[i], advancing i; -1 for a malformed one
// (which then consumes one byte).
long NextCodePoint(std::string_view text, size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    ++i;
    if (lead < 0x80) return lead;
    int more;
    long cp;
    if ((lead & 0xE0) == 0xC0) {
        more = 1;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        more = 2;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        more = 3;
        cp = lead & 0x07;
    } else {
        return -1;
    }
    size_t j = i;
    for (int k = 0; k < more; ++k, ++j) {
        if (j >= text.size() || (static_cast<unsigned char>(text[j]) & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (static_cast<unsigned char>(text[j]) & 0x3F);
    }
    static constexpr long kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    i = j;
    return cp;
}

}  // namespace

std::string Utf8ToLatin1(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        const long cp = NextCodePoint(utf8, i);
        out.push_back(cp >= 0 && cp <= 0xFF ? static_cast<char>(cp) : '?');
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        if (NextCodePoint(text, i) < 0) return false;
    }
    return true;
}

bool IsMpegAudioFrameHeader(const uint8_t* bytes, size_t size) {
    if (size < 4) return false;
    if (bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0) return false;
    const int version = (bytes[1] >> 3) & 3;  // 1 is reserved
    const int layer = (bytes[1] >> 1) & 3;    // 0 is reserved
    const int bitRate = bytes[2] >> 4;        // 15 is invalid
    const int sampleRate = (bytes[2] >> 2) & 3;  // 3 is reserved
    return version != 1 && layer != 0 && bitRate != 15 && sampleRate != 3;
}

bool IsMpegAudioFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    uint8_t head[10];
    off_t offset = 0;
    bool found = false;
    if (::pread(fd, head, sizeof(head), 0) == static_cast<ssize_t>(sizeof(head)) &&
        head[0] == 'I' && head[1] == 'D' && head[2] == '3') {
        // ID3v2: 10-byte header, a size in four 7-bit bytes, and a footer when flagged.
        const bool sizeOk = ((head[6] | head[7] | head[8] | head[9]) & 0x80) == 0;
        if (sizeOk) {
            offset = 10 + ((off_t{head[6]} << 21) | (off_t{head[7]} << 14) |
                           (off_t{head[8]} << 7) | off_t{head[9]});
            if (head[5] & 0x10) offset += 10;
        }
    }
    uint8_t frame[4];
    if (::pread(fd, frame, sizeof(frame), offset) == static_cast<ssize_t>(sizeof(frame))) {
        found = IsMpegAudioFrameHeader(frame, sizeof(frame));
    }
    ::close(fd);
    return found;
}

}  // namespace velora
