#include "platform/SettingsStore.h"

#include "model/Log.h"
#include "platform/TestHarness.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace qv {

namespace {

// Long enough to gather a burst of changes (a slider, a reset), short enough to survive a crash.
constexpr int saveDelayMs = 200;
constexpr int lockWaitMs = 5000;
const QString dataKey = QStringLiteral("$data");

} // namespace

SettingsStore::SettingsStore(const QString& filePath, QObject* parent)
    : QObject(parent), m_filePath(filePath), m_saveTimer(this)
{
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(saveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, [this] { flush(); });
    FileState state;
    m_stored = readFile(&state);
}

SettingsStore::~SettingsStore()
{
    flush();
}

QString SettingsStore::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/quorvenda/settings.json");
}

SettingsStore& SettingsStore::shared()
{
    // Never deleted: it must outlive every other object that might still write a setting.
    static SettingsStore* const instance = [] {
        QString path = qEnvironmentVariable("QUORVENDA_SETTINGS_FILE");
        if (path.isEmpty() && !isRunningTests())
            path = defaultFilePath();
        auto* store = new SettingsStore(path);
        if (QCoreApplication* app = QCoreApplication::instance())
            store->moveToThread(app->thread());
        qAddPostRoutine([] { shared().flush(); });
        std::atexit([] { shared().flush(); });
        return store;
    }();
    return *instance;
}

void SettingsStore::registerDefaults(const QVariantMap& defaults)
{
    QWriteLocker locker(&m_lock);
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
        const QVariant value = fromJson(toJson(it.value()));
        if (value.isValid())
            m_registered.insert(it.key(), value);
        else
            m_registered.remove(it.key());
    }
}

QVariant SettingsStore::value(const QString& key) const
{
    QReadLocker locker(&m_lock);
    if (const auto it = m_stored.constFind(key); it != m_stored.constEnd())
        return *it;
    return m_registered.value(key);
}

bool SettingsStore::hasStoredValue(const QString& key) const
{
    QReadLocker locker(&m_lock);
    return m_stored.contains(key);
}

QStringList SettingsStore::allKeys() const
{
    QReadLocker locker(&m_lock);
    QStringList keys = m_registered.keys();
    for (auto it = m_stored.cbegin(); it != m_stored.cend(); ++it) {
        if (!m_registered.contains(it.key()))
            keys.append(it.key());
    }
    keys.sort();
    return keys;
}

void SettingsStore::setValue(const QString& key, const QVariant& value)
{
    // Kept in the form the file gives back, so a value reads the same before and after a save.
    const QVariant normal = fromJson(toJson(value));
    store(key, normal.isValid() ? std::optional<QVariant>(normal) : std::nullopt);
}

void SettingsStore::setData(const QString& key, const QByteArray& data)
{
    store(key, QVariant(data));
}

void SettingsStore::remove(const QString& key)
{
    store(key, std::nullopt);
}

void SettingsStore::store(const QString& key, const std::optional<QVariant>& value)
{
    bool isChange = false;
    {
        QWriteLocker locker(&m_lock);
        const auto old = m_stored.constFind(key);
        if (value) {
            isChange = old == m_stored.cend() || *old != *value;
            m_stored.insert(key, *value);
        } else {
            isChange = old != m_stored.cend();
            m_stored.remove(key);
        }
        // Saved even when unchanged here: another process may have changed the file since.
        if (!m_filePath.isEmpty())
            m_pending.insert(key, value);
    }
    scheduleSave();
    if (isChange)
        Q_EMIT changed(key);
}

void SettingsStore::scheduleSave()
{
    if (m_filePath.isEmpty())
        return;
    auto start = [this] {
        if (!m_saveTimer.isActive())
            m_saveTimer.start();
    };
    if (QThread::currentThread() == thread())
        start();
    else
        QMetaObject::invokeMethod(this, start, Qt::QueuedConnection);
}

bool SettingsStore::flush()
{
    if (m_filePath.isEmpty())
        return true;
    QMutexLocker flushLocker(&m_flushMutex);
    if (QThread::currentThread() == thread())
        m_saveTimer.stop();

    Pending taken;
    {
        QWriteLocker locker(&m_lock);
        taken.swap(m_pending);
    }
    if (taken.isEmpty())
        return true;
    // Writes made while this save ran are newer than the ones it failed to save.
    auto giveBack = [&] {
        QWriteLocker locker(&m_lock);
        for (auto it = taken.cbegin(); it != taken.cend(); ++it) {
            if (!m_pending.contains(it.key()))
                m_pending.insert(it.key(), it.value());
        }
    };

    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    QLockFile lock(m_filePath + QStringLiteral(".lock"));
    if (!lock.tryLock(lockWaitMs)) {
        qCWarning(appLog, "Settings not saved: %s is locked by another process",
                  qUtf8Printable(m_filePath));
        giveBack();
        return false;
    }

    // Another process may have saved since this one last read: merge onto its file.
    FileState state;
    QVariantMap values = readFile(&state);
    if (state == FileState::unreadable) {
        giveBack();
        return false;
    }
    if (state == FileState::corrupt)
        keepCorruptCopy();
    for (auto it = taken.cbegin(); it != taken.cend(); ++it) {
        if (it.value())
            values.insert(it.key(), *it.value());
        else
            values.remove(it.key());
    }
    if (!writeFile(values)) {
        giveBack();
        return false;
    }
    lock.unlock();
    adoptFileValues(values);
    return true;
}

