#include "platform/settings/SettingsStore.h"

#include "model/Log.h"
#include "platform/desktop/TestHarness.h"
#include "platform/files/FileContents.h"
#include "platform/processes/ThreadCall.h"
#include "platform/processes/ThreadHandoff.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <mutex>

namespace qv {

namespace {

// Long enough to gather a burst of changes (a slider, a reset), short enough to survive a crash.
constexpr int saveDelayMs = 200;
// A save in the background only glances at a lock another process holds and comes back later;
// an explicit one (at exit) has nothing after it and waits a little.
constexpr int backgroundLockWaitMs = 200;
constexpr int flushLockWaitMs = 2000;
constexpr int maxLockRetryDelayMs = 5000;
const QString dataKey = QStringLiteral("$data");

} // namespace

SettingsStore::SettingsStore(const QString& filePath, QObject* parent)
    : QObject(parent), m_filePath(filePath), m_saveTimer(this)
{
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(saveDelayMs);
    connect(&m_saveTimer, &QTimer::timeout, this, [this] { saveInBackground(); });
    m_saveThread.setMaxThreadCount(1);
    FileState state;
    QByteArray bytes;
    m_stored = readFile(&state, &bytes);
    if (state == FileState::corrupt) {
        // Kept aside before anything replaces it, so the user can be told where it is.
        m_startedDamaged = true;
        m_damagedCopy = keepCorruptCopy(bytes).value_or(QString());
    }
}

QString SettingsStore::damagedFileMessage() const
{
    if (!m_startedDamaged)
        return {};
    if (m_damagedCopy.isEmpty())
        return QStringLiteral("Quorvenda's settings file is damaged, so it runs on its default settings; the file "
                              "could not be kept aside, so changes to settings are not saved. The file is %1")
            .arg(m_filePath);
    return QStringLiteral("Quorvenda's settings file was damaged, so it started with its default settings. The "
                          "damaged file was kept as %1")
        .arg(m_damagedCopy);
}

SettingsStore::~SettingsStore()
{
    m_saveThread.waitForDone();
    // The save thread's last writes came before waitForDone() returned.
    handoffAcquire();
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
    std::unique_lock locker(m_lock);
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
    std::shared_lock locker(m_lock);
    if (const auto it = m_stored.constFind(key); it != m_stored.constEnd())
        return *it;
    return m_registered.value(key);
}

bool SettingsStore::hasStoredValue(const QString& key) const
{
    std::shared_lock locker(m_lock);
    return m_stored.contains(key);
}

QStringList SettingsStore::allKeys() const
{
    std::shared_lock locker(m_lock);
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
        std::unique_lock locker(m_lock);
        const auto old = m_stored.constFind(key);
        if (value) {
            isChange = old == m_stored.cend() || *old != *value;
            m_stored.insert(key, *value);
        } else {
            isChange = old != m_stored.cend();
            m_stored.remove(key);
        }
        // Saved even when unchanged here: another process may have changed the file since.
        if (!m_filePath.isEmpty()) {
            m_pending.insert(key, value);
            m_changedDuringSave = true;
        }
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
            m_saveTimer.start(saveDelayMs);
    };
    if (QThread::currentThread() == thread())
        start();
    else
        postToMainThread(this, start);
}

bool SettingsStore::flush()
{
    if (m_filePath.isEmpty())
        return true;
    const bool onOwnThread = QThread::currentThread() == thread();
    if (onOwnThread)
        m_saveTimer.stop();
    SaveOutcome outcome;
    {
        std::lock_guard locker(m_saveMutex);
        outcome = savePending(flushLockWaitMs);
    }
    if (outcome.result == SaveResult::locked) {
        qCWarning(appLog, "Settings not saved: %s is locked by another process",
                  qUtf8Printable(m_filePath));
        // Not after the application is gone (the at-exit save): no timer runs then.
        if (onOwnThread && QCoreApplication::instance())
            m_saveTimer.start(saveDelayMs);
    }
    emitChanged(outcome.changedKeys);
    return outcome.result == SaveResult::saved;
}

