#pragma once
// Builds a Qt pop-up menu from a model's menu entries: each action carries its command id as
// its data; separators, submenus and ticked entries as the entries say.
#include <QMenu>
#include <vector>

#include "PlayerWindowModel.h"

namespace veloraplay {

void fillMenu(QMenu& menu, const std::vector<MenuEntry>& entries);

}  // namespace veloraplay