void SettingsStore::reload()
{
    FileState state;
    adoptFileValues(readFile(&state));
}

void SettingsStore::adoptFileValues(QVariantMap values)
{
    QStringList changedKeys;
    {
        QWriteLocker locker(&m_lock);
        for (auto it = m_pending.cbegin(); it != m_pending.cend(); ++it) {
            if (it.value())
                values.insert(it.key(), *it.value());
            else
                values.remove(it.key());
        }
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            const auto old = m_stored.constFind(it.key());
            if (old == m_stored.cend() || *old != it.value())
                changedKeys.append(it.key());
        }
        for (auto it = m_stored.cbegin(); it != m_stored.cend(); ++it) {
            if (!values.contains(it.key()))
                changedKeys.append(it.key());
        }
        m_stored = std::move(values);
    }
    for (const QString& key : std::as_const(changedKeys))
        Q_EMIT changed(key);
}

QVariantMap SettingsStore::readFile(FileState* state) const
{
    *state = FileState::missing;
    if (m_filePath.isEmpty() || !QFileInfo::exists(m_filePath))
        return {};
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(appLog, "Settings file %s cannot be read: %s", qUtf8Printable(m_filePath),
                  qUtf8Printable(file.errorString()));
        *state = FileState::unreadable;
        return {};
    }
    const QByteArray bytes = file.readAll();
    if (bytes.trimmed().isEmpty())
        return {};
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qCWarning(appLog, "Settings file %s is damaged (%s); reading it as empty",
                  qUtf8Printable(m_filePath),
                  qUtf8Printable(document.isNull() ? error.errorString()
                                                   : QStringLiteral("not a JSON object")));
        *state = FileState::corrupt;
        return {};
    }
    *state = FileState::ok;
    QVariantMap values;
    const QJsonObject object = document.object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        const QVariant value = fromJson(it.value());
        if (value.isValid())
            values.insert(it.key(), value);
    }
    return values;
}

void SettingsStore::keepCorruptCopy() const
{
    // The damaged file is about to be replaced: keep it under a name that is still free.
    for (int n = 1; n <= 1000; ++n) {
        const QString copy = m_filePath + QStringLiteral(".damaged")
            + (n == 1 ? QString() : QStringLiteral("-%1").arg(n));
        if (QFileInfo::exists(copy))
            continue;
        if (QFile::copy(m_filePath, copy))
            qCWarning(appLog, "Damaged settings file kept as %s", qUtf8Printable(copy));
        return;
    }
}

bool SettingsStore::writeFile(const QVariantMap& values)
{
    QJsonObject object;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        object.insert(it.key(), toJson(it.value()));
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QJsonDocument(object).toJson(QJsonDocument::Indented)) < 0
        || !file.commit()) {
        qCWarning(appLog, "Settings not saved to %s: %s", qUtf8Printable(m_filePath),
                  qUtf8Printable(file.errorString()));
        return false;
    }
    return true;
}

QJsonValue SettingsStore::toJson(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::UnknownType:
    case QMetaType::Nullptr:
        return QJsonValue(QJsonValue::Null);
    case QMetaType::QByteArray:
        return QJsonObject{{dataKey, QString::fromLatin1(value.toByteArray().toBase64())}};
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        QJsonArray array;
        for (const QVariant& item : value.toList())
            array.append(toJson(item));
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        QJsonObject object;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            object.insert(it.key(), toJson(it.value()));
        return object;
    }
    case QMetaType::Double:
    case QMetaType::Float:
        if (!std::isfinite(value.toDouble()))
            return QJsonValue(QJsonValue::Null);
        return value.toDouble();
    default:
        return QJsonValue::fromVariant(value);
    }
}

QVariant SettingsStore::fromJson(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return value.toBool();
    case QJsonValue::Double: {
        // JSON has one kind of number: whole ones come back as integers.
        const double number = value.toDouble();
        constexpr double exactLimit = 9007199254740992.0; // 2^53
        if (std::trunc(number) == number && std::abs(number) <= exactLimit)
            return QVariant::fromValue(static_cast<qlonglong>(number));
        return number;
    }
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Array: {
        QVariantList list;
        for (const QJsonValue& item : value.toArray())
            list.append(fromJson(item));
        return list;
    }
    case QJsonValue::Object: {
        const QJsonObject object = value.toObject();
        if (object.size() == 1 && object.value(dataKey).isString()) {
            auto decoded = QByteArray::fromBase64Encoding(
                object.value(dataKey).toString().toLatin1(),
                QByteArray::AbortOnBase64DecodingErrors);
            if (decoded)
                return *decoded;
        }
        QVariantMap map;
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            const QVariant item = fromJson(it.value());
            if (item.isValid())
                map.insert(it.key(), item);
        }
        return map;
    }
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    return {};
}

} // namespace qv