void SettingsStore::saveSoon()
{
    if (m_filePath.isEmpty())
        return;
    m_saveTimer.stop();
    saveInBackground();
}

void SettingsStore::saveInBackground()
{
    // A save under way looks for newer writes when it ends.
    if (m_backgroundSaveQueued.exchange(true))
        return;
    std::function<void()> save = [this] {
        handoffAcquire();
        SaveOutcome outcome;
        {
            std::lock_guard locker(m_saveMutex);
            outcome = savePending(backgroundLockWaitMs);
        }
        m_backgroundSaveQueued = false;
        postToMainThread(this, [this, outcome] { backgroundSaveEnded(outcome); });
        handoffRelease();
    };
    handoffRelease();
    m_saveThread.start(std::move(save));
}

void SettingsStore::backgroundSaveEnded(const SaveOutcome& outcome)
{
    emitChanged(outcome.changedKeys);
    if (outcome.result == SaveResult::locked) {
        if (m_lockRetryDelayMs == 0)
            qCWarning(appLog,
                      "Settings file %s is locked by another process; saving when it is free",
                      qUtf8Printable(m_filePath));
        m_lockRetryDelayMs = m_lockRetryDelayMs == 0
            ? saveDelayMs
            : std::min(2 * m_lockRetryDelayMs, maxLockRetryDelayMs);
        m_saveTimer.start(m_lockRetryDelayMs);
        return;
    }
    m_lockRetryDelayMs = 0;
    // A failed save waits for the next change, unless one came while it ran.
    bool changedDuringSave = false;
    {
        std::shared_lock locker(m_lock);
        changedDuringSave = m_changedDuringSave && !m_pending.isEmpty();
    }
    if (changedDuringSave)
        scheduleSave();
}

SettingsStore::SaveOutcome SettingsStore::savePending(int lockWaitMs)
{
    Pending writes;
    {
        std::unique_lock locker(m_lock);
        if (m_pending.isEmpty())
            return {};
        m_saving.swap(m_pending);
        m_changedDuringSave = false;
        writes = m_saving;
    }
    QVariantMap values;
    SaveOutcome outcome{writeFile(writes, lockWaitMs, &values), {}};

    std::unique_lock locker(m_lock);
    if (outcome.result == SaveResult::saved) {
        m_saving.clear();
        ++m_savesDone;
        outcome.changedKeys = adoptFileValues(std::move(values));
    } else {
        // Writes made while this save ran are newer than the ones it failed to save.
        for (auto it = m_saving.cbegin(); it != m_saving.cend(); ++it) {
            if (!m_pending.contains(it.key()))
                m_pending.insert(it.key(), it.value());
        }
        m_saving.clear();
    }
    return outcome;
}

SettingsStore::SaveResult SettingsStore::writeFile(const Pending& writes, int lockWaitMs,
                                                   QVariantMap* saved) const
{
    const QString folder = QFileInfo(m_filePath).absolutePath();
    if (!QDir().mkpath(folder)) {
        qCWarning(appLog, "Settings not saved: the folder %s cannot be made",
                  qUtf8Printable(folder));
        return SaveResult::failed;
    }
    const QString lockPath = m_filePath + QStringLiteral(".lock");
    QLockFile lock(lockPath);
    if (!lock.tryLock(lockWaitMs)) {
        switch (lock.error()) {
        case QLockFile::LockFailedError:
            return SaveResult::locked;
        case QLockFile::PermissionError:
            qCWarning(appLog, "Settings not saved: no permission to create %s (read-only or "
                              "protected folder)",
                      qUtf8Printable(lockPath));
            return SaveResult::failed;
        default:
            qCWarning(appLog, "Settings not saved: %s cannot be created", qUtf8Printable(lockPath));
            return SaveResult::failed;
        }
    }

    // Another process may have saved since this one last read: merge onto its file.
    FileState state;
    QByteArray bytes;
    QVariantMap values = readFile(&state, &bytes);
    if (state == FileState::unreadable)
        return SaveResult::failed;
    if (state == FileState::corrupt && !keepCorruptCopy(bytes))
        return SaveResult::failed;
    for (auto it = writes.cbegin(); it != writes.cend(); ++it) {
        if (it.value())
            values.insert(it.key(), *it.value());
        else
            values.remove(it.key());
    }
    QJsonObject object;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        object.insert(it.key(), toJson(it.value()));
    const QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Indented);
    // The file says this already, to the byte (the same values set again, a result listed
    // again): replacing it would change nothing but cost its syncs.
    if (state == FileState::ok && text == bytes) {
        *saved = std::move(values);
        return SaveResult::saved;
    }
    if (const auto error = FileContents::replace(m_filePath, text)) {
        qCWarning(appLog, "Settings not saved, kept in memory for the next change: %s",
                  qUtf8Printable(error->localizedDescription()));
        return SaveResult::failed;
    }
    *saved = std::move(values);
    return SaveResult::saved;
}

