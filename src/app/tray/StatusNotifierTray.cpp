#include "app/tray/StatusNotifierTray.h"

#include "model/Log.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QImage>
#include <QMenu>
#include <QtEndian>

namespace qv {

// One picture of the icon, as the item's a(iiay) lists take it: ARGB32 in network byte order.
struct StatusNotifierPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};

// The item's tool tip: (icon name, icon pictures, title, text).
struct StatusNotifierToolTip {
    QString iconName;
    QList<StatusNotifierPixmap> pixmaps;
    QString title;
    QString text;
};

} // namespace qv

Q_DECLARE_METATYPE(qv::StatusNotifierPixmap)
Q_DECLARE_METATYPE(qv::StatusNotifierToolTip)

namespace qv {

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierPixmap& pixmap)
{
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.bytes;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierPixmap& pixmap)
{
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.bytes;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierToolTip& tip)
{
    argument.beginStructure();
    argument << tip.iconName << tip.pixmaps << tip.title << tip.text;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierToolTip& tip)
{
    argument.beginStructure();
    argument >> tip.iconName >> tip.pixmaps >> tip.title >> tip.text;
    argument.endStructure();
    return argument;
}

const QString StatusNotifierTray::itemPath = QStringLiteral("/StatusNotifierItem");
const QString StatusNotifierTray::menuPath = QStringLiteral("/MenuBar");

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

QList<StatusNotifierPixmap> pixmaps(const QIcon& icon)
{
    QList<StatusNotifierPixmap> list;
    if (icon.isNull())
        return list;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        const QImage image = icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull())
            continue;
        QByteArray bytes(qsizetype(image.width()) * image.height() * 4, Qt::Uninitialized);
        auto* out = reinterpret_cast<quint32*>(bytes.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                *out++ = qToBigEndian(line[x]);
        }
        list.append({image.width(), image.height(), bytes});
    }
    return list;
}

QString introspection()
{
    return QStringLiteral(R"xml(  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <method name="ContextMenu">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Activate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="SecondaryActivate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Scroll">
      <arg name="delta" type="i" direction="in"/>
      <arg name="orientation" type="s" direction="in"/>
    </method>
    <method name="ProvideXdgActivationToken">
      <arg name="token" type="s" direction="in"/>
    </method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus">
      <arg name="status" type="s"/>
    </signal>
  </interface>
)xml");
}

} // namespace

StatusNotifierTray::StatusNotifierTray(QMenu* menu, QDBusConnection bus, QObject* parent)
    : QDBusVirtualObject(parent)
    , m_bus(std::move(bus))
    , m_menu(menu)
    , m_menuExporter(menu, m_bus, menuPath)
    , m_watcher(kWatcher, m_bus, QDBusServiceWatcher::WatchForRegistration)
    , m_service(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid()))
    , m_toolTip(QStringLiteral("Quorvenda"))
{
    static const bool registered = [] {
        qDBusRegisterMetaType<StatusNotifierPixmap>();
        qDBusRegisterMetaType<QList<StatusNotifierPixmap>>();
        qDBusRegisterMetaType<StatusNotifierToolTip>();
        return true;
    }();
    (void)registered;
    if (!m_bus.registerVirtualObject(itemPath, this))
        qCWarning(appLog, "The tray icon could not be put on the bus: %s", qUtf8Printable(m_bus.lastError().message()));
    if (!m_bus.registerService(m_service))
        qCWarning(appLog, "The tray icon's bus name %s was refused", qUtf8Printable(m_service));
    m_menuRefresh.setSingleShot(true);
    m_menuRefresh.setInterval(250);
    connect(&m_menuRefresh, &QTimer::timeout, this, [this] {
        // Never under the pointer of a menu of ours on screen.
        if (m_menu && !m_menu->isVisible())
            m_menuExporter.fill();
    });
    // A host that starts later (a panel restarted, a session whose bar comes up after us).
    connect(&m_watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        if (m_registered)
            registerWithWatcher();
    });
}

StatusNotifierTray::~StatusNotifierTray()
{
    m_bus.unregisterObject(itemPath);
    m_bus.unregisterService(m_service);
}

bool StatusNotifierTray::hostRuns(const QDBusConnection& bus)
{
    return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kWatcher).value();
}

void StatusNotifierTray::registerWithWatcher()
{
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcher, QStringLiteral("/StatusNotifierWatcher"), kWatcher,
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << m_service;
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        if (answer->isError())
            qCWarning(appLog, "The tray host did not take the icon: %s", qUtf8Printable(answer->error().message()));
        else
            qCInfo(appLog, "The icon is in the tray host's tray");
    });
}

