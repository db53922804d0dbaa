#pragma once
// The about box's texts and the addresses behind its three logo buttons.
#include <string>

namespace veloraplay {

inline constexpr char kProductName[] = "Velora Audio Player";

// The credit lines under the version line, in order.
inline constexpr const char* kAboutCredits[] = {
    "Velora audio decoder and encoder with band enhancement",
    "Playback, library and conversion in one small player",
    "Copyright \u00a9 2026 the Velora developers.",
};

// The three logos of the about box: the player, the Velora format, and the band enhancement.
struct AboutLogo {
    const char* caption;  // the button's tooltip
    const char* address;  // opened through WebLink
};
inline constexpr AboutLogo kAboutLogos[] = {
    {"Velora Audio Player home page", "https://www.velora.example/player/"},
    {"The Velora audio format", "https://www.velora.example/format/"},
    {"Band enhancement technology", "https://www.velora.example/enhancement/"},
};

// The program's own version: the project's version (0.1.0 unless the build passes
// VELORAPLAY_VERSION_MAJOR, _MINOR and _PATCH) and the build number VELORAPLAY_BUILD_NUMBER
// (0 when the build has none).
struct ProgramVersion {
    int major, minor, build, revision;
};
ProgramVersion programVersion();

// "Version %i.%i.%i (Build %i) %s": major, minor, build, revision and the build date in the
// "Mmm dd yyyy" form of __DATE__.
std::string aboutVersionLine(int major, int minor, int build, int revision,
                             const std::string& date);
// The same for this program, with the date it was compiled.
std::string aboutVersionLine();

}  // namespace veloraplay
