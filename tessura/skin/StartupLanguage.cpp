#include "StartupLanguage.h"

#include "Preferences.h"

namespace tessura {

bool SelectStartupLanguage(LanguageStore& languages, SettingsStore& settings,
                           DialogService& dialogs, const std::string& systemDir) {
    for (const LanguageFileError& error : languages.LoadLanguageList(systemDir, "lng")) {
        MessageRequest request;
        request.title = error.title;
        request.text = error.text;
        dialogs.message(request);
    }
    const std::string wanted =
        settings.GetSettingText(kPreferencesSection, "Language", "English", 2048);
    if (languages.SelectLanguage(wanted) == LanguageStore::kSelected ||
        languages.SelectLanguage("english") == LanguageStore::kSelected) {
        return true;
    }
    MessageRequest request;
    request.title = kNoLanguagesTitle;
    request.text = kNoLanguagesText;
    dialogs.message(request);
    return false;
}

}  // namespace tessura
