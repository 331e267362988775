#include "platform/desktop/SingleInstance.h"

#include "platform/desktop/InstanceForwarder.h"

#include "model/files/NativeFileName.h"
#include "model/Log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFile>

namespace qv {

const QString SingleInstance::serviceName = QString::fromLatin1(InstanceForwarder::serviceName);
const QString SingleInstance::objectPath = QString::fromLatin1(InstanceForwarder::objectPath);
const QString SingleInstance::noFilesError = QStringLiteral("No files were passed to Quorvenda.");

namespace {

const QString kNoFilesErrorName = QStringLiteral("org.quorvenda.Quorvenda.Error.NoFiles");

} // namespace

SingleInstance::SingleInstance(const QDBusConnection& connection, QObject* parent)
    : QObject(parent)
    , m_connection(connection)
{
}

SingleInstance::~SingleInstance()
{
    if (m_primary) {
        m_connection.unregisterService(serviceName);
        m_connection.unregisterObject(objectPath);
    }
}

bool SingleInstance::registerPrimary()
{
    if (m_primary)
        return true;
    if (!m_connection.isConnected()) {
        qCWarning(appLog, "No session bus: %s", qUtf8Printable(m_connection.lastError().message()));
        return false;
    }
    // The object first, so a call that arrives as soon as the name is ours finds it.
    if (!m_connection.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots))
        return false;
    QDBusConnectionInterface* bus = m_connection.interface();
    const auto reply = bus ? bus->registerService(serviceName, QDBusConnectionInterface::DontQueueService,
                                                  QDBusConnectionInterface::DontAllowReplacement)
                           : QDBusReply<QDBusConnectionInterface::RegisterServiceReply>();
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        m_connection.unregisterObject(objectPath);
        return false;
    }
    m_primary = true;
    return true;
}

bool SingleInstance::forwardToRunning(const QList<QUrl>& urls, QString* error,
                                      const QDBusConnection& connection)
{
    return InstanceForwarder::forwardFiles(urls, error, connection);
}

namespace {

bool callRunning(const QString& method, const QDBusConnection& connection)
{
    return InstanceForwarder::callRunning(method, connection);
}

} // namespace

bool SingleInstance::reopenRunning(const QDBusConnection& connection)
{
    return callRunning(QStringLiteral("Reopen"), connection);
}

bool SingleInstance::convertCopiedInRunning(const QDBusConnection& connection)
{
    return callRunning(QStringLiteral("ConvertCopied"), connection);
}

void SingleInstance::ConvertCopied()
{
    Q_EMIT convertCopiedRequested();
}

QList<QUrl> SingleInstance::fileUrls(const QStringList& pathsOrUrls)
{
    QList<QUrl> urls;
    for (const QString& text : pathsOrUrls) {
        if (text.startsWith(QLatin1Char('/'))) {
            urls.append(fileUrlForNativePath(QFile::encodeName(text)));
            continue;
        }
        // A URL's escapes carry a name's bytes as they are, UTF-8 or not.
        if (const std::optional<QByteArray> path = nativePathOfFileUri(text.toUtf8(), QString()))
            urls.append(fileUrlForNativePath(*path));
    }
    return urls;
}

void SingleInstance::Reopen()
{
    Q_EMIT reopenRequested();
}

void SingleInstance::OpenFiles(const QStringList& pathsOrUrls)
{
    const QList<QUrl> urls = fileUrls(pathsOrUrls);
    if (urls.isEmpty()) {
        if (calledFromDBus())
            sendErrorReply(kNoFilesErrorName, noFilesError);
        return;
    }
    Q_EMIT filesReceived(urls);
}

} // namespace qv
