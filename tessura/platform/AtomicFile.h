#pragma once
// Every file tessura saves goes through here: the bytes go to a temporary file in the same
// folder, which is flushed and renamed over the old one, so a crash or a full disk leaves the
// previous file whole.
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tessura {

enum class WriteResult { Ok, CannotCreate, ShortWrite, CannotReplace };

WriteResult writeFileAtomically(const std::string& path, std::string_view bytes,
                                mode_t mode = 0600);

// Creates `folder` and its parents with `mode` (existing folders are left as they are).
bool makeFolders(const std::string& folder, mode_t mode = 0700);

// The whole file, or false when it cannot be read.
bool readWholeFile(const std::string& path, std::string& bytes);

bool fileExists(const std::string& path);

}  // namespace tessura
