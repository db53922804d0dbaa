#pragma once
// The title of an internet stream, joined from its four audiocast headers.
#include "StreamSource.h"

#include <optional>
#include <string>

namespace tessura {

inline constexpr const char* kStreamTitleHeader = "x-audiocast-streamtitle";
inline constexpr const char* kStreamNameHeader = "x-audiocast-name";
inline constexpr const char* kStreamDescriptionHeader = "x-audiocast-description";
inline constexpr const char* kStreamGenreHeader = "x-audiocast-genre";

struct StreamTitleParts {
    std::optional<std::string> streamTitle, name, description, genre;
};

// Stream title, name and description joined into the stream text ("T - A", "A / B", ...), the
// genre as the title; with none of them the library's open text as the stream text. False
// when there is nothing at all.
bool JoinStreamTitle(const StreamTitleParts& parts, const std::optional<std::string>& openText,
                     StreamInfo& info);

}  // namespace tessura
