#pragma once

#include "FuzzSupport.h"

#include "documents/readers/EPUBReader.h"
#include "model/errors/Error.h"

#include <QDir>

namespace qvfuzz {

// Reads a package as an e-book conversion does: unpacked into a folder of its own, then the
// chapters into the document model; the folder goes afterwards.
inline void readEpub(const QByteArray& package)
{
    const QString path = writeScratchFile(QStringLiteral("input.epub"), package);
    const QString folder = scratchFolder() + QStringLiteral("/book");
    QDir().mkpath(folder);
    try {
        const qv::EPUBReader::Book book =
            qv::EPUBReader::read(QUrl::fromLocalFile(path), QUrl::fromLocalFile(folder));
        (void)qv::EPUBReader::documentModel(book);
    } catch (const qv::Error&) {
    }
    clearScratch();
}

} // namespace qvfuzz
