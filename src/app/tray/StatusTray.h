#pragma once

#include <QIcon>
#include <QString>

class QMenu;

namespace qv {

// The tray icon as the status item controller drives it; tests put a recording one in place.
class StatusTray {
public:
    virtual ~StatusTray() = default;
    virtual void setIcon(const QIcon& icon) = 0;
    virtual void setToolTip(const QString& text) = 0;
    // What the menu shows changed; a tray whose host shows the menu while it stays open
    // reads it again.
    virtual void menuChanged() {}
};

} // namespace qv
