#include "support/FatStick.h"

#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace qv::test {

FatStick::FatStick()
{
    if (QStandardPaths::findExecutable(QStringLiteral("mkfs.vfat")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("fusefat")).isEmpty()
        || !QFileInfo(QStringLiteral("/dev/fuse")).exists()) {
        m_whyNot = QStringLiteral("needs dosfstools, fusefat and FUSE");
        return;
    }
    const QString image = m_dir.filePath(QStringLiteral("stick.img"));
    QFile file(image);
    if (!m_dir.isValid() || !QDir().mkpath(path()) || !file.open(QIODevice::WriteOnly) || !file.resize(8 << 20)) {
        m_whyNot = QStringLiteral("cannot make the disk's image");
        return;
    }
    file.close();
    if (runProgram(QStringLiteral("mkfs.vfat"), {image}) != 0
        || runProgram(QStringLiteral("fusefat"), {QStringLiteral("-o"), QStringLiteral("rw+"), image, path()}) != 0) {
        m_whyNot = QStringLiteral("cannot mount through FUSE here");
        return;
    }
    m_mounted = true;
}

FatStick::~FatStick()
{
    if (m_mounted)
        runProgram(QStringLiteral("fusermount"), {QStringLiteral("-u"), path()});
}

} // namespace qv::test
