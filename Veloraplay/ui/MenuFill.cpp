#include "MenuFill.h"

#include <QAction>

namespace veloraplay {

void fillMenu(QMenu& menu, const std::vector<MenuEntry>& entries) {
    for (const MenuEntry& e : entries) {
        if (e.separator()) {
            menu.addSeparator();
            continue;
        }
        const QString text = QString::fromStdString(e.text);
        if (!e.submenu.empty()) {
            fillMenu(*menu.addMenu(text), e.submenu);
            continue;
        }
        QAction* action = menu.addAction(text);
        action->setData(e.id);
        action->setEnabled(e.enabled);
        if (e.checked) {
            action->setCheckable(true);
            action->setChecked(true);
        }
    }
}

}  // namespace veloraplay
