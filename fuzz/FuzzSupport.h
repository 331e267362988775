#pragma once

// What every fuzz target shares: a Qt application object, a private scratch folder, and the
// small in-memory zip the package harnesses build their packages with.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace qvfuzz {

// Starts the Qt application once (offscreen, test harness on) so fonts and documents work.
void startQt();

// A folder of this process's own under /dev/shm (else the temp folder), removed at exit.
QString scratchFolder();

// Writes bytes to a file of that name in the scratch folder (replacing the last one) and
// returns its path.
QString writeScratchFile(const QString& name, const QByteArray& bytes);

// Removes everything in the scratch folder.
void clearScratch();

// A zip of stored entries in the given order, with correct CRCs and sizes.
QByteArray storedZip(const QList<QPair<QString, QByteArray>>& entries);

inline QByteArray bytesOf(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

} // namespace qvfuzz
