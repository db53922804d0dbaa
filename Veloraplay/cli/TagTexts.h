// The tag `velora encode` appends: the encoder window's default tag (title from the WAVE
// file's INFO texts or its name, artist and album "Unknown", the year, the encoder's name,
// genre "Other"), the input's own title and artist where the window's reader cannot see
// them (FLAC, Ogg, wider WAVE), and then what the command line sets, each text cut to its
// field with a warning.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Id3v1Tag.h"

namespace veloraplay {

struct TagTexts {
    std::optional<std::string> title, artist, album, year, comment;
    std::optional<int> track;  // 1..255
    std::optional<int> genre;  // 0..147
    bool none = false;         // --no-tag
    bool Any() const { return title || artist || album || year || comment || track || genre; }
};

// Takes `option` with `value` when it is a tag option (`--title` or lame's `--tt`, ...):
// returns true, with `error` set when the value is refused.
bool TakeTagOption(std::string_view option, std::string_view value, TagTexts& tag, std::string& error);
// The tag options that take a value.
bool IsTagOption(std::string_view option);

// A genre given as a number 0..147 or a name from the table (any case); -1 otherwise.
int ParseGenre(std::string_view text);

// The 128-byte block for `inputPath` ("-" for standard input) with the file's own title and
// artist (`fileTitle`, `fileArtist`, used when the window's reader finds none) and `tag`
// over it. `warnings` gets one line per text that did not fit its field.
velora::Id3v1Block BuildTag(const std::string& inputPath, const std::string& fileTitle, const std::string& fileArtist,
                            const TagTexts& tag, std::vector<std::string>& warnings);

}  // namespace veloraplay
