#pragma once

#include <QString>

#include "platform/clipboard/CopiedFiles.h"

#include <functional>

namespace qv {

// The texts of converting the copied files, in the words of a Linux desktop.
namespace CopiedFilesText {
inline const QString nothingCopied = QStringLiteral("Copy files in your file manager first");
inline const QString readFailed = QStringLiteral("Couldn't read the Copied Files");
inline const QString nothingCopiedSymbol = QStringLiteral("cursorarrow.click.2");
inline const QString failedSymbol = QStringLiteral("exclamationmark.triangle");
} // namespace CopiedFilesText

// What opens the convert wheel in click mode at the pointer for the files; the application
// installs it. Without one, files are only logged.
using CopiedFilesHandler = std::function<void(const QList<QUrl>&)>;
void setCopiedFilesHandler(CopiedFilesHandler handler);

// Opens the wheel for the files, or says in a toast why not.
void handleCopiedFiles(const CopiedFilesResult& result);

// Reads the copied files and acts on them; the hot key and the tray menu start it.
void convertCopiedFiles(const ClipboardReader& reader);
void convertCopiedFiles();

} // namespace qv
