#pragma once
// Choosing the language at start-up: every language file in system/ is read (a file that does
// not parse is reported in a message box and the others still count), then the Language
// setting is selected, else "english". With neither the program cannot run.
#include "DialogService.h"
#include "LanguageStore.h"
#include "SettingsStore.h"

#include <string>

namespace tessura {

inline constexpr const char* kNoLanguagesTitle = "Files Missing";
inline constexpr const char* kNoLanguagesText = "Error loading languages - can not run Tessura";

// True when a language was selected; false after the "Files Missing" message.
bool SelectStartupLanguage(LanguageStore& languages, SettingsStore& settings,
                           DialogService& dialogs, const std::string& systemDir);

}  // namespace tessura
