#include "support/TestFiles.h"

#include "model/errors/EngineError.h"
#include "platform/files/FileItems.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QRandomGenerator>

#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::test {

QString failureOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EngineError& error) {
        return error.message();
    }
    return QStringLiteral("<no failure>");
}

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return path;
}

QByteArray amrLookingJunk(int size)
{
    QByteArray junk;
    quint32 seed = 11;
    while (junk.size() < size) {
        junk.append(char(0x3C));
        for (int i = 0; i < 31; ++i) {
            seed = seed * 1103515245u + 12345u;
            const char byte = char(seed >> 16);
            junk.append(byte == char(0x3C) ? char(0x3D) : byte);
        }
    }
    return junk.left(size);
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

namespace {

QByteArray describeItem(const QByteArray& full, const struct stat& st)
{
    // Folder sizes differ between filesystems; a file's is in its contents.
    QByteArray text = QByteArray::number(st.st_mode, 8) + " mtime "
        + QByteArray::number(qint64(st.st_mtim.tv_sec)) + "." + QByteArray::number(qint64(st.st_mtim.tv_nsec));
    if (S_ISLNK(st.st_mode)) {
        QByteArray target(4096, '\0');
        const ssize_t length = ::readlink(full.constData(), target.data(), size_t(target.size()));
        target.truncate(length < 0 ? 0 : length);
        text += " -> " + target;
    } else if (S_ISREG(st.st_mode)) {
        // Names that are not UTF-8 do not survive decoding; read them by their bytes.
        QByteArray data;
        if (FILE* raw = std::fopen(full.constData(), "rb")) {
            char buffer[4096];
            size_t got = 0;
            while ((got = std::fread(buffer, 1, sizeof buffer, raw)) > 0)
                data.append(buffer, qsizetype(got));
            std::fclose(raw);
        }
        text += " data " + QByteArray::number(data.size()) + " " + data.toHex().left(200);
    }
    return text;
}

void describeBelow(const QByteArray& root, const QByteArray& relative,
                   QMap<QByteArray, QByteArray>& out)
{
    const QByteArray folder = relative.isEmpty() ? root : root + '/' + relative;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return;
    QList<QByteArray> names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    ::closedir(dir);
    for (const QByteArray& name : names) {
        const QByteArray path = relative.isEmpty() ? name : relative + '/' + name;
        const QByteArray full = root + '/' + path;
        struct stat st {};
        if (::lstat(full.constData(), &st) != 0)
            continue;
        const QByteArray text = describeItem(full, st);
        out.insert(path, text);
        if (S_ISDIR(st.st_mode))
            describeBelow(root, path, out);
    }
}

} // namespace

QMap<QByteArray, QByteArray> treeDescription(const QString& folder)
{
    QMap<QByteArray, QByteArray> out;
    const QByteArray root = QFile::encodeName(folder);
    struct stat st {};
    if (::lstat(root.constData(), &st) == 0)
        out.insert(".", describeItem(root, st));
    describeBelow(root, QByteArray(), out);
    return out;
}

RemoveAtExit::~RemoveAtExit()
{
    FileItems::remove(m_path);
}

} // namespace qv::test
