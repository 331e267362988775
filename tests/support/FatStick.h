#pragma once

#include <QString>
#include <QTemporaryDir>

namespace qv::test {

// An 8 MB FAT disk mounted through FUSE (dosfstools and fusefat) for the life of the object: it
// folds names that differ in case onto one and refuses ":" and "?" as a USB stick does. When it
// cannot be made or mounted, isMounted() is false with the reason, and the test should skip.
class FatStick {
public:
    FatStick();
    ~FatStick();
    FatStick(const FatStick&) = delete;
    FatStick& operator=(const FatStick&) = delete;

    bool isMounted() const { return m_mounted; }
    const QString& whyNot() const { return m_whyNot; }
    QString path() const { return m_dir.filePath(QStringLiteral("stick")); }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_whyNot;
};

} // namespace qv::test
