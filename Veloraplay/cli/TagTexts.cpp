#include "TagTexts.h"

#include <strings.h>

#include "DefaultTag.h"
#include "WaveInputFile.h"

namespace veloraplay {
namespace {

struct TextOption {
    const char* name;
    const char* lame;
    std::optional<std::string> TagTexts::*field;
};
constexpr TextOption kTextOptions[] = {
    {"--title", "--tt", &TagTexts::title},       {"--artist", "--ta", &TagTexts::artist},
    {"--album", "--tl", &TagTexts::album},       {"--year", "--ty", &TagTexts::year},
    {"--comment", "--tc", &TagTexts::comment},
};

// `text` as it will stand in a field of `width` bytes; a warning when it is cut.
std::string Fit(const char* what, const std::string& text, size_t width, std::vector<std::string>& warnings) {
    const std::string latin1 = velora::Utf8ToLatin1(text);
    if (latin1.size() <= width) return text;
    const std::string kept = velora::Latin1ToUtf8(std::string_view(latin1).substr(0, width));
    warnings.push_back(std::string("the ") + what + " is cut to its " + std::to_string(width) + " characters: '" +
                       kept + "'");
    return kept;
}

}  // namespace

bool IsTagOption(std::string_view option) {
    for (const TextOption& o : kTextOptions)
        if (option == o.name || option == o.lame) return true;
    return option == "--track" || option == "--tn" || option == "--genre" || option == "--tg";
}

int ParseGenre(std::string_view text) {
    if (!text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string_view::npos) {
        const int n = std::stoi(std::string(text));
        return n < velora::kGenreCount ? n : -1;
    }
    for (int i = 0; i < velora::kGenreCount; ++i) {
        const std::string_view name = velora::GenreTable()[static_cast<size_t>(i)];
        if (name.size() == text.size() && strncasecmp(name.data(), text.data(), text.size()) == 0) return i;
    }
    return -1;
}

bool TakeTagOption(std::string_view option, std::string_view value, TagTexts& tag, std::string& error) {
    for (const TextOption& o : kTextOptions) {
        if (option == o.name || option == o.lame) {
            if (!velora::IsValidUtf8(value)) {
                error = std::string("the ") + (o.name + 2) + " is not UTF-8 text";
                return true;
            }
            tag.*o.field = std::string(value);
            return true;
        }
    }
    if (option == "--track" || option == "--tn") {
        // lame's "N/TOTAL": the total has no place in this tag.
        const std::string_view number = value.substr(0, value.find('/'));
        int n = 0;
        if (number.empty() || number.size() > 3 || number.find_first_not_of("0123456789") != std::string_view::npos ||
            (n = std::stoi(std::string(number))) < 1 || n > 255) {
            error = "the track must be a number from 1 to 255";
        } else {
            tag.track = n;
        }
        return true;
    }
    if (option == "--genre" || option == "--tg") {
        const int genre = ParseGenre(value);
        if (genre < 0) {
            error = "unknown genre '" + std::string(value) +
                    "': a number 0..147 or a name 'velora encode --genre-list' shows";
        } else {
            tag.genre = genre;
        }
        return true;
    }
    return false;
}

velora::Id3v1Block BuildTag(const std::string& inputPath, const std::string& fileTitle, const std::string& fileArtist,
                            const TagTexts& tag, std::vector<std::string>& warnings) {
    velora::Id3v1Block block{};
    // Standard input has no name to take a title from.
    velora::BuildDefaultTag(block.data(), static_cast<int>(block.size()), inputPath == "-" ? "" : inputPath);
    velora::WaveInputFile wave;
    const bool fileTexts = (inputPath == "-" || !wave.Open(inputPath)) && (!fileTitle.empty() || !fileArtist.empty());
    if (!fileTexts && !tag.Any()) return block;  // byte for byte the encoder window's tag

    // An edit writes every text, so it starts from what the block holds.
    const velora::Id3v1Tag current = *velora::ParseId3v1(block.data());
    velora::Id3v1Edit edit{current.title, current.artist, current.album, current.year, current.comment, {}, {}};
    if (fileTexts) {
        // Cut without a warning: these texts are the file's, not the user's.
        if (!fileTitle.empty()) edit.title = fileTitle;
        if (!fileArtist.empty()) edit.artist = fileArtist;
    }
    if (tag.title) edit.title = Fit("title", *tag.title, velora::id3v1::kTitle.width, warnings);
    if (tag.artist) edit.artist = Fit("artist", *tag.artist, velora::id3v1::kArtist.width, warnings);
    if (tag.album) edit.album = Fit("album", *tag.album, velora::id3v1::kAlbum.width, warnings);
    if (tag.year) edit.year = Fit("year", *tag.year, velora::id3v1::kYear.width, warnings);
    // A track number takes the comment's last two bytes.
    const size_t commentWidth = tag.track ? velora::id3v1::kShortCommentWidth : velora::id3v1::kComment.width;
    if (tag.comment) edit.comment = Fit("comment", *tag.comment, commentWidth, warnings);
    edit.track = tag.track;
    edit.genre = tag.genre;
    velora::ApplyId3v1Edit(block.data(), edit);
    return block;
}

}  // namespace veloraplay
