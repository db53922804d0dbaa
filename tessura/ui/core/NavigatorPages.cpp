#include "NavigatorPages.h"

#include "CheckedFormat.h"
#include "PlayerActions.h"

#include <array>

namespace tessura::ui {

namespace {

constexpr std::array<const char*, 12> kTitleKeys = {
    "navpage/playlist", "navpage/nowplaying", "navpage/equaliser", "navpage/visualisation",
    "navpage/visualisations", "navpage/playorder", "navpage/sound", "navpage/settings",
    "navpage/skin", "navpage/keys", "navpage/statistics", "navpage/about"};

// A translated format with its values; the key itself when the translation does not fit them.
std::string format(const LanguageText& text, const std::string& key, std::initializer_list<FormatArg> args) {
    return formatChecked(text(key), std::span<const FormatArg>(args.begin(), args.size())).value_or(key);
}

}  // namespace

std::string NavigatorPageTitle(int page, const LanguageText& text) {
    if (page < 0 || page >= int(kTitleKeys.size())) return {};
    return text(kTitleKeys[std::size_t(page)]);
}

std::vector<PageLine> NavigatorPageLines(int page, const NavigatorFacts& f, const LanguageText& text) {
    std::vector<PageLine> lines;
    const auto add = [&](std::string line, bool lit = false) {
        if (!line.empty()) lines.push_back({std::move(line), lit});
    };
    switch (page) {
        case kNowPlayingPage:
            if (f.current.file.empty()) {
                add(text("navpage/nothingplaying"));
                break;
            }
            add(f.current.title.empty() ? f.current.display : f.current.title, true);
            add(f.current.author);
            add(f.current.info);
            if (f.current.length >= 0)
                add(format(text, "navpage/length", {f.current.length / 60, f.current.length % 60}));
            add(f.current.file);
            break;
        case kPlayOrderPage:
            add(text(f.shuffle ? "main/shuffleon" : "main/shuffleoff"));
            add(text(f.repeatMode == 1 ? "navpage/repeatone" : f.repeatMode == 2 ? "navpage/repeatall"
                                                                                 : "navpage/repeatoff"));
            add(format(text, "navpage/entries", {f.entries}));
            break;
        case kSoundPage:
            add(VolumeStatusText(text("main/volume"), f.volume));
            add(f.balanceText);
            break;
        case kSettingsPage:
            add(text(f.alwaysOnTop ? "main/alwaysontop" : "main/notalwaysontop"));
            add(text(f.movementLocked ? "main/movementlocked" : "main/movementnotlocked"));
            add(format(text, "navpage/framerate", {f.frameRate}));
            add(text(f.remainingTime ? "navpage/remainingtime" : "navpage/elapsedtime"));
            break;
        case kSkinPage:
            add(f.skinTitle, true);
            if (!f.skinAuthor.empty()) add(format(text, "navpage/skinauthor", {std::string_view(f.skinAuthor)}));
            add(f.skinPath);
            break;
        case kKeysPage:
            for (const char* key : {"navpage/keys1", "navpage/keys2", "navpage/keys3", "navpage/keys4"}) add(text(key));
            break;
        case kStatisticsPage:
            add(format(text, "navpage/starts", {f.seedNumber}));
            add(format(text, "navpage/entries", {f.entries}));
            break;
        case kAboutPage:
            add(text("about/title"), true);
            add(format(text, "about/version", {std::string_view(f.version)}));
            add(f.buildDate);
            break;
        default: break;  // the pages that draw themselves
    }
    return lines;
}

}  // namespace tessura::ui
