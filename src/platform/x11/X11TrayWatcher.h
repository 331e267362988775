#pragma once

#include <QObject>

#include <memory>

namespace qv {

class SelectionOwnerWatch;

// Tells when an XEmbed tray takes the tray selection of the screen Qt's windows open on: a panel
// that starts after us. Tells nothing without X11 or XFixes.
class X11TrayWatcher : public QObject {
    Q_OBJECT
public:
    explicit X11TrayWatcher(QObject* parent = nullptr);
    ~X11TrayWatcher() override;

Q_SIGNALS:
    void trayStarted();

private:
    std::unique_ptr<SelectionOwnerWatch> m_watch;
};

} // namespace qv
