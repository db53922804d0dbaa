#pragma once
// The members the program asks a skin for, grouped by the window mode that draws them.
#include <array>
#include <string_view>

namespace tessura {

inline constexpr std::string_view kSkinIniMember = "/skin.ini";
// "/jpeg/%s/navbuttons" with the language's resource word: the navigator's button captions.
inline constexpr std::string_view kNavButtonsFormat = "/jpeg/%s/navbuttons";

enum class SkinMode { Shared, Mid, Navigator, Small, Splash, Settings };

struct SkinMemberName {
    std::string_view name;
    SkinMode mode;
};

inline constexpr std::array<SkinMemberName, 14> kSkinImages{{
    {"/jpeg/navitem1", SkinMode::Shared},
    {"/jpeg/misc", SkinMode::Shared},
    {"/jpeg/navitem2", SkinMode::Shared},
    {"/jpeg/midtessura", SkinMode::Mid},
    {"/jpeg/shuttle", SkinMode::Mid},
    {"/jpeg/volumeknob", SkinMode::Mid},
    {"/jpeg/navigator", SkinMode::Navigator},
    {"/jpeg/nav_volumeknob", SkinMode::Navigator},
    {"/jpeg/smallknob", SkinMode::Navigator},
    {"/jpeg/smallstate", SkinMode::Small},
    {"/jpeg/extra", SkinMode::Small},
    {"/jpeg/splash", SkinMode::Splash},
    {"/jpeg/skinthumb", SkinMode::Settings},
    {"/jpeg/skinthumbmask", SkinMode::Settings},
}};

inline constexpr std::array<SkinMemberName, 37> kSkinRegions{{
    {"/rgn/nav/frame", SkinMode::Navigator},    {"/rgn/nav/next", SkinMode::Navigator},
    {"/rgn/nav/prev", SkinMode::Navigator},     {"/rgn/nav/play", SkinMode::Navigator},
    {"/rgn/nav/pause", SkinMode::Navigator},    {"/rgn/nav/display", SkinMode::Navigator},
    {"/rgn/nav/down", SkinMode::Navigator},     {"/rgn/nav/up", SkinMode::Navigator},
    {"/rgn/nav/volume", SkinMode::Navigator},   {"/rgn/nav/eject", SkinMode::Navigator},
    {"/rgn/nav/repeat", SkinMode::Navigator},   {"/rgn/nav/shuffle", SkinMode::Navigator},
    {"/rgn/nav/dknobamp", SkinMode::Navigator}, {"/rgn/nav/dknobbal", SkinMode::Navigator},
    {"/rgn/nav/dknobpitch", SkinMode::Navigator}, {"/rgn/nav/logoHREF", SkinMode::Navigator},
    {"/rgn/nav/drawer", SkinMode::Navigator},   {"/rgn/nav/drawertop", SkinMode::Navigator},
    {"/rgn/mid/frame", SkinMode::Mid},          {"/rgn/mid/next", SkinMode::Mid},
    {"/rgn/mid/prev", SkinMode::Mid},           {"/rgn/mid/bottom", SkinMode::Mid},
    {"/rgn/mid/eject", SkinMode::Mid},          {"/rgn/mid/eq", SkinMode::Mid},
    {"/rgn/mid/pause", SkinMode::Mid},          {"/rgn/mid/play", SkinMode::Mid},
    {"/rgn/mid/repeat", SkinMode::Mid},         {"/rgn/mid/shuffle", SkinMode::Mid},
    {"/rgn/mid/shuttle", SkinMode::Mid},        {"/rgn/mid/top", SkinMode::Mid},
    {"/rgn/mid/volume", SkinMode::Mid},         {"/rgn/mid/songposring", SkinMode::Mid},
    {"/rgn/mid/listposring", SkinMode::Mid},    {"/rgn/mid/logoHREF", SkinMode::Mid},
    {"/rgn/small/frame", SkinMode::Small},      {"/rgn/small/extratop", SkinMode::Small},
    {"/rgn/small/extrabottom", SkinMode::Small},
}};

}  // namespace tessura
