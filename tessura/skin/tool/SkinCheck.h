#pragma once
// The skin tool's check: for every member, image, region and "/skin.ini" key, what the player
// would use, what it takes from the default skin or its built-in values instead, or what it
// refuses, and why. Each line starts with one of "ok", "used", "default", "skipped",
// "fallback", "refused" or "damaged".
#include "SkinArchive.h"

#include <optional>
#include <ostream>
#include <string>

namespace tessura {

struct SkinCheckSummary {
    bool damaged = false;   // a member is unreadable, an image or region does not decode
    bool refused = false;   // the whole skin is refused ("/skin.ini" missing or too new)
    int fallbacks = 0;      // things taken from the default skin or built-in values
};

// Why member `index` reads as missing, or nothing when it reads. `fileSize` is the archive's.
std::optional<std::string> MemberProblem(const SkinArchive& archive, std::size_t index, std::size_t fileSize);

SkinCheckSummary CheckSkin(const SkinArchive& archive, std::size_t fileSize, std::ostream& out);

}  // namespace tessura
