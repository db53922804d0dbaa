#pragma once
// Whole-file writes that either land completely or leave the previous file in place.
#include <string>

namespace veloraplay {

// Creates every missing folder of `path` (mode 0700 for the new ones). True when it exists.
bool makeFolders(const std::string& path);

// Writes `content` to a temporary file beside `path`, flushes it to disk, gives it `mode`
// and renames it over `path`. On any failure the temporary file is removed, the old file is
// untouched and false is returned.
bool writeFileAtomically(const std::string& path, const std::string& content, unsigned mode);

// Reads a whole file. False when it cannot be opened or read.
bool readWholeFile(const std::string& path, std::string& content);

// The folder part of a path ("." when it has none).
std::string folderOf(const std::string& path);

}  // namespace veloraplay
