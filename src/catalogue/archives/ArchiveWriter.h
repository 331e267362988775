#pragma once

#include "catalogue/archives/ArchiveTarget.h"
#include "catalogue/tools/FractionHandler.h"

#include <QList>
#include <QString>

#include <stop_token>

namespace qv {

// Writes zip, tar and tar.gz archives of files and folders.
class ArchiveWriter {
public:
    struct Item {
        QString path;      // a file, folder or link on disk
        QString entryName; // its name at the archive's top level
    };

    // Writes the items, folders with everything inside them, into a new file at output, which
    // must not exist. Links are stored as links; sockets, pipes and devices are left out.
    // Throws SystemError (EEXIST for a taken output), CancellationError when stopped; a
    // partly written output is removed.
    static void write(const QList<Item>& items, ArchiveTarget target, const QString& output,
                      std::stop_token stop, const FractionHandler& onFraction = {});
};

} // namespace qv
