#include "platform/wayland/PortalHotkeyGrabber.h"

#include "model/Log.h"
#include "model/settings/KeyTable.h"
#include "platform/desktop/DBusStructure.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusMetaType>
#include <QDBusVariant>

#include <X11/Xlib.h>

namespace qv {

// One entry of the portal's a(sa{sv}) shortcut lists.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};

} // namespace qv

Q_DECLARE_METATYPE(qv::PortalShortcut)

namespace qv {

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut)
{
    return writeDBusStructure(argument, shortcut.id, shortcut.properties);
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut)
{
    return readDBusStructure(argument, shortcut.id, shortcut.properties);
}

const QString PortalHotkeyGrabber::shortcutId = QStringLiteral("convert-copied");

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
// The portal starts on demand; its first answer may take a while.
constexpr int kPortalTimeoutMs = 5000;

QString responseWords(uint response)
{
    switch (response) {
    case 1: return QStringLiteral("the user cancelled it");
    case 2: return QStringLiteral("the desktop ended it");
    default: return QStringLiteral("response %1").arg(response);
    }
}

void registerTypes()
{
    static const bool done = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
        return true;
    }();
    (void)done;
}

} // namespace

PortalHotkeyGrabber::PortalHotkeyGrabber(const QDBusConnection& bus,
                                         std::unique_ptr<HotkeyGrabber> fallback, QObject* parent)
    : HotkeyGrabber(parent)
    , m_bus(bus)
    , m_fallback(std::move(fallback))
{
    registerTypes();
    if (m_fallback)
        connect(m_fallback.get(), &HotkeyGrabber::pressed, this, &HotkeyGrabber::pressed);
}

PortalHotkeyGrabber::~PortalHotkeyGrabber()
{
    // The desktop drops the session's shortcuts with it.
    if (!m_session.isEmpty()) {
        QDBusMessage close = QDBusMessage::createMethodCall(
            kService, m_session, QStringLiteral("org.freedesktop.portal.Session"),
            QStringLiteral("Close"));
        m_bus.asyncCall(close);
    }
}

QString PortalHotkeyGrabber::preferredTrigger(const Shortcut& shortcut)
{
    QStringList parts;
    if (shortcut.modifierMask & Shortcut::controlKey)
        parts << QStringLiteral("CTRL");
    if (shortcut.modifierMask & Shortcut::altKey)
        parts << QStringLiteral("ALT");
    if (shortcut.modifierMask & Shortcut::shiftKey)
        parts << QStringLiteral("SHIFT");
    if (shortcut.modifierMask & Shortcut::superKey)
        parts << QStringLiteral("LOGO");
    const std::optional<quint32> keysym = keysymForKeyCode(shortcut.keyCode);
    const char* name = keysym ? XKeysymToString(*keysym) : nullptr;
    if (!name)
        return {};
    parts << QString::fromLatin1(name);
    return parts.join(QLatin1Char('+'));
}

int PortalHotkeyGrabber::install()
{
    switch (m_probe) {
    case Probe::portal:
    case Probe::asking:
        return 0;
    case Probe::noPortal:
        return m_fallback ? m_fallback->install() : noFallback;
    case Probe::notAsked:
        break;
    }
    // Asked without waiting: the portal may have to be started first, and the application
    // does not wait for it.
    m_probe = Probe::asking;
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get, kPortalTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        probed(call->reply());
    });
    return 0;
}

