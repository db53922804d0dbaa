#pragma once
// Qt's key codes as the key table's virtual-key codes (letters and digits their upper-case
// ASCII), and the media keys.
#include "KeyCommands.h"

#include <optional>

namespace tessura::ui {

// 0 for a key the table does not know.
int VirtualKeyForQtKey(int qtKey);
std::optional<MediaKey> MediaKeyForQtKey(int qtKey);

}  // namespace tessura::ui
