#pragma once

#include "platform/desktop/DBusMenuExporter.h"
#include "platform/desktop/DBusObject.h"

#include <QDBusServiceWatcher>
#include <QIcon>

#include <functional>
#include <optional>

namespace qv {

// A tray icon as a StatusNotifierItem, which waybar, Plasma's panel and GNOME's AppIndicator
// extension show, with its menu as com.canonical.dbusmenu. The item says it is a menu, so a
// click of either button opens the menu in the host, as a menu of the panel's. It registers
// with the desktop's StatusNotifierWatcher once it has an icon, again whenever a watcher
// starts, and again when the watcher drops it while it is still there. It tells when the
// watcher ends or says no host shows items any more: a panel that quit.
class StatusNotifierItem : public DBusObject {
    Q_OBJECT
public:
    static const QString itemPath;
    static const QString menuPath;

    explicit StatusNotifierItem(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // What the watcher says of the hosts that show items.
    enum class HostAnswer { noWatcher, noAnswer, noHost, hostShows };
    // Asks the watcher on the item's bus whether a host shows items. The answer comes from the
    // event loop, within waitMs; none comes once the item is gone.
    void askForHost(std::function<void(HostAnswer)> answer, int waitMs);
    // The same, waiting for the answer at most waitMs; none when it takes longer.
    std::optional<HostAnswer> hostAnswerNow(int waitMs);

    void setIcon(const QIcon& icon);
    void setToolTip(const QString& text);

    // The bus name the item goes by.
    QString serviceName() const { return m_service; }
    DBusMenuExporter& menu() { return m_menu; }

Q_SIGNALS:
    // A host that reads no menu asks for one (swaybar before sway 1.10).
    void menuRequested();
    // The watcher refused the item or did not answer its registration.
    void refused();
    // A watcher took its name on the item's bus: a panel started after us.
    void watcherStarted();
    // The watcher let its name go, or says no host shows items now: the panel quit.
    void hostGone();

protected:
    QVariantMap properties() const override;
    std::optional<QDBusMessage> call(const QDBusMessage& message) override;

private Q_SLOTS:
    void itemUnregistered(const QString& item);
    void hostUnregistered();
    void watcherPropertiesChanged(const QString& interfaceName, const QVariantMap& changed,
                                  const QStringList& invalidated);

private:
    void registerWithWatcher();

    DBusMenuExporter m_menu;
    QDBusServiceWatcher m_watcher;
    QString m_service;
    QVariant m_pixmaps; // the icon as the item's a(iiay)
    QString m_toolTip;
    bool m_shown = false;
    int m_registeredAgain = 0; // since the watcher started
};

} // namespace qv