void StatusNotifierTray::setIcon(const QIcon& icon)
{
    m_icon = icon;
    if (!m_menuRefresh.isActive())
        m_menuRefresh.start();
    if (!m_registered) {
        // Shown with its first icon: an empty tray entry would flash up before.
        m_registered = true;
        registerWithWatcher();
        return;
    }
    emitSignal(QStringLiteral("NewIcon"));
}

void StatusNotifierTray::setToolTip(const QString& text)
{
    if (text == m_toolTip)
        return;
    m_toolTip = text;
    if (!m_menuRefresh.isActive())
        m_menuRefresh.start();
    emitSignal(QStringLiteral("NewToolTip"));
}

void StatusNotifierTray::emitSignal(const QString& name, const QList<QVariant>& arguments)
{
    QDBusMessage signal = QDBusMessage::createSignal(itemPath, kItemInterface, name);
    signal.setArguments(arguments);
    m_bus.send(signal);
}

QVariant StatusNotifierTray::property(const QString& name) const
{
    if (name == QLatin1String("Category"))
        return QStringLiteral("ApplicationStatus");
    if (name == QLatin1String("Id"))
        return QStringLiteral("quorvenda");
    if (name == QLatin1String("Title"))
        return QStringLiteral("Quorvenda");
    if (name == QLatin1String("Status"))
        return QStringLiteral("Active");
    if (name == QLatin1String("WindowId"))
        return 0;
    if (name == QLatin1String("Menu"))
        return QVariant::fromValue(QDBusObjectPath(menuPath));
    if (name == QLatin1String("ItemIsMenu"))
        return true;
    if (name == QLatin1String("IconPixmap"))
        return QVariant::fromValue(pixmaps(m_icon));
    if (name == QLatin1String("OverlayIconPixmap") || name == QLatin1String("AttentionIconPixmap"))
        return QVariant::fromValue(QList<StatusNotifierPixmap>{});
    if (name == QLatin1String("ToolTip"))
        return QVariant::fromValue(StatusNotifierToolTip{{}, {}, QStringLiteral("Quorvenda"), m_toolTip});
    if (name == QLatin1String("IconThemePath") || name == QLatin1String("IconName")
        || name == QLatin1String("OverlayIconName") || name == QLatin1String("AttentionIconName")
        || name == QLatin1String("AttentionMovieName"))
        return QString();
    return {};
}

void StatusNotifierTray::showOwnMenu()
{
    // Only hosts that read no dbusmenu ask for it (swaybar before sway 1.10). On Wayland the
    // menu is then a window of its own, which a tiling compositor lays out as one: better than
    // no menu at all.
    if (m_menu && !m_menu->isVisible())
        m_menu->popup(QCursor::pos());
}

QString StatusNotifierTray::introspect(const QString& path) const
{
    return path == itemPath ? introspection() : QString();
}

bool StatusNotifierTray::handleMessage(const QDBusMessage& message, const QDBusConnection& connection)
{
    const QString member = message.member();
    const QList<QVariant> args = message.arguments();
    if (message.interface() == kProperties) {
        if (member == QLatin1String("GetAll")) {
            QVariantMap all;
            for (const char* name : {"Category", "Id", "Title", "Status", "WindowId", "IconThemePath", "Menu",
                                     "ItemIsMenu", "IconName", "IconPixmap", "OverlayIconName",
                                     "OverlayIconPixmap", "AttentionIconName", "AttentionIconPixmap",
                                     "AttentionMovieName", "ToolTip"})
                all.insert(QString::fromLatin1(name), property(QString::fromLatin1(name)));
            return connection.send(message.createReply(QVariant::fromValue(all)));
        }
        if (member == QLatin1String("Get")) {
            const QVariant value = property(args.value(1).toString());
            if (!value.isValid())
                return connection.send(message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such property")));
            return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
        }
        return false;
    }
    if (message.interface() != kItemInterface && !message.interface().isEmpty())
        return false;
    if (member == QLatin1String("Activate") || member == QLatin1String("ContextMenu")) {
        showOwnMenu();
    } else if (member != QLatin1String("SecondaryActivate") && member != QLatin1String("Scroll")
               && member != QLatin1String("ProvideXdgActivationToken")) {
        return false;
    }
    return connection.send(message.createReply());
}

} // namespace qv
