#include "platform/desktop/PortalFileChooser.h"

#include "model/Log.h"
#include "platform/desktop/DBusStructure.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPointer>
#include <QUrl>

namespace qv {

// One pattern of a portal filter: (0, glob) or (1, MIME type).
struct PortalFilterPattern {
    uint kind = 0;
    QString pattern;
};

// One entry of the portal's a(sa(us)) filter lists.
struct PortalFilter {
    QString name;
    QList<PortalFilterPattern> patterns;
};

} // namespace qv

Q_DECLARE_METATYPE(qv::PortalFilterPattern)
Q_DECLARE_METATYPE(qv::PortalFilter)

namespace qv {

QDBusArgument& operator<<(QDBusArgument& argument, const PortalFilterPattern& pattern)
{
    return writeDBusStructure(argument, pattern.kind, pattern.pattern);
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalFilterPattern& pattern)
{
    return readDBusStructure(argument, pattern.kind, pattern.pattern);
}

QDBusArgument& operator<<(QDBusArgument& argument, const PortalFilter& filter)
{
    return writeDBusStructure(argument, filter.name, filter.patterns);
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalFilter& filter)
{
    return readDBusStructure(argument, filter.name, filter.patterns);
}

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.FileChooser");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
// The portal starts on demand; a session whose portal hangs gets Qt's dialog after this.
constexpr int kPortalTimeoutMs = 4000;

void registerTypes()
{
    static const bool done = [] {
        qDBusRegisterMetaType<PortalFilterPattern>();
        qDBusRegisterMetaType<QList<PortalFilterPattern>>();
        qDBusRegisterMetaType<PortalFilter>();
        qDBusRegisterMetaType<QList<PortalFilter>>();
        return true;
    }();
    (void)done;
}

QVariant filterList(const QList<PortalFileChooser::Filter>& filters)
{
    QList<PortalFilter> list;
    for (const PortalFileChooser::Filter& filter : filters) {
        PortalFilter entry{filter.name, {}};
        for (const QString& pattern : filter.patterns)
            entry.patterns.append({0, pattern});
        list.append(entry);
    }
    return QVariant::fromValue(list);
}

// The folder as the portal takes it: its path's bytes ending in a NUL.
QByteArray folderBytes(const QString& folder)
{
    QByteArray bytes = folder.toUtf8();
    bytes.append('\0');
    return bytes;
}

} // namespace

// One dialog on screen: waits for the portal's Response on the request's path, and answers once.
class PortalFileChooserRequest : public QObject {
    Q_OBJECT
public:
    PortalFileChooserRequest(const QDBusConnection& bus, std::function<void(const PortalFileChooser::Answer&)> done)
        : m_bus(bus)
        , m_done(std::move(done))
        , m_watcher(kService, m_bus, QDBusServiceWatcher::WatchForUnregistration)
    {
        // A portal that goes away never answers.
        connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
            qCWarning(appLog, "The file chooser portal went away before it answered");
            answer(std::nullopt);
        });
    }

    void start(const PortalFileChooser::Request& request)
    {
        static int requests = 0;
        const QString token = QStringLiteral("quorvendafile%1").arg(++requests);
        QString sender = m_bus.baseService();
        sender.remove(0, 1).replace(QLatin1Char('.'), QLatin1Char('_'));
        listen(QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token));

        QVariantMap options;
        options.insert(QStringLiteral("handle_token"), token);
        options.insert(QStringLiteral("modal"), true);
        if (!request.acceptLabel.isEmpty())
            options.insert(QStringLiteral("accept_label"), request.acceptLabel);
        if (!request.startFolder.isEmpty())
            options.insert(QStringLiteral("current_folder"), folderBytes(request.startFolder));
        if (!request.filters.isEmpty())
            options.insert(QStringLiteral("filters"), filterList(request.filters));
        const bool save = !request.saveName.isEmpty();
        if (save)
            options.insert(QStringLiteral("current_name"), request.saveName);
        else if (request.folders)
            options.insert(QStringLiteral("directory"), true);
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                           save ? QStringLiteral("SaveFile") : QStringLiteral("OpenFile"));
        call << request.parentWindow << request.title << options;
        const QDBusMessage reply = m_bus.call(call, QDBus::Block, kPortalTimeoutMs);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            qCWarning(appLog, "The file chooser portal refused to open a dialog: %s",
                      qUtf8Printable(reply.errorMessage()));
            answer(std::nullopt);
            return;
        }
        // An older portal makes a path of its own.
        const QString handle = qdbus_cast<QDBusObjectPath>(reply.arguments().value(0)).path();
        if (!handle.isEmpty() && handle != m_path)
            listen(handle);
    }

public Q_SLOTS:
    void onResponse(uint response, const QVariantMap& results)
    {
        if (response == 1) {
            answer(QStringList{});
            return;
        }
        if (response != 0) {
            qCWarning(appLog, "The file chooser portal ended its dialog (response %u)", response);
            answer(std::nullopt);
            return;
        }
        QStringList paths;
        for (const QString& uri : results.value(QStringLiteral("uris")).toStringList()) {
            const QUrl url(uri);
            // Only local files: anything else is nothing the caller could use.
            if (url.isLocalFile())
                paths.append(url.toLocalFile());
        }
        answer(paths);
    }

private:
    void listen(const QString& path)
    {
        if (!m_path.isEmpty())
            m_bus.disconnect(kService, m_path, kRequestInterface, QStringLiteral("Response"), this,
                             SLOT(onResponse(uint, QVariantMap)));
        m_path = path;
        m_bus.connect(kService, m_path, kRequestInterface, QStringLiteral("Response"), this,
                      SLOT(onResponse(uint, QVariantMap)));
    }

    void answer(const PortalFileChooser::Answer& answer)
    {
        if (!m_done)
            return;
        const auto done = std::exchange(m_done, nullptr);
        deleteLater();
        done(answer);
    }

    QDBusConnection m_bus;
    std::function<void(const PortalFileChooser::Answer&)> m_done;
    QDBusServiceWatcher m_watcher;
    QString m_path;
};

PortalFileChooser::PortalFileChooser(QDBusConnection bus) : m_bus(std::move(bus))
{
    registerTypes();
}

bool PortalFileChooser::isAvailable() const
{
    if (!m_bus.isConnected())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    const QDBusMessage reply = m_bus.call(get, QDBus::Block, kPortalTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCInfo(appLog, "No file chooser portal (%s): Qt's own dialog", qUtf8Printable(reply.errorMessage()));
        return false;
    }
    return true;
}

void PortalFileChooser::choose(const Request& request, std::function<void(const Answer&)> done) const
{
    auto* pending = new PortalFileChooserRequest(m_bus, std::move(done));
    pending->start(request);
}

PortalFileChooser::Answer PortalFileChooser::chooseAndWait(const Request& request) const
{
    Answer answer;
    bool answered = false;
    QEventLoop loop;
    choose(request, [&](const Answer& given) {
        answer = given;
        answered = true;
        loop.quit();
    });
    if (!answered)
        loop.exec();
    return answer;
}

QString PortalFileChooser::parentWindowFor(quintptr nativeWindow)
{
    // A Wayland surface would need to be exported first; the dialog is then only not tied to it.
    if (nativeWindow == 0 || QGuiApplication::platformName() != QLatin1String("xcb"))
        return {};
    return QStringLiteral("x11:%1").arg(nativeWindow, 0, 16);
}

} // namespace qv

#include "PortalFileChooser.moc"
