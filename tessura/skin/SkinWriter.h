#pragma once
// Writing skin archives, in the version 2 layout ("DAF\0LISTREV2"): a 48-byte header, one
// variable-length directory entry per member (flags, NUL-terminated name, data offset from the
// end of the directory, stored size, unpacked size), then the members' data in directory order.
// A member is stored as one zlib stream when that makes it smaller, else as it is. The header
// bytes the reader does not interpret are zeros.
#include "SkinArchive.h"
#include "SkinRegion.h"

#include <optional>
#include <string>
#include <vector>

namespace tessura {

struct SkinArchiveMember {
    std::string name;  // "/skin.ini", "/jpeg/...", "/rgn/..."; at most 79 bytes
    SkinBytes data;
};

// The archive's bytes, or nothing with `error` set (a name that cannot be written, a member or
// archive too large for the format or the reader).
std::optional<std::string> WriteSkinArchiveV2(const std::vector<SkinArchiveMember>& members,
                                              std::string* error = nullptr);

// A region member for the union of `rects` (right and bottom exclusive, see SkinRegion.h); the
// bounding rectangle is computed. Nothing when a coordinate or the count does not fit 16 bits.
std::optional<SkinBytes> EncodeSkinRegion(const std::vector<SkinRect>& rects);

// Whether `name` can be a member name of a written archive, and why not.
std::optional<std::string> SkinMemberNameProblem(const std::string& name);

}  // namespace tessura
