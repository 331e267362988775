#pragma once

#include <QList>
#include <QString>
#include <QUrl>


class QMimeData;

namespace qv {

class ClipboardReader;

// What reading the copied files gave: the files (possibly none), or a failure's message.
struct CopiedFilesResult {
    enum class Kind { paths, failed };

    Kind kind = Kind::paths;
    QList<QUrl> urls;
    QString message;

    static CopiedFilesResult paths(QList<QUrl> urls) { return {Kind::paths, std::move(urls), {}}; }
    static CopiedFilesResult failed(QString message) { return {Kind::failed, {}, std::move(message)}; }

    bool operator==(const CopiedFilesResult&) const = default;
};

// The existing local files and folders that one selection's contents name, in their order,
// each once: from "text/uri-list", else "x-special/gnome-copied-files" ("copy" or "cut", then
// one URL a line), else plain text made only of file URLs. Other URLs and missing items are
// left out.
QList<QUrl> copiedFileUrls(const QMimeData& data);

// The files the user copied in the file manager: the clipboard's, else those of the primary
// selection. No desktop-wide interface tells a file manager's selection, so this stands in for
// it. Nothing found where the reader cannot see other programs' copies is a failure that says so.
CopiedFilesResult readCopiedFiles(const ClipboardReader& reader);
CopiedFilesResult readCopiedFiles();

} // namespace qv
