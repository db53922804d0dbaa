#pragma once
// The logic of the settings screen's internet tab: the connection type with its three
// choices, and the texts of the buffer and pre-buffer sliders.
#include <string>

namespace tessura {

class DialogService;
class LanguageStore;
class SettingsStore;

// "ConnectionType" at the top of the settings store: 1 local network, 2 dial-up modem,
// anything else no connection.
inline constexpr const char* kConnectionTypeKey = "ConnectionType";
int ReadConnectionType(SettingsStore& store);
// Whether the connection type counts as connected: a local network does; a modem only with a
// dial-up connection up, and this system has none; anything else does not.
bool ConnectionTypeConnected(int connectionType);
// The language key of a choice: "settings/internet/lan", "settings/internet/modem",
// "settings/internet/none".
const char* ConnectionTypeTextKey(int connectionType);
// One click on the choice: 0 -> 1 -> 2 -> 0 (any other stored value counts as 0).
int NextConnectionType(int connectionType);
// Stores the next value; a failed write shows "errors/regerror" titled "errors/nonfatalerror".
// The value now in effect.
int AdvanceConnectionType(SettingsStore& store, DialogService* dialogs, const LanguageStore* language);

// "settings/internet/buffersize" with the KB value; "settings/internet/prebuffer" with the
// percent, or "settings/internet/prebufferoff" at 0.
std::string BufferSizeText(const LanguageStore& language, int kilobytes);
std::string PreBufferText(const LanguageStore& language, int percent);

}  // namespace tessura
