#include "platform/desktop/StatusNotifierItem.h"

#include "model/Log.h"
#include "platform/desktop/DBusStructure.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusPendingCallWatcher>
#include <QImage>
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
    return writeDBusStructure(argument, pixmap.width, pixmap.height, pixmap.bytes);
}

const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierPixmap& pixmap)
{
    return readDBusStructure(argument, pixmap.width, pixmap.height, pixmap.bytes);
}

QDBusArgument& operator<<(QDBusArgument& argument, const StatusNotifierToolTip& tip)
{
    return writeDBusStructure(argument, tip.iconName, tip.pixmaps, tip.title, tip.text);
}

const QDBusArgument& operator>>(const QDBusArgument& argument, StatusNotifierToolTip& tip)
{
    return readDBusStructure(argument, tip.iconName, tip.pixmaps, tip.title, tip.text);
}

const QString StatusNotifierItem::itemPath = QStringLiteral("/StatusNotifierItem");
const QString StatusNotifierItem::menuPath = QStringLiteral("/MenuBar");

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
// A host that drops the item each time it comes is not asked forever.
constexpr int kMaxRegistrationsAgain = 3;
// How long a watcher that told of a host's end has to say whether another shows items.
constexpr int hostWaitMs = 2000;

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

} // namespace

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QObject* parent)
    : DBusObject(bus, itemPath, QStringLiteral("org.kde.StatusNotifierItem"), parent)
    , m_menu(bus, menuPath)
    , m_watcher(kWatcher, bus, QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration)
    , m_service(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid()))
    , m_pixmaps(QVariant::fromValue(QList<StatusNotifierPixmap>{}))
    , m_toolTip(QStringLiteral("Quorvenda"))
{
    static const bool registered = [] {
        qDBusRegisterMetaType<StatusNotifierPixmap>();
        qDBusRegisterMetaType<QList<StatusNotifierPixmap>>();
        qDBusRegisterMetaType<StatusNotifierToolTip>();
        return true;
    }();
    (void)registered;
    if (!this->bus().registerService(m_service))
        qCWarning(appLog, "The tray icon's bus name %s was refused", qUtf8Printable(m_service));
    // A host that starts later (a panel restarted, a session whose bar comes up after us).
    connect(&m_watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        m_registeredAgain = 0;
        if (m_shown)
            registerWithWatcher();
        Q_EMIT watcherStarted();
    });
    connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, &StatusNotifierItem::hostGone);
    // A host that quits while its watcher stays (a watcher of its own in a session daemon).
    // Watchers say so by a signal of their own; some by their property too.
    this->bus().connect(kWatcher, kWatcherPath, kWatcher, QStringLiteral("StatusNotifierHostUnregistered"), this,
                        SLOT(hostUnregistered()));
    this->bus().connect(kWatcher, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                        QStringLiteral("PropertiesChanged"), this,
                        SLOT(watcherPropertiesChanged(QString,QVariantMap,QStringList)));
    // GNOME's AppIndicator host drops an item whose bus name it sees appear while it still
    // reads the item's properties.
    this->bus().connect(kWatcher, kWatcherPath, kWatcher, QStringLiteral("StatusNotifierItemUnregistered"), this,
                        SLOT(itemUnregistered(QString)));
}

StatusNotifierItem::~StatusNotifierItem()
{
    bus().unregisterService(m_service);
}

namespace {

QDBusMessage hostQuestion()
{
    QDBusMessage get = QDBusMessage::createMethodCall(kWatcher, kWatcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    // A watcher the bus would start on demand is none that runs.
    get.setAutoStartService(false);
    return get;
}

StatusNotifierItem::HostAnswer hostAnswer(const QDBusMessage& reply)
{
    using HostAnswer = StatusNotifierItem::HostAnswer;
    if (reply.type() == QDBusMessage::ReplyMessage)
        return reply.arguments().value(0).value<QDBusVariant>().variant().toBool() ? HostAnswer::hostShows
                                                                                   : HostAnswer::noHost;
    // What the bus says of a name nobody holds where it is asked not to start one; Qt has no
    // type of its own for it.
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return HostAnswer::noWatcher;
    switch (QDBusError(reply).type()) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoServer:
    case QDBusError::Disconnected: return HostAnswer::noWatcher;
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut: return HostAnswer::noAnswer;
    // A watcher that cannot say whether a host shows items does not say one does.
    default: return HostAnswer::noHost;
    }
}

} // namespace

