#pragma once

#include "catalogue/archives/ArchiveExtractor.h"
#include "catalogue/archives/ArchiveTarget.h"
#include "catalogue/tools/FractionHandler.h"
#include "model/files/FileInfo.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <stop_token>

namespace qv {

class OutputPlanner;
class Progress;

// The run bodies of the archive and folder tools. Each reports into the work item's Progress,
// stops with CancellationError once stop is requested, and gives what it delivered through the
// planner. onFraction, when given, hears every fraction reported as well.

// Unpacks the file into the existing folder destination: an archive with its entries, a single
// gz, bz2 or xz file as one file named after its base name ("file" when it has none). Removes a
// top-level "__MACOSX" folder and gives the owner access to everything unpacked.
ExtractionSummary extractContents(const FileInfo& file, const QUrl& destination,
                                  std::stop_token stop, const FractionHandler& onFraction = {});

// Adds the owner's read and write bits (and search for folders) to every item below root that
// lacks them; links are left alone. Never fails.
void ensureOwnerAccess(const QUrl& root);

// Extracts the archive and delivers its one top-level item, or a folder named after the archive
// holding its several items.
QUrl extractArchive(const FileInfo& file, const OutputPlanner& planner, Progress& progress,
                    std::stop_token stop, const FractionHandler& onFraction = {});

// Reads the whole archive and gives the note of an intact one ("x.zip is intact · 3 items").
QString testArchive(const FileInfo& file, const OutputPlanner& planner, Progress& progress,
                    std::stop_token stop, const FractionHandler& onFraction = {});

// "<name> is intact · <count> item(s)".
QString intactNote(int count, const FileInfo& file);

// Writes an archive of the items to output, which must not exist; each item goes to the top
// level under its own name, a name already used getting " 2", " 3" ("x 2.txt").
void compressItems(const QList<QUrl>& items, ArchiveTarget target, const QUrl& output,
                   std::stop_token stop, const FractionHandler& onFraction = {});

// Zips the files into one archive: "<name>.zip" for one item, "Archive.zip" for several.
QUrl zipFiles(const QList<FileInfo>& files, const OutputPlanner& planner, Progress& progress,
              std::stop_token stop, const FractionHandler& onFraction = {});

// Repacks an archive as the target, named after the archive ("photos.tar.gz" -> "photos.zip").
QUrl convertArchive(const FileInfo& file, ArchiveTarget target, const OutputPlanner& planner,
                    Progress& progress, std::stop_token stop,
                    const FractionHandler& onFraction = {});

// Copies every visible file of the folder, at any depth, into one flat folder (clashing names
// get " 2", " 3"), notes how many and delivers it as "<folder> (<suffix>)".
QUrl flattenFolder(const FileInfo& folder, const OutputPlanner& planner, Progress& progress,
                   std::stop_token stop);

namespace ArchiveMessage {
inline const QString passwordProtected = QStringLiteral("This archive is password-protected");
inline const QString damagedOrUnsupported =
    QStringLiteral("This archive is damaged or uses an unsupported format");
inline const QString empty = QStringLiteral("This archive is empty");
inline const QString damaged = QStringLiteral("This archive is damaged");
inline const QString nothingToCompress = QStringLiteral("Nothing to compress");
inline const QString folderHasNoFiles = QStringLiteral("This folder has no files");
inline const QString unreadableFolder =
    QStringLiteral("This file is damaged or not in a supported format");
} // namespace ArchiveMessage

} // namespace qv
