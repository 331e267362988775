#include "app/tray/SystemStatusTray.h"

#include "model/Log.h"
#include "platform/x11/X11EmbedTrayScope.h"
#include "platform/x11/X11TrayIconWindow.h"

#include <QApplication>
#include <QCursor>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace qv {

namespace {

// What Qt names the window of its XEmbed tray icon.
const QString iconWindowName = QStringLiteral("QSystemTrayIconSys");
// The wheel's edge stays this far from the icon.
constexpr double anchorGap = 20;

} // namespace

SystemStatusTray::SystemStatusTray(QMenu* menu, FilesDropped filesDropped, std::function<double()> wheelRadius,
                                   QObject* parent)
    : QObject(parent)
    , m_menu(menu)
    , m_filesDropped(std::move(filesDropped))
    , m_wheelRadius(wheelRadius)
{
    {
        X11EmbedTrayScope xembed;
        m_icon = std::make_unique<QSystemTrayIcon>();
    }
    m_icon->setContextMenu(menu);
    m_icon->setToolTip(QStringLiteral("Quorvenda"));
    connect(m_icon.get(), &QSystemTrayIcon::activated, this, &SystemStatusTray::activated);
}

SystemStatusTray::~SystemStatusTray()
{
    // The icon's window goes with the icon, after this object's other members.
    if (m_watching && qApp)
        qApp->removeEventFilter(this);
    m_dropTarget.reset();
}

void SystemStatusTray::setIcon(const QIcon& icon)
{
    m_shown = icon;
    if (m_highlighted)
        highlight(true);
    else
        m_icon->setIcon(icon);
    // Shown with its first icon: an empty tray entry would flash up before.
    if (!m_icon->isVisible()) {
        m_icon->show();
        takeDrops();
    }
}

void SystemStatusTray::setToolTip(const QString& text)
{
    m_icon->setToolTip(text);
}

void SystemStatusTray::activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger || m_menu->isVisible())
        return;
    // The menu fills itself in aboutToShow; popup() emits it.
    m_menu->popup(QCursor::pos());
}

void SystemStatusTray::takeDrops()
{
    if (!m_filesDropped || m_watching)
        return;
    // Qt makes the window as the icon is shown, where an XEmbed tray runs, and docks it; the
    // window is XdndAware like every Qt window but refuses drops until it is asked to take them.
    // Qt makes it anew when a tray (re)starts, so every one it makes is adopted as it shows.
    m_watching = true;
    qApp->installEventFilter(this);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == iconWindowName && widget->isVisible())
            adopt(widget);
    }
}

void SystemStatusTray::adopt(QWidget* window)
{
    if (window == m_window && m_dropTarget)
        return;
    m_window = window;
    m_window->setAcceptDrops(true);
    watchNativeWindow();
    qCInfo(appLog, "The tray icon takes dropped files");
}

void SystemStatusTray::watchNativeWindow()
{
    m_dropTarget.reset();
    if (!m_window || !m_window->testAttribute(Qt::WA_WState_Created))
        return;
    X11TrayIconWindow::Handlers handlers;
    handlers.hovered = [this](bool files) {
        if (files != m_highlighted)
            highlight(files);
        if (files)
            ++m_acceptedMoves;
    };
    handlers.filesDropped = [this](const QList<QUrl>& files) { takeFiles(files); };
    m_dropTarget = std::make_unique<X11TrayIconWindow>(m_window->winId(), handlers);
}

QList<QUrl> SystemStatusTray::droppedFiles(const QMimeData* data)
{
    QList<QUrl> files;
    if (!data || !data->hasUrls())
        return files;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            files.append(url);
    }
    return files;
}

QPointF SystemStatusTray::wheelAnchor(const QRectF& icon, const QRectF& screen, double radius)
{
    const double reach = radius + anchorGap;
    const bool lowerHalf = icon.center().y() > screen.center().y();
    double y = lowerHalf ? icon.top() - reach : icon.bottom() + reach;
    double x = icon.center().x();
    // A tray in a corner: the wheel stays whole on the screen.
    if (screen.width() >= 2 * radius)
        x = std::clamp(x, screen.left() + radius, screen.right() - radius);
    if (screen.height() >= 2 * radius)
        y = std::clamp(y, screen.top() + radius, screen.bottom() - radius);
    return {x, y};
}

bool SystemStatusTray::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    // Every object's events pass here: the cheap test first.
    if (type != QEvent::Show && type != QEvent::WinIdChange && type != QEvent::DragEnter && type != QEvent::DragMove
        && type != QEvent::DragLeave && type != QEvent::Drop)
        return QObject::eventFilter(watched, event);
    if (!watched->isWidgetType() || watched->objectName() != iconWindowName)
        return QObject::eventFilter(watched, event);
    auto* window = static_cast<QWidget*>(watched);
    switch (type) {
    case QEvent::Show:
        adopt(window);
        break;
    case QEvent::WinIdChange:
        if (window == m_window)
            watchNativeWindow();
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        const bool files = !droppedFiles(drag->mimeData()).isEmpty();
        if (files) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        if (files != m_highlighted)
            highlight(files);
        if (files) {
            // Said once the answer to the drag's source is out, which follows this event.
            QTimer::singleShot(0, this, [this] {
                ++m_acceptedMoves;
                qCDebug(appLog, "Files are over the tray icon");
            });
        }
        return true;
    }
    case QEvent::DragLeave:
        if (m_highlighted)
            highlight(false);
        return true;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (m_highlighted)
            highlight(false);
        const QList<QUrl> files = droppedFiles(drop->mimeData());
        if (files.isEmpty()) {
            qCDebug(appLog, "A drop on the tray icon held no files");
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        takeFiles(files);
        return true;
    }
    default: break;
    }
    return QObject::eventFilter(watched, event);
}

void SystemStatusTray::takeFiles(const QList<QUrl>& files)
{
    // Where the icon is now; the wheel opens after the drop has been answered.
    QRectF icon = m_icon->geometry();
    if (icon.isEmpty())
        icon = QRectF(QCursor::pos(), QSizeF(1, 1));
    const QScreen* screen = QGuiApplication::screenAt(icon.center().toPoint());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const double radius = m_wheelRadius ? m_wheelRadius() : 210;
    const QPointF anchor = screen ? wheelAnchor(icon, screen->geometry(), radius) : icon.center();
    qCInfo(appLog, "%lld file(s) dropped on the tray icon", static_cast<long long>(files.size()));
    QTimer::singleShot(0, this, [this, files, anchor] { m_filesDropped(files, anchor); });
}

void SystemStatusTray::highlight(bool on)
{
    m_highlighted = on;
    if (!on) {
        m_icon->setIcon(m_shown);
        return;
    }
    // The icon on a rounded tint of the panel's foreground, as a button under a drag looks.
    const int side = 64;
    QPixmap lit(side, side);
    lit.fill(Qt::transparent);
    {
        QPainter painter(&lit);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor tint = QGuiApplication::palette().color(QPalette::Highlight);
        tint.setAlphaF(0.45);
        painter.setPen(Qt::NoPen);
        painter.setBrush(tint);
        painter.drawRoundedRect(QRectF(0, 0, side, side), side * 0.2, side * 0.2);
        m_shown.paint(&painter, QRect(0, 0, side, side));
    }
    m_icon->setIcon(QIcon(lit));
}

} // namespace qv
