#pragma once
// How playlist files name their entries, and how an entry's name is shown.
//
// Entries are local paths ('/' here) or URLs. Files written on Windows name theirs with '\',
// drive letters and server shares; such names are read with their '\' turned into '/' where
// that gives a local path, and kept as they stand where it cannot (a drive or a share).
#include <string>
#include <string_view>

namespace tessura {

// Names longer than this cannot be opened (PATH_MAX) and are refused as entries.
inline constexpr std::size_t kMaxEntryName = 4095;

bool isUrl(std::string_view name);  // contains "://"

// The folder of a playlist file ("" for a bare name), without its trailing separator.
std::string folderOfPath(std::string_view path);

// An entry name read from a playlist file in folder `folder`:
// - a drive name ("C:..."), a URL or a share ("\\server...") stays as it is;
// - a name beginning with '\' or '/' is joined to the root of `folder` (its share, its drive,
//   the scheme and host of a URL, or nothing for a local folder);
// - any other name is `folder` + separator + name.
std::string resolveEntryPath(std::string_view folder, std::string_view name);

// The name to write for `path` in a playlist stored in `folder`: the bare file name when the
// file lies in that folder and reading the bare name back gives `path` again, else "".
std::string nameInFolder(std::string_view folder, std::string_view path);

// Text after the last '.' of the last path component ("" when there is none).
std::string extensionOf(std::string_view name);

// How an entry shows before anything is known about it: a local file's name without folder and
// extension; a URL without its scheme and trailing '/'.
std::string shownFileTitle(std::string_view name);

// What the open dialog's name field makes of a typed location: unchanged with "://"; else
// "http://" in front when it holds "www."/"WWW." or begins with a digit, "ftp://" when it holds
// "ftp."/"FTP.".
std::string locationToUrl(std::string_view typed);

}  // namespace tessura
