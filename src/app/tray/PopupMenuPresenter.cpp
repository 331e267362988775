#include "app/tray/PopupMenuPresenter.h"

#include <QAction>
#include <QIcon>
#include <QMenu>

namespace qv {

void PopupMenuPresenter::popUp(const QList<MenuEntry>& entries, QPointF point,
                               std::function<void(int index)> chosen)
{
    auto* menu = new QMenu;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setToolTipsVisible(true);
    for (int i = 0; i < entries.size(); ++i) {
        const MenuEntry& entry = entries[i];
        if (entry.isSeparator) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(entry.title);
        action->setEnabled(entry.enabled);
        action->setToolTip(entry.toolTip);
        if (!entry.iconName.isEmpty())
            action->setIcon(QIcon::fromTheme(entry.iconName));
        QObject::connect(action, &QAction::triggered, menu, [chosen, i] {
            if (chosen)
                chosen(i);
        });
    }
    menu->popup(point.toPoint());
    // A tray utility is rarely the active application; the menu must take the keyboard.
    menu->activateWindow();
}

} // namespace qv