void StatusNotifierItem::askForHost(std::function<void(HostAnswer)> answer, int waitMs)
{
    auto* pending = new QDBusPendingCallWatcher(bus().asyncCall(hostQuestion(), waitMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [answer = std::move(answer)](QDBusPendingCallWatcher* reply) {
        reply->deleteLater();
        answer(hostAnswer(reply->reply()));
    });
}

std::optional<StatusNotifierItem::HostAnswer> StatusNotifierItem::hostAnswerNow(int waitMs)
{
    const HostAnswer answer = hostAnswer(bus().call(hostQuestion(), QDBus::Block, waitMs));
    if (answer == HostAnswer::noAnswer)
        return std::nullopt;
    return answer;
}

void StatusNotifierItem::itemUnregistered(const QString& item)
{
    // Hosts name an item by its bus name, some with its path after it.
    if (!m_shown || (item != m_service && !item.startsWith(m_service + QLatin1Char('/'))))
        return;
    if (m_registeredAgain >= kMaxRegistrationsAgain) {
        qCWarning(appLog, "The tray host dropped the icon again; it stays out of the tray");
        return;
    }
    ++m_registeredAgain;
    qCInfo(appLog, "The tray host dropped the icon; registering it again");
    registerWithWatcher();
}

void StatusNotifierItem::hostUnregistered()
{
    // Another host may still show items.
    askForHost(
        [this](HostAnswer answer) {
            if (answer == HostAnswer::noHost)
                Q_EMIT hostGone();
        },
        hostWaitMs);
}

void StatusNotifierItem::watcherPropertiesChanged(const QString& interfaceName, const QVariantMap& changed,
                                                  const QStringList& invalidated)
{
    const QString property = QStringLiteral("IsStatusNotifierHostRegistered");
    if (interfaceName != kWatcher || (!changed.contains(property) && !invalidated.contains(property)))
        return;
    if (changed.contains(property) && changed.value(property).toBool())
        return;
    hostUnregistered();
}

void StatusNotifierItem::registerWithWatcher()
{
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcher, kWatcherPath, kWatcher,
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << m_service;
    auto* pending = new QDBusPendingCallWatcher(bus().asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* answer) {
        answer->deleteLater();
        if (answer->isError()) {
            qCWarning(appLog, "The tray host did not take the icon: %s", qUtf8Printable(answer->error().message()));
            Q_EMIT refused();
        } else {
            qCInfo(appLog, "The icon is in the tray host's tray");
        }
    });
}

void StatusNotifierItem::setIcon(const QIcon& icon)
{
    m_pixmaps = QVariant::fromValue(pixmaps(icon));
    if (!m_shown) {
        // Shown with its first icon: an empty tray entry would flash up before.
        m_shown = true;
        registerWithWatcher();
        return;
    }
    emitSignal(QStringLiteral("NewIcon"));
}

void StatusNotifierItem::setToolTip(const QString& text)
{
    if (text == m_toolTip)
        return;
    m_toolTip = text;
    emitSignal(QStringLiteral("NewToolTip"));
}

QVariantMap StatusNotifierItem::properties() const
{
    const QVariant noPixmaps = QVariant::fromValue(QList<StatusNotifierPixmap>{});
    return {{QStringLiteral("Category"), QStringLiteral("ApplicationStatus")},
            {QStringLiteral("Id"), QStringLiteral("quorvenda")},
            {QStringLiteral("Title"), QStringLiteral("Quorvenda")},
            {QStringLiteral("Status"), QStringLiteral("Active")},
            {QStringLiteral("WindowId"), 0},
            {QStringLiteral("IconThemePath"), QString()},
            {QStringLiteral("Menu"), QVariant::fromValue(QDBusObjectPath(menuPath))},
            {QStringLiteral("ItemIsMenu"), true},
            {QStringLiteral("IconName"), QString()},
            {QStringLiteral("IconPixmap"), m_pixmaps},
            {QStringLiteral("OverlayIconName"), QString()},
            {QStringLiteral("OverlayIconPixmap"), noPixmaps},
            {QStringLiteral("AttentionIconName"), QString()},
            {QStringLiteral("AttentionIconPixmap"), noPixmaps},
            {QStringLiteral("AttentionMovieName"), QString()},
            {QStringLiteral("ToolTip"),
             QVariant::fromValue(StatusNotifierToolTip{{}, {}, QStringLiteral("Quorvenda"), m_toolTip})}};
}

std::optional<QDBusMessage> StatusNotifierItem::call(const QDBusMessage& message)
{
    const QString member = message.member();
    if (member == QLatin1String("Activate") || member == QLatin1String("ContextMenu")) {
        Q_EMIT menuRequested();
    } else if (member != QLatin1String("SecondaryActivate") && member != QLatin1String("Scroll")
               && member != QLatin1String("ProvideXdgActivationToken")) {
        return std::nullopt;
    }
    return message.createReply();
}

} // namespace qv
