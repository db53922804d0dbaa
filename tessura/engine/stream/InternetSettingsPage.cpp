#include "InternetSettingsPage.h"

#include "DialogService.h"
#include "LanguageStore.h"
#include "SettingsStore.h"

namespace tessura {

namespace {
std::string translated(const LanguageStore* language, const char* key) {
    return language != nullptr ? language->Text(key) : std::string(key);
}
}  // namespace

int ReadConnectionType(SettingsStore& store) { return store.GetSettingInt("", kConnectionTypeKey, 0); }

bool ConnectionTypeConnected(int connectionType) { return connectionType == 1; }

const char* ConnectionTypeTextKey(int connectionType) {
    switch (connectionType) {
    case 1:
        return "settings/internet/lan";
    case 2:
        return "settings/internet/modem";
    default:
        return "settings/internet/none";
    }
}

int NextConnectionType(int connectionType) {
    if (connectionType == 1) return 2;
    if (connectionType == 2) return 0;
    return 1;
}

int AdvanceConnectionType(SettingsStore& store, DialogService* dialogs, const LanguageStore* language) {
    const int current = ReadConnectionType(store);
    const int next = NextConnectionType(current);
    if (store.SetSettingInt("", kConnectionTypeKey, next)) return next;
    if (dialogs != nullptr) {
        MessageRequest box;
        box.titleKey = "errors/nonfatalerror";
        box.textKey = "errors/regerror";
        box.title = translated(language, "errors/nonfatalerror");
        box.text = translated(language, "errors/regerror");
        dialogs->message(box);
    }
    return current;
}

std::string BufferSizeText(const LanguageStore& language, int kilobytes) {
    return language.Format("settings/internet/buffersize", {static_cast<long long>(kilobytes)});
}

std::string PreBufferText(const LanguageStore& language, int percent) {
    if (percent == 0) return language.Text("settings/internet/prebufferoff");
    return language.Format("settings/internet/prebuffer", {static_cast<long long>(percent)});
}

}  // namespace tessura
