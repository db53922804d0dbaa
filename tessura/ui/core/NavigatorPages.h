#pragma once
// The text pages of the navigator: which lines each page shows, every one from the language.
// The playlist, equaliser and visualisation pages draw themselves; the rest are lines of text
// built here from what the window gathers, so each page's content is tested without drawing.
#include "PlaylistEntry.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tessura::ui {

inline constexpr int kPlaylistPage = 0, kNowPlayingPage = 1, kEqualiserPage = 2, kVisualisationPage = 3,
                     kVisualisationsPage = 4, kPlayOrderPage = 5, kSoundPage = 6, kSettingsPage = 7, kSkinPage = 8,
                     kKeysPage = 9, kStatisticsPage = 10, kAboutPage = 11;

// What the pages show.
struct NavigatorFacts {
    PlaylistEntry current;  // the current entry (empty file: none)
    int entries = 0;
    int repeatMode = 0;
    bool shuffle = false;
    uint32_t volume = 0;
    std::string balanceText;  // the status line's balance text
    bool alwaysOnTop = false, movementLocked = false, remainingTime = false;
    int frameRate = 0;
    int seedNumber = 0;
    std::string skinTitle, skinAuthor, skinPath;
    std::string version, buildDate;
};

struct PageLine {
    std::string text;
    bool lit = false;  // drawn in the highlight colour
    bool operator==(const PageLine&) const = default;
};

using LanguageText = std::function<std::string(const std::string& key)>;

// The page's title ("navpage/..." texts).
std::string NavigatorPageTitle(int page, const LanguageText& text);
// The lines of a text page; empty for the pages that draw themselves.
std::vector<PageLine> NavigatorPageLines(int page, const NavigatorFacts& facts, const LanguageText& text);

}  // namespace tessura::ui
