#include "CrashGuard.h"

#include "Preferences.h"

namespace tessura {

bool lastGuardedLoadFinished(SettingsStore& store, const char* guard) {
    return store.GetSettingInt(kPreferencesSection, guard, 1) != 0;
}

GuardedLoad::GuardedLoad(SettingsStore& store, const char* guard) : store_(store), guard_(guard) {
    store_.SetSetting(kPreferencesSection, guard_, "0");
}

GuardedLoad::~GuardedLoad() {
    store_.SetSetting(kPreferencesSection, guard_, "1");
}

}  // namespace tessura
