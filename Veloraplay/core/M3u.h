#pragma once
// Playlist files: reading and writing M3U, turning command-line words (and dropped or opened
// files) into items, and the HTML page a library folder is exported as.
#include <cstddef>
#include <string>
#include <vector>

#include "Playlist.h"

namespace veloraplay {

// Reads an M3U file: each line trimmed (a Windows file's CR LF endings and a leading UTF-8
// byte order mark go too), empty lines skipped, "#" lines ignored except "##ListName:"
// (any case), whose trimmed rest sets *listName when it is not empty. Entries are kept as
// written, '\' separators included. A file that cannot be opened yields nothing. At most
// kMaxPlaylistItems entries are read, and a line longer than kMaxM3uLine is skipped.
std::vector<std::string> readM3u(const std::string& path, std::string* listName = nullptr);
inline constexpr std::size_t kMaxM3uLine = 64 * 1024;

// Writes "##ListName: <name>" (when the name is not empty) and one item a line, lines ending
// in CR LF, to a temporary file renamed over `path`. Items that a reader could not give back
// are adjusted: empty items and items holding CR or LF are left out, an item beginning with
// '#' is written as "./#..." (the same file, not a comment); CR and LF in the name become
// blanks. False when the file cannot be written; an existing file is then left as it was.
bool writeM3u(const std::string& path, const std::string& listName,
              const std::vector<std::string>& items);

// The items a list of command-line words stands for, in order: "-L" or "/L" (any case) reads
// the next word as an M3U file; other switches are ignored; a word ending in ".m3u" (any
// case) is read as M3U; any other word is an item as written (empty words are skipped).
// Because every absolute path begins with '/', a word that names an existing file is never a
// switch, and a word beginning with '/' is a switch only when it is exactly "/L" or
// "/ENCODE" (any case); a missing "/dir/x.mp3" is an item like any other path.
std::vector<std::string> expandArguments(const std::vector<std::string>& args);

// The HTML page of a list: the name in bold, then one numbered link a line, the first
// numbered 0. Text is escaped (& < > ") and links are "file://" followed by the path with
// every byte other than letters, digits, "-._~/" percent-encoded. False on a write error.
bool writeHtmlExport(const std::string& path, const std::string& listName,
                     const std::vector<std::string>& items);

// The pieces of the export, for the library window's own use and for tests.
std::string htmlEscaped(const std::string& text);
std::string fileLink(const std::string& path);

}  // namespace veloraplay
