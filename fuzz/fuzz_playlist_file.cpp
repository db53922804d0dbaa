// A playlist file of arbitrary bytes, read as PLS or M3U (the content decides): every name and
// text stays within its bounds, and the list written back as PLS reads as the same entries —
// nothing in a name or title can add, drop or rename an entry of a saved playlist.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "EntryPath.h"
#include "PlaylistFile.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz_playlist_file: %s (%s)\n", what, detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tessura;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const PlaylistFileContent content = parsePlaylistText(text, "/d");

    std::vector<PlaylistEntry> entries;
    bool tooLong = false;
    for (const PlaylistFileItem& item : content.items) {
        if (item.name.empty()) Fail("an empty name was taken", "");
        if (item.name.size() > kMaxEntryName) tooLong = true;
        PlaylistEntry entry;
        entry.file = item.name;
        if (item.info) {
            if (item.info->title.size() > kMaxInfoText || item.info->author.size() > kMaxInfoText) {
                Fail("a text is longer than its bound", item.name);
            }
            entry.title = item.info->title;
            entry.author = item.info->author;
            entry.info = item.info->info;
            entry.extraInfo = item.info->extraInfo;
            entry.length = item.info->length;
        }
        entries.push_back(std::move(entry));
    }

    const PlsText written = serialisePls(entries, "/d", true);
    // A bare name with control characters is saved with '?' on purpose (and warned about); a
    // name resolved past the length bound is refused on reading.
    if (written.replacedControls || tooLong) return 0;
    const PlaylistFileContent again = parsePlaylistText(written.bytes, "/d");
    if (!again.pls || !again.readable) Fail("a written playlist does not read", "");
    if (again.items.size() != entries.size()) Fail("entry count changed", std::to_string(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const PlaylistFileItem& item = again.items[i];
        if (item.name != entries[i].file) Fail("a name changed", entries[i].file);
        if (!item.info) Fail("information lost", entries[i].file);
        if (item.info->title != entries[i].title || item.info->author != entries[i].author ||
            item.info->info != entries[i].info || item.info->extraInfo != entries[i].extraInfo) {
            Fail("a text changed", entries[i].file);
        }
        const int length = entries[i].length == -1 ? 0 : entries[i].length;
        if (item.info->length != length) Fail("a length changed", entries[i].file);
    }
    return 0;
}
