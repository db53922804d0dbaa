#pragma once
// Loading the current skin: its "/skin.ini" with every default, the images and window regions of
// every mode, each falling back on the default skin on its own, and the messages a damaged skin
// calls for. The result is plain data the mode windows draw from.
//
// The load runs under the LoadSkin start-up guard: a start that finds the guard at "0" (the
// last load never finished) warns and loads the default skin instead.
#include "DialogService.h"
#include "LanguageStore.h"
#include "SettingsStore.h"
#include "SkinDescription.h"
#include "SkinImage.h"
#include "SkinRegion.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tessura {

inline constexpr const char* kSkinCrashedText =
    "Tessura crashed last time you tried this skin,\nReseting to default skin";
inline constexpr const char* kSkinCrashedTitle = "Warning...";
inline constexpr const char* kUntitledSkinName = "original_default";

struct LoadedSkinImage {
    SkinImage image;
    bool fromDefaultSkin = false;
};

struct LoadedSkinRegion {
    SkinRegion region;
    bool fromDefaultSkin = false;
};

struct LoadedSkin {
    // The skin in use: CurrentSkin, or the default skin when CurrentSkin was refused.
    std::string skinPath;
    // Why the default skin replaced CurrentSkin ("" when it did not).
    std::string refusedBecause;
    SkinDescription description;
    // The title handed to the settings screen, the visualisations and the colour scheme.
    std::string displayTitle;
    // By member name ("/jpeg/misc", "/jpeg/english/navbuttons"); a member found nowhere is absent.
    std::map<std::string, LoadedSkinImage> images;
    // When only one of the navigator and mid modes takes the skin's layout, the other draws
    // from the default skin's "/jpeg/misc", held here.
    std::optional<LoadedSkinImage> untouchedMisc;
    std::map<std::string, LoadedSkinRegion> regions;
    // The user answered a skin failure with Yes (quit), or the default skin itself is unusable.
    bool quitRequested = false;

    const SkinImage* Image(const std::string& member) const;
    const SkinRegion* Region(const std::string& member) const;
};

struct SkinLoadContext {
    SettingsStore& settings;     // the LoadSkin guard
    SkinSources sources;         // CurrentSkin, DefaultSkin, program folder
    const LanguageStore& texts;  // message texts and the "/jpeg/%s/navbuttons" word
    DialogService& dialogs;
};

LoadedSkin LoadSkin(const SkinLoadContext& context);

// The title shown for a skin: its "title", or "original_default" when that is empty.
std::string SkinDisplayTitle(const SkinDescription& description);

}  // namespace tessura
