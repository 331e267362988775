#include "support/TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRandomGenerator>

namespace qv::test {

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

int runProgram(const QString& program, const QStringList& args, QByteArray* output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return -1;
    process.waitForFinished(120000);
    if (output)
        *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QString writeIncompressibleFolder(const QString& path, int files, int megabytesEach)
{
    QByteArray block(1 << 20, Qt::Uninitialized);
    QRandomGenerator random(42);
    random.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
    if (!QDir().mkpath(path))
        return {};
    for (int i = 0; i < files; ++i) {
        QFile file(path + QStringLiteral("/part%1.bin").arg(i));
        if (!file.open(QIODevice::WriteOnly))
            return {};
        for (int mb = 0; mb < megabytesEach; ++mb) {
            if (file.write(block) != block.size())
                return {};
        }
        if (!file.flush())
            return {};
        file.close();
        if (file.error() != QFileDevice::NoError)
            return {};
    }
    return path;
}

QString writePdf(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QPdfWriter writer(path);
    QPainter painter(&writer);
    painter.drawText(100, 100, QStringLiteral("Hello"));
    painter.end();
    return path;
}

QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

qint64 bytesBelow(const QString& folder)
{
    qint64 total = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        total += it.nextFileInfo().size();
    return total;
}

} // namespace qv::test
