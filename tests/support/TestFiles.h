#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

namespace qv::test {

// The sentence of the EngineError the action throws; "<no failure>" when it throws none.
QString failureOf(const std::function<void()>& action);

// Writes bytes to a file, creating its folder; returns the path.
QString writeFile(const QString& path, const QByteArray& bytes = "x");

// The file's bytes, or "<missing>" when it cannot be read.
QByteArray readFile(const QString& path);

// Runs a program to completion; returns its exit code (-1 when it could not start).
int runProgram(const QString& program, const QStringList& args, QByteArray* output = nullptr);

// Bytes that pass FFmpeg's test for raw AMR frames (a frame header, then 31 other bytes, again
// and again): put before an MP3, they make FFmpeg's own guess read minutes of noise.
QByteArray amrLookingJunk(int size);

// A one-page PDF drawn with Qt.
QString writePdf(const QString& path);

// A folder of files that deflate cannot shrink, for work that should take a while: one random
// megabyte written again and again (deflate looks back only 32 KB). Empty when a write failed.
QString writeIncompressibleFolder(const QString& path, int files, int megabytesEach);

// Every name in the folder, hidden ones too, sorted.
QStringList folderEntries(const QString& folder);

// The bytes of all files below the folder.
qint64 bytesBelow(const QString& folder);

// The folder (".") and every item below it, by relative path as bytes (valid UTF-8 or not):
// type and mode, modification time to the nanosecond, a link's target, a file's contents.
// Equal for a folder and a faithful copy of it.
QMap<QByteArray, QByteArray> treeDescription(const QString& folder);

// Removes a folder when the scope ends, names that are not UTF-8 included (QTemporaryDir leaves
// those behind). Declare it after the QTemporaryDir that holds the folder.
class RemoveAtExit {
public:
    explicit RemoveAtExit(QString path) : m_path(std::move(path)) {}
    ~RemoveAtExit();
    RemoveAtExit(const RemoveAtExit&) = delete;
    RemoveAtExit& operator=(const RemoveAtExit&) = delete;

private:
    QString m_path;
};

} // namespace qv::test
