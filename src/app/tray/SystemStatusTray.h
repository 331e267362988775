#pragma once

#include "app/tray/StatusTray.h"

#include <QIcon>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

class QMimeData;

namespace qv {

class X11TrayIconWindow;

// Qt's tray icon: an XEmbed icon window docked in the desktop's X11 tray. A left click opens the menu too, as the menu is the tray's only
// control. Files dropped on the docked icon go to filesDropped with the point the wheel for them
// is centred on.
class SystemStatusTray : public QObject, public StatusTray {
    Q_OBJECT
public:
    using FilesDropped = std::function<void(const QList<QUrl>& files, QPointF anchor)>;

    // wheelRadius is read at each drop, as the wheel's size is a setting.
    explicit SystemStatusTray(QMenu* menu, FilesDropped filesDropped = {},
                              std::function<double()> wheelRadius = {}, QObject* parent = nullptr);
    ~SystemStatusTray() override;

    void setIcon(const QIcon& icon) override;
    void setToolTip(const QString& text) override;

    // The docked icon window, once Qt has docked it; null before and without an XEmbed tray.
    QWidget* iconWindow() const { return m_window; }
    // The icon on screen, in global coordinates; empty when not docked.
    QRect iconGeometry() const { return m_icon->geometry(); }

    // A drag of files is over the icon, and the icon shows it.
    bool isHighlighted() const { return m_highlighted; }
    // The moves of files over the icon answered so far.
    int acceptedMoves() const { return m_acceptedMoves; }

    // The local files of a drag; none for text, web addresses and data.
    static QList<QUrl> droppedFiles(const QMimeData* data);
    // The centre of a wheel of that radius opened from the icon: just below it, or just above
    // where the tray sits in the lower half of its screen (a bottom panel), as close as fits.
    static QPointF wheelAnchor(const QRectF& icon, const QRectF& screen, double radius);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void activated(QSystemTrayIcon::ActivationReason reason);
    void takeDrops();
    void adopt(QWidget* window);
    void watchNativeWindow();
    void highlight(bool on);
    // Opens the wheel for them once the drop has been answered.
    void takeFiles(const QList<QUrl>& files);

    std::unique_ptr<QSystemTrayIcon> m_icon;
    QMenu* m_menu;
    FilesDropped m_filesDropped;
    std::function<double()> m_wheelRadius;
    QPointer<QWidget> m_window;
    std::unique_ptr<X11TrayIconWindow> m_dropTarget;
    QIcon m_shown;
    bool m_highlighted = false;
    bool m_watching = false;
    int m_acceptedMoves = 0;
};

} // namespace qv
