#pragma once
// The skins the settings screen offers, installing a skin file into the program's skins/
// folder, and the preview of one skin (thumbnail and credits).
#include "DialogService.h"
#include "LanguageStore.h"
#include "SkinImage.h"

#include <optional>
#include <string>
#include <vector>

namespace tessura {

inline constexpr const char* kSkinExtension = "tgf";
inline constexpr const char* kInstallFailedText = "Error Installing Skin.";

struct SkinListEntry {
    std::string path;  // as CurrentSkin names it: the default skin's setting, or "skins/NAME.tgf"
    std::string fileName;
    bool isDefault = false;
    bool isCurrent = false;  // the path equals CurrentSkin without regard to case
};

// The default skin first, then every "tgf" file of the skins/ folder in name order.
std::vector<SkinListEntry> ListSkins(const std::string& programDir, const std::string& defaultSkin,
                                     const std::string& currentSkin);

// Copies `path` into skins/ under its own name (written to a temporary file and renamed, so a
// failed copy never leaves half a skin), overwriting an older copy; when the first attempt fails
// the folder is created and the copy tried once more. Returns the installed skin's path as
// CurrentSkin names it, or nothing after showing "Error Installing Skin.".
std::optional<std::string> InstallSkin(const std::string& path, const std::string& programDir,
                                       DialogService& dialogs);

struct SkinPreviewInfo {
    std::optional<SkinImage> thumbnail;  // "/jpeg/skinthumb" with "/jpeg/skinthumbmask" applied
    std::string title, author, urlText;  // defaults: "settings/skinnotitle", "settings/skinunknown"
    std::string url;                     // the link target
};

SkinPreviewInfo SkinPreview(const std::string& path, const std::string& programDir,
                            const LanguageStore& texts);

}  // namespace tessura