void SettingsStore::reload()
{
    for (;;) {
        quint64 savesBefore = 0;
        {
            std::shared_lock locker(m_lock);
            savesBefore = m_savesDone;
        }
        FileState state;
        QVariantMap values = readFile(&state);
        if (state == FileState::unreadable)
            return;
        QStringList keys;
        {
            std::unique_lock locker(m_lock);
            // A save of ours replaced the file while it was read: what was read is older.
            if (m_savesDone != savesBefore)
                continue;
            keys = adoptFileValues(std::move(values));
        }
        emitChanged(keys);
        return;
    }
}

QStringList SettingsStore::adoptFileValues(QVariantMap values)
{
    for (const Pending* writes : {&m_saving, &m_pending}) {
        for (auto it = writes->cbegin(); it != writes->cend(); ++it) {
            if (it.value())
                values.insert(it.key(), *it.value());
            else
                values.remove(it.key());
        }
    }
    QStringList changedKeys;
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
    return changedKeys;
}

void SettingsStore::emitChanged(const QStringList& keys)
{
    for (const QString& key : keys)
        Q_EMIT changed(key);
}

QVariantMap SettingsStore::readFile(FileState* state, QByteArray* raw) const
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
    // Half a file would pass for a damaged one and be replaced.
    if (file.error() != QFileDevice::NoError) {
        qCWarning(appLog, "Settings file %s cannot be read: %s", qUtf8Printable(m_filePath),
                  qUtf8Printable(file.errorString()));
        *state = FileState::unreadable;
        return {};
    }
    if (raw)
        *raw = bytes;
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

std::optional<QString> SettingsStore::keepCorruptCopy(const QByteArray& bytes) const
{
    // The damaged file is about to be replaced: keep it under a name that is still free.
    QString reason = QStringLiteral("no free name");
    for (int n = 1; n <= 1000; ++n) {
        const QString copy = m_filePath + QStringLiteral(".damaged")
            + (n == 1 ? QString() : QStringLiteral("-%1").arg(n));
        if (const QFileInfo taken(copy); taken.exists() || taken.isSymLink()) {
            // An earlier save kept it and then failed to write.
            if (taken.isFile() && !taken.isSymLink() && taken.size() == bytes.size()) {
                QFile kept(copy);
                if (kept.open(QIODevice::ReadOnly) && kept.readAll() == bytes)
                    return copy;
            }
            continue;
        }
        const std::optional<SystemError> error = FileContents::createNew(copy, bytes);
        if (!error) {
            qCWarning(appLog, "Damaged settings file kept as %s", qUtf8Printable(copy));
            return copy;
        }
        if (FileContents::isNameTaken(*error))
            continue;
        reason = error->localizedDescription();
        break;
    }
    qCWarning(appLog, "Settings not saved: the damaged %s cannot be kept aside (%s), so it is "
                      "left as it is",
              qUtf8Printable(m_filePath), qUtf8Printable(reason));
    return std::nullopt;
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
