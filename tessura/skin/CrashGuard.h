#pragma once
// The start-up guards LoadPlayList and LoadSkin: set to "0" (on disk) before a load that could
// crash the program and back to "1" after it, so a start that finds "0" knows the last such
// load never finished and skips it.
#include "SettingsStore.h"

#include <string>

namespace tessura {

inline constexpr const char* kPlaylistGuard = "LoadPlayList";
inline constexpr const char* kSkinGuard = "LoadSkin";

// Whether the last guarded load of `guard` finished (the guard is not "0").
bool lastGuardedLoadFinished(SettingsStore& store, const char* guard);

class GuardedLoad {
  public:
    GuardedLoad(SettingsStore& store, const char* guard);  // writes "0"
    ~GuardedLoad();                                        // writes "1"
    GuardedLoad(const GuardedLoad&) = delete;
    GuardedLoad& operator=(const GuardedLoad&) = delete;

  private:
    SettingsStore& store_;
    std::string guard_;
};

}  // namespace tessura
