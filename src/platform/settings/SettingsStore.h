#pragma once

#include "model/settings/Settings.h"

#include <QByteArray>
#include <QJsonValue>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QTimer>
#include <QVariant>
#include <QVariantMap>

#include <atomic>
#include <mutex>
#include <optional>
#include <shared_mutex>

namespace qv {

// The user's settings: one JSON file of stored values over an in-memory layer of registered
// defaults that is never saved. Reads are safe from any thread; writes are collected and saved
// shortly after on a thread of its own, atomically, under a lock file shared with other
// processes. A save that fails keeps its writes in memory for the next one. Byte arrays are
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

    // Saves the pending writes now, after any save under way; blocks until done. False when the
    // file could not be written (they stay pending and go with the next save).
    bool flush();
    // Starts saving the pending writes now on the saving thread rather than after the usual
    // delay; returns at once (a later flush() waits for it). Call from the store's thread.
    void saveSoon();
    // Reads the file again, keeping this store's unsaved writes on top.
    void reload();

    // Whether the file this store started from could not be read as settings (it then starts
    // from the defaults), and the copy of it kept aside at once, empty when none could be made.
    bool startedFromDamagedFile() const { return m_startedDamaged; }
    QString damagedCopyPath() const { return m_damagedCopy; }
    // What the user is told of it at start; empty when the file was sound.
    QString damagedFileMessage() const;

    // The JSON form of a stored value and back; exposed for the settings export.
    static QJsonValue toJson(const QVariant& value);
    static QVariant fromJson(const QJsonValue& value);

Q_SIGNALS:
    void changed(const QString& key);

private:
    // A pending write: a value, or nothing for a removal.
    using Pending = QMap<QString, std::optional<QVariant>>;

    enum class FileState { missing, ok, corrupt, unreadable };
    enum class SaveResult { saved, failed, locked };
    struct SaveOutcome {
        SaveResult result = SaveResult::saved;
        QStringList changedKeys;
    };

    QVariantMap readFile(FileState* state, QByteArray* bytes = nullptr) const;
    // The copy's path, or nothing when it could not be made.
    std::optional<QString> keepCorruptCopy(const QByteArray& bytes) const;
    // Merges the writes onto the file as it is now; *values receives what was saved.
    SaveResult writeFile(const Pending& writes, int lockWaitMs, QVariantMap* values) const;
    // Takes the pending writes and saves them; the caller holds m_saveMutex.
    SaveOutcome savePending(int lockWaitMs);
    void saveInBackground();
    void backgroundSaveEnded(const SaveOutcome& outcome);
    void store(const QString& key, const std::optional<QVariant>& value);
    // Takes the file's values with this store's unsaved writes on top; returns the keys that
    // changed. The caller holds m_lock exclusively.
    QStringList adoptFileValues(QVariantMap values);
    void emitChanged(const QStringList& keys);
    void scheduleSave();

    const QString m_filePath;
    bool m_startedDamaged = false;
    QString m_damagedCopy;
    mutable std::shared_mutex m_lock;
    QVariantMap m_stored;
    QVariantMap m_registered;
    Pending m_pending;
    Pending m_saving; // taken by the save under way
    bool m_changedDuringSave = false;
    quint64 m_savesDone = 0;
    // One save at a time, so that writes reach the file in the order they were taken.
    std::mutex m_saveMutex;
    std::atomic<bool> m_backgroundSaveQueued = false;
    int m_lockRetryDelayMs = 0;
    QTimer m_saveTimer;
    QThreadPool m_saveThread;
};

} // namespace qv