void PortalHotkeyGrabber::probed(const QDBusMessage& reply)
{
    if (reply.type() == QDBusMessage::ReplyMessage) {
        m_probe = Probe::portal;
        if (!m_bus.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
                           SLOT(onActivated(QDBusMessage))))
            qCCritical(appLog, "Hot key: cannot listen to the GlobalShortcuts portal's Activated signal");
        qCInfo(appLog, "Hot key: through the GlobalShortcuts portal");
        if (m_wanted)
            createSession();
        Q_EMIT ready();
        return;
    }
    m_probe = Probe::noPortal;
    qCWarning(appLog,
              "Hot key: no GlobalShortcuts portal on the session bus (%s); the key is grabbed "
              "through X11, which sees it only while an X11 window has the focus. Bind "
              "\"quorvenda --convert-copied\" in the desktop's keyboard settings instead",
              qUtf8Printable(reply.errorMessage()));
    if (m_fallback) {
        if (const int status = m_fallback->install()) {
            qCCritical(appLog, "%s failed: %d (%s)", qUtf8Printable(m_fallback->installName()), status,
                       qUtf8Printable(m_fallback->explain(status)));
        } else if (m_wanted) {
            if (const int status = m_fallback->grab(*m_wanted))
                qCCritical(appLog, "%s %s failed: %d (%s)", qUtf8Printable(m_fallback->grabName()),
                           qUtf8Printable(shortcutDisplayString(*m_wanted)), status,
                           qUtf8Printable(m_fallback->explain(status)));
        }
    }
    m_wanted.reset();
    Q_EMIT ready();
}

int PortalHotkeyGrabber::grab(const Shortcut& shortcut)
{
    if (const int status = install())
        return status;
    if (m_probe == Probe::noPortal)
        return m_fallback->grab(shortcut);
    if (m_probe == Probe::portal && preferredTrigger(shortcut).isEmpty())
        return unknownKey;
    m_wanted = shortcut;
    if (m_probe == Probe::asking)
        return 0; // taken once the portal answers
    if (!m_session.isEmpty())
        bindShortcuts();
    else if (!m_creating)
        createSession();
    return 0;
}

void PortalHotkeyGrabber::ungrab()
{
    if (m_probe == Probe::noPortal) {
        if (m_fallback)
            m_fallback->ungrab();
        return;
    }
    // The portal has no way to give one key back; presses are ignored until the next grab.
    m_wanted.reset();
}

QString PortalHotkeyGrabber::grabName() const
{
    return m_probe != Probe::noPortal || !m_fallback ? QStringLiteral("GlobalShortcuts portal")
                                                     : m_fallback->grabName();
}

QString PortalHotkeyGrabber::installName() const
{
    return m_probe != Probe::noPortal || !m_fallback ? QStringLiteral("GlobalShortcuts portal")
                                                     : m_fallback->installName();
}

QString PortalHotkeyGrabber::explain(int status) const
{
    switch (status) {
    case noPortal: return QStringLiteral("no portal offers GlobalShortcuts");
    case noFallback: return QStringLiteral("no portal offers GlobalShortcuts, and no X11 display");
    case unknownKey: return QStringLiteral("the key has no name the portal knows");
    default: return m_fallback ? m_fallback->explain(status) : QStringLiteral("status %1").arg(status);
    }
}

QVariant PortalHotkeyGrabber::shortcutList() const
{
    QList<PortalShortcut> list;
    if (m_wanted) {
        QVariantMap properties;
        properties.insert(QStringLiteral("description"), QStringLiteral("Convert Copied Files"));
        properties.insert(QStringLiteral("preferred_trigger"), preferredTrigger(*m_wanted));
        list.append({shortcutId, properties});
    }
    return QVariant::fromValue(list);
}

QString PortalHotkeyGrabber::expectResponse(const char* slot)
{
    forgetRequest();
    const QString token = QStringLiteral("quorvenda%1").arg(++m_requests);
    QString sender = m_bus.baseService();
    sender.remove(0, 1).replace(QLatin1Char('.'), QLatin1Char('_'));
    m_requestPath = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    m_bus.connect(kService, m_requestPath, kRequestInterface, QStringLiteral("Response"), this, slot);
    return token;
}

