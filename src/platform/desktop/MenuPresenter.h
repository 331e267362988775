#pragma once

#include <QList>
#include <QPointF>
#include <QString>

#include <functional>

namespace qv {

struct MenuEntry {
    QString title;
    QString toolTip;
    QString iconName; // a freedesktop theme icon, or empty
    bool enabled = true;
    bool isSeparator = false;

    static MenuEntry separator() { return {{}, {}, {}, false, true}; }
};

// Pop-up menus at a point of the screen. Tests and the development driver answer them
// themselves.
class MenuPresenter {
public:
    virtual ~MenuPresenter() = default;
    // point: global, y down. chosen gets the index of the chosen entry, on the main thread, and
    // is never called when the menu is dismissed.
    virtual void popUp(const QList<MenuEntry>& entries, QPointF point,
                       std::function<void(int index)> chosen) = 0;
};

} // namespace qv
