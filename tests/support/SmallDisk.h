#pragma once

#include <QString>
#include <QTemporaryDir>

namespace qv::test {

// A small tmpfs mounted for the life of the object, to see what code does on a full disk.
// Mounting needs root; when it fails, isMounted() is false and the test should skip.
class SmallDisk {
public:
    explicit SmallDisk(qint64 bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool isMounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

    qint64 freeBytes() const;
    // Adds a filler file until no more than `bytes` are left free.
    bool fillLeaving(qint64 bytes);
    // Gives the disk more room, or makes it read-only, keeping what is on it.
    bool resize(qint64 bytes);
    bool setReadOnly(bool readOnly);

private:
    bool remount(const QByteArray& options, bool readOnly);

    QTemporaryDir m_dir;
    qint64 m_size;
    bool m_mounted = false;
};

} // namespace qv::test
