#pragma once

#include "model/PlatformWording.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>

class QMimeData;

namespace qv {

class ClipboardReader;

// The texts of converting the copied files, in the words of a Linux desktop.
namespace CopiedFilesText {
inline const QString nothingCopied = platformWording(QStringLiteral("Select files in Finder first"));
inline const QString readFailed = platformWording(QStringLiteral("Couldn't read the Finder selection"));
inline const QString nothingCopiedSymbol = QStringLiteral("cursorarrow.click.2");
inline const QString failedSymbol = QStringLiteral("exclamationmark.triangle");
} // namespace CopiedFilesText

// What reading the copied files gave: the files (possibly none), or a failure's message.
struct FinderSelectionResult {
    enum class Kind { paths, failed };

    Kind kind = Kind::paths;
    QList<QUrl> urls;
    QString message;

    static FinderSelectionResult paths(QList<QUrl> urls) { return {Kind::paths, std::move(urls), {}}; }
    static FinderSelectionResult failed(QString message) { return {Kind::failed, {}, std::move(message)}; }

    bool operator==(const FinderSelectionResult&) const = default;
};

// The existing local files and folders that one selection's contents name, in their order,
// each once: from "text/uri-list", else "x-special/gnome-copied-files" ("copy" or "cut", then
// one URL a line), else plain text made only of file URLs. Other URLs and missing items are
// left out.
QList<QUrl> copiedFileUrls(const QMimeData& data);

// The files the user copied in the file manager: the clipboard's, else those of the primary
// selection. No desktop-wide interface tells a file manager's selection, so this stands in for
// it.
FinderSelectionResult readFinderSelection(const ClipboardReader& reader);
FinderSelectionResult readFinderSelection();

// What opens the convert wheel in click mode at the pointer for the files; the application
// installs it. Without one, files are only logged.
using FinderSelectionHandler = std::function<void(const QList<QUrl>&)>;
void setFinderSelectionHandler(FinderSelectionHandler handler);

// Opens the wheel for the files, or says in a toast why not.
void handleFinderSelection(const FinderSelectionResult& result);

// Reads the copied files and acts on them; the hot key and the tray menu start it.
void convertFinderSelection(const ClipboardReader& reader);
void convertFinderSelection();

} // namespace qv
