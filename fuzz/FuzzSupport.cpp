#include "FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <zlib.h>

#include <cstdlib>
#include <memory>

namespace qvfuzz {
namespace {

std::unique_ptr<QTemporaryDir>& scratch()
{
    static std::unique_ptr<QTemporaryDir> dir;
    return dir;
}

void appendLE16(QByteArray& out, quint16 value)
{
    out.append(char(value & 0xFF)).append(char(value >> 8));
}

void appendLE32(QByteArray& out, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

} // namespace

void startQt()
{
    if (QCoreApplication::instance())
        return;
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QUORVENDA_TEST_HARNESS", "1", 1);
    // The parsers' warnings about damaged input would drown the fuzzer's own output.
    if (!qEnvironmentVariableIsSet("QV_FUZZ_VERBOSE"))
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;
    // Fonts load once, on first use: do it now, so that it counts for no input.
    (void)QFontDatabase::families();
    (void)QFontDatabase::systemFont(QFontDatabase::GeneralFont);
}

QString scratchFolder()
{
    auto& dir = scratch();
    if (!dir) {
        const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/qv-fuzz-XXXXXX"));
        if (!dir->isValid())
            abort();
        std::atexit([] { scratch().reset(); });
    }
    return dir->path();
}

QString writeScratchFile(const QString& name, const QByteArray& bytes)
{
    const QString path = QDir(scratchFolder()).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        abort(); // the harness itself failed, not the parser
    return path;
}

void clearScratch()
{
    QDir dir(scratchFolder());
    for (const QFileInfo& info : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        if (info.isDir() && !info.isSymLink())
            QDir(info.filePath()).removeRecursively();
        else
            QFile::remove(info.filePath());
    }
}

QByteArray storedZip(const QList<QPair<QString, QByteArray>>& entries)
{
    QByteArray out;
    QByteArray central;
    for (const auto& [name, data] : entries) {
        const QByteArray encodedName = name.toUtf8();
        const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
        const quint32 offset = quint32(out.size());
        appendLE32(out, 0x04034b50);
        appendLE16(out, 20);
        appendLE16(out, 0x0800); // UTF-8 names
        appendLE16(out, 0);      // stored
        appendLE16(out, 0);
        appendLE16(out, 0x21);
        appendLE32(out, crc);
        appendLE32(out, quint32(data.size()));
        appendLE32(out, quint32(data.size()));
        appendLE16(out, quint16(encodedName.size()));
        appendLE16(out, 0);
        out += encodedName;
        out += data;

        appendLE32(central, 0x02014b50);
        appendLE16(central, 0x031E);
        appendLE16(central, 20);
        appendLE16(central, 0x0800);
        appendLE16(central, 0);
        appendLE16(central, 0);
        appendLE16(central, 0x21);
        appendLE32(central, crc);
        appendLE32(central, quint32(data.size()));
        appendLE32(central, quint32(data.size()));
        appendLE16(central, quint16(encodedName.size()));
        appendLE16(central, 0);
        appendLE16(central, 0);
        appendLE16(central, 0);
        appendLE16(central, 0);
        appendLE32(central, 0100644u << 16);
        appendLE32(central, offset);
        central += encodedName;
    }
    const quint32 centralOffset = quint32(out.size());
    out += central;
    appendLE32(out, 0x06054b50);
    appendLE16(out, 0);
    appendLE16(out, 0);
    appendLE16(out, quint16(entries.size()));
    appendLE16(out, quint16(entries.size()));
    appendLE32(out, quint32(central.size()));
    appendLE32(out, centralOffset);
    appendLE16(out, 0);
    return out;
}

} // namespace qvfuzz
