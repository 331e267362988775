#pragma once

#include "model/Settings.h"

#include <QByteArray>
#include <QJsonValue>
#include <QMap>
#include <QMutex>
#include <QObject>
#include <QReadWriteLock>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <QVariantMap>

#include <optional>

namespace qv {

// The user's settings: one JSON file of stored values over an in-memory layer of registered
// defaults that is never saved. Reads are safe from any thread; writes are collected and saved
// shortly after, atomically, under a lock file shared with other processes. Byte arrays are
// kept in the file as {"$data": "<base64>"}.
class SettingsStore : public QObject, public Settings {
    Q_OBJECT

public:
    // An empty path gives a store that lives in memory only.
    explicit SettingsStore(const QString& filePath, QObject* parent = nullptr);
    ~SettingsStore() override;

    // The process-wide store. Its file is $QUORVENDA_SETTINGS_FILE when set, otherwise
    // defaultFilePath(); under the test harness without that variable it stays in memory, so
    // tests never touch the user's settings.
    static SettingsStore& shared();
    // $XDG_CONFIG_HOME/quorvenda/settings.json
    static QString defaultFilePath();

    QString filePath() const { return m_filePath; }

    QVariant value(const QString& key) const override;
    bool hasStoredValue(const QString& key) const override;
    QStringList allKeys() const override;

    void registerDefaults(const QVariantMap& defaults) override;
    void setValue(const QString& key, const QVariant& value) override;
    void setData(const QString& key, const QByteArray& data) override;
    void remove(const QString& key) override;

    // Saves the pending writes now; false when the file could not be written (they stay
    // pending and go with the next save).
    bool flush();
    // Reads the file again, keeping this store's unsaved writes on top.
    void reload();

    // The JSON form of a stored value and back; exposed for the settings export.
    static QJsonValue toJson(const QVariant& value);
    static QVariant fromJson(const QJsonValue& value);

Q_SIGNALS:
    void changed(const QString& key);

private:
    // A pending write: a value, or nothing for a removal.
    using Pending = QMap<QString, std::optional<QVariant>>;

    enum class FileState { missing, ok, corrupt, unreadable };

    QVariantMap readFile(FileState* state) const;
    void keepCorruptCopy() const;
    bool writeFile(const QVariantMap& values);
    void store(const QString& key, const std::optional<QVariant>& value);
    // Takes the file's values with this store's pending writes on top; tells about the keys
    // that changed.
    void adoptFileValues(QVariantMap values);
    void scheduleSave();

    const QString m_filePath;
    mutable QReadWriteLock m_lock;
    QVariantMap m_stored;
    QVariantMap m_registered;
    Pending m_pending;
    QRecursiveMutex m_flushMutex;
    QTimer m_saveTimer;
};

} // namespace qv
