#pragma once
// The page an input module's track information is shown in: the language file's header, the
// module's HTML and its trailer, written to "tqi%05d.html" in the program folder's Temp/ and
// opened by the desktop; every "html" file there is removed at exit.
#include "LanguageStore.h"

#include <optional>
#include <string>

namespace tessura {

struct TrackInfoPage {
    std::string path;       // the page written, "" when none
    std::string statusKey;  // "main/noextendedinfo" when there was nothing to show
};

// `text`: what ExtendedInfo gave (none without the export or a text); `number` 0-99999.
TrackInfoPage writeTrackInfoPage(const std::string& tempDir, const LanguageStore& language,
                                 const std::optional<std::string>& text, int number);
// Removes every file ending in ".html" from `tempDir`; returns how many.
int removeTrackInfoPages(const std::string& tempDir);

}  // namespace tessura
