#include "TrackInfoPage.h"

#include "AtomicFile.h"
#include "PluginHost.h"

#include <cstdio>
#include <unistd.h>

namespace tessura {

TrackInfoPage writeTrackInfoPage(const std::string& tempDir, const LanguageStore& language,
                                 const std::optional<std::string>& text, int number) {
    if (!text || text->empty()) return {"", "main/noextendedinfo"};
    char name[32];
    std::snprintf(name, sizeof name, "tqi%05d.html", number < 0 ? 0 : number % 100000);
    if (!makeFolders(tempDir)) return {"", "main/noextendedinfo"};
    const std::string path = tempDir + "/" + name;
    const std::string page =
        language.Text("html/songinfoheader") + *text + language.Text("html/songinfotrailer");
    if (writeFileAtomically(path, page, 0600) != WriteResult::Ok) return {"", "main/noextendedinfo"};
    return {path, ""};
}

int removeTrackInfoPages(const std::string& tempDir) {
    int removed = 0;
    for (const std::string& path : filesWithExtension(tempDir, "html"))
        if (::unlink(path.c_str()) == 0) ++removed;
    return removed;
}

}  // namespace tessura
