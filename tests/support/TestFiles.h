#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace qv::test {

// Writes bytes to a file, creating its folder; returns the path.
QString writeFile(const QString& path, const QByteArray& bytes = "x");

// The file's bytes, or "<missing>" when it cannot be read.
QByteArray readFile(const QString& path);

// Runs a program to completion; returns its exit code (-1 when it could not start).
int runProgram(const QString& program, const QStringList& args, QByteArray* output = nullptr);

// A one-page PDF drawn with Qt.
QString writePdf(const QString& path);

// A folder of files that deflate cannot shrink, for work that should take a while: one random
// megabyte written again and again (deflate looks back only 32 KB). Empty when a write failed.
QString writeIncompressibleFolder(const QString& path, int files, int megabytesEach);

// Every name in the folder, hidden ones too, sorted.
QStringList folderEntries(const QString& folder);

// The bytes of all files below the folder.
qint64 bytesBelow(const QString& folder);

} // namespace qv::test