void PortalHotkeyGrabber::forgetRequest()
{
    if (m_requestPath.isEmpty())
        return;
    m_bus.disconnect(kService, m_requestPath, kRequestInterface, QStringLiteral("Response"), this,
                     SLOT(onCreateSessionResponse(uint, QVariantMap)));
    m_bus.disconnect(kService, m_requestPath, kRequestInterface, QStringLiteral("Response"), this,
                     SLOT(onBindResponse(uint, QVariantMap)));
    m_requestPath.clear();
}

void PortalHotkeyGrabber::createSession()
{
    m_creating = true;
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"),
                   expectResponse(SLOT(onCreateSessionResponse(uint, QVariantMap))));
    options.insert(QStringLiteral("session_handle_token"), QStringLiteral("quorvenda"));
    // KDE Plasma 5.27 registers the shortcuts named here and ignores a later BindShortcuts.
    options.insert(QStringLiteral("shortcuts"), shortcutList());
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("CreateSession"));
    call << options;
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kPortalTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        m_creating = false;
        forgetRequest();
        qCCritical(appLog, "Hot key: the GlobalShortcuts portal refused CreateSession: %s",
                   qUtf8Printable(reply.errorMessage()));
    }
}

void PortalHotkeyGrabber::onCreateSessionResponse(uint response, const QVariantMap& results)
{
    forgetRequest();
    m_creating = false;
    if (response != 0) {
        qCCritical(appLog, "Hot key: the GlobalShortcuts portal made no session (%s)",
                   qUtf8Printable(responseWords(response)));
        return;
    }
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    m_session = handle.canConvert<QDBusObjectPath>() && handle.userType() == qMetaTypeId<QDBusObjectPath>()
        ? handle.value<QDBusObjectPath>().path()
        : handle.toString();
    if (m_session.isEmpty()) {
        qCCritical(appLog, "Hot key: the GlobalShortcuts portal answered without a session");
        return;
    }
    if (m_wanted)
        bindShortcuts();
}

void PortalHotkeyGrabber::bindShortcuts()
{
    if (m_wanted == m_boundAs)
        return;
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), expectResponse(SLOT(onBindResponse(uint, QVariantMap))));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("BindShortcuts"));
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << shortcutList() << QString() << options;
    const QDBusMessage reply = m_bus.call(call, QDBus::Block, kPortalTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        forgetRequest();
        qCCritical(appLog, "Hot key: the GlobalShortcuts portal refused BindShortcuts: %s",
                   qUtf8Printable(reply.errorMessage()));
        return;
    }
    m_boundAs = m_wanted;
}

void PortalHotkeyGrabber::onBindResponse(uint response, const QVariantMap& results)
{
    forgetRequest();
    if (response != 0) {
        m_boundAs.reset();
        qCCritical(appLog, "Hot key: the GlobalShortcuts portal bound no key (%s)",
                   qUtf8Printable(responseWords(response)));
        return;
    }
    QString trigger;
    const QVariant list = results.value(QStringLiteral("shortcuts"));
    if (list.userType() == qMetaTypeId<QDBusArgument>()) {
        for (const PortalShortcut& shortcut : qdbus_cast<QList<PortalShortcut>>(list)) {
            if (shortcut.id == shortcutId)
                trigger = shortcut.properties.value(QStringLiteral("trigger_description")).toString();
        }
    }
    qCInfo(appLog, "Hot key: the GlobalShortcuts portal bound \"%s\"",
           trigger.isEmpty() ? "no key yet (choose one in the desktop's shortcut settings)"
                             : qUtf8Printable(trigger));
    Q_EMIT bound(trigger);
}

void PortalHotkeyGrabber::onActivated(const QDBusMessage& message)
{
    // (o session, s id, t timestamp, a{sv} options)
    const QList<QVariant> args = message.arguments();
    const QString session = qdbus_cast<QDBusObjectPath>(args.value(0)).path();
    const QString id = args.value(1).toString();
    if (session.isEmpty() || session != m_session || id != shortcutId || !m_wanted)
        return;
    Q_EMIT pressed();
}

} // namespace qv
