#pragma once

#include <QIcon>
#include <QList>
#include <QString>

namespace qv {

// One entry of a menu that a tray host shows for us, as plain data.
struct TrayMenuEntry {
    enum class Toggle { none, checkmark, radio };

    // Names the entry among its siblings from one filling to the next: an entry that keeps its
    // key is the same entry, one with a new key another.
    QString key;
    QString text; // with Qt's "&" before a mnemonic
    QIcon icon;
    bool separator = false;
    bool enabled = true;
    bool visible = true;
    Toggle toggle = Toggle::none;
    bool checked = false;
    bool submenu = false;
    QList<TrayMenuEntry> children;
};

} // namespace qv
